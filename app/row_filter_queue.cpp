#include "app/row_filter_queue.h"

#include <exception>
#include <system_error>
#include <utility>

RowFilterHandover PlanRowFilterHandover(double rowSamples, bool joined, int lanes) {
    constexpr double THREE_ROWS_SAMPLES = 4e6;
    constexpr double GROUPED_ROWS_SAMPLES = 3e6;
    RowFilterHandover handover;
    handover.depth = rowSamples <= THREE_ROWS_SAMPLES ? 2 : 1;
    if (joined)
        return handover;
    auto group = static_cast<std::size_t>(lanes > 1 ? lanes : 1);
    while (group > 1 && static_cast<double>(2 * group + 2) * rowSamples > GROUPED_ROWS_SAMPLES)
        group /= 2;
    if (group > 1) {
        handover.group = group;
        handover.depth = 2 * group;
    }
    return handover;
}

RowFilterQueue::RowFilterQueue(RowFilterHandover plan, GroupFilter groupFilter)
    : handover(plan), filter(std::move(groupFilter)) {}

RowFilterQueue::~RowFilterQueue() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_one();
    if (worker.joinable())
        worker.join();
}

void RowFilterQueue::Add(std::unique_ptr<Trace> read, bool last) {
    promised.emplace_back();
    rows.push_back(promised.back().get_future());
    gathered.push_back(std::move(read));
    if (gathered.size() < handover.group && !last)
        return;
    Hand(std::packaged_task<void()>(
        [this, group = std::move(gathered), done = std::move(promised)]() mutable {
            try {
                filter(group);
                for (std::size_t k = 0; k < group.size(); ++k)
                    done[k].set_value(std::move(group[k]));
            } catch (...) {
                for (std::promise<std::unique_ptr<Trace>>& row : done) {
                    try {
                        row.set_exception(std::current_exception());
                    } catch (const std::future_error&) {
                        // This row was handed back before the failure.
                    }
                }
            }
        }));
    gathered.clear();
    promised.clear();
}

std::unique_ptr<Trace> RowFilterQueue::Next() {
    std::future<std::unique_ptr<Trace>> row = std::move(rows.front());
    rows.pop_front();
    return row.get();
}

void RowFilterQueue::Hand(std::packaged_task<void()> task) {
    if (!worker.joinable() && !failed) {
        try {
            worker = std::thread(&RowFilterQueue::Run, this);
        } catch (const std::system_error&) {
            failed = true;
        }
    }
    if (failed) {
        task();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        tasks.push_back(std::move(task));
    }
    wake.notify_one();
}

void RowFilterQueue::Run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stopping || !tasks.empty(); });
        if (tasks.empty())
            return;
        std::packaged_task<void()> task = std::move(tasks.front());
        tasks.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}
