#pragma once

// Helpers shared by the fuzz targets: a scratch folder that lives as long as the fuzzing
// process, file writing, quiet standard output and a check that stops the run.

#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

// Stops the run with the failed condition when an expected property does not hold; libFuzzer
// then saves the input as a crash.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

namespace fuzz {

inline void RemoveScratchFolder();

// Returns a private folder, made on first use in /dev/shm (memory, so the files of a long run
// cost no disk writes) or else in TMPDIR or /tmp, and removed when the process exits normally.
inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        std::string base = "/dev/shm";
        if (access(base.c_str(), W_OK) != 0) {
            const char* tmp = std::getenv("TMPDIR");
            base = tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
        }
        std::string pattern = base + "/trazplot-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        return pattern;
    }();
    static const bool cleanupRegistered = std::atexit(RemoveScratchFolder) == 0;
    (void)cleanupRegistered;
    return folder;
}

inline void RemoveScratchFolder() {
    std::error_code error;
    std::filesystem::remove_all(ScratchFolder(), error);
}

// Returns the folder name inside the scratch folder, created when absent.
inline std::string ScratchSubfolder(const std::string& name) {
    const std::string path = ScratchFolder() + "/" + name;
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return path;
}

// Replaces the file at path with the bytes. Returns true when all were written.
inline bool WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

// Removes every entry of the folder, keeping the folder itself.
inline void EmptyFolder(const std::string& path) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(path, error))
        std::filesystem::remove_all(entry.path(), error);
}

// Returns a stream on a file that lives in memory only (memfd_create), made on first use and
// kept for the whole fuzzing process, unbuffered as segment files are read. It is a regular
// file with a descriptor, so the readers find its size and read at an offset as on disk,
// without a path to map, a folder to read or a file to open for every input.
inline std::FILE* MemoryFile() {
    static std::FILE* const file = [] {
        const int descriptor = memfd_create("trazplot-fuzz", 0);
        std::FILE* stream = descriptor >= 0 ? fdopen(descriptor, "r+b") : nullptr;
        if (stream == nullptr) {
            std::perror("memfd_create");
            std::abort();
        }
        std::setvbuf(stream, nullptr, _IONBF, 0);
        return stream;
    }();
    return file;
}

// Replaces the bytes of the memory file. Returns true when all were written.
inline bool ReplaceMemoryFile(const std::uint8_t* data, std::size_t size) {
    const int descriptor = fileno(MemoryFile());
    if (ftruncate(descriptor, 0) != 0)
        return false;
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n =
            pwrite(descriptor, data + written, size - written, static_cast<off_t>(written));
        if (n <= 0)
            return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// Sends standard output to /dev/null: the code under test prints its usage text and messages
// there, which would only bury libFuzzer's own report.
inline void SilenceStandardOutput() {
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        std::perror("freopen");
}

}  // namespace fuzz
