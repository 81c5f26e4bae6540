// Fuzzes the CSS 3.0 writer on traces built from the input: station and channel codes,
// start times, rates, calibration, sample counts and sample bits, the selector and the form
// of the wfdisc path. The output goes to a scratch folder emptied before every input; the
// records and sample files written are checked against the segments.

#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "css/wfdisc_writer.h"
#include "dsp/sample_vector.h"
#include "dsp/trace.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr std::size_t RECORD_SIZE = 284;  // 283 characters and a line feed

// Positions of the blanks between the columns of a record.
constexpr int SEPARATORS[] = {6,   15,  33,  42,  51,  60,  78,  87,  99, 116,
                              133, 140, 142, 145, 147, 212, 245, 256, 265};
constexpr int NSAMP_COLUMN = 79;
constexpr int DATATYPE_COLUMN = 143;
constexpr int DFILE_COLUMN = 213;

double DoubleFromBits(std::uint64_t bits) {
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

float FloatFromBits(std::uint32_t bits) {
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// A station or channel code. Path separators are replaced: the codes become part of sample
// file names, and the fuzzer must not write outside its scratch folder. A NUL would end the
// name early and make two segments share a file.
std::string CodeFrom(FuzzedDataProvider& provider, std::size_t maxLength) {
    std::string code = provider.ConsumeRandomLengthString(maxLength);
    for (char& c : code) {
        if (c == '/' || c == '\\' || c == '\0')
            c = '_';
    }
    return code;
}

double StartTimeFrom(FuzzedDataProvider& provider) {
    switch (provider.ConsumeIntegralInRange(0, 3)) {
        case 0:
            return DoubleFromBits(provider.ConsumeIntegral<std::uint64_t>());
        case 1:
            return provider.PickValueInArray(
                {0.0, -1.0, -62135596800.0, -62135596800.5, -62135596801.0, 3.0e12, 1.0e300,
                 std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                 -std::numeric_limits<double>::infinity()});
        default:
            // Plausible times, years 1900 to 2100, with a fraction.
            return static_cast<double>(
                       provider.ConsumeIntegralInRange<long long>(-2208988800LL, 4102444800LL)) +
                   provider.ConsumeIntegralInRange(0, 999999) / 1e6;
    }
}

double RateFrom(FuzzedDataProvider& provider) {
    if (provider.ConsumeIntegralInRange(0, 7) == 0)
        return DoubleFromBits(provider.ConsumeIntegral<std::uint64_t>());
    return provider.PickValueInArray({100.0, 20.0, 40.0, 1.0, 0.0, -100.0, 1e-300, 1e300, 1000.0,
                                      12345.678, std::numeric_limits<double>::quiet_NaN(),
                                      std::numeric_limits<double>::infinity()});
}

double CalibrationFrom(FuzzedDataProvider& provider) {
    if (provider.ConsumeIntegralInRange(0, 3) == 0)
        return DoubleFromBits(provider.ConsumeIntegral<std::uint64_t>());
    return 1.0;
}

// The 32-bit integer a sample is stored as: truncated toward zero, held at the ends of the
// range, NaN as 0.
std::int32_t ExpectedInteger(float sample) {
    if (std::isnan(sample))
        return 0;
    const double truncated = std::trunc(static_cast<double>(sample));
    if (truncated >= static_cast<double>(INT32_MAX))
        return INT32_MAX;
    if (truncated <= static_cast<double>(INT32_MIN))
        return INT32_MIN;
    return static_cast<std::int32_t>(truncated);
}

std::string ExpectedSampleBytes(const SampleVector& segment, int selector) {
    std::string bytes;
    if (selector < 0 || selector > 2 || segment.samples == nullptr)
        return bytes;
    for (int k = 0; k < segment.sampleCount; ++k) {
        std::uint32_t word = 0;
        if (selector == 1)
            std::memcpy(&word, &segment.samples[k], sizeof word);
        else
            word = static_cast<std::uint32_t>(ExpectedInteger(segment.samples[k]));
        for (int i = 0; i < 4; ++i) {
            const int shift = selector == 2 ? 24 - 8 * i : 8 * i;
            bytes += static_cast<char>((word >> shift) & 0xFFu);
        }
    }
    return bytes;
}

std::string ReadWholeFile(const std::string& path) {
    std::string bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return bytes;
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
    std::fclose(file);
    return bytes;
}

// Checks the records of one call (starting at the record of segment 0) against the segments.
void CheckRecords(const std::string& records, const std::vector<const SampleVector*>& segments,
                  int selector) {
    const char* datatype = selector == 0   ? "i4"
                           : selector == 1 ? "f4"
                           : selector == 2 ? "s4"
                                           : "- ";
    for (std::size_t r = 0; r < segments.size(); ++r) {
        const std::string record = records.substr(r * RECORD_SIZE, RECORD_SIZE);
        FUZZ_CHECK(record[RECORD_SIZE - 1] == '\n');
        for (int separator : SEPARATORS)
            FUZZ_CHECK(record[static_cast<std::size_t>(separator)] == ' ');
        const SampleVector& segment = *segments[r];
        const int count =
            segment.samples != nullptr && segment.sampleCount > 0 ? segment.sampleCount : 0;
        FUZZ_CHECK(std::atoi(record.substr(NSAMP_COLUMN, 8).c_str()) == count);
        FUZZ_CHECK(record.compare(DATATYPE_COLUMN, 2, datatype) == 0);
        const std::string number = std::to_string(r) + "-";
        FUZZ_CHECK(record.compare(DFILE_COLUMN, number.size(), number) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const std::string folder = fuzz::ScratchSubfolder("css");
    fuzz::EmptyFolder(folder);

    int selector = provider.PickValueInArray({2, 0, 1, 3, -1});
    if (provider.ConsumeIntegralInRange(0, 15) == 0)
        selector = provider.ConsumeIntegral<int>();

    std::vector<std::unique_ptr<Trace>> owned;
    std::vector<const Trace*> traces;
    std::vector<const SampleVector*> segments;
    std::size_t longestNames = 0;
    const int traceCount = provider.ConsumeIntegralInRange(0, 3);
    for (int t = 0; t < traceCount; ++t) {
        if (provider.ConsumeIntegralInRange(0, 7) == 0) {
            traces.push_back(nullptr);
            continue;
        }
        owned.push_back(std::make_unique<Trace>());
        Trace& trace = *owned.back();
        trace.station = CodeFrom(provider, 300);
        trace.channel = CodeFrom(provider, 20);
        longestNames = std::max(longestNames, trace.station.size() + trace.channel.size());
        const int segmentCount = provider.ConsumeIntegralInRange(0, 3);
        for (int s = 0; s < segmentCount; ++s) {
            SampleVector segment;
            segment.startTime = StartTimeFrom(provider);
            segment.sampleRate = RateFrom(provider);
            segment.calib = CalibrationFrom(provider);
            segment.calper = CalibrationFrom(provider);
            const int count = provider.ConsumeIntegralInRange(0, 256);
            if (provider.ConsumeIntegralInRange(0, 15) == 0) {
                // A count without an array.
                segment.sampleCount = provider.PickValueInArray({count, -count, INT_MIN});
            } else if (segment.AllocateZeros(count)) {
                for (int k = 0; k < count; ++k)
                    segment.samples[k] = FloatFromBits(provider.ConsumeIntegral<std::uint32_t>());
            }
            trace.AppendSegment(std::move(segment));
        }
        for (int s = 0; s < trace.SegmentCount(); ++s) segments.push_back(&trace.SegmentAt(s));
        traces.push_back(&trace);
    }

    const std::string hostPath = folder + "/out.wfd";
    std::string wfdiscPath = hostPath;
    if (provider.ConsumeBool()) {
        // The Windows form the INI files use: drive letter and backslashes.
        wfdiscPath = "C:" + hostPath;
        for (char& c : wfdiscPath) {
            if (c == '/')
                c = '\\';
        }
    }
    const int calls = provider.ConsumeBool() ? 2 : 1;
    for (int call = 0; call < calls; ++call) WriteWfdisc(wfdiscPath, traces, selector);

    // Records are appended all or nothing per call. Names that fit a file name leave no
    // reason to fail: a record number, the start fields and two codes.
    const std::string records = ReadWholeFile(hostPath);
    const std::size_t perCall = segments.size() * RECORD_SIZE;
    const bool namesFit = longestNames + 40 < 255;
    FUZZ_CHECK(records.size() % RECORD_SIZE == 0);
    FUZZ_CHECK(records.size() == 0 || records.size() == perCall || records.size() == 2 * perCall);
    if (namesFit)
        FUZZ_CHECK(records.size() == static_cast<std::size_t>(calls) * perCall);
    if (records.empty() || segments.empty())
        return 0;
    for (int call = 0; call < static_cast<int>(records.size() / perCall); ++call)
        CheckRecords(records.substr(static_cast<std::size_t>(call) * perCall, perCall), segments,
                     selector);

    // Every segment has its own sample file, named after its record number.
    std::size_t sampleFiles = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name == "out.wfd")
            continue;
        ++sampleFiles;
        const std::size_t index = std::strtoul(name.c_str(), nullptr, 10);
        FUZZ_CHECK(index < segments.size());
        FUZZ_CHECK(ReadWholeFile(entry.path().string()) ==
                   ExpectedSampleBytes(*segments[index], selector));
    }
    FUZZ_CHECK(sampleFiles == segments.size());
    return 0;
}
