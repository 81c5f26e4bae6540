#pragma once

#include <string>
#include <vector>

#include "dsp/trace.h"
#include "sds/sds_stream.h"

// Refills trace with the recorded samples of stream in the SDS archive under root for the
// window [t1, t2] (epoch seconds), read from the day files SdsDayPaths names; a missing file
// holds nothing. The records of all those files (miniSEED of any record length and any
// encoding libmseed decodes) are taken in order of start time, whatever their order in the
// files; a record that repeats another byte for byte after its sequence number counts once.
// Records of one rate whose first sample lies within half a sample of where the previous
// record ended form one segment; a gap, an overlap or a change of rate starts another (where
// data sent again overlaps a stream, a record continues the segment of the record before it
// in its file). Each segment that meets the window is cut to it as a segment file is: it
// starts at its last sample at or before t1 (or at its first one inside the window) and holds
// the samples before t2, sample k at the segment's start + k / rate. Segments without samples
// in the window are left out, so gaps stay holes. A segment's datatype is 3 when its records
// hold floats, 1 for 16-bit integers and 2 for the other integer encodings; all its samples
// count as read. A partial record at the end of a file (one still being written) is ignored;
// a record that cannot be decoded is skipped, and each file with such records adds one line
// to notes (without a newline), "Skipping unreadable data in <path> at byte <offset of the
// first>", for the caller to print. With share set, the files and records are decoded on a
// second thread as well. The trace's codes become the stream's station and channel.
void ReadSdsTrace(const std::string& root, const SdsStream& stream, double t1, double t2,
                  Trace& trace, std::vector<std::string>& notes, bool share = false);
