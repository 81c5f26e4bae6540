#include "app/read_ahead.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "archive/trace_reader.h"
#include "dsp/row_samples.h"
#include "sds/sds_reader.h"

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
                      double end, const FilterBand* filter, bool joinedFilter) {
    {
        std::unique_lock<std::mutex> lock(mutex);
        const int count = static_cast<int>(listed.size());
        Prepare(lock, station, channel, start, end, filter, joinedFilter, count);
        rows = std::move(listed);
        dataDir = folder;
        sds = false;
        results.resize(rows.size());
        // Segments filtered one by one are taken in the groups the filter runs side by side.
        group = band.enabled && !joined ? SegmentFilterGroup(count) : 1;
        // The row's files share their folders: each is read once for the row.
        mapper = std::make_unique<HostPathMapper>();
    }
    Launch();
}

void ReadAhead::StartSds(const std::string& root, const SdsStream& stream, SdsDayIndex* index,
                         double start, double end, const FilterBand* filter, bool joinedFilter,
                         bool share) {
    {
        std::unique_lock<std::mutex> lock(mutex);
        Prepare(lock, stream.station, stream.channel, start, end, filter, joinedFilter, 1);
        rows.clear();
        sds = true;
        sdsRoot = root;
        sdsStream = stream;
        sdsIndex = index;
        sdsShare = share;
        group = 1;
    }
    Launch();
}

void ReadAhead::Prepare(std::unique_lock<std::mutex>& lock, const std::string& station,
                        const std::string& channel, double start, double end,
                        const FilterBand* filter, bool joinedFilter, int count) {
    // A thread that woke for the last job only after it was taken may still be inside
    // it, finding nothing left to read; the job changes once it has left.
    changed.wait(lock, [this] { return active == 0; });
    t1 = start;
    t2 = end;
    trace = std::make_unique<Trace>();
    trace->station = station;
    trace->channel = channel;
    results.clear();
    notes.clear();
    band = filter != nullptr ? *filter : FilterBand();
    joined = joinedFilter;
    pieces = count;
    next = 0;
    finished = 0;
    // A row without segments is ready as it is.
    ready = count == 0;
    ++generation;
    if (workers.empty())
        ++active;
}

void ReadAhead::Launch() {
    if (workers.empty()) {
        Finish(ReadSome());
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
        Finish(ReadSome());
    }
    std::unique_lock<std::mutex> lock(mutex);
    // No thread may still be inside the job when the next one is started.
    changed.wait(lock, [this] { return ready && active == 0; });
    return std::move(trace);
}

void ReadAhead::Finish(int read) {
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        finished += read;
        last = read > 0 && finished == pieces;
    }
    // The thread that read the row's last segment puts the trace together; no other thread
    // touches the job meanwhile.
    if (last) {
        // The segments go into the trace in catalogue order, whoever read them.
        for (std::size_t i = 0; i < results.size(); ++i)
            trace->AppendSegment(std::move(results[i].samples), rows[i].datatype,
                                 results[i].samplesRead);
        results.clear();
        // A joined row is one recursion: filtered here, as the row before it is drawn.
        if (joined && band.enabled) {
            trace->RemoveEmptySegments();
            FilterJoinedRowSamples(*trace, band);
        }
    }
    std::lock_guard<std::mutex> lock(mutex);
    ready = ready || last;
    --active;
    if (ready && active == 0)
        changed.notify_all();
}

int ReadAhead::ReadSome() {
    if (sds) {
        // The row's day files are one piece: the thread that takes it shares them with another,
        // when asked to.
        if (next.fetch_add(1) != 0)
            return 0;
        ReadSdsTrace(sdsRoot, sdsStream, t1, t2, *trace, notes, sdsShare, sdsIndex);
        if (!joined)
            PrepareRowSamples(*trace, band);
        return 1;
    }
    const int count = static_cast<int>(rows.size());
    int read = 0;
    SampleVector* segments[MAX_FILTER_GROUP];
    for (int i = next.fetch_add(group); i < count; i = next.fetch_add(group)) {
        const int end = std::min(count, i + group);
        for (int j = i; j < end; ++j) {
            ReadSegmentResult& result = results[static_cast<std::size_t>(j)];
            result.samples = ReadSegment(rows[static_cast<std::size_t>(j)], dataDir, t1, t2,
                                         &result.samplesRead, mapper.get());
            segments[j - i] = &result.samples;
        }
        if (!joined)
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
        Finish(ReadSome());
        lock.lock();
    }
}
