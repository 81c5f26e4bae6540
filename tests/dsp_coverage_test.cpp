#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "dsp/coverage.h"
#include "dsp/filter.h"

namespace {

// A segment of count samples at 10 per second from t = 0, with the marker at the given indices.
SampleVector MarkedSegment(int count, const std::vector<int>& markers) {
    SampleVector segment;
    EXPECT_TRUE(segment.AllocateZeros(count));
    for (int i = 0; i < count; ++i) segment.samples[i] = static_cast<float>(i % 7);
    for (int i : markers) segment.samples[i] = MISSING_SAMPLE;
    segment.sampleRate = 10.0;
    return segment;
}

TEST(FindCoverage, LeavesOutEveryRunOfMarkersWhereverItFallsInTheScan) {
    // Markers alone and in runs, at the ends and across the edges of the blocks the scan tests
    // whole; a NaN at sample 3 (where no marker is) is a present sample.
    struct Case {
        const char* name;
        int count;
        std::vector<int> markers;
        std::vector<std::pair<int, int>> missing;  // [first, end) sample indices
    };
    // The indices [first, end), and [first2, end2) after them.
    const auto run = [](int first, int end, int first2 = 0, int end2 = 0) {
        std::vector<int> indices;
        for (int i = first; i < end; ++i) indices.push_back(i);
        for (int i = first2; i < end2; ++i) indices.push_back(i);
        return indices;
    };
    const Case cases[] = {
        {"no marker", 100, {}, {}},
        {"the first and the last sample", 100, {0, 99}, {{0, 1}, {99, 100}}},
        {"a block's last and the next one's first", 64, {15, 16}, {{15, 17}}},
        {"a run over two block edges", 64, run(14, 35), {{14, 35}}},
        {"every sample but the NaN", 40, run(0, 3, 4, 40), {{0, 3}, {4, 40}}},
        {"shorter than a block", 5, {2}, {{2, 3}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Trace trace;
        SampleVector segment = MarkedSegment(c.count, c.markers);
        segment.samples[3] = NAN;
        trace.AppendSegment(std::move(segment));
        const double end = c.count / 10.0;
        const Coverage coverage = FindCoverage(trace, 0.0, end);
        const std::vector<std::pair<int, int>>& missing = c.missing;
        ASSERT_EQ(coverage.missing.size(), missing.size());
        double missingSeconds = 0.0;
        for (std::size_t g = 0; g < missing.size(); ++g) {
            EXPECT_NEAR(coverage.missing[g].start, missing[g].first / 10.0, 1e-9);
            EXPECT_NEAR(coverage.missing[g].end, missing[g].second / 10.0, 1e-9);
            missingSeconds += (missing[g].second - missing[g].first) / 10.0;
        }
        EXPECT_NEAR(coverage.coveredSeconds, end - missingSeconds, 1e-9);
    }
}

}  // namespace

TEST(FindCoverage, AWindowEndingWithinASampleIntervalOfTheLastSampleReadIsComplete) {
    struct Case {
        const char* name;
        double windowEnd;    // seconds; the 100 samples at 10 per second cover [0, 10)
        double missingFrom;  // the gap at the end, or a negative number for none
    };
    const Case cases[] = {
        {"ending where the last sample's interval ends", 10.0, -1.0},
        {"ending between the last sample read and the next one", 10.07, -1.0},
        {"a whole sample interval after it", 10.1, 10.0},
        {"seconds after it", 12.0, 10.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Trace trace;
        trace.AppendSegment(MarkedSegment(100, {}));
        const Coverage coverage = FindCoverage(trace, 0.0, c.windowEnd);
        if (c.missingFrom < 0.0) {
            EXPECT_TRUE(coverage.missing.empty());
            EXPECT_DOUBLE_EQ(CompletenessPercent(coverage.coveredSeconds / c.windowEnd), 100.0);
        } else {
            ASSERT_EQ(coverage.missing.size(), 1u);
            EXPECT_NEAR(coverage.missing[0].start, c.missingFrom, 1e-9);
        }
    }
}
