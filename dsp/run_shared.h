#pragma once

#include <system_error>
#include <thread>

// Runs work, which takes its items from a shared queue, on this thread and, when share is
// true and the machine has a second core, on a helper thread as well; returns when both are
// done. Without a thread to be had, this one does all the work.
template <typename Work>
void RunShared(bool share, const Work& work) {
    std::thread helper;
    if (share && std::thread::hardware_concurrency() > 1) {
        try {
            helper = std::thread(work);
        } catch (const std::system_error&) {
            // No thread to be had: this one does all the work.
        }
    }
    work();
    if (helper.joinable())
        helper.join();
}
