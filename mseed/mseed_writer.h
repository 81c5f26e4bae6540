#pragma once

#include <cstdio>
#include <string>

#include "dsp/trace.h"

// The header codes and record length of a miniSEED export.
struct MseedSettings {
    std::string network = "XX";  // network code, at most 2 characters
    std::string location;        // location code, at most 2 characters
    int recordLength = 4096;     // bytes, a power of two from 256 to 8192
};

// Returns true for a record length (bytes) that miniSEED records can have here: a power of
// two from 256 to 8192.
bool IsValidRecordLength(long bytes);

// What WriteMseedTrace did with one trace.
enum class MseedResult {
    WRITTEN,         // every segment's data samples are in the stream
    CODES_TOO_LONG,  // the station code has more than 5 or the channel more than 3 characters:
                     // nothing was written
    WRITE_FAILED,    // a record could not be packed or written
};

// Writes the samples of each segment of the trace that came from its file to stream as
// miniSEED time series of records of settings.recordLength bytes, with the segment's own rate,
// each series' start time to the microsecond, and the trace's codes in upper case. A segment
// is one series unless it holds samples that are no data: the zeros filled in after a missing
// or short file (Trace::SegmentSamplesRead) and the missing-sample markers (MISSING_SAMPLE)
// are left out, a series ending where they begin and a new one starting after them. Segments read
// from integer encodings (datatype 0, 1, 2, 5, or an unknown one) are written as the 32-bit
// integers the CSS export writes for them, compressed with Steim-2 (or uncompressed where two
// neighbours differ by more than Steim-2's 30 bits hold); segments read as floats (datatype 3) as
// 32-bit floats. A rate that the header's factor and multiplier cannot hold within 1e-6 of its
// value also goes into a Blockette 100.
MseedResult WriteMseedTrace(std::FILE* stream, const Trace& trace, const MseedSettings& settings);
