#include <gtest/gtest.h>

#include <utility>

#include "dsp/sample_vector.h"

namespace {

SampleVector MakeFilled() {
    SampleVector vector;
    EXPECT_TRUE(vector.AllocateZeros(3));
    vector.samples[0] = 1.5f;
    vector.samples[1] = -2.0f;
    vector.samples[2] = 7.25f;
    vector.sampleRate = 100.0;
    vector.startTime = 983787900.5;
    vector.calib = 0.5;
    vector.calper = 2.0;
    return vector;
}

void ExpectSameFields(const SampleVector& actual, const SampleVector& expected) {
    EXPECT_EQ(actual.sampleRate, expected.sampleRate);
    EXPECT_EQ(actual.sampleCount, expected.sampleCount);
    EXPECT_EQ(actual.startTime, expected.startTime);
    EXPECT_EQ(actual.calib, expected.calib);
    EXPECT_EQ(actual.calper, expected.calper);
}

}  // namespace

TEST(SampleVector, StartsWithoutSamples) {
    const SampleVector vector;
    EXPECT_EQ(vector.samples, nullptr);
    EXPECT_EQ(vector.sampleRate, 0.0);
    EXPECT_EQ(vector.sampleCount, 0);
    EXPECT_EQ(vector.startTime, 0.0);
    EXPECT_EQ(vector.calib, 1.0);
    EXPECT_EQ(vector.calper, 1.0);
}

TEST(SampleVector, CopiesOwnTheirSamples) {
    SampleVector source = MakeFilled();
    SampleVector constructed(source);
    SampleVector assigned;
    EXPECT_TRUE(assigned.AllocateZeros(10));
    assigned = source;
    for (SampleVector* copy : {&constructed, &assigned}) {
        ExpectSameFields(*copy, source);
        ASSERT_NE(copy->samples, nullptr);
        EXPECT_NE(copy->samples, source.samples);
        EXPECT_EQ(copy->samples[2], 7.25f);
        copy->samples[0] = 99.0f;
    }
    EXPECT_EQ(source.samples[0], 1.5f);
}

TEST(SampleVector, CopyOfAVectorWithoutArrayHasNone) {
    SampleVector source;
    source.sampleRate = 20.0;
    source.startTime = 1000.0;
    source.calib = 3.0;
    source.calper = 4.0;
    SampleVector constructed(source);
    SampleVector assigned = MakeFilled();
    assigned = source;
    for (const SampleVector* copy : {&constructed, &assigned}) {
        EXPECT_EQ(copy->samples, nullptr);
        ExpectSameFields(*copy, source);
    }
}

TEST(SampleVector, SelfAssignmentKeepsTheSamples) {
    SampleVector vector = MakeFilled();
    const float* before = vector.samples;
    SampleVector& alias = vector;
    vector = alias;
    EXPECT_EQ(vector.samples, before);
    EXPECT_EQ(vector.sampleCount, 3);
    EXPECT_EQ(vector.samples[1], -2.0f);
}

TEST(SampleVector, MoveLeavesTheSourceEmpty) {
    SampleVector source = MakeFilled();
    const float* array = source.samples;
    SampleVector constructed(std::move(source));
    EXPECT_EQ(constructed.samples, array);
    EXPECT_EQ(constructed.sampleCount, 3);
    EXPECT_EQ(source.samples, nullptr);
    EXPECT_EQ(source.sampleCount, 0);

    SampleVector assigned = MakeFilled();
    assigned = std::move(constructed);
    EXPECT_EQ(assigned.samples, array);
    EXPECT_EQ(assigned.sampleCount, 3);
    EXPECT_EQ(constructed.samples, nullptr);
    EXPECT_EQ(constructed.sampleCount, 0);
}

TEST(SampleVector, AllocateZerosReplacesTheSamples) {
    struct Case {
        int count;
        bool allocated;
        int expectedCount;
    };
    const Case cases[] = {{5, true, 5}, {0, true, 0}, {-1, false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        SampleVector vector = MakeFilled();
        EXPECT_EQ(vector.AllocateZeros(c.count), c.allocated);
        EXPECT_EQ(vector.sampleCount, c.expectedCount);
        EXPECT_EQ(vector.samples != nullptr, c.allocated);
        for (int i = 0; i < vector.sampleCount; ++i) EXPECT_EQ(vector.samples[i], 0.0f) << i;
        // Only the samples change; the timing and calibration stay.
        EXPECT_EQ(vector.sampleRate, 100.0);
        EXPECT_EQ(vector.calib, 0.5);
    }
}

TEST(SampleVector, EndsOneIntervalAfterTheLastSample) {
    SampleVector vector = MakeFilled();
    EXPECT_DOUBLE_EQ(vector.EndTime(), 983787900.5 + 0.03);
}
