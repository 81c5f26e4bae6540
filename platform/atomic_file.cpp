#include "platform/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>

const char* const TEMPORARY_PREFIX = ".trazplot-tmp.";

namespace {

// The names of the temporary files that exist under a name at this moment, where a signal
// handler can read them. A signal handler can reach nothing else, so this is the one table
// the whole process shares; a file that finds no free entry is still written, and only left
// for the next run's clean-up when the run is killed.
constexpr int NAME_SLOTS = 64;
constexpr std::size_t NAME_BYTES = 4096;
constexpr int SLOT_FREE = 0;
constexpr int SLOT_CHANGING = 1;
constexpr int SLOT_NAMED = 2;

struct NameSlot {
    std::atomic<int> state{SLOT_FREE};
    char name[NAME_BYTES];
};

NameSlot nameSlots[NAME_SLOTS];

// Enters name into a free entry. Returns its index, or -1 when none is free or the name is
// too long.
int ClaimSlot(const std::string& name) {
    if (name.size() >= NAME_BYTES)
        return -1;
    for (int i = 0; i < NAME_SLOTS; ++i) {
        int expected = SLOT_FREE;
        if (!nameSlots[i].state.compare_exchange_strong(expected, SLOT_CHANGING))
            continue;
        std::memcpy(nameSlots[i].name, name.c_str(), name.size() + 1);
        nameSlots[i].state.store(SLOT_NAMED);
        return i;
    }
    return -1;
}

void ReleaseSlot(int slot) {
    if (slot < 0)
        return;
    nameSlots[slot].state.store(SLOT_CHANGING);
    nameSlots[slot].state.store(SLOT_FREE);
}

// Removes the named temporary files, then lets the signal end the process as it would have
// without this handler. Only async-signal-safe calls.
extern "C" void RemoveTemporariesAndEnd(int signalNumber) {
    for (NameSlot& slot : nameSlots) {
        if (slot.state.load() == SLOT_NAMED)
            unlink(slot.name);
    }
    std::signal(signalNumber, SIG_DFL);
    // The signal is blocked while its handler runs, so it arrives again on return.
    raise(signalNumber);
}

// Follows a chain of symbolic links from path to the name that is no link (or does not exist).
// A chain longer than the system follows is left at its last link, where writing fails.
std::string FollowLinks(std::string path) {
    for (int depth = 0; depth < 40; ++depth) {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            break;
        char link[NAME_BYTES];
        const ssize_t length = readlink(path.c_str(), link, sizeof link - 1);
        if (length <= 0)
            break;
        link[length] = '\0';
        if (link[0] == '/') {
            path = link;
        } else {
            const std::size_t slash = path.find_last_of('/');
            path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + link;
        }
    }
    return path;
}

// Returns the folder of a host file name, ending in '/' ("./" for a bare name).
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// Returns the process's file creation mask. The mask can only be read by setting it, which
// would disturb a file another thread creates meanwhile, so it is read once.
mode_t CreationMask() {
    static const mode_t mask = [] {
        const mode_t current = umask(0);
        umask(current);
        return current;
    }();
    return mask;
}

}  // namespace

AtomicFile::AtomicFile(const std::string& hostPath)
    : target(FollowLinks(hostPath)), folder(FolderOf(target)) {
    mode_t mode = 0;
    struct stat info;
    if (stat(target.c_str(), &info) == 0) {
        // A file without any write permission bit is one its owner keeps as it is; the
        // superuser, whom access() lets through, is held back by it too.
        if (!S_ISREG(info.st_mode) || (info.st_mode & 0222) == 0 ||
            access(target.c_str(), W_OK) != 0)
            return;
        mode = info.st_mode & 07777;
    } else {
        mode = 0666 & ~CreationMask();
    }
    // An unnamed file vanishes with the process that writes it, however that ends; and it
    // needs no name of its own, so a target name at the length limit still works.
    descriptor = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    unnamed = descriptor >= 0;
    if (!unnamed) {
        std::string name = folder + TEMPORARY_PREFIX + "XXXXXX";
        descriptor = mkostemp(&name[0], O_CLOEXEC);
        if (descriptor < 0)
            return;
        temporary = name;
        slot = ClaimSlot(temporary);
    }
    fchmod(descriptor, mode);
    stream = fdopen(descriptor, "wb");
    if (stream == nullptr) {
        close(descriptor);
        if (!unnamed)
            unlink(temporary.c_str());
        ReleaseSlot(slot);
        slot = -1;
        temporary.clear();
    }
}

AtomicFile::~AtomicFile() {
    if (stream != nullptr)
        std::fclose(stream);
    if (!temporary.empty())
        unlink(temporary.c_str());
    ReleaseSlot(slot);
}

bool AtomicFile::Commit() {
    if (stream == nullptr)
        return false;
    // A full disk may only show when the buffered rest is flushed.
    bool written = std::fflush(stream) == 0 && std::ferror(stream) == 0;
    if (written && unnamed) {
        // The unnamed file gets a name through its descriptor's entry in /proc, which works
        // without the privilege a link from the descriptor itself needs. A name left by a run
        // of the same process number is another's: the next number is tried.
        const std::string source = "/proc/self/fd/" + std::to_string(fileno(stream));
        const std::string base = folder + TEMPORARY_PREFIX + std::to_string(getpid()) + ".";
        written = false;
        for (unsigned attempt = 0; attempt < 1000 && !written; ++attempt) {
            const std::string name =
                base + std::to_string(reinterpret_cast<std::uintptr_t>(this) % 100000) + "." +
                std::to_string(attempt);
            slot = ClaimSlot(name);
            if (linkat(AT_FDCWD, source.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                temporary = name;
                written = true;
                break;
            }
            ReleaseSlot(slot);
            slot = -1;
            if (errno != EEXIST)
                break;
        }
    }
    const bool closed = std::fclose(stream) == 0;
    stream = nullptr;
    if (!written || !closed || std::rename(temporary.c_str(), target.c_str()) != 0)
        return false;
    temporary.clear();
    ReleaseSlot(slot);
    slot = -1;
    return true;
}

void RemoveTemporariesOnSignals() {
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction current;
        // A signal the run was started to ignore (nohup) stays ignored.
        if (sigaction(signalNumber, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = RemoveTemporariesAndEnd;
        sigemptyset(&action.sa_mask);
        sigaction(signalNumber, &action, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

int RemoveStaleTemporaries(const std::string& folder, long maxAgeSeconds) {
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr)
        return 0;
    const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    const std::size_t prefixLength = std::strlen(TEMPORARY_PREFIX);
    const std::time_t oldest = std::time(nullptr) - maxAgeSeconds;
    int removed = 0;
    while (const dirent* entry = readdir(directory)) {
        if (std::strncmp(entry->d_name, TEMPORARY_PREFIX, prefixLength) != 0)
            continue;
        const std::string path = base + entry->d_name;
        struct stat info;
        if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_mtime < oldest &&
            unlink(path.c_str()) == 0)
            ++removed;
    }
    closedir(directory);
    return removed;
}
