#include "platform/file_handle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

long long StreamFileSize(std::FILE* file) {
    const int descriptor = fileno(file);
    if (descriptor >= 0) {
        struct stat info;
        if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode))
            return -1;
        return static_cast<long long>(info.st_size);
    }
    // A stream without a descriptor (one in memory) is measured through the stream.
    if (fseeko(file, 0, SEEK_END) != 0)
        return -1;
    return static_cast<long long>(ftello(file));
}

std::size_t ReadStreamAt(std::FILE* file, long long byteOffset, unsigned char* bytes,
                         std::size_t size) {
    const int descriptor = fileno(file);
    if (descriptor < 0) {
        if (fseeko(file, static_cast<off_t>(byteOffset), SEEK_SET) != 0)
            return 0;
        return std::fread(bytes, 1, size, file);
    }
    std::size_t received = 0;
    while (received < size) {
        const ssize_t got = pread(descriptor, bytes + received, size - received,
                                  static_cast<off_t>(byteOffset) + static_cast<off_t>(received));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        received += static_cast<std::size_t>(got);
    }
    return received;
}
