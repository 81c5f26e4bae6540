#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "archive/segment_reader.h"
#include "tests/support/temp_dir.h"

namespace {

// A value the reader never produces from the files below: entries it must not touch keep it.
constexpr float UNTOUCHED = 7777.0f;

// Returns value as width little-endian bytes.
std::string LittleEndian(std::uint32_t value, int width) {
    std::string bytes;
    for (int i = 0; i < width; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values) bytes += static_cast<char>(value);
    return bytes;
}

// Reads count samples of file at byteOffset into size entries prefilled with UNTOUCHED.
std::vector<float> ReadFile(const std::string& path, long long byteOffset, int count, int datatype,
                            std::size_t size) {
    std::vector<float> destination(size, UNTOUCHED);
    FileHandle file(std::fopen(path.c_str(), "rb"));
    EXPECT_TRUE(file);
    if (file)
        ReadSegmentSamples(file.get(), byteOffset, destination.data(), count, datatype);
    return destination;
}

TEST(ReadSegmentSamples, DecodesEveryDatatypeAfterTheHeader) {
    struct Case {
        int datatype, width;
        std::string bytes;
        std::vector<float> expected;
    };
    const Case cases[] = {
        {0, 1, Bytes({0xFF, 0x7F, 0x80, 0x00}), {-1.0f, 127.0f, -128.0f, 0.0f}},
        {1, 2, Bytes({0xFF, 0x7F, 0x00, 0x80, 0xFE, 0xFF}), {32767.0f, -32768.0f, -2.0f}},
        {5, 2, Bytes({0x00, 0x80, 0xFF, 0xFF, 0x01, 0x00}), {32768.0f, 65535.0f, 1.0f}},
        {2,
         4,
         LittleEndian(16777217u, 4) + LittleEndian(0x80000000u, 4) + LittleEndian(0xFFFFFFFFu, 4),
         {16777216.0f, -2147483648.0f, -1.0f}},
        {3, 4, Bytes({0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x20, 0xC1}), {1.0f, -10.0f}},
        // Unknown codes convert nothing.
        {4, 4, std::string(8, '\x11'), {UNTOUCHED, UNTOUCHED}},
        {-3, 4, std::string(8, '\x11'), {UNTOUCHED, UNTOUCHED}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "datatype " << c.datatype);
        EXPECT_EQ(SampleWidth(c.datatype), c.width);
        // A header before the samples must never be read as samples.
        const std::string path = dir.Write("segment.dat", std::string(16, '\x55') + c.bytes);
        const int count = static_cast<int>(c.expected.size());
        EXPECT_EQ(ReadFile(path, 16, count, c.datatype, c.expected.size()), c.expected);
    }
}

TEST(ReadSegmentSamples, DecodesLongRunsLikeSingleSamples) {
    // Long runs go through the vectorised loops; every length and value must still decode
    // like the byte-by-byte definition of each encoding.
    TempDir dir;
    for (int datatype : {0, 1, 2, 3, 5}) {
        const int width = SampleWidth(datatype);
        for (int count : {1, 7, 31, 4097}) {
            SCOPED_TRACE(testing::Message() << "datatype " << datatype << ", count " << count);
            std::string bytes;
            std::vector<float> expected;
            std::uint32_t state = 12345u + static_cast<std::uint32_t>(count);
            for (int i = 0; i < count; ++i) {
                state = state * 1664525u + 1013904223u;
                // Floats keep to finite values so that the comparison below is meaningful.
                const std::uint32_t raw = width == 4 ? state & (datatype == 3 ? 0xBFFFFFFFu : ~0u)
                                                     : state >> (32 - 8 * width);
                bytes += LittleEndian(raw, width);
                float value = 0.0f;
                if (datatype == 0)
                    value = static_cast<std::int8_t>(raw);
                else if (datatype == 1)
                    value = static_cast<std::int16_t>(raw);
                else if (datatype == 2)
                    value = static_cast<float>(static_cast<std::int32_t>(raw));
                else if (datatype == 3)
                    std::memcpy(&value, &raw, sizeof value);
                else
                    value = static_cast<std::uint16_t>(raw);
                expected.push_back(value);
            }
            const std::string path = dir.Write("long.dat", bytes);
            EXPECT_EQ(ReadFile(path, 0, count, datatype, expected.size()), expected);
        }
    }
}

TEST(ReadSegmentSamples, ReadsOnlyWhatTheFileHas) {
    struct Case {
        const char* name;
        std::string bytes;
        long long byteOffset;
        int datatype, count;
        std::vector<float> expected;
    };
    const Case cases[] = {
        {"three bytes of 16-bit samples",
         Bytes({0x05, 0x00, 0x06}),
         0,
         1,
         4,
         {5.0f, UNTOUCHED, UNTOUCHED, UNTOUCHED}},
        {"two of four 32-bit samples",
         LittleEndian(9, 4) + LittleEndian(10, 4),
         0,
         2,
         4,
         {9.0f, 10.0f, UNTOUCHED, UNTOUCHED}},
        {"offset at the end", Bytes({1, 2, 3, 4}), 4, 0, 2, {UNTOUCHED, UNTOUCHED}},
        {"offset beyond the end", Bytes({1, 2, 3, 4}), 100, 0, 2, {UNTOUCHED, UNTOUCHED}},
        {"negative offset", Bytes({1, 2, 3, 4}), -1, 0, 2, {UNTOUCHED, UNTOUCHED}},
        {"negative count", Bytes({1, 2, 3, 4}), 0, 0, -2, {UNTOUCHED, UNTOUCHED}},
        {"empty file", "", 0, 3, 1, {UNTOUCHED}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Write("short.dat", c.bytes);
        EXPECT_EQ(ReadFile(path, c.byteOffset, c.count, c.datatype, c.expected.size()), c.expected);
    }
}

TEST(ReadSegmentSamples, ReadsBeyondTwoGibibytes) {
    // A sparse file: only the few bytes at the far end take space on the disk.
    TempDir dir;
    const std::string path = dir.File("large.dat");
    const long long offset = 5LL * 1024 * 1024 * 1024 + 6;
    {
        FileHandle out(std::fopen(path.c_str(), "wb"));
        ASSERT_TRUE(out);
        ASSERT_EQ(fseeko(out.get(), static_cast<off_t>(offset), SEEK_SET), 0);
        const std::string bytes = LittleEndian(0xFFFE, 2) + LittleEndian(77, 2);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out.get()), bytes.size());
        ASSERT_EQ(std::fclose(out.release()), 0);
    }
    EXPECT_EQ(ReadFile(path, offset, 3, 1, 3), (std::vector<float>{-2.0f, 77.0f, UNTOUCHED}));
}

