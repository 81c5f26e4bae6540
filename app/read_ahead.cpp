#include "app/read_ahead.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "archive/trace_reader.h"
#include "plot/trace_drawing.h"

ReadAhead::ReadAhead() {
    try {
        for (int i = 0; i < THREADS; ++i) workers.emplace_back(&ReadAhead::Work, this);
    } catch (const std::system_error&) {
        // Fewer threads: those started share the work, or Start reads at once.
    }
}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    for (std::thread& worker : workers) worker.join();
}

void ReadAhead::Start(std::vector<SegmentRow> listed, const std::string& folder,
                      const std::string& station, const std::string& channel, double start,
                      double end, const FilterBand* filter) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        rows = std::move(listed);
        dataDir = folder;
        t1 = start;
        t2 = end;
        trace = std::make_unique<Trace>();
        trace->station = station;
        trace->channel = channel;
        results.clear();
        results.resize(rows.size());
        band = filter != nullptr ? *filter : FilterBand();
        // Filtered segments are taken in the groups the filter runs side by side.
        group = band.enabled ? SegmentFilterGroup(static_cast<int>(rows.size())) : 1;
        // The row's files share their folders: each is read once for the row.
        mapper = std::make_unique<HostPathMapper>();
        next = 0;
        finished = 0;
        ++generation;
    }
    if (workers.empty()) {
        const int read = ReadSome();
        std::lock_guard<std::mutex> lock(mutex);
        finished += read;
        return;
    }
    changed.notify_all();
}

std::unique_ptr<Trace> ReadAhead::Take() {
    if (!workers.empty()) {
        // Rather than wait for the reading threads, this one takes what is left of the row.
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++active;
        }
        const int read = ReadSome();
        std::lock_guard<std::mutex> lock(mutex);
        finished += read;
        --active;
    }
    std::unique_lock<std::mutex> lock(mutex);
    // No thread may still be inside the job when the next one is started.
    changed.wait(lock, [this] { return finished == static_cast<int>(rows.size()) && active == 0; });
    // The segments go into the trace in catalogue order, whoever read them.
    for (std::size_t i = 0; i < results.size(); ++i)
        trace->AppendSegment(std::move(results[i].samples), rows[i].datatype,
                             results[i].samplesRead);
    results.clear();
    return std::move(trace);
}

int ReadAhead::ReadSome() {
    const int count = static_cast<int>(rows.size());
    int read = 0;
    SampleVector* segments[8];
    for (int i = next.fetch_add(group); i < count; i = next.fetch_add(group)) {
        const int end = std::min(count, i + group);
        for (int j = i; j < end; ++j) {
            ReadSegmentResult& result = results[static_cast<std::size_t>(j)];
            result.samples = ReadSegment(rows[static_cast<std::size_t>(j)], dataDir, t1, t2,
                                         &result.samplesRead, mapper.get());
            segments[j - i] = &result.samples;
        }
        PrepareSegmentGroup(segments, end - i, band);
        read += end - i;
    }
    return read;
}

void ReadAhead::Work() {
    long long served = 0;
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this, served] { return stopping || generation != served; });
        if (stopping)
            return;
        served = generation;
        // Each segment is read by one thread, into a result of its own; the job does not
        // change until every segment is read and no thread is inside it.
        ++active;
        lock.unlock();
        const int read = ReadSome();
        lock.lock();
        finished += read;
        --active;
        if (finished == static_cast<int>(rows.size()) && active == 0)
            changed.notify_all();
    }
}
