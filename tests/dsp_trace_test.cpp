#include <gtest/gtest.h>

#include <utility>
#include <vector>

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
