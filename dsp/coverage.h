#pragma once

#include <vector>

#include "dsp/trace.h"

// A stretch of time, [start, end) in epoch seconds.
struct TimeSpan {
    double start = 0.0;
    double end = 0.0;
};

// What a trace's samples cover of a window.
struct Coverage {
    double coveredSeconds = 0.0;    // seconds of the window some present sample covers
    std::vector<TimeSpan> missing;  // the rest of the window, in ascending time
};

// Finds which parts of the window [windowStart, windowEnd] (epoch seconds) the trace's present
// samples cover. A sample at time t covers [t, t + 1 / rate); samples carrying the missing-
// sample marker are not present, and neither are those the reader filled in for a missing or
// short file (Trace::SegmentSamplesRead). Segments may overlap; their coverage is united.
Coverage FindCoverage(const Trace& trace, double windowStart, double windowEnd);

// Returns a completeness (the covered share of a window, 0 to 1) as a percentage truncated to
// tenths, so that 100.0 means nothing is missing.
double CompletenessPercent(double completeness);
