#include "dsp/row_samples.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>
#include <vector>

#include "dsp/filter.h"
#include "dsp/run_shared.h"

namespace {

// Samples of a row below which filtering on a second thread costs more than it saves
// (starting a thread takes about as long as filtering a few thousand samples).
constexpr long long MIN_SHARED_FILTER_SAMPLES = 100000;

// Returns the sample interval (seconds) a segment is filtered with, or 0 when the segment
// has no samples or no usable rate, and so no filter to design.
double FilterInterval(const SampleVector& segment) {
    if (segment.samples == nullptr || segment.sampleCount < 1 || !(segment.sampleRate > 0.0) ||
        !std::isfinite(segment.sampleRate))
        return 0.0;
    const double interval = 1.0 / segment.sampleRate;
    return std::isfinite(interval) ? interval : 0.0;
}

// The filter starts from the first sample's value, not from its steady state: the first ten
// seconds of a filtered segment are covered with the ten seconds after them.
void HideTransient(SampleVector& segment) {
    const double transient = 10.0 * std::trunc(segment.sampleRate);
    if (2.0 * transient < segment.sampleCount) {
        const int k = static_cast<int>(transient);
        std::copy(segment.samples + k, segment.samples + 2 * k, segment.samples);
    }
}

// Filters one segment in place and hides its start-up transient.
void PrepareSegment(SampleVector& segment, const FilterBand& band) {
    const double interval = FilterInterval(segment);
    if (interval == 0.0)
        return;
    FilterSamples(segment.samples, segment.sampleCount, interval, 0, band.order, band.low,
                  band.high);
    HideTransient(segment);
}

// Filters two segments in place, side by side, each as PrepareSegment would.
void PrepareSegmentPair(SampleVector& first, SampleVector& second, const FilterBand& band) {
    const double firstInterval = FilterInterval(first);
    const double secondInterval = FilterInterval(second);
    if (firstInterval == 0.0 || secondInterval == 0.0) {
        PrepareSegment(first, band);
        PrepareSegment(second, band);
        return;
    }
    FilterSamplePair(first.samples, first.sampleCount, firstInterval, second.samples,
                     second.sampleCount, secondInterval, 0, band.order, band.low, band.high);
    HideTransient(first);
    HideTransient(second);
}

// Filters four or eight segments in place, side by side, each as PrepareSegment would: a
// segment without a rate is handed over as no samples, which the filter leaves alone.
void PrepareSegmentWide(SampleVector* const segments[], int lanes, const FilterBand& band) {
    float* samples[MAX_FILTER_GROUP];
    int counts[MAX_FILTER_GROUP];
    double intervals[MAX_FILTER_GROUP];
    for (int lane = 0; lane < lanes; ++lane) {
        intervals[lane] = FilterInterval(*segments[lane]);
        const bool rated = intervals[lane] != 0.0;
        samples[lane] = rated ? segments[lane]->samples : nullptr;
        counts[lane] = rated ? segments[lane]->sampleCount : 0;
    }
    if (lanes == 8)
        FilterSampleOct(samples, counts, intervals, 0, band.order, band.low, band.high);
    else
        FilterSampleQuad(samples, counts, intervals, 0, band.order, band.low, band.high);
    for (int lane = 0; lane < lanes; ++lane) {
        if (intervals[lane] != 0.0)
            HideTransient(*segments[lane]);
    }
}

// Drops the samples of segment that lie before time (epoch seconds), moving the others to the
// front of its array; a segment left without samples keeps its array but counts none.
void DropSamplesBefore(SampleVector& segment, double time) {
    const int count = segment.sampleCount;
    const double rate = segment.sampleRate;
    // Sample j lies at startTime + j / rate, as the drawing places it; the estimate is
    // settled against that formula itself.
    const double estimate = std::ceil((time - segment.startTime) * rate);
    int dropped = estimate <= 0.0 ? 0 : estimate >= count ? count : static_cast<int>(estimate);
    while (dropped > 0 && segment.startTime + (dropped - 1) / rate >= time) --dropped;
    while (dropped < count && segment.startTime + dropped / rate < time) ++dropped;
    if (dropped == 0)
        return;
    std::copy(segment.samples + dropped, segment.samples + count, segment.samples);
    segment.sampleCount = count - dropped;
    segment.startTime += dropped / rate;
}

}  // namespace

int SegmentFilterGroup(int segmentCount) {
    // Where the processor has 8-wide (4-wide) vectors, eight (four) segments run side by side,
    // as long as the two threads sharing a row get a group each.
    if (FilterSampleOctAvailable() && segmentCount >= 16)
        return 8;
    return FilterSampleQuadAvailable() && segmentCount >= 8 ? 4 : 2;
}

void PrepareSegmentGroup(SampleVector* const* segments, int count, const FilterBand& band) {
    if (!band.enabled)
        return;
    int j = 0;
    for (const int lanes : {8, 4}) {
        const bool available =
            lanes == 8 ? FilterSampleOctAvailable() : FilterSampleQuadAvailable();
        for (; available && j + lanes <= count; j += lanes)
            PrepareSegmentWide(segments + j, lanes, band);
    }
    for (; j + 1 < count; j += 2) PrepareSegmentPair(*segments[j], *segments[j + 1], band);
    if (j < count)
        PrepareSegment(*segments[j], band);
}

