#include <gtest/gtest.h>

#include <utility>

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

}  // namespace

TEST(Trace, StartsEmpty) {
    const Trace trace;
    EXPECT_EQ(trace.SegmentCount(), 0);
    EXPECT_EQ(trace.station, "");
    EXPECT_EQ(trace.channel, "");
}

TEST(Trace, KeepsSegmentsInAppendOrder) {
    Trace trace;
    trace.AppendSegment(MakeSegment(100.0, 1.0f));
    trace.AppendSegmentCopy(MakeSegment(50.0, 2.0f));
    trace.AppendSegment(MakeSegment(200.0, 3.0f));
    ASSERT_EQ(trace.SegmentCount(), 3);
    const double starts[] = {100.0, 50.0, 200.0};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(trace.SegmentAt(i).startTime, starts[i]);
        EXPECT_EQ(trace.SegmentAt(i).samples[0], static_cast<float>(i + 1));
    }
}

TEST(Trace, ClearSegmentsKeepsTheCodes) {
    Trace trace;
    trace.station = "ABC";
    trace.channel = "BHZ";
    trace.AppendSegment(MakeSegment(100.0, 1.0f));
    trace.AppendSegment(MakeSegment(200.0, 2.0f));
    trace.ClearSegments();
    EXPECT_EQ(trace.SegmentCount(), 0);
    EXPECT_EQ(trace.station, "ABC");
    EXPECT_EQ(trace.channel, "BHZ");
}

TEST(Trace, AppendSegmentCopyIsDeep) {
    Trace trace;
    SampleVector segment = MakeSegment(100.0, 1.0f);
    segment.calib = 0.5;
    trace.AppendSegmentCopy(segment);
    segment.samples[0] = 9.0f;
    const SampleVector& held = trace.SegmentAt(0);
    EXPECT_NE(held.samples, segment.samples);
    EXPECT_EQ(held.samples[0], 1.0f);
    EXPECT_EQ(held.sampleCount, 2);
    EXPECT_EQ(held.startTime, 100.0);
    EXPECT_EQ(held.sampleRate, 50.0);
    EXPECT_EQ(held.calib, 0.5);
}

TEST(Trace, AppendSegmentTakesOverTheSamples) {
    Trace trace;
    SampleVector segment = MakeSegment(100.0, 1.0f);
    const float* array = segment.samples;
    trace.AppendSegment(std::move(segment));
    EXPECT_EQ(trace.SegmentAt(0).samples, array);
    EXPECT_EQ(trace.SegmentAt(0).sampleCount, 2);
    EXPECT_EQ(segment.samples, nullptr);
    EXPECT_EQ(segment.sampleCount, 0);
}

TEST(Trace, RemoveEmptySegmentsKeepsTheOthersInOrder) {
    Trace trace;
    trace.AppendSegment(SampleVector());
    trace.AppendSegment(MakeSegment(100.0, 1.0f));
    trace.AppendSegment(SampleVector());
    trace.AppendSegment(MakeSegment(200.0, 2.0f));
    trace.RemoveEmptySegments();
    ASSERT_EQ(trace.SegmentCount(), 2);
    EXPECT_EQ(trace.SegmentAt(0).startTime, 100.0);
    EXPECT_EQ(trace.SegmentAt(1).startTime, 200.0);
}
