#pragma once

#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "dsp/sample_vector.h"
#include "dsp/trace.h"
#include "platform/host_path.h"

// Refills trace with the samples of station/channel in the window [t1, t2] (epoch seconds):
// one segment per catalogued segment that meets the window, in ascending start time, each
// cut to the window and read from its file under dataDir. Segments are never joined: gaps
// stay gaps and overlaps stay. When the segment listing fails the trace is left empty with
// its codes unchanged; otherwise its codes become station and channel. Unreadable samples
// are zeros (see ReadSegmentSamples), and the trace tells which they are
// (Trace::SegmentSamplesRead).
void ReadTrace(Catalogue& catalogue, const std::string& dataDir, const std::string& station,
               const std::string& channel, double t1, double t2, Trace& trace);

// Where one catalogued segment meets the window [t1, t2] (epoch seconds): the index in its
// file of the first sample in the window, the number of samples (both whole numbers, held as
// doubles: a corrupt row may give more than an int holds) and the first sample's time.
struct SegmentCut {
    double first = 0.0;
    double count = 0.0;
    double start = 0.0;
};

// Returns the cut ReadSegment reads of row for the window [t1, t2], as its comment describes.
SegmentCut CutSegment(const SegmentRow& row, double t1, double t2);

// Refills window with what reading rows for [t1, t2] would give, taken from read: the trace
// that rows gave for [readStart, t2] (readStart <= t1), one segment per row in the rows'
// order, as ReadTrace or the read-ahead assembles them. Samples, times and the samples read
// from each file are those of the window's own read, without reading a file again; the
// segments of rows the window does not meet are left out. A read that does not hold one
// segment per row leaves window empty.
void CutTraceToWindow(const Trace& read, const std::vector<SegmentRow>& rows, double readStart,
                      double t1, double t2, Trace& window);

// Returns the part of one catalogued segment that falls into the window [t1, t2]: its rate
// is the row's sps, its start the segment's last sample instant at or before t1 (or tbegin
// when the segment begins inside the window), its samples read from the row's file under
// dataDir. Counts and indices that the times miss by the rounding of epoch seconds are the
// whole numbers they stand for (TruncateSamples), so a sample lying at t1 may start a sliver
// after it and a file keeps its whole count. A segment beginning exactly at t2 gives no samples and
// starts at t2; one ending exactly at t1 gives none and starts at 0.0. A row whose sample count
// cannot be right (a negative tqty, an sps that is not a positive number, more samples than an int
// holds) or whose array cannot be allocated gives a segment without samples. samplesRead, when
// given, receives how many of its samples, from the first on, came from the file; the others are
// zeros filled in for a missing or short file. mapper, when given, maps the file's path (see
// HostPathMapper).
SampleVector ReadSegment(const SegmentRow& row, const std::string& dataDir, double t1, double t2,
                         int* samplesRead = nullptr, HostPathMapper* mapper = nullptr);
