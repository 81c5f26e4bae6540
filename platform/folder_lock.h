#pragma once

#include <string>

// The name of the lock file that runs writing into one folder share: ".trazplot.lock".
extern const char* const FOLDER_LOCK_NAME;

// Holds the advisory lock (flock) on the lock file of one folder, so that runs writing into
// that folder write one after the other. The lock file stays in the folder; the lock goes
// with the descriptor, also when the process is killed.
class FolderLock {
public:
    FolderLock() = default;
    // Releases the lock.
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Opens (creating it when absent) the lock file in the host folder and takes its lock,
    // waiting at most maxWaitSeconds while another process holds it. Returns 1 when locked;
    // 0 when another process held it for the whole wait; -1 when the lock file cannot be
    // opened or locked at all (a read-only folder), where no lock is held.
    int Acquire(const std::string& folder, int maxWaitSeconds);

private:
    int descriptor = -1;
};
