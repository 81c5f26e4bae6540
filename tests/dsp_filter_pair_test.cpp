#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "dsp/filter.h"

namespace {

// count samples of a seismometer-like signal at rate samples per second: an offset, two
// sines and noise, in counts.
std::vector<float> Signal(int count, double rate, std::uint32_t seed) {
    std::vector<float> samples(static_cast<size_t>(count));
    std::uint32_t noise = seed;
    for (int i = 0; i < count; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double t = i / rate;
        samples[static_cast<size_t>(i)] = static_cast<float>(
            1500.0 + 400.0 * std::sin(2.0 * M_PI * 0.3 * t) +
            120.0 * std::sin(2.0 * M_PI * 4.0 * t) + static_cast<double>(noise >> 24));
    }
    return samples;
}

bool SameBits(const std::vector<float>& x, const std::vector<float>& y) {
    return x.size() == y.size() &&
           (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(float)) == 0);
}

// A segment of a test case: count samples of Signal at rate samples per second, with a
// missing sample at missingAt (-1 for none).
struct Segment {
    int count;
    double rate;
    int missingAt;
};

TEST(FilterSamplePair, FiltersEachSegmentAsFilterSamplesDoesAlone) {
    struct Case {
        const char* name;
        Segment first;
        Segment second;
        unsigned typeCode;
        int order;
        float low;
        float high;
    };
    const float NONE = 0.0f;
    const Case cases[] = {
        {"same length and rate", {6000, 100.0, -1}, {6000, 100.0, -1}, 0, 3, 1.0f, 10.0f},
        {"first longer", {7001, 100.0, -1}, {2500, 100.0, -1}, 0, 3, 1.0f, 10.0f},
        {"second longer", {900, 100.0, -1}, {6000, 100.0, -1}, 0, 3, 1.0f, 10.0f},
        {"different rates, same sections", {3000, 100.0, -1}, {3000, 50.0, -1}, 0, 3, 1.0f, 10.0f},
        {"high corner at half of one rate", {3000, 100.0, -1}, {3000, 20.0, -1}, 0, 3, 1.0f, 10.0f},
        {"missing sample in the first", {4000, 100.0, 1234}, {4000, 100.0, -1}, 0, 3, 1.0f, 10.0f},
        {"missing first sample of the second",
         {4000, 100.0, -1},
         {4000, 100.0, 0},
         0,
         3,
         1.0f,
         10.0f},
        {"low-pass of order 10", {5000, 100.0, -1}, {4999, 100.0, -1}, 1, 10, NONE, 5.0f},
        {"high-pass of order 2", {5000, 100.0, -1}, {5000, 100.0, -1}, 3, 2, 2.0f, NONE},
        {"band-reject of order 5", {5000, 200.0, -1}, {3000, 200.0, -1}, 2, 5, 3.0f, 6.0f},
        {"a single sample", {1, 100.0, -1}, {5000, 100.0, -1}, 0, 3, 1.0f, 10.0f},
        {"no corner below half the rate", {3000, 100.0, -1}, {3000, 4.0, -1}, 0, 3, 3.0f, 10.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> first = Signal(c.first.count, c.first.rate, 1u);
        std::vector<float> second = Signal(c.second.count, c.second.rate, 2u);
        if (c.first.missingAt >= 0)
            first[static_cast<size_t>(c.first.missingAt)] = MISSING_SAMPLE;
        if (c.second.missingAt >= 0)
            second[static_cast<size_t>(c.second.missingAt)] = MISSING_SAMPLE;
        std::vector<float> firstAlone = first;
        std::vector<float> secondAlone = second;
        FilterSamples(firstAlone.data(), c.first.count, 1.0 / c.first.rate, c.typeCode, c.order,
                      c.low, c.high);
        FilterSamples(secondAlone.data(), c.second.count, 1.0 / c.second.rate, c.typeCode, c.order,
                      c.low, c.high);

        FilterSamplePair(first.data(), c.first.count, 1.0 / c.first.rate, second.data(),
                         c.second.count, 1.0 / c.second.rate, c.typeCode, c.order, c.low, c.high);
        EXPECT_TRUE(SameBits(first, firstAlone));
        EXPECT_TRUE(SameBits(second, secondAlone));
    }
}

TEST(FilterSamplePair, LeavesAnUnfilterableSegmentAndFiltersTheOther) {
    const std::vector<float> signal = Signal(3000, 100.0, 3u);
    std::vector<float> expected = signal;
    FilterSamples(expected.data(), 3000, 0.01, 0, 3, 1.0f, 10.0f);
    const float infinity = std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        std::vector<float> other;
        double otherInterval;
    };
    const Case cases[] = {
        {"zero interval", Signal(3000, 100.0, 4u), 0.0},
        {"every sample missing", std::vector<float>(3000, MISSING_SAMPLE), 0.01},
        {"every sample infinite", std::vector<float>(3000, infinity), 0.01},
        {"no samples", {}, 0.01},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool otherFirst : {true, false}) {
            SCOPED_TRACE(otherFirst ? "unfilterable first" : "unfilterable second");
            std::vector<float> filtered = signal;
            std::vector<float> other = c.other;
            float* const otherData = other.empty() ? nullptr : other.data();
            const int otherCount = static_cast<int>(other.size());
            if (otherFirst)
                FilterSamplePair(otherData, otherCount, c.otherInterval, filtered.data(), 3000,
                                 0.01, 0, 3, 1.0f, 10.0f);
            else
                FilterSamplePair(filtered.data(), 3000, 0.01, otherData, otherCount,
                                 c.otherInterval, 0, 3, 1.0f, 10.0f);
            EXPECT_TRUE(SameBits(filtered, expected));
            std::vector<float> otherAlone = c.other;
            if (!otherAlone.empty())
                FilterSamples(otherAlone.data(), otherCount, c.otherInterval, 0, 3, 1.0f, 10.0f);
            EXPECT_TRUE(SameBits(other, otherAlone));
        }
    }
}

