#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/catalogue.h"
#include "dsp/trace.h"

// Reads the segment files of one row on a thread of its own while the run draws the row
// before it. The catalogue stays with the caller: it lists the row's segments and hands them
// over, and takes the row's trace back in row order. One thread serves the whole run, so the
// memory it allocates is reused from row to row. Without a thread to be had, Start reads
// at once.
class ReadAhead {
public:
    ReadAhead();
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Starts reading the listed segments of station/channel for the window [t1, t2] (epoch
    // seconds) under dataDir. The trace of the previous Start must have been taken.
    void Start(std::vector<SegmentRow> rows, const std::string& dataDir, const std::string& station,
               const std::string& channel, double t1, double t2);
    // Waits until the started row is read and returns its trace.
    std::unique_ptr<Trace> Take();

private:
    // One row's reading: what to read and, once read, the trace.
    struct Job {
        std::vector<SegmentRow> rows;
        std::string dataDir;
        std::string station;
        std::string channel;
        double t1 = 0.0;
        double t2 = 0.0;
        std::unique_ptr<Trace> trace;
    };

    void Work();
    static std::unique_ptr<Trace> Read(const Job& job);

    std::mutex mutex;
    std::condition_variable changed;
    Job job;
    bool pending = false;  // a job waits for the thread
    bool ready = false;    // the job's trace waits to be taken
    bool stopping = false;
    std::thread worker;
};
