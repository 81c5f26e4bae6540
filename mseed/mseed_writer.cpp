#include "mseed/mseed_writer.h"

#include <libmseed.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dsp/filter.h"
#include "dsp/sample_integer.h"

namespace {

constexpr std::size_t STATION_WIDTH = 5;
constexpr std::size_t CHANNEL_WIDTH = 3;
constexpr int FLOAT_DATATYPE = 3;
// Steim-2 holds differences between neighbouring samples in at most 30 bits.
constexpr std::int64_t STEIM2_LARGEST_DIFFERENCE = (std::int64_t{1} << 29) - 1;
constexpr double RATE_TOLERANCE = 1e-6;

std::string UpperCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Copies a code, which the caller has checked to fit, into a libmseed header field of 11
// bytes.
void SetCode(char* field, const std::string& code) {
    const std::string upper = UpperCase(code).substr(0, 10);
    std::memcpy(field, upper.c_str(), upper.size() + 1);
}

bool FitsSteim2(const std::vector<std::int32_t>& values) {
    for (std::size_t i = 1; i < values.size(); ++i) {
        const std::int64_t difference = std::int64_t{values[i]} - values[i - 1];
        if (difference > STEIM2_LARGEST_DIFFERENCE || difference < -STEIM2_LARGEST_DIFFERENCE - 1)
            return false;
    }
    return true;
}

// Where libmseed hands each packed record: the output stream and whether a write failed.
struct RecordSink {
    std::FILE* stream = nullptr;
    bool failed = false;
};

void WriteRecord(char* record, int length, void* sinkData) {
    RecordSink* sink = static_cast<RecordSink*>(sinkData);
    const std::size_t bytes = static_cast<std::size_t>(length);
    if (!sink->failed && std::fwrite(record, 1, bytes, sink->stream) != bytes)
        sink->failed = true;
}

// Owns one libmseed record description. Its sample array is borrowed, never freed by it.
class RecordHeader {
public:
    RecordHeader() : record(msr_init(nullptr)) {}
    ~RecordHeader() {
        if (record != nullptr) {
            record->datasamples = nullptr;
            msr_free(&record);
        }
    }
    RecordHeader(const RecordHeader&) = delete;
    RecordHeader& operator=(const RecordHeader&) = delete;
    MSRecord* Get() const { return record; }

private:
    MSRecord* record;
};

// True when the header's factor and multiplier hold the rate within RATE_TOLERANCE of it.
bool FactorHoldsRate(double rate) {
    std::int16_t factor = 0;
    std::int16_t multiplier = 0;
    if (ms_genfactmult(rate, &factor, &multiplier) != 0)
        return false;
    return std::fabs(ms_nomsamprate(factor, multiplier) - rate) <= RATE_TOLERANCE * rate;
}

// One run of samples that the records hold as one time series.
struct Series {
    const float* samples = nullptr;
    std::size_t count = 0;
    double startTime = 0.0;   // epoch seconds of the first sample
    double sampleRate = 0.0;  // samples per second
};

// Packs one series into records. Returns false when packing or writing failed.
bool WriteSeries(RecordSink& sink, const Trace& trace, const Series& series, int datatype,
                 const MseedSettings& settings) {
    const std::size_t count = series.count;
    std::vector<std::int32_t> integers;
    std::vector<float> floats;
    RecordHeader header;
    MSRecord* record = header.Get();
    if (record == nullptr)
        return false;
    SetCode(record->network, settings.network);
    SetCode(record->station, trace.station);
    SetCode(record->location, settings.location);
    SetCode(record->channel, trace.channel);
    record->dataquality = 'D';
    record->starttime = static_cast<hptime_t>(std::llround(series.startTime * HPTMODULUS));
    record->samprate = series.sampleRate;
    record->reclen = settings.recordLength;
    record->byteorder = 1;
    record->numsamples = static_cast<std::int64_t>(count);
    if (datatype == FLOAT_DATATYPE) {
        floats.assign(series.samples, series.samples + count);
        record->datasamples = floats.data();
        record->sampletype = 'f';
        record->encoding = DE_FLOAT32;
    } else {
        integers.resize(count);
        for (std::size_t i = 0; i < count; ++i) integers[i] = SampleToInt32(series.samples[i]);
        record->datasamples = integers.data();
        record->sampletype = 'i';
        record->encoding = FitsSteim2(integers) ? DE_STEIM2 : DE_INT32;
    }
    // The header's start time counts in units of 100 microseconds; Blockette 1001 holds the
    // microseconds beyond them.
    blkt_1001_s timing{};
    if (msr_addblockette(record, reinterpret_cast<char*>(&timing), sizeof timing, 1001, 0) ==
        nullptr)
        return false;
    if (!FactorHoldsRate(series.sampleRate)) {
        blkt_100_s rate{};
        rate.samprate = static_cast<float>(series.sampleRate);
        if (msr_addblockette(record, reinterpret_cast<char*>(&rate), sizeof rate, 100, 0) ==
            nullptr)
            return false;
    }
    std::int64_t packed = 0;
    const int records = msr_pack(record, WriteRecord, &sink, &packed, 1, 0);
    return records >= 0 && packed == record->numsamples && !sink.failed;
}

// Writes the samples of one segment that are data as series of their own: those its file
// held, without the missing-sample markers. The zeros filled in after a missing or short
// file and the markers are left out, so that a reader of the records sees a gap there and
// not a channel that recorded zeros. Returns false when packing or writing failed.
bool WriteSegment(RecordSink& sink, const Trace& trace, int index, const MseedSettings& settings) {
    const SampleVector& segment = trace.SegmentAt(index);
    const int present = trace.SegmentSamplesRead(index);
    int next = 0;
    while (next < present) {
        while (next < present && segment.samples[next] == MISSING_SAMPLE) ++next;
        const int first = next;
        while (next < present && segment.samples[next] != MISSING_SAMPLE) ++next;
        if (next == first)
            break;
        Series series;
        series.samples = segment.samples + first;
        series.count = static_cast<std::size_t>(next - first);
        series.startTime = segment.startTime + first / segment.sampleRate;
        series.sampleRate = segment.sampleRate;
        if (!WriteSeries(sink, trace, series, trace.SegmentDatatype(index), settings))
            return false;
    }
    return true;
}

}  // namespace

bool IsValidRecordLength(long bytes) {
    return bytes >= 256 && bytes <= 8192 && (bytes & (bytes - 1)) == 0;
}

MseedResult WriteMseedTrace(std::FILE* stream, const Trace& trace, const MseedSettings& settings) {
    if (trace.station.size() > STATION_WIDTH || trace.channel.size() > CHANNEL_WIDTH)
        return MseedResult::CODES_TOO_LONG;
    RecordSink sink;
    sink.stream = stream;
    for (int index = 0; index < trace.SegmentCount(); ++index) {
        const SampleVector& segment = trace.SegmentAt(index);
        // Nothing to write for a segment without samples, or without a rate to place them.
        if (segment.samples == nullptr || segment.sampleCount <= 0 || !(segment.sampleRate > 0.0) ||
            !std::isfinite(segment.sampleRate))
            continue;
        if (!WriteSegment(sink, trace, index, settings))
            return MseedResult::WRITE_FAILED;
    }
    return MseedResult::WRITTEN;
}
