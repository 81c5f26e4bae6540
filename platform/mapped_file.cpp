#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

MappedFile::MappedFile(const std::string& path) {
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return;
    struct stat info;
    if (fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
        static_cast<std::uintmax_t>(info.st_size) <= SIZE_MAX) {
        void* mapped = mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE,
                            descriptor, 0);
        if (mapped != MAP_FAILED) {
            bytes = static_cast<unsigned char*>(mapped);
            size = static_cast<long long>(info.st_size);
        }
    }
    // The mapping keeps the file's pages; the descriptor is not needed for it.
    close(descriptor);
}

MappedFile::~MappedFile() {
    if (bytes != nullptr)
        munmap(bytes, static_cast<std::size_t>(size));
}
