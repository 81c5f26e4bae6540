#pragma once

#include <cstdio>
#include <memory>

// Owns one stdio stream and closes it on every path out. A file that is written is closed
// explicitly and the result checked; the deleter only covers early returns.
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;
