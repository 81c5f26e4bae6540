#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "dsp/filter.h"
#include "dsp/row_samples.h"
#include "dsp/trace.h"
#include "tests/support/sample_fixture.h"

namespace {

// A segment of count samples at rate samples per second: an offset, a sine and noise.
SampleVector MakeSegment(int count, double rate, std::uint32_t seed) {
    SampleVector segment;
    segment.AllocateZeros(count);
    std::uint32_t noise = seed;
    for (int i = 0; i < count; ++i) {
        noise = noise * 1664525u + 1013904223u;
        segment.samples[i] = static_cast<float>(800.0 + 250.0 * std::sin(0.05 * i) +
                                                static_cast<double>(noise >> 25));
    }
    segment.sampleRate = rate;
    segment.startTime = 1078221600.0 + seed * 600.0;
    return segment;
}

bool SameBits(const std::vector<float>& x, const std::vector<float>& y) {
    return x.size() == y.size() &&
           (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(float)) == 0);
}

// What PrepareRowSamples does to one segment on its own: filter, then cover the first ten
// seconds with the ten after them when the segment is long enough.
std::vector<float> PreparedAlone(const SampleVector& segment, const FilterBand& band) {
    std::vector<float> samples(segment.samples, segment.samples + segment.sampleCount);
    if (!(segment.sampleRate > 0.0) || samples.empty())
        return samples;
    FilterSamples(samples.data(), segment.sampleCount, 1.0 / segment.sampleRate, 0, band.order,
                  band.low, band.high);
    const int k = static_cast<int>(10.0 * std::trunc(segment.sampleRate));
    if (2 * k < segment.sampleCount) {
        for (int j = 0; j < k; ++j)
            samples[static_cast<size_t>(j)] = samples[static_cast<size_t>(j + k)];
    }
    return samples;
}

TEST(PrepareRowSamples, LargeRowsComeOutAsEverySegmentFilteredAlone) {
    // Rows large enough to be shared between threads and filtered two segments at a time:
    // odd and even segment counts, segments of unequal length and rate, a missing sample,
    // an empty segment and one without a rate among them.
    struct Case {
        const char* name;
        std::vector<int> counts;
        std::vector<double> rates;
        int missingIn;  // segment with a missing sample, or -1
    };
    const Case cases[] = {
        {"36 equal segments", std::vector<int>(36, 6000), std::vector<double>(36, 100.0), -1},
        {"odd count, unequal lengths",
         {60000, 1500, 59999, 30000, 7},
         {100.0, 100.0, 100.0, 100.0, 100.0},
         2},
        {"mixed rates, an empty and a rateless segment",
         {40000, 0, 25000, 25000, 12000, 50000},
         {100.0, 100.0, 50.0, 0.0, 20.0, 100.0},
         -1},
    };
    FilterBand band;
    band.low = 1.0f;
    band.high = 10.0f;
    band.order = 3;
    band.enabled = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::vector<float>> expected;
        // Fills trace with the case's segments, as read.
        const auto fill = [&c](Trace& trace) {
            for (size_t i = 0; i < c.counts.size(); ++i) {
                SampleVector segment =
                    MakeSegment(c.counts[i], c.rates[i], static_cast<std::uint32_t>(i + 1));
                if (static_cast<int>(i) == c.missingIn)
                    segment.samples[segment.sampleCount / 2] = MISSING_SAMPLE;
                trace.AppendSegment(std::move(segment));
            }
        };
        Trace trace;
        fill(trace);
        for (int i = 0; i < trace.SegmentCount(); ++i)
            expected.push_back(PreparedAlone(trace.SegmentAt(i), band));
        const auto expectFilteredAlone = [&expected](const Trace& filtered) {
            ASSERT_EQ(filtered.SegmentCount(), static_cast<int>(expected.size()));
            for (int i = 0; i < filtered.SegmentCount(); ++i) {
                SCOPED_TRACE(testing::Message() << "segment " << i);
                const SampleVector& segment = filtered.SegmentAt(i);
                ASSERT_EQ(segment.sampleCount,
                          static_cast<int>(expected[static_cast<size_t>(i)].size()));
                const std::vector<float> samples(segment.samples,
                                                 segment.samples + segment.sampleCount);
                EXPECT_TRUE(SameBits(samples, expected[static_cast<size_t>(i)]));
            }
        };
        // The reading threads filter the segments in groups of any size up to eight.
        for (int size = 1; size <= 8; ++size) {
            SCOPED_TRACE(testing::Message() << "groups of " << size);
            Trace grouped;
            fill(grouped);
            std::vector<SampleVector*> segments;
            for (int i = 0; i < grouped.SegmentCount(); ++i)
                segments.push_back(&grouped.SegmentAt(i));
            for (int i = 0; i < grouped.SegmentCount(); i += size)
                PrepareSegmentGroup(segments.data() + i, std::min(size, grouped.SegmentCount() - i),
                                    band);
            expectFilteredAlone(grouped);
        }
        PrepareRowSamples(trace, band);
        expectFilteredAlone(trace);
    }
}