TEST(FilterSampleQuadAndOct, FilterEachSegmentAsFilterSamplesDoesAlone) {
    // The 4-wide and 8-wide cascades must be in use wherever the processor has them.
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx")) {
        EXPECT_TRUE(FilterSampleQuadAvailable());
    }
    if (__builtin_cpu_supports("avx512f")) {
        EXPECT_TRUE(FilterSampleOctAvailable());
    }
#endif
    // Eight segments; the four-wide filter takes the first four.
    struct Case {
        const char* name;
        Segment segments[8];
    };
    const Segment plain = {6000, 100.0, -1};
    const Case cases[] = {
        {"equal", {plain, plain, plain, plain, plain, plain, plain, plain}},
        {"unequal lengths",
         {{7001, 100.0, -1},
          {2500, 100.0, -1},
          {6000, 100.0, -1},
          {3, 100.0, -1},
          {6500, 100.0, -1},
          {1, 100.0, -1},
          {6000, 100.0, -1},
          {5999, 100.0, -1}}},
        {"different rates",
         {{3000, 100.0, -1},
          {3000, 50.0, -1},
          {3000, 40.0, -1},
          {3000, 20.0, -1},
          {3000, 200.0, -1},
          {3000, 100.0, -1},
          {3000, 50.0, -1},
          {3000, 100.0, -1}}},
        {"a missing sample",
         {{4000, 100.0, -1},
          {4000, 100.0, 17},
          {4000, 100.0, -1},
          {4000, 100.0, -1},
          {4000, 100.0, -1},
          {4000, 100.0, -1},
          {4000, 100.0, 3999},
          {4000, 100.0, -1}}},
        {"a rate without a usable band",
         {{4000, 100.0, -1},
          {4000, 100.0, -1},
          {4000, 15.0, -1},
          {4000, 100.0, -1},
          {4000, 100.0, -1},
          {4000, 100.0, -1},
          {4000, 100.0, -1},
          {4000, 15.0, -1}}},
    };
    for (const int lanes : {4, 8}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << lanes << " lanes, " << c.name);
            std::vector<float> filtered[8];
            std::vector<float> expected[8];
            float* samples[8];
            int counts[8];
            double intervals[8];
            for (int lane = 0; lane < lanes; ++lane) {
                const Segment& segment = c.segments[lane];
                filtered[lane] =
                    Signal(segment.count, segment.rate, static_cast<std::uint32_t>(lane + 3));
                if (segment.missingAt >= 0)
                    filtered[lane][static_cast<size_t>(segment.missingAt)] = MISSING_SAMPLE;
                expected[lane] = filtered[lane];
                FilterSamples(expected[lane].data(), segment.count, 1.0 / segment.rate, 0, 3, 1.0f,
                              10.0f);
                samples[lane] = filtered[lane].data();
                counts[lane] = segment.count;
                intervals[lane] = 1.0 / segment.rate;
            }
            if (lanes == 4)
                FilterSampleQuad(samples, counts, intervals, 0, 3, 1.0f, 10.0f);
            else
                FilterSampleOct(samples, counts, intervals, 0, 3, 1.0f, 10.0f);
            for (int lane = 0; lane < lanes; ++lane)
                EXPECT_TRUE(SameBits(filtered[lane], expected[lane])) << "lane " << lane;
        }
    }
}

}  // namespace
