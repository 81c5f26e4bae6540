#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "dsp/filter.h"
#include "dsp/trace.h"

namespace {

SampleVector MakeSegment(double startTime, float firstValue) {
    SampleVector segment;
    EXPECT_TRUE(segment.AllocateZeros(2));
    segment.samples[0] = firstValue;
    segment.startTime = startTime;
    segment.sampleRate = 50.0;
    return segment;
}

std::vector<double> Starts(const Trace& trace) {
    std::vector<double> starts;
    for (int i = 0; i < trace.SegmentCount(); ++i) starts.push_back(trace.SegmentAt(i).startTime);
    return starts;
}

}  // namespace

TEST(Trace, KeepsSegmentsInAppendOrderAndDropsOnlyEmptyOnes) {
    Trace trace;
    trace.station = "ABC";
    trace.channel = "BHZ";
    trace.AppendSegment(MakeSegment(100.0, 1.0f));
    trace.AppendSegment(SampleVector());
    trace.AppendSegmentCopy(MakeSegment(50.0, 2.0f));
    trace.AppendSegment(MakeSegment(200.0, 3.0f));
    EXPECT_EQ(Starts(trace), (std::vector<double>{100.0, 0.0, 50.0, 200.0}));
    trace.RemoveEmptySegments();
    EXPECT_EQ(Starts(trace), (std::vector<double>{100.0, 50.0, 200.0}));
    EXPECT_EQ(trace.SegmentAt(1).samples[0], 2.0f);

    trace.ClearSegments();
    EXPECT_EQ(trace.SegmentCount(), 0);
    EXPECT_EQ(trace.station, "ABC");
    EXPECT_EQ(trace.channel, "BHZ");
}

TEST(Trace, AppendSegmentCopyIsDeepAndAppendSegmentTakesTheArray) {
    Trace trace;
    SampleVector copied = MakeSegment(100.0, 1.0f);
    copied.calib = 0.5;
    trace.AppendSegmentCopy(copied);
    copied.samples[0] = 9.0f;
    EXPECT_NE(trace.SegmentAt(0).samples, copied.samples);
    EXPECT_EQ(trace.SegmentAt(0).samples[0], 1.0f);
    EXPECT_EQ(trace.SegmentAt(0).sampleCount, 2);
    EXPECT_EQ(trace.SegmentAt(0).calib, 0.5);

    SampleVector moved = MakeSegment(200.0, 2.0f);
    const float* array = moved.samples;
    trace.AppendSegment(std::move(moved));
    EXPECT_EQ(trace.SegmentAt(1).samples, array);
    EXPECT_EQ(trace.SegmentAt(1).sampleCount, 2);
    EXPECT_EQ(moved.samples, nullptr);
}

TEST(Trace, KeepPresentSamplesCutsFilledInEndsAndSplitsAtMarkers) {
    const float M = MISSING_SAMPLE;
    struct Case {
        const char* name;
        std::vector<float> values;
        int samplesRead;
        std::vector<std::vector<float>> pieces;  // the segments left
        std::vector<double> starts;              // their start times, seconds
    };
    const Case cases[] = {
        {"all read", {1, 2, 3, 4}, Trace::ALL_SAMPLES_READ, {{1, 2, 3, 4}}, {10.0}},
        {"short file", {1, 2, 0, 0}, 2, {{1, 2}}, {10.0}},
        {"missing file", {0, 0, 0, 0}, 0, {}, {}},
        {"markers inside", {1, M, M, 4, 5}, Trace::ALL_SAMPLES_READ, {{1}, {4, 5}}, {10.0, 10.3}},
        {"markers at both ends", {M, 2, 3, M}, Trace::ALL_SAMPLES_READ, {{2, 3}}, {10.1}},
        {"marker, then filled in", {1, M, 3, 0}, 3, {{1}, {3}}, {10.0, 10.2}},
        {"only markers", {M, M}, Trace::ALL_SAMPLES_READ, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Trace trace;
        SampleVector segment;
        ASSERT_TRUE(segment.AllocateZeros(static_cast<int>(c.values.size())));
        std::copy(c.values.begin(), c.values.end(), segment.samples);
        segment.startTime = 10.0;
        segment.sampleRate = 10.0;
        trace.AppendSegment(std::move(segment), 3, c.samplesRead);
        trace.KeepPresentSamples();
        ASSERT_EQ(trace.SegmentCount(), static_cast<int>(c.pieces.size()));
        for (int i = 0; i < trace.SegmentCount(); ++i) {
            const SampleVector& piece = trace.SegmentAt(i);
            EXPECT_EQ(std::vector<float>(piece.samples, piece.samples + piece.sampleCount),
                      c.pieces[static_cast<std::size_t>(i)]);
            EXPECT_DOUBLE_EQ(piece.startTime, c.starts[static_cast<std::size_t>(i)]);
            EXPECT_EQ(trace.SegmentDatatype(i), 3);
            EXPECT_EQ(trace.SegmentSamplesRead(i), piece.sampleCount);
        }
    }
}
