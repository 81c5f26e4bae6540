// Fuzzes the miniSEED writer on traces built in memory: codes of any bytes and length, record
// lengths, up to four segments with their start times, rates, encodings, samples read from
// their files and missing-sample markers. The records go to a memory stream and are read back
// with libmseed's own parser. Start times stay between 1970 and 2100 and sample values within
// what each encoding can give (whole 32-bit numbers, or any float for datatype 3), the values
// a trace read from a segment archive can hold.

#include <fuzzer/FuzzedDataProvider.h>
#include <libmseed.h>
#include <stdio.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dsp/filter.h"
#include "dsp/trace.h"
#include "mseed/mseed_writer.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr double LAST_START = 4102444800.0;  // 2100-01-01, epoch seconds
constexpr int MOST_SAMPLES = 3000;

// Fills a segment from the input and returns how many of its samples are data: read from the
// file and not a missing-sample marker.
int FillSegment(FuzzedDataProvider& provider, Trace& trace) {
    SampleVector segment;
    const int count = provider.ConsumeIntegralInRange(0, MOST_SAMPLES);
    if (!segment.AllocateZeros(count))
        return 0;
    segment.startTime = provider.ConsumeFloatingPointInRange(0.0, LAST_START);
    segment.sampleRate =
        provider.PickValueInArray({100.0, 20.0, 1.0, 0.1, 200.0, 40.000001, 1.0 / 3.0, -1.0, 0.0});
    if (provider.ConsumeIntegralInRange(0, 7) == 0)
        segment.sampleRate = provider.ConsumeFloatingPointInRange(1e-3, 1e4);
    const int datatype = provider.PickValueInArray({0, 1, 2, 3, 5, -1, 4});
    int samplesRead = Trace::ALL_SAMPLES_READ;
    if (provider.ConsumeIntegralInRange(0, 3) == 0)
        samplesRead = provider.ConsumeIntegralInRange(0, count);

    // Runs of one kind of value, so that Steim-2's differences of every width come up.
    int data = 0;
    int i = 0;
    while (i < count) {
        const int kind = provider.ConsumeIntegralInRange(0, 4);
        const int run = provider.ConsumeIntegralInRange(1, 64);
        const std::int32_t base = provider.ConsumeIntegral<std::int32_t>();
        const int step = provider.ConsumeIntegralInRange(-(1 << 20), 1 << 20);
        float floatValue = 0.0f;
        if (datatype == 3) {
            std::uint32_t bits = provider.ConsumeIntegral<std::uint32_t>();
            std::memcpy(&floatValue, &bits, sizeof floatValue);
        }
        for (int k = 0; k < run && i < count; ++k, ++i) {
            float value = 0.0f;
            if (kind == 0) {
                value = MISSING_SAMPLE;
            } else if (datatype == 3) {
                value = floatValue;
            } else {
                const std::int64_t wide = static_cast<std::int64_t>(base) +
                                          static_cast<std::int64_t>(step) * (kind - 1) * k;
                value = static_cast<float>(static_cast<std::int32_t>(
                    wide > INT32_MAX ? INT32_MAX : (wide < INT32_MIN ? INT32_MIN : wide)));
            }
            segment.samples[i] = value;
            if (i < samplesRead && value != MISSING_SAMPLE)
                ++data;
        }
    }
    const bool placed = segment.sampleRate > 0.0;
    trace.AppendSegment(std::move(segment), datatype, samplesRead);
    return placed ? data : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    MseedSettings settings;
    settings.recordLength = provider.PickValueInArray({256, 512, 1024, 2048, 4096, 8192});
    settings.network = provider.ConsumeRandomLengthString(2);
    settings.location = provider.ConsumeRandomLengthString(2);
    Trace trace;
    trace.station = provider.ConsumeRandomLengthString(7);
    trace.channel = provider.ConsumeRandomLengthString(4);
    long long expected = 0;
    const int segments = provider.ConsumeIntegralInRange(0, 4);
    for (int s = 0; s < segments; ++s) expected += FillSegment(provider, trace);

    char* buffer = nullptr;
    std::size_t length = 0;
    std::FILE* stream = open_memstream(&buffer, &length);
    FUZZ_CHECK(stream != nullptr);
    const MseedResult result = WriteMseedTrace(stream, trace, settings);
    FUZZ_CHECK(std::fclose(stream) == 0);

    const bool codesFit = trace.station.size() <= 5 && trace.channel.size() <= 3;
    FUZZ_CHECK((result == MseedResult::CODES_TOO_LONG) == !codesFit);
    if (result == MseedResult::WRITTEN) {
        const std::size_t recordLength = static_cast<std::size_t>(settings.recordLength);
        FUZZ_CHECK(length % recordLength == 0);
        long long samples = 0;
        for (std::size_t at = 0; at < length; at += recordLength) {
            MSRecord* record = nullptr;
            FUZZ_CHECK(msr_parse(buffer + at, static_cast<int>(recordLength), &record,
                                 static_cast<int>(recordLength), 1, 0) == MS_NOERROR);
            FUZZ_CHECK(record->reclen == settings.recordLength);
            samples += record->numsamples;
            msr_free(&record);
        }
        FUZZ_CHECK(samples == expected);
    } else if (result == MseedResult::CODES_TOO_LONG) {
        FUZZ_CHECK(length == 0);
    }
    std::free(buffer);
    return 0;
}