TEST(FilterJoinedRowSamples, FiltersEachRunOfContiguousSegmentsAsOneArrayAndDropsThePreroll) {
    // Epoch seconds from which samples are kept: the pre-roll before it starts inside the
    // first segment.
    const double keepFrom = 1078221660.0;
    struct Piece {
        double start;  // seconds after keepFrom
        double rate;
        int count;
        int missing;  // index of a missing sample, or -1
    };
    struct Case {
        const char* name;
        std::vector<Piece> pieces;
        std::vector<std::vector<int>> runs;  // piece indices of each run of contiguous pieces
    };
    const Case cases[] = {
        {"contiguous files, a missing sample, a gap, a rate change",
         {{-60.0, 100.0, 36000, -1},
          {300.0, 100.0, 60000, 1234},
          {900.0, 100.0, 60000, -1},
          {1505.0, 100.0, 30000, -1},  // five seconds after the previous end: a gap
          {1805.0, 50.0, 15000, -1}},  // contiguous in time, but another rate
         {{0, 1, 2}, {3}, {4}}},
        {"an overlap and a run that ends before the window",
         {{-60.0, 20.0, 600, -1}, {-35.0, 20.0, 12100, -1}, {570.0, 20.0, 6000, 0}},
         {{0}, {1, 2}}},
    };
    FilterBand band;
    band.low = 1.0f;
    band.high = 5.0f;
    band.enabled = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Trace trace;
        std::vector<std::vector<float>> expected(c.pieces.size());
        for (std::size_t i = 0; i < c.pieces.size(); ++i) {
            const Piece& piece = c.pieces[i];
            SampleVector segment = MakeSegment(piece.count, piece.rate, 7);
            segment.startTime = keepFrom + piece.start;
            if (piece.missing >= 0)
                segment.samples[piece.missing] = MISSING_SAMPLE;
            expected[i].assign(segment.samples, segment.samples + segment.sampleCount);
            trace.AppendSegment(std::move(segment));
        }
        // The reference: each run's samples laid end to end and filtered by ApplyFilter.
        for (const std::vector<int>& run : c.runs) {
            std::vector<float> joined;
            for (int i : run) {
                const std::vector<float>& piece = expected[static_cast<std::size_t>(i)];
                joined.insert(joined.end(), piece.begin(), piece.end());
            }
            const double rate = c.pieces[static_cast<std::size_t>(run[0])].rate;
            ApplyFilter(joined.data(), static_cast<int>(joined.size()),
                        DesignFilter(3, "BP", band.low, band.high, static_cast<float>(1.0 / rate)));
            std::size_t at = 0;
            for (int i : run) {
                std::vector<float>& piece = expected[static_cast<std::size_t>(i)];
                std::copy(joined.begin() + static_cast<long>(at),
                          joined.begin() + static_cast<long>(at + piece.size()), piece.begin());
                at += piece.size();
            }
        }
        FilterJoinedRowSamples(trace, band);
        DropPreroll(trace, keepFrom);
        // What is left: every sample at or after keepFrom, in segment order.
        int segment = 0;
        for (std::size_t i = 0; i < c.pieces.size(); ++i) {
            const Piece& piece = c.pieces[i];
            const int dropped = std::max(0, static_cast<int>(std::ceil(-piece.start * piece.rate)));
            if (dropped >= piece.count)
                continue;
            SCOPED_TRACE(testing::Message() << "piece " << i);
            ASSERT_LT(segment, trace.SegmentCount());
            const SampleVector& kept = trace.SegmentAt(segment++);
            EXPECT_NEAR(kept.startTime, keepFrom + piece.start + dropped / piece.rate, 1e-6);
            const std::vector<float> samples(kept.samples, kept.samples + kept.sampleCount);
            EXPECT_TRUE(SameBits(
                samples, std::vector<float>(expected[i].begin() + dropped, expected[i].end())));
        }
        EXPECT_EQ(segment, trace.SegmentCount());
    }
}

}  // namespace

