// Fuzzes the segment file reader on arbitrary file bytes, datatype codes, byte offsets and
// sample counts. The last bytes of the input choose datatype, offset and count; the rest is
// the segment file. Every read is compared with a plain decoding of the same bytes.

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

// The samples a read must give: the complete samples between the offset and the end of the
// file, at most count of them, zeros for the rest; only zeros for an unknown datatype or a
// negative offset.
std::vector<float> ExpectedSamples(const std::vector<std::uint8_t>& bytes, long long byteOffset,
                                   int count, int datatype) {
    std::vector<float> expected(count > 0 ? static_cast<std::size_t>(count) : 0, 0.0f);
    const bool known =
        datatype == 0 || datatype == 1 || datatype == 2 || datatype == 3 || datatype == 5;
    if (!known || byteOffset < 0 || count <= 0 ||
        static_cast<unsigned long long>(byteOffset) >= bytes.size())
        return expected;
    const std::size_t width = static_cast<std::size_t>(SampleWidth(datatype));
    const std::size_t offset = static_cast<std::size_t>(byteOffset);
    const std::size_t available = (bytes.size() - offset) / width;
    const std::size_t n = available < expected.size() ? available : expected.size();
    for (std::size_t k = 0; k < n; ++k)
        expected[k] = ReferenceSample(bytes, offset + k * width, datatype);
    return expected;
}

// Reads through the stream and compares bit for bit (a NaN is not equal to itself). A guard
// sample after the destination catches a write beyond count even without the sanitizer.
void CheckRead(std::FILE* file, long long byteOffset, int count, int datatype,
               const std::vector<float>& expected) {
    const float guard = 12345.0f;
    std::vector<float> destination(expected.size() + 1, 0.0f);
    destination.back() = guard;
    ReadSegmentSamples(file, byteOffset, destination.data(), count, datatype);
    if (!expected.empty()) {
        FUZZ_CHECK(
            std::memcmp(destination.data(), expected.data(), expected.size() * sizeof(float)) == 0);
    }
    FUZZ_CHECK(std::memcmp(&destination.back(), &guard, sizeof guard) == 0);
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

    const std::vector<std::uint8_t> bytes = provider.ConsumeRemainingBytes<std::uint8_t>();
    FUZZ_CHECK(SampleWidth(datatype) ==
               (datatype == 0 ? 1 : (datatype == 1 || datatype == 5 ? 2 : 4)));
    const std::vector<float> expected = ExpectedSamples(bytes, byteOffset, count, datatype);

    // A real file, opened the way trace assembly opens segment files.
    const std::string folder = fuzz::ScratchFolder();
    if (!fuzz::WriteBytes(folder + "/segment.bin", bytes.data(), bytes.size()))
        return 0;
    FileHandle file = OpenSegmentFile(folder, "SEGMENT.BIN");
    FUZZ_CHECK(file != nullptr);
    CheckRead(file.get(), byteOffset, count, datatype, expected);

    // A memory stream, whose seek beyond the end fails instead of succeeding.
    if (!bytes.empty()) {
        std::vector<std::uint8_t> copy = bytes;
        std::FILE* memory = fmemopen(copy.data(), copy.size(), "rb");
        if (memory != nullptr) {
            CheckRead(memory, byteOffset, count, datatype, expected);
            std::fclose(memory);
        }
    }

    // No stream at all.
    CheckRead(nullptr, byteOffset, count, datatype, std::vector<float>(expected.size(), 0.0f));
    return 0;
}
