#pragma once

#include <cstdio>
#include <string>

#include "platform/file_handle.h"
#include "platform/host_path.h"

// Returns the size in bytes of one stored sample of a datatype code: 1 for code 0, 2 for
// codes 1 and 5, 4 for every other code (unknown codes included).
int SampleWidth(int datatype);

// Opens a segment file read-only, sharing it with the acquisition system that may still be
// writing it. The file is dataDir, a backslash unless dataDir already ends with one, then
// cpath exactly as the catalogue stores it; the Windows-style result is mapped onto the host
// file name. Returns null when the file cannot be opened or is not a regular file (a cpath
// naming a folder, say).
// mapper, when given, maps the path and remembers the folders it had to read.
FileHandle OpenSegmentFile(const std::string& dataDir, const std::string& cpath,
                           HostPathMapper* mapper = nullptr);

// Reads count samples of a datatype from file, starting at byteOffset bytes from the
// beginning of the file, and stores them as floats in destination[0 .. count - 1]. The file
// is read once, straight into destination, and converted there. Returns how many samples,
// from destination[0] on, were read from the file. Samples the file does not have (a short
// file, an offset at or beyond its end, a trailing partial sample) are not touched, as are
// all of them for an unknown datatype, a negative offset or count: a caller that filled
// destination with zeros keeps zeros there; a read that fails part-way leaves zeros from
// where it stopped. Multi-byte samples are little-endian whatever the host.
int ReadSegmentSamples(std::FILE* file, long long byteOffset, float* destination, int count,
                       int datatype);