TEST(OpenSegmentFile, JoinsTheDataDirectoryAndTheCatalogueCpath) {
    TempDir dir;
    dir.Write("abc/2004/abc_bhz_1078222800.dat", "x");
    dir.Write("abc/x..y.dat", "x");
    struct Case {
        std::string dataDir, cpath;
        bool opens;
    };
    const Case cases[] = {
        {dir.Path(), "abc\\2004\\abc_bhz_1078222800.dat", true},
        {dir.Path() + "/", "abc\\2004\\abc_bhz_1078222800.dat", true},
        // The catalogue writes Windows paths, whose case need not match the host's.
        {dir.Path() + "\\", "ABC\\2004\\ABC_BHZ_1078222800.DAT", true},
        {dir.Path(), "abc\\2004\\abc_bhz_1078222801.dat", false},
        {dir.Path(), "abc\\2004", false},
        {dir.Path(), "", false},
        // A catalogue path never leads out of the data directory, even to a real file.
        {dir.Path() + "/abc", "..\\abc\\2004\\abc_bhz_1078222800.dat", false},
        {dir.Path() + "/abc", "2004/../2004/abc_bhz_1078222800.dat", false},
        {dir.Path(), "abc\\x..y.dat", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dataDir + " + " + c.cpath);
        EXPECT_EQ(static_cast<bool>(OpenSegmentFile(c.dataDir, c.cpath)), c.opens);
    }
}

}  // namespace