TEST(PrepareRowSamples, FiltersEachSegmentAndHidesItsStartTransient) {
    struct Case {
        double sampleRate;
        int count;
        int copied;  // leading samples that take the values of the next as many
    };
    const Case cases[] = {
        {20.0, 1000, 200},  // k = 200, 2k < 1000
        {20.0, 400, 0},     // 2k == count: left as filtered
        {20.9, 401, 200},   // the rate is truncated before the multiplication
        {0.5, 50, 0},       // k = 0
    };
    const FilterBand band = Band(0.05f, 0.2f, true);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sampleRate << " sps, " << c.count);
        std::vector<float> values(static_cast<size_t>(c.count));
        for (int i = 0; i < c.count; ++i)
            values[static_cast<size_t>(i)] = 100.0f +
                                             50.0f * static_cast<float>(std::sin(i * 0.7)) +
                                             (i % 7 == 0 ? 30.0f : 0.0f);
        Trace trace;
        trace.AppendSegment(MakeSegment(values, c.sampleRate, 0.0));
        trace.AppendSegment(MakeSegment(values, c.sampleRate, 100.0));

        std::vector<float> expected = values;
        FilterSamples(expected.data(), c.count, 1.0 / c.sampleRate, 0, 3, band.low, band.high);
        ASSERT_NE(expected, values);
        std::vector<float> filtered = expected;
        for (int j = 0; j < c.copied; ++j)
            expected[static_cast<size_t>(j)] = filtered[static_cast<size_t>(j + c.copied)];

        PrepareRowSamples(trace, band);
        for (int s = 0; s < 2; ++s) {
            const SampleVector& segment = trace.SegmentAt(s);
            ASSERT_EQ(segment.sampleCount, c.count);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), segment.samples))
                << "segment " << s;
        }
    }
}

TEST(PrepareRowSamples, LeavesSamplesAloneWithoutBandOrUsableRate) {
    struct Case {
        bool enabled;
        double rate;
    };
    const Case cases[] = {{false, 20.0}, {true, 0.0}, {true, std::nan("")}, {true, 1e-320}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.enabled << ' ' << c.rate);
        Trace trace;
        trace.AppendSegment(MakeSegment({1, 2, 3, 4}, c.rate, 0.0));
        trace.AppendSegment(SampleVector());
        PrepareRowSamples(trace, Band(0.5f, 5.0f, c.enabled));
        EXPECT_EQ(std::vector<float>(trace.SegmentAt(0).samples, trace.SegmentAt(0).samples + 4),
                  (std::vector<float>{1, 2, 3, 4}));
    }
}

TEST(FilterJoinedRowSamples, ADrumsRowGoesOnWithTheRunTheRowBeforeEnded) {
    // Two rows of two files each; the second row's samples repeat the first's, so that the
    // first row's mean is the whole run's and the run filtered in one piece is the reference.
    const FilterBand band = Band(0.5f, 5.0f, true);
    const int file = 400;
    const double rate = 40.0;
    std::vector<float> values(2 * file);
    for (int i = 0; i < 2 * file; ++i)
        values[static_cast<std::size_t>(i)] =
            static_cast<float>(300.0 + 80.0 * std::sin(0.4 * i) + (i % 9) * 7.0);
    std::vector<float> whole = values;
    whole.insert(whole.end(), values.begin(), values.end());
    ApplyFilter(whole.data(), static_cast<int>(whole.size()),
                DesignFilter(3, "BP", band.low, band.high, static_cast<float>(1.0 / rate)));

    struct Case {
        const char* name;
        double secondRowStart;  // seconds after the first row's start
        bool continues;
    };
    const Case cases[] = {
        {"contiguous", 2 * file / rate, true},
        {"a gap between the rows", 2 * file / rate + 1.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JoinedRowCarry carry;
        std::vector<float> filtered;
        for (int row = 0; row < 2; ++row) {
            Trace trace;
            const double start = row == 0 ? 0.0 : c.secondRowStart;
            for (int f = 0; f < 2; ++f) {
                const auto first = values.begin() + f * file;
                trace.AppendSegment(MakeSegment(std::vector<float>(first, first + file), rate,
                                                start + f * file / rate));
            }
            FilterJoinedRowSamples(trace, band, &carry);
            for (int i = 0; i < trace.SegmentCount(); ++i) {
                const SampleVector& segment = trace.SegmentAt(i);
                filtered.insert(filtered.end(), segment.samples,
                                segment.samples + segment.sampleCount);
            }
            EXPECT_TRUE(carry.open);
            EXPECT_DOUBLE_EQ(carry.endTime, start + 2 * file / rate);
        }
        ASSERT_EQ(filtered.size(), whole.size());
        // The first row is the run's start either way; the second goes on with it only when
        // it continues the first row's last sample, else it starts a run of its own.
        EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + 2 * file, filtered.begin()));
        EXPECT_EQ(std::equal(whole.begin() + 2 * file, whole.end(), filtered.begin() + 2 * file),
                  c.continues);
    }
}
