#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>

// Owns one stdio stream and closes it on every path out. A file that is written is closed
// explicitly and the result checked; the deleter only covers early returns.
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Returns the size in bytes of the file behind a stream, or -1 when it has no end to find (it
// is not a regular file).
long long StreamFileSize(std::FILE* file);

// Reads up to size bytes from byteOffset into bytes and returns how many it read. A file with
// a descriptor is read at the offset with one call (more only if the system splits it),
// without moving the stream; a stream without one is positioned and read.
std::size_t ReadStreamAt(std::FILE* file, long long byteOffset, unsigned char* bytes,
                         std::size_t size);
