#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/segment_reader.h"
#include "tests/support/temp_dir.h"

namespace {

// A value the reader never produces from the files below: floats it must not touch keep it.
constexpr float UNTOUCHED = 7777.0f;

std::string LittleEndian(std::uint32_t value, int width) {
    std::string bytes;
    for (int i = 0; i < width; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

// The float the encoding of datatype gives for the stored bits raw.
float Decoded(std::uint32_t raw, int datatype) {
    switch (datatype) {
        case 0:
            return static_cast<float>(static_cast<std::int8_t>(raw));
        case 1:
            return static_cast<float>(static_cast<std::int16_t>(raw));
        case 2:
            return static_cast<float>(static_cast<std::int32_t>(raw));
        default:
            return static_cast<float>(static_cast<std::uint16_t>(raw));
    }
}

TEST(ReadSegmentSamples, StoresWhatTheFileHoldsAndNotOneFloatMore) {
    // Samples narrower than a float are read into the destination itself and converted
    // there; whatever the file lacks, the floats after its last sample must keep their
    // values, around the conversion's block of 64 samples too.
    struct Case {
        int inFile;     // samples after the offset
        int requested;  // count asked for
    };
    const Case cases[] = {
        {63, 64}, {64, 65}, {65, 130}, {128, 1000}, {200, 201}, {1, 70}, {129, 4096},
    };
    TempDir dir;
    for (int datatype : {0, 1, 2, 5}) {
        const int width = SampleWidth(datatype);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << "datatype " << datatype << ", " << c.inFile << " of " << c.requested);
            // A header of 5 bytes that are never samples, then the samples.
            std::string bytes = "HEAD!";
            std::vector<float> expected(static_cast<size_t>(c.requested), UNTOUCHED);
            std::uint32_t state = 99u + static_cast<std::uint32_t>(c.inFile);
            for (int i = 0; i < c.inFile; ++i) {
                state = state * 1664525u + 1013904223u;
                // Keep clear of the marker value with a 32-bit sample's top bits.
                const std::uint32_t raw = width == 4 ? state >> 4 : state >> (32 - 8 * width);
                bytes += LittleEndian(raw, width);
                expected[static_cast<size_t>(i)] = Decoded(raw, datatype);
            }
            const std::string path = dir.Write("segment.dat", bytes);
            std::vector<float> destination(static_cast<size_t>(c.requested), UNTOUCHED);
            FileHandle file(std::fopen(path.c_str(), "rb"));
            ASSERT_TRUE(file);
            ReadSegmentSamples(file.get(), 5, destination.data(), c.requested, datatype);
            EXPECT_EQ(destination, expected);
        }
    }
}

TEST(ReadSegmentSamples, StartsFromTheOffsetWithinALongSegment) {
    // A window inside a segment: the samples from index 1000 on, of a file of 3000.
    TempDir dir;
    for (int datatype : {0, 1, 2, 5}) {
        SCOPED_TRACE(testing::Message() << "datatype " << datatype);
        const int width = SampleWidth(datatype);
        std::string bytes;
        std::vector<std::uint32_t> raws;
        for (int i = 0; i < 3000; ++i) {
            const std::uint32_t raw = static_cast<std::uint32_t>(i * 7 + 3) & 0x7F;
            raws.push_back(raw);
            bytes += LittleEndian(raw, width);
        }
        const std::string path = dir.Write("window.dat", bytes);
        std::vector<float> destination(500, UNTOUCHED);
        FileHandle file(std::fopen(path.c_str(), "rb"));
        ASSERT_TRUE(file);
        ReadSegmentSamples(file.get(), 1000LL * width, destination.data(), 500, datatype);
        for (int i = 0; i < 500; ++i) {
            SCOPED_TRACE(testing::Message() << "sample " << i);
            EXPECT_EQ(destination[static_cast<size_t>(i)],
                      Decoded(raws[static_cast<size_t>(1000 + i)], datatype));
        }
    }
}

}  // namespace
