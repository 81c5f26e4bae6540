#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dsp/trace.h"

// Saves the segments of the traces as CSS 3.0 data: appends one 283-character wfdisc
// record (and a line feed) per segment to the file at wfdiscPath, created when absent, and
// writes each segment's samples, 4 bytes each and no header, to its own .w file in the
// wfdisc file's folder. The selector picks the sample format: 0 "i4" (integers,
// little-endian), 1 "f4" (floats, little-endian), 2 "s4" (integers, big-endian); any other
// value writes empty sample files with datatype "-". Samples become integers by truncation
// toward zero, saturating at the ends of the 32-bit range, NaN giving 0. The traces are not
// owned; null entries are skipped.
// Returns true when everything was written. When the wfdisc file cannot be opened, a segment
// cannot be described by a record, or a sample file or the records cannot be written, the
// user is told through the message box and false is returned. Records of a failed call are
// not appended (the wfdisc file keeps its previous content); sample files finished before the
// failure stay on disk. Each sample file is written whole or not at all (see AtomicFile), and
// the records are appended only once every sample file of the call is complete.
bool WriteWfdisc(const std::string& wfdiscPath, const std::vector<const Trace*>& traces,
                 int selector);

// Returns the folder part of a Windows-style or host path: the text before its last
// backslash or slash; "." when it has none; the separator itself when the only one is the
// first character (a file in the root folder).
std::string DirectoryOfPath(const std::string& path);
