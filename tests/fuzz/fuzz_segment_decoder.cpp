// Fuzzes the segment file reader on arbitrary file bytes, datatype codes, byte offsets and
// sample counts. The last bytes of the input choose datatype, offset, count and whether the
// file is also written to disk; the rest is the segment file. Every read is compared with a plain
// decoding of the same bytes.

#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/segment_reader.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Decodes sample index of the bytes the plain way: little-endian, one byte at a time.
float ReferenceSample(const std::vector<std::uint8_t>& bytes, std::size_t at, int datatype) {
    std::uint32_t assembled = 0;
    const int width = datatype == 0 ? 1 : (datatype == 1 || datatype == 5 ? 2 : 4);
    for (int i = width - 1; i >= 0; --i)
        assembled = (assembled << 8) | bytes[at + static_cast<std::size_t>(i)];
    switch (datatype) {
        case 0:
            return static_cast<float>(static_cast<std::int8_t>(assembled));
        case 1:
            return static_cast<float>(static_cast<std::int16_t>(assembled));
        case 2:
            return static_cast<float>(static_cast<std::int32_t>(assembled));
        case 3: {
            float value = 0.0f;
            std::memcpy(&value, &assembled, sizeof value);
            return value;
        }
        default:
            return static_cast<float>(static_cast<std::uint16_t>(assembled));
    }
}

// Grows a kept array to hold at least size floats and sets its first size to zero. The arrays
// live for the whole run: a read of up to 1 << 18 samples would otherwise allocate, fault in
// and fill a megabyte several times for every input, which cost most of the run.
float* Zeroed(std::vector<float>& kept, std::size_t size) {
    if (kept.size() < size)
        kept.resize(size);
    if (size > 0)
        std::memset(kept.data(), 0, size * sizeof(float));
    return kept.data();
}

// Writes the samples a read must give into expected (count of them): the complete samples
// between the offset and the end of the file, at most count of them, zeros for the rest; only
// zeros for an unknown datatype or a negative offset.
void ExpectSamples(const std::vector<std::uint8_t>& bytes, long long byteOffset, std::size_t count,
                   int datatype, float* expected) {
    const bool known =
        datatype == 0 || datatype == 1 || datatype == 2 || datatype == 3 || datatype == 5;
    if (!known || byteOffset < 0 || count == 0 ||
        static_cast<unsigned long long>(byteOffset) >= bytes.size())
        return;
    const std::size_t width = static_cast<std::size_t>(SampleWidth(datatype));
    const std::size_t offset = static_cast<std::size_t>(byteOffset);
    const std::size_t available = (bytes.size() - offset) / width;
    const std::size_t n = available < count ? available : count;
    for (std::size_t k = 0; k < n; ++k)
        expected[k] = ReferenceSample(bytes, offset + k * width, datatype);
}

// Reads through the stream and compares bit for bit (a NaN is not equal to itself) with the
// size expected samples. A guard sample after the destination catches a write beyond count
// even without the sanitizer.
void CheckRead(std::FILE* file, long long byteOffset, int count, int datatype,
               const float* expected, std::size_t size) {
    static std::vector<float> kept;
    const float guard = 12345.0f;
    float* destination = Zeroed(kept, size + 1);
    destination[size] = guard;
    ReadSegmentSamples(file, byteOffset, destination, count, datatype);
    if (size > 0)
        FUZZ_CHECK(std::memcmp(destination, expected, size * sizeof(float)) == 0);
    FUZZ_CHECK(std::memcmp(&destination[size], &guard, sizeof guard) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);

    int datatype = provider.PickValueInArray({0, 1, 2, 3, 5, 4, 6, -1});
    if (provider.ConsumeIntegralInRange(0, 15) == 0)
        datatype = provider.ConsumeIntegral<int>();

    int count = provider.ConsumeIntegralInRange(0, 4096);
    if (provider.ConsumeIntegralInRange(0, 15) == 0)
        count = provider.PickValueInArray({-1, INT_MIN, 1 << 18});

    // Mostly offsets in or near the file; now and then any 64-bit value at all.
    const int offsetMode = provider.ConsumeIntegralInRange(0, 7);
    long long byteOffset = provider.ConsumeIntegralInRange<long long>(-8, 4096);
    if (offsetMode == 0)
        byteOffset = provider.ConsumeIntegral<long long>();
    else if (offsetMode == 1)
        byteOffset = provider.PickValueInArray({LLONG_MAX, LLONG_MIN, 1LL << 31, 1LL << 32});

    const bool openOnDisk = provider.ConsumeIntegralInRange(0, 15) == 0;
    const std::vector<std::uint8_t> bytes = provider.ConsumeRemainingBytes<std::uint8_t>();
    FUZZ_CHECK(SampleWidth(datatype) ==
               (datatype == 0 ? 1 : (datatype == 1 || datatype == 5 ? 2 : 4)));
    static std::vector<float> keptExpected;
    static std::vector<float> keptZeros;
    const std::size_t samples = count > 0 ? static_cast<std::size_t>(count) : 0;
    float* expected = Zeroed(keptExpected, samples);
    ExpectSamples(bytes, byteOffset, samples, datatype, expected);

    // The bytes as a file in memory, read by descriptor as a segment file is.
    if (!fuzz::ReplaceMemoryFile(bytes.data(), bytes.size()))
        return 0;
    CheckRead(fuzz::MemoryFile(), byteOffset, count, datatype, expected, samples);

    // A file on disk, opened the way trace assembly opens segment files, for one input in
    // sixteen (the input chooses): its path is mapped and its folder read each time, which
    // would otherwise cost most of the run.
    if (openOnDisk) {
        const std::string folder = fuzz::ScratchFolder();
        if (!fuzz::WriteBytes(folder + "/segment.bin", bytes.data(), bytes.size()))
            return 0;
        FileHandle file = OpenSegmentFile(folder, "SEGMENT.BIN");
        FUZZ_CHECK(file != nullptr);
        CheckRead(file.get(), byteOffset, count, datatype, expected, samples);
    }

    // A memory stream, whose seek beyond the end fails instead of succeeding.
    if (!bytes.empty()) {
        std::vector<std::uint8_t> copy = bytes;
        std::FILE* memory = fmemopen(copy.data(), copy.size(), "rb");
        if (memory != nullptr) {
            CheckRead(memory, byteOffset, count, datatype, expected, samples);
            std::fclose(memory);
        }
    }

    // No stream at all.
    CheckRead(nullptr, byteOffset, count, datatype, Zeroed(keptZeros, samples), samples);
    return 0;
}
