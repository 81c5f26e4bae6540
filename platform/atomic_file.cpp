#include "platform/atomic_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

AtomicFile::AtomicFile(const std::string& hostPath) : target(hostPath) {
    std::vector<char> name(hostPath.begin(), hostPath.end());
    const char suffix[] = ".XXXXXX";
    name.insert(name.end(), suffix, suffix + sizeof suffix);
    const int descriptor = mkstemp(name.data());
    if (descriptor < 0)
        return;
    temporary = name.data();
    // mkstemp makes the file private to its owner; the finished file gets the permissions a
    // newly created file would have.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);
    stream = fdopen(descriptor, "wb");
    if (stream == nullptr) {
        close(descriptor);
        unlink(temporary.c_str());
        temporary.clear();
    }
}

AtomicFile::~AtomicFile() {
    if (stream != nullptr)
        std::fclose(stream);
    if (!temporary.empty())
        unlink(temporary.c_str());
}

bool AtomicFile::Commit() {
    if (stream == nullptr)
        return false;
    // A full disk may only show when the buffered rest is flushed.
    const bool written = std::ferror(stream) == 0;
    const bool closed = std::fclose(stream) == 0;
    stream = nullptr;
    if (!written || !closed || std::rename(temporary.c_str(), target.c_str()) != 0)
        return false;
    temporary.clear();
    return true;
}
