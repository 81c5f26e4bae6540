#pragma once

#include <cstdio>
#include <string>

// A file written whole or not at all: it is written under a temporary name beside its
// target and renamed over the target only when committed, so that readers of the target
// never see it half-written and a failed or abandoned write leaves the target as it was.
class AtomicFile {
public:
    // Creates the temporary file in the folder of hostPath (a host file name, already
    // mapped). IsOpen() tells whether that worked.
    explicit AtomicFile(const std::string& hostPath);
    // Removes the temporary file unless it was committed.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool IsOpen() const { return stream != nullptr; }
    // The stream to write to; null when the file could not be created or is committed.
    std::FILE* Stream() const { return stream; }
    // Closes the temporary file and renames it over the target. Returns true when the file
    // was written, closed and renamed; otherwise the temporary file is removed, the target is
    // untouched and false is returned.
    bool Commit();

private:
    std::string target;
    std::string temporary;
    std::FILE* stream = nullptr;
};
