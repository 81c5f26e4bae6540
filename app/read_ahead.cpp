#include "app/read_ahead.h"

#include <system_error>
#include <utility>

#include "archive/trace_reader.h"

ReadAhead::ReadAhead() {
    try {
        worker = std::thread(&ReadAhead::Work, this);
    } catch (const std::system_error&) {
        // No thread: every row is read when it is started.
    }
}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    if (worker.joinable())
        worker.join();
}

void ReadAhead::Start(std::vector<SegmentRow> rows, const std::string& dataDir,
                      const std::string& station, const std::string& channel, double t1,
                      double t2) {
    std::unique_lock<std::mutex> lock(mutex);
    job = Job{std::move(rows), dataDir, station, channel, t1, t2, nullptr};
    if (!worker.joinable()) {
        job.trace = Read(job);
        ready = true;
        return;
    }
    pending = true;
    ready = false;
    lock.unlock();
    changed.notify_all();
}

std::unique_ptr<Trace> ReadAhead::Take() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return ready; });
    ready = false;
    return std::move(job.trace);
}

void ReadAhead::Work() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return pending || stopping; });
        if (stopping)
            return;
        pending = false;
        // The job is not touched by the caller until it is ready.
        lock.unlock();
        std::unique_ptr<Trace> trace = Read(job);
        lock.lock();
        job.trace = std::move(trace);
        ready = true;
        changed.notify_all();
    }
}

std::unique_ptr<Trace> ReadAhead::Read(const Job& job) {
    auto trace = std::make_unique<Trace>();
    ReadListedSegments(job.rows, job.dataDir, job.station, job.channel, job.t1, job.t2, *trace);
    return trace;
}
