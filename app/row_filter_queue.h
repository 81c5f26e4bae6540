#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "dsp/trace.h"

// How a drum hands its rows to its filter thread: in groups of rows filtered together, and
// how many rows it keeps handed (or gathered for the next group) ahead of the row it draws.
struct RowFilterHandover {
    std::size_t group = 1;
    std::size_t depth = 1;
};

// Plans the handover of a drum's rows of rowSamples samples each (with the pre-roll, at the
// highest rate), given lanes, the segments the processor filters side by side. Rows filtered
// through each other (joined) go one at a time, two ahead, so that three rows are held with the
// one being read, while a row holds at most four million samples, else one ahead. Rows
// filtered each on its own go in groups of the lanes, two groups ahead, as long as those rows
// with the one read and the one drawn hold at most three million samples; fewer lanes else,
// down to one at a time.
RowFilterHandover PlanRowFilterHandover(double rowSamples, bool joined, int lanes);

// Runs a drum's row filters on a thread of its own, group after group in the order the rows
// are handed over (a row filtered through the row before it goes on from where that one left
// the filter), while the reading threads read the rows after and the caller draws the rows
// before. Without a thread to be had, a group is filtered when it is complete.
class RowFilterQueue {
public:
    // Filters the rows of a group in place, in their order.
    using GroupFilter = std::function<void(std::vector<std::unique_ptr<Trace>>& rows)>;

    RowFilterQueue(RowFilterHandover handover, GroupFilter filter);
    ~RowFilterQueue();
    RowFilterQueue(const RowFilterQueue&) = delete;
    RowFilterQueue& operator=(const RowFilterQueue&) = delete;

    // Returns true while fewer rows than the handover's depth are handed or gathered.
    bool WantsMore() const { return rows.size() < handover.depth; }
    // Gathers a row read; a full group, or with last set whatever is gathered, goes to the
    // filter thread.
    void Add(std::unique_ptr<Trace> read, bool last);
    // Returns the next row in order once its group is filtered; a failure of the filter is
    // thrown here. The row's group must have been handed over.
    std::unique_ptr<Trace> Next();

private:
    void Hand(std::packaged_task<void()> task);
    void Run();

    const RowFilterHandover handover;
    const GroupFilter filter;
    std::deque<std::future<std::unique_ptr<Trace>>> rows;  // handed or gathered, in order
    std::vector<std::unique_ptr<Trace>> gathered;
    std::vector<std::promise<std::unique_ptr<Trace>>> promised;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::packaged_task<void()>> tasks;
    bool stopping = false;
    bool failed = false;  // no thread could be started
    std::thread worker;
};
