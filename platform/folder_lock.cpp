#include "platform/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

const char* const FOLDER_LOCK_NAME = ".trazplot.lock";

FolderLock::~FolderLock() {
    if (descriptor >= 0)
        close(descriptor);
}

int FolderLock::Acquire(const std::string& folder, int maxWaitSeconds) {
    const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    const std::string path = base + FOLDER_LOCK_NAME;
    descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    // A folder where even the lock file cannot be made is one where the outputs fail too; they
    // say so themselves.
    if (descriptor < 0)
        descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return -1;
    // Polled rather than blocking, so that the wait has a bound without an alarm signal; a
    // tenth of a second is short against a run and long against the lock's own cost.
    const std::time_t deadline = std::time(nullptr) + maxWaitSeconds;
    for (;;) {
        if (flock(descriptor, LOCK_EX | LOCK_NB) == 0)
            return 1;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            close(descriptor);
            descriptor = -1;
            return -1;
        }
        if (std::time(nullptr) >= deadline) {
            close(descriptor);
            descriptor = -1;
            return 0;
        }
        const timespec pause = {0, 100000000};
        nanosleep(&pause, nullptr);
    }
}
