#pragma once

#include "dsp/filter.h"
#include "dsp/filter_band.h"
#include "dsp/sample_vector.h"
#include "dsp/trace.h"

// Band-pass filters every segment of the trace in place when the band is enabled (order of
// the band, sample interval 1 / sampleRate) and hides each segment's start-up transient by
// copying samples 10 r .. 20 r - 1 over samples 0 .. 10 r - 1 (r the whole samples per
// second) when the segment is longer than 20 r samples. Does nothing when the band is off.
// Segments without samples or without a positive, finite rate are left alone. The segments
// of a large row are shared with a second thread; each is filtered on its own, so the
// samples are the same either way.
void PrepareRowSamples(Trace& trace, const FilterBand& band);

// The number of segments a thread takes to filter side by side in a row of segmentCount
// segments: eight or four where the processor has vectors of as many doubles and the row has
// two such groups at least, else two; never more than MAX_FILTER_GROUP.
constexpr int MAX_FILTER_GROUP = 8;
int SegmentFilterGroup(int segmentCount);

// Filters count segments in place as PrepareRowSamples filters each, as many side by side as
// the processor allows: the same samples as one at a time. Does nothing when the band is off.
void PrepareSegmentGroup(SampleVector* const* segments, int count, const FilterBand& band);

// Where the filtering of a drum's rows stands between one row and the next: the run the
// last row ended in, for the next row to go on with when its samples continue that run.
struct JoinedRowCarry {
    double runSeconds = 0.0;  // the drum's whole span, over which its runs' filter is judged
    bool open = false;        // a run is there to go on with
    JoinedRunState state;     // where its recursion stands
    double endTime = 0.0;     // epoch seconds one sample interval after its last sample
    double sampleRate = 0.0;  // samples per second
};

// Band-pass filters the trace in place when the band is enabled, without restarting at file
// boundaries: each run of contiguous segments (the same rate, each starting within half a
// sample interval of the previous one's end) is filtered as one array, exactly as
// PrepareRowSamples filters one segment but without hiding a start-up transient; a gap, an
// overlap or a change of rate starts a new run, and so do the samples the reader filled in
// for a missing or short file (Trace::SegmentSamplesRead), which are filtered on their own.
// With a carry, the trace's first run goes on with the carry's run when it continues it, and
// the carry is left with the trace's last run. The trace's samples are the same bits with one
// thread or two. Does nothing when the band is off.
void FilterJoinedRowSamples(Trace& trace, const FilterBand& band, JoinedRowCarry* carry = nullptr);

// Drops every sample before keepFrom (epoch seconds), the pre-roll that let the filter settle,
// and removes the segments left without samples.
void DropPreroll(Trace& trace, double keepFrom);
