#include "dsp/coverage.h"

#include <algorithm>
#include <cmath>

#include "dsp/filter.h"

namespace {

// Seconds by which two stretches may miss each other and still count as joined.
constexpr double JOIN_TOLERANCE = 1e-6;

// Returns the first index in [from, to) whose sample is the missing-sample marker (marker
// true) or is not (marker false); to when there is none. Whole blocks are tested first, in a
// loop the compiler vectorises: most blocks of a day's samples hold no marker at all.
int FindMarkerChange(const float* samples, int from, int to, bool marker) {
    constexpr int BLOCK = 16;
    int i = from;
    for (; i + BLOCK <= to; i += BLOCK) {
        int found = 0;
        for (int j = 0; j < BLOCK; ++j) found += (samples[i + j] == MISSING_SAMPLE) == marker;
        if (found != 0)
            break;
    }
    while (i < to && (samples[i] == MISSING_SAMPLE) != marker) ++i;
    return i;
}

// A stretch of the window that present samples of one rate cover.
struct CoveredSpan {
    TimeSpan span;
    double interval = 0.0;  // seconds between the samples that cover it
};

// Adds the stretches covered by one segment's present samples, clipped to the window.
void AddCovered(const SampleVector& segment, int samplesRead, double windowStart, double windowEnd,
                std::vector<CoveredSpan>& covered) {
    const double rate = segment.sampleRate;
    if (segment.samples == nullptr || !(rate > 0.0) || !std::isfinite(rate))
        return;
    const int present = std::min(samplesRead, segment.sampleCount);
    int i = 0;
    while (i < present) {
        i = FindMarkerChange(segment.samples, i, present, false);
        if (i == present)
            break;
        const int first = i;
        i = FindMarkerChange(segment.samples, i, present, true);
        const double start = std::max(windowStart, segment.startTime + first / rate);
        const double end = std::min(windowEnd, segment.startTime + i / rate);
        if (end > start)
            covered.push_back({{start, end}, 1.0 / rate});
    }
}

}  // namespace

Coverage FindCoverage(const Trace& trace, double windowStart, double windowEnd) {
    Coverage coverage;
    if (!(windowEnd > windowStart))
        return coverage;
    std::vector<CoveredSpan> covered;
    for (int i = 0; i < trace.SegmentCount(); ++i)
        AddCovered(trace.SegmentAt(i), trace.SegmentSamplesRead(i), windowStart, windowEnd,
                   covered);
    std::sort(covered.begin(), covered.end(), [](const CoveredSpan& a, const CoveredSpan& b) {
        return a.span.start < b.span.start;
    });
    // Walk the united coverage; what lies between its stretches is missing. Contiguous files
    // meet within rounding of their times, which is no gap.
    double reached = windowStart;
    double reachedInterval = 0.0;  // of the samples that reached it
    for (const CoveredSpan& stretch : covered) {
        const TimeSpan& span = stretch.span;
        double start = span.start;
        if (start > reached + JOIN_TOLERANCE)
            coverage.missing.push_back({reached, start});
        else
            start = std::min(start, reached);
        if (span.end > reached) {
            coverage.coveredSeconds += span.end - std::max(reached, start);
            reached = span.end;
            reachedInterval = stretch.interval;
        }
    }
    // A window that ends between two samples ends after the last sample read: the reader
    // reads only whole sample intervals, so less than one interval after a recording's last
    // sample read is no gap.
    if (reached < windowEnd - JOIN_TOLERANCE &&
        !(windowEnd - reached < reachedInterval - JOIN_TOLERANCE))
        coverage.missing.push_back({reached, windowEnd});
    else if (reached < windowEnd)
        coverage.coveredSeconds += windowEnd - reached;
    return coverage;
}

double CompletenessPercent(double completeness) {
    return std::floor(std::max(0.0, std::min(1.0, completeness)) * 1000.0) / 10.0;
}
