// miniSEED records written for traces and read back with libmseed's own reader: codes,
// start times, rates, encodings, record lengths and every sample.

#include "mseed/mseed_writer.h"

#include <gtest/gtest.h>
#include <libmseed.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "dsp/filter.h"
#include "dsp/sample_integer.h"
#include "platform/file_handle.h"
#include "tests/support/mseed_probe.h"
#include "tests/support/temp_dir.h"

namespace {

// A segment of count samples from start (epoch seconds) at rate, valued by sample(i).
template <typename Value>
SampleVector Segment(double start, double rate, int count, Value sample) {
    SampleVector segment;
    EXPECT_TRUE(segment.AllocateZeros(count));
    segment.startTime = start;
    segment.sampleRate = rate;
    for (int i = 0; i < count; ++i) segment.samples[i] = sample(i);
    return segment;
}

MseedResult WriteFile(const std::string& path, const Trace& trace, const MseedSettings& settings) {
    FileHandle out(std::fopen(path.c_str(), "wb"));
    EXPECT_TRUE(out);
    const MseedResult result = WriteMseedTrace(out.get(), trace, settings);
    EXPECT_EQ(std::fclose(out.release()), 0);
    return result;
}

// Checks that the records hold the trace's segments in order: each segment one run of records
// starting at its start time, every sample as the CSS export writes it (as a float for
// datatype 3), at the segment's rate within 1e-6.
void ExpectSegments(const std::vector<MseedRecord>& records, const Trace& trace,
                    const MseedSettings& settings) {
    std::size_t next = 0;
    for (int index = 0; index < trace.SegmentCount(); ++index) {
        SCOPED_TRACE(testing::Message() << "segment " << index);
        const SampleVector& segment = trace.SegmentAt(index);
        const bool floats = trace.SegmentDatatype(index) == 3;
        int done = 0;
        while (done < segment.sampleCount) {
            ASSERT_LT(next, records.size());
            const MseedRecord& record = records[next++];
            EXPECT_EQ(record.station, trace.station);
            EXPECT_EQ(record.channel, trace.channel);
            EXPECT_EQ(record.network, settings.network);
            EXPECT_EQ(record.location, settings.location);
            EXPECT_EQ(record.length, settings.recordLength);
            EXPECT_NEAR(record.rate, segment.sampleRate, 1e-6 * segment.sampleRate);
            EXPECT_EQ(record.sampleType, floats ? 'f' : 'i');
            EXPECT_EQ(record.encoding, floats ? DE_FLOAT32 : DE_STEIM2);
            const hptime_t expected =
                std::llround((segment.startTime + done / segment.sampleRate) * HPTMODULUS);
            // libmseed keeps a record's later start times to the microsecond as well.
            EXPECT_LE(std::llabs(record.start - expected), 1) << record.start << " " << expected;
            for (std::size_t i = 0; i < record.samples.size(); ++i, ++done) {
                ASSERT_LT(done, segment.sampleCount);
                const float value = segment.samples[done];
                const double written =
                    floats ? static_cast<double>(value) : static_cast<double>(SampleToInt32(value));
                ASSERT_EQ(record.samples[i], written) << "sample " << done;
            }
        }
    }
    EXPECT_EQ(next, records.size()) << "no further records";
}

TEST(WriteMseedTrace, RoundTripsEveryDatatypeRateGapOverlapAndRateChange) {
    TempDir dir;
    const double start = 1078221600.123456;
    struct Case {
        const char* what;
        int datatype;
        std::vector<double> rates;  // one segment per rate, each after a gap or overlap
        int recordLength;
    };
    const Case cases[] = {
        {"8-bit", 0, {100.0}, 4096},
        {"16-bit", 1, {100.0, 100.0}, 512},
        {"32-bit", 2, {100.0, 40.5}, 256},
        {"float", 3, {40.5, 1.0}, 8192},
        {"unsigned 16-bit", 5, {1.0, 0.1}, 4096},
        {"unknown encoding, read as zeros", -1, {0.1}, 1024},
        // No factor and multiplier of the header hold these: Blockette 100 does.
        {"rates of a Blockette 100", 2, {12345.678, 7777.7777}, 4096},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Trace trace;
        trace.station = "ABC";
        trace.channel = "BHZ";
        double begin = start;
        for (std::size_t s = 0; s < c.rates.size(); ++s) {
            const double rate = c.rates[s];
            const int count = 3000 + static_cast<int>(s) * 17;
            const int datatype = c.datatype;
            trace.AppendSegment(
                Segment(begin, rate, count,
                        [&](int i) {
                            if (datatype == -1)
                                return 0.0f;
                            const double wave =
                                20000.0 * std::sin(0.01 * i + static_cast<double>(s));
                            // Floats keep their fraction; integer codes are whole.
                            return datatype == 3 ? static_cast<float>(wave + 0.25)
                                                 : static_cast<float>(std::trunc(wave));
                        }),
                datatype);
            // Alternately a gap and an overlap before the next segment.
            begin += count / rate + (s % 2 == 0 ? 7.5 : -3.25);
        }
        MseedSettings settings;
        settings.network = "GE";
        settings.location = "00";
        settings.recordLength = c.recordLength;
        const std::string path = dir.File(std::string(c.what) + ".mseed");
        ASSERT_EQ(WriteFile(path, trace, settings), MseedResult::WRITTEN);
        FileHandle in(std::fopen(path.c_str(), "rb"));
        ASSERT_TRUE(in);
        std::fseek(in.get(), 0, SEEK_END);
        EXPECT_EQ(std::ftell(in.get()) % c.recordLength, 0);
        ExpectSegments(ReadMseedRecords(path), trace, settings);
    }
}

TEST(WriteMseedTrace, LeavesOutFilledInSamplesAndMissingSampleMarkers) {
    TempDir dir;
    const double start = 1078221600.0;
    const double rate = 20.0;
    struct Run {
        int first, count;  // samples of the segment that one series holds
    };
    struct Case {
        const char* what;
        int count;
        int samplesRead;
        std::vector<int> markers;  // indices of missing-sample markers
        std::vector<Run> runs;
    };
    const Case cases[] = {
        {"short file", 100, 40, {}, {{0, 40}}},
        {"missing file", 100, 0, {}, {}},
        {"markers inside",
         100,
         Trace::ALL_SAMPLES_READ,
         {10, 11, 12, 50},
         {{0, 10}, {13, 37}, {51, 49}}},
        {"markers at both ends", 100, Trace::ALL_SAMPLES_READ, {0, 1, 99}, {{2, 97}}},
        {"markers only", 3, Trace::ALL_SAMPLES_READ, {0, 1, 2}, {}},
        {"marker, then a short file", 100, 60, {20, 59}, {{0, 20}, {21, 38}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Trace trace;
        trace.station = "ABC";
        trace.channel = "BHZ";
        SampleVector segment =
            Segment(start, rate, c.count, [](int i) { return static_cast<float>(i + 1); });
        for (int i = c.count < c.samplesRead ? c.count : c.samplesRead; i < c.count; ++i)
            segment.samples[i] = 0.0f;
        for (int i : c.markers) segment.samples[i] = MISSING_SAMPLE;
        trace.AppendSegment(std::move(segment), 2, c.samplesRead);
        const std::string path = dir.File(std::string(c.what) + ".mseed");
        ASSERT_EQ(WriteFile(path, trace, MseedSettings()), MseedResult::WRITTEN);
        const std::vector<MseedRecord> records = ReadMseedRecords(path);
        ASSERT_EQ(records.size(), c.runs.size());
        for (std::size_t r = 0; r < c.runs.size(); ++r) {
            SCOPED_TRACE(testing::Message() << "series " << r);
            const Run& run = c.runs[r];
            EXPECT_LE(std::llabs(records[r].start -
                                 std::llround((start + run.first / rate) * HPTMODULUS)),
                      1);
            std::vector<double> expected;
            for (int i = run.first; i < run.first + run.count; ++i) expected.push_back(i + 1);
            EXPECT_EQ(records[r].samples, expected);
        }
    }
}

TEST(WriteMseedTrace, KeepsIntegersExactWhereNeighboursDifferBeyondSteim2) {
    TempDir dir;
    Trace trace;
    trace.station = "abc";  // codes go into the headers in upper case
    trace.channel = "bhz";
    const float extremes[] = {2147483520.0f, -2147483648.0f, 3.0e9f, -3.0e9f, NAN, 12.7f};
    trace.AppendSegment(Segment(0.0, 20.0, 6, [&](int i) { return extremes[i]; }), 2);
    const std::string path = dir.File("wide.mseed");
    ASSERT_EQ(WriteFile(path, trace, MseedSettings()), MseedResult::WRITTEN);
    const std::vector<MseedRecord> records = ReadMseedRecords(path);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].station, "ABC");
    EXPECT_EQ(records[0].channel, "BHZ");
    EXPECT_EQ(records[0].network, "XX");
    EXPECT_EQ(records[0].encoding, DE_INT32);
    const std::vector<double> expected = {2147483520.0, INT32_MIN, INT32_MAX, INT32_MIN, 0.0, 12.0};
    EXPECT_EQ(records[0].samples, expected);
}

TEST(WriteMseedTrace, WritesNothingForCodesSeedCannotHoldAndReportsWriteFailures) {
    TempDir dir;
    struct Case {
        std::string station, channel;
        MseedResult result;
    };
    const Case cases[] = {
        {"ABCDEF", "BHZ", MseedResult::CODES_TOO_LONG},
        {"ABC", "BHZE", MseedResult::CODES_TOO_LONG},
        {"ABCDE", "BHZ", MseedResult::WRITTEN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.station + "." + c.channel);
        Trace trace;
        trace.station = c.station;
        trace.channel = c.channel;
        trace.AppendSegment(Segment(0.0, 100.0, 10, [](int i) { return static_cast<float>(i); }),
                            1);
        const std::string path = dir.File(c.station + c.channel + ".mseed");
        EXPECT_EQ(WriteFile(path, trace, MseedSettings()), c.result);
        EXPECT_EQ(ReadMseedRecords(path).size(), c.result == MseedResult::WRITTEN ? 1u : 0u);
    }

    // A stream that takes no bytes.
    Trace trace;
    trace.station = "ABC";
    trace.channel = "BHZ";
    trace.AppendSegment(Segment(0.0, 100.0, 10, [](int i) { return static_cast<float>(i); }), 1);
    const std::string path = dir.File("read-only");
    std::fclose(std::fopen(path.c_str(), "wb"));
    FileHandle readOnly(std::fopen(path.c_str(), "rb"));
    ASSERT_TRUE(readOnly);
    EXPECT_EQ(WriteMseedTrace(readOnly.get(), trace, MseedSettings()), MseedResult::WRITE_FAILED);
}

TEST(IsValidRecordLength, TakesPowersOfTwoFrom256To8192) {
    for (long bytes : {256L, 512L, 1024L, 2048L, 4096L, 8192L})
        EXPECT_TRUE(IsValidRecordLength(bytes));
    for (long bytes : {0L, -256L, 128L, 1000L, 4095L, 16384L})
        EXPECT_FALSE(IsValidRecordLength(bytes));
}

}  // namespace
