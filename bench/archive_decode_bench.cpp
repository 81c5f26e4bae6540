#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/segment_reader.h"

namespace {

// One hour of a 100 samples-per-second channel, as one segment file holds it.
constexpr int SEGMENT_SAMPLES = 360000;
// A file header before the samples, the segment's foff.
constexpr long long HEADER_BYTES = 64;

// Writes a segment file of SEGMENT_SAMPLES samples of the datatype (little-endian, values
// within the type's range) after a header into a fresh file under /tmp, and returns its
// name; empty when it cannot be written. Reading it once puts it in the page cache.
std::string WriteSegmentFile(int datatype) {
    char name[] = "/tmp/trazplot-decode-bench-XXXXXX";
    const int descriptor = mkstemp(name);
    if (descriptor < 0)
        return std::string();
    close(descriptor);
    const int width = SampleWidth(datatype);
    std::vector<unsigned char> bytes(static_cast<size_t>(HEADER_BYTES) +
                                     static_cast<size_t>(SEGMENT_SAMPLES) * width);
    std::uint32_t noise = 12345u;
    for (int i = 0; i < SEGMENT_SAMPLES; ++i) {
        noise = noise * 1664525u + 1013904223u;
        std::uint32_t value = noise >> 16;  // 0 .. 65535
        if (datatype == 3) {
            const float sample = static_cast<float>(value) - 32768.0f;
            std::memcpy(&value, &sample, sizeof value);
        }
        for (int b = 0; b < width; ++b) {
            bytes[static_cast<size_t>(HEADER_BYTES) + static_cast<size_t>(i) * width + b] =
                static_cast<unsigned char>(value >> (8 * b));
        }
    }
    std::FILE* out = std::fopen(name, "wb");
    if (out == nullptr)
        return std::string();
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0 || !written) {
        std::remove(name);
        return std::string();
    }
    return name;
}

// Reads and converts one segment of each datatype from a file in the page cache: the
// read into the destination and the conversion in place, as trace assembly does per
// segment (the open and the allocation of the destination are not timed).
void BM_ReadSegmentSamples(benchmark::State& state) {
    const int datatype = static_cast<int>(state.range(0));
    const std::string path = WriteSegmentFile(datatype);
    if (path.empty()) {
        state.SkipWithError("cannot write the segment file under /tmp");
        return;
    }
    const std::string::size_type slash = path.rfind('/');
    FileHandle file = OpenSegmentFile(path.substr(0, slash), path.substr(slash + 1));
    if (!file) {
        std::remove(path.c_str());
        state.SkipWithError("cannot open the segment file");
        return;
    }
    std::vector<float> destination(SEGMENT_SAMPLES);
    for (auto _ : state) {
        ReadSegmentSamples(file.get(), HEADER_BYTES, destination.data(), SEGMENT_SAMPLES, datatype);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * SEGMENT_SAMPLES);
    state.SetBytesProcessed(state.iterations() * SEGMENT_SAMPLES * SampleWidth(datatype));
    file.reset();
    std::remove(path.c_str());
}
BENCHMARK(BM_ReadSegmentSamples)->ArgName("datatype")->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Arg(5);

}  // namespace