void PrepareRowSamples(Trace& trace, const FilterBand& band) {
    if (!band.enabled)
        return;
    const int count = trace.SegmentCount();
    long long samples = 0;
    for (int i = 0; i < count; ++i) samples += std::max(trace.SegmentAt(i).sampleCount, 0);

    // The recursive filter is bound by the latency of its sections, not by memory, and the
    // segments are filtered independently of each other: segments are taken four (or two) at
    // a time and run side by side, and a second thread takes groups from the same queue while
    // this one works. Every segment comes out as if filtered alone. A row too small to repay
    // starting a thread is filtered here.
    const int group = SegmentFilterGroup(count);
    std::atomic<int> next{0};
    const auto work = [&trace, &band, &next, count, group] {
        SampleVector* segments[MAX_FILTER_GROUP];
        for (int i = next.fetch_add(group); i < count; i = next.fetch_add(group)) {
            const int end = std::min(count, i + group);
            for (int j = i; j < end; ++j) segments[j - i] = &trace.SegmentAt(j);
            PrepareSegmentGroup(segments, end - i, band);
        }
    };
    RunShared(count > 1 && samples >= MIN_SHARED_FILTER_SAMPLES, work);
}

void FilterJoinedRowSamples(Trace& trace, const FilterBand& band, JoinedRowCarry* carry) {
    if (!band.enabled)
        return;
    // The stretches to filter, in the trace's order: the samples read from a segment's file,
    // and apart from them the samples the reader filled in after those (a missing or short
    // file), which are no recording to filter through.
    struct Piece {
        float* samples;
        int count;
        double start;  // epoch seconds of the first sample
        double rate;   // samples per second
        bool filled;
        double End() const { return start + count / rate; }
    };
    std::vector<Piece> pieces;
    // Runs of contiguous pieces, as [first, end) indices into pieces.
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    long long samples = 0;
    const int count = trace.SegmentCount();
    for (int i = 0; i < count; ++i) {
        SampleVector& segment = trace.SegmentAt(i);
        if (segment.samples == nullptr || segment.sampleCount <= 0 ||
            FilterInterval(segment) == 0.0) {
            // A segment that cannot be filtered ends the run before it.
            runs.emplace_back(pieces.size(), pieces.size());
            continue;
        }
        samples += segment.sampleCount;
        const int read = trace.SegmentSamplesRead(i);
        const double rate = segment.sampleRate;
        if (read > 0) {
            const Piece piece{segment.samples, read, segment.startTime, rate, false};
            const bool continues = !pieces.empty() && runs.back().second == pieces.size() &&
                                   !pieces.back().filled && pieces.back().rate == rate &&
                                   std::fabs(piece.start - pieces.back().End()) <= 0.5 / rate;
            if (!continues)
                runs.emplace_back(pieces.size(), pieces.size());
            pieces.push_back(piece);
            ++runs.back().second;
        }
        if (read < segment.sampleCount) {
            // Filtered on its own: the reader's zeros stay a flat line.
            runs.emplace_back(pieces.size(), pieces.size() + 1);
            pieces.push_back({segment.samples + read, segment.sampleCount - read,
                              segment.startTime + read / rate, rate, true});
        }
    }
    runs.erase(std::remove_if(runs.begin(), runs.end(),
                              [](const std::pair<std::size_t, std::size_t>& run) {
                                  return run.first == run.second;
                              }),
               runs.end());
    if (runs.empty())
        return;

    // A drum's row goes on with the run its previous row ended in when its first samples
    // continue that run's last ones; its last run is left for the next row.
    const Piece& firstPiece = pieces[runs.front().first];
    const bool goesOn = carry != nullptr && carry->open && !firstPiece.filled &&
                        carry->sampleRate == firstPiece.rate &&
                        std::fabs(firstPiece.start - carry->endTime) <= 0.5 / firstPiece.rate;
    JoinedRunState firstState = goesOn ? carry->state : JoinedRunState();
    JoinedRunState lastState;
    if (carry != nullptr) {
        firstState.runSeconds = carry->runSeconds;
        lastState.runSeconds = carry->runSeconds;
    }
    const std::size_t last = runs.size() - 1;

    // Each run is one recursion; runs are independent, so a second thread takes runs from
    // the same queue, and every run comes out the same either way.
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        std::vector<float*> arrays;
        std::vector<int> counts;
        for (std::size_t r = next++; r < runs.size(); r = next++) {
            arrays.clear();
            counts.clear();
            for (std::size_t p = runs[r].first; p < runs[r].second; ++p) {
                arrays.push_back(pieces[p].samples);
                counts.push_back(pieces[p].count);
            }
            JoinedRunState* state = nullptr;
            if (r == 0 && goesOn)
                state = &firstState;
            if (r == last && carry != nullptr) {
                if (state != nullptr)
                    lastState = firstState;
                state = &lastState;
            }
            FilterJoinedSamples(arrays.data(), counts.data(), static_cast<int>(arrays.size()),
                                1.0 / pieces[runs[r].first].rate, 0, band.order, band.low,
                                band.high, state);
        }
    };
    RunShared(runs.size() > 1 && samples >= MIN_SHARED_FILTER_SAMPLES, work);
    if (carry != nullptr) {
        const Piece& end = pieces[runs[last].second - 1];
        carry->open = !end.filled && lastState.started;
        carry->state = lastState;
        carry->endTime = end.End();
        carry->sampleRate = end.rate;
    }
}

void DropPreroll(Trace& trace, double keepFrom) {
    for (int i = 0; i < trace.SegmentCount(); ++i) {
        SampleVector& segment = trace.SegmentAt(i);
        if (segment.samples != nullptr && segment.sampleCount > 0 && segment.sampleRate > 0.0)
            DropSamplesBefore(segment, keepFrom);
    }
    trace.RemoveEmptySegments();
}
