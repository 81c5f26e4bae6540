#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/catalogue.h"
#include "dsp/filter_band.h"
#include "dsp/row_samples.h"
#include "dsp/trace.h"
#include "platform/host_path.h"
#include "sds/sds_reader.h"
#include "sds/sds_stream.h"

// Reads the segment files of one row on threads of their own while the run draws the row
// before it: copying samples out of the page cache (and filtering them) is most of a run's
// work, and two threads share each row's files. The catalogue stays with the caller: it lists
// the row's segments and hands them over, and takes the row's trace back in row order. The
// same threads serve the whole run, so the memory they allocate is reused from row to row.
// Without threads to be had, Start reads at once.
class ReadAhead {
public:
    ReadAhead();
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Starts reading the listed segments of station/channel for the window [t1, t2] (epoch
    // seconds) under dataDir. With a band, each segment is also filtered as PrepareRowSamples
    // would, by the thread that read it while its samples are at hand; with joined set too,
    // the trace's empty segments are removed and it is filtered as FilterJoinedRowSamples
    // would, once read. The trace of the previous Start must have been taken.
    void Start(std::vector<SegmentRow> rows, const std::string& dataDir, const std::string& station,
               const std::string& channel, double t1, double t2, const FilterBand* band = nullptr,
               bool joined = false);
    // Starts reading stream of the SDS archive under root for the window [t1, t2] instead, as
    // Start does with the same band and joined: one thread reads the row's day files, with
    // share set sharing them with a second. The day files' record lists are taken from and
    // kept in index.
    void StartSds(const std::string& root, const SdsStream& stream, SdsDayIndex* index, double t1,
                  double t2, const FilterBand* band = nullptr, bool joined = false,
                  bool share = true);
    // Reads (and filters) what is left of the started row, waits until it is done and returns
    // its trace.
    std::unique_ptr<Trace> Take();
    // Returns the lines the last taken SDS row has for standard error (unreadable data).
    const std::vector<std::string>& Notes() const { return notes; }

private:
    // One segment as read: its samples, and how many of them came from its file.
    struct ReadSegmentResult {
        SampleVector samples;
        int samplesRead = 0;
    };

    void Work();
    // Sets up a job of count pieces, under the mutex (held by lock); the caller has set what
    // the pieces are.
    void Prepare(std::unique_lock<std::mutex>& lock, const std::string& station,
                 const std::string& channel, double start, double end, const FilterBand* filter,
                 bool joinedFilter, int count);
    // Hands the prepared job to the threads, or reads it at once without them.
    void Launch();
    // Reads segments of the current job until none is left; returns the number it read.
    int ReadSome();
    // Counts the segments a thread read and leaves the job; the thread that read its last
    // segment first puts the trace together.
    void Finish(int read);

    static constexpr int THREADS = 2;

    std::mutex mutex;
    std::condition_variable changed;
    // The current job, written by Start while no thread works on it.
    std::vector<SegmentRow> rows;
    std::string dataDir;
    bool sds = false;  // the job reads sdsStream under sdsRoot, as one piece
    std::string sdsRoot;
    SdsStream sdsStream;
    SdsDayIndex* sdsIndex = nullptr;
    bool sdsShare = true;
    std::vector<std::string> notes;  // of the SDS job
    int pieces = 0;                  // segments, or the one piece of an SDS job
    double t1 = 0.0;
    double t2 = 0.0;
    FilterBand band;      // enabled when the segments are filtered as they are read
    bool joined = false;  // the row is filtered through its files, once read
    int group = 1;        // segments a thread takes at a time
    std::unique_ptr<Trace> trace;
    std::vector<ReadSegmentResult> results;
    std::unique_ptr<HostPathMapper> mapper;
    std::atomic<int> next{0};
    int finished = 0;          // segments read, under the mutex
    bool ready = false;        // the trace is put together, under the mutex
    int active = 0;            // threads inside the current job, under the mutex
    long long generation = 0;  // counts the jobs started
    bool stopping = false;
    std::vector<std::thread> workers;
};
