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

void ExpectSameContent(const SampleVector& actual, const SampleVector& expected) {
    EXPECT_EQ(actual.sampleRate, expected.sampleRate);
    EXPECT_EQ(actual.sampleCount, expected.sampleCount);
    EXPECT_EQ(actual.startTime, expected.startTime);
    EXPECT_EQ(actual.calib, expected.calib);
    EXPECT_EQ(actual.calper, expected.calper);
    ASSERT_EQ(actual.samples == nullptr, expected.samples == nullptr);
    for (int i = 0; expected.samples != nullptr && i < expected.sampleCount; ++i)
        EXPECT_EQ(actual.samples[i], expected.samples[i]);
}

}  // namespace

TEST(SampleVector, StartsWithoutSamplesAndWithUnitCalibration) {
    const SampleVector vector;
    EXPECT_EQ(vector.samples, nullptr);
    EXPECT_EQ(vector.sampleCount, 0);
    EXPECT_EQ(vector.calib, 1.0);
    EXPECT_EQ(vector.calper, 1.0);
}

TEST(SampleVector, CopiesOwnTheirSamples) {
    SampleVector sources[2] = {MakeFilled(), SampleVector()};
    // A vector without an array keeps its count, and so does its copy.
    sources[1].sampleRate = 20.0;
    sources[1].sampleCount = 7;
    sources[1].calib = 3.0;
    for (const SampleVector& source : sources) {
        SCOPED_TRACE(source.sampleCount);
        SampleVector constructed(source);
        SampleVector assigned;
        ASSERT_TRUE(assigned.AllocateZeros(10));  // an array of another size is replaced
        assigned = source;
        for (SampleVector* copy : {&constructed, &assigned}) {
            ExpectSameContent(*copy, source);
            if (source.samples != nullptr) {
                EXPECT_NE(copy->samples, source.samples);
                copy->samples[0] = 99.0f;
                EXPECT_EQ(source.samples[0], 1.5f);
            }
        }
    }
}

TEST(SampleVector, SelfAssignmentKeepsTheSamples) {
    SampleVector vector = MakeFilled();
    const float* before = vector.samples;
    SampleVector& alias = vector;
    vector = alias;
    EXPECT_EQ(vector.samples, before);
    ExpectSameContent(vector, MakeFilled());
}

TEST(SampleVector, MoveLeavesTheSourceEmpty) {
    SampleVector source = MakeFilled();
    const float* array = source.samples;
    SampleVector constructed(std::move(source));
    SampleVector assigned = MakeFilled();
    assigned = std::move(constructed);
    EXPECT_EQ(assigned.samples, array);
    EXPECT_EQ(assigned.sampleCount, 3);
    for (const SampleVector* moved : {&source, &constructed}) {
        EXPECT_EQ(moved->samples, nullptr);
        EXPECT_EQ(moved->sampleCount, 0);
    }
}

TEST(SampleVector, AllocateZerosReplacesOnlyTheSamples) {
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
        EXPECT_EQ(vector.sampleRate, 100.0);
        EXPECT_EQ(vector.calib, 0.5);
    }
    EXPECT_DOUBLE_EQ(MakeFilled().EndTime(), 983787900.5 + 0.03);
}
