#pragma once

#include <condition_variable>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dsp/trace.h"
#include "sds/sds_stream.h"

// Keeps the record lists of the day files that a run has read for the rows after: a drum's
// rows share their day files, whose headers are then read once a run rather than once a row,
// and a row's exports read its window again. It holds the few lists used last of the two streams
// used last (rows of other stations share none) and may be shared between threads. A file
// that changes during the run is read as it was listed; records it no longer holds count as
// unreadable.
class SdsDayIndex {
public:
    struct Listing;

    SdsDayIndex();
    ~SdsDayIndex();
    SdsDayIndex(const SdsDayIndex&) = delete;
    SdsDayIndex& operator=(const SdsDayIndex&) = delete;

    // Returns the list of the day file at path, waiting while another thread lists the file,
    // or null when it is not kept: the caller then lists the file, and other threads wait for
    // its list until it hands the list to Keep, or calls Release when it has none.
    std::shared_ptr<const Listing> Find(const std::string& path);
    // Keeps the list of the day file at path of stream, in place of the oldest one when full;
    // the lists of streams other than this one and the one used before it are let go.
    void Keep(const SdsStream& stream, const std::string& path,
              std::shared_ptr<const Listing> listing);
    // Gives up listing the day file at path, which Find left to the caller.
    void Release(const std::string& path);

private:
    struct Entry {
        std::string stream;  // network.station.location.channel
        std::string path;
        std::shared_ptr<const Listing> listing;
    };

    static constexpr std::size_t CAPACITY = 4;
    std::mutex mutex;
    std::condition_variable kept;
    std::list<Entry> entries;           // the one used last first
    std::vector<std::string> unlisted;  // paths a thread lists for the index
};

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
// first>", for the caller to print. With share set, the files are listed and the records
// decoded on a second thread as well, a day file of a megabyte or more by halves. With an index,
// the day files' record lists are taken from it and kept in it. The trace's codes become the
// stream's station and channel.
void ReadSdsTrace(const std::string& root, const SdsStream& stream, double t1, double t2,
                  Trace& trace, std::vector<std::string>& notes, bool share = false,
                  SdsDayIndex* index = nullptr);

// Returns the highest sample rate of the records of stream that may hold samples of the window
// [t1, t2], or 0 without any; the day files' record lists are taken from and kept in index, or
// listed by two threads.
double SdsWindowRate(const std::string& root, const SdsStream& stream, double t1, double t2,
                     SdsDayIndex* index);
