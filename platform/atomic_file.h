#pragma once

#include <cstdio>
#include <string>

// A file written whole or not at all: it is written as an unnamed file in its target's folder
// (or, where the file system has no unnamed files, under a temporary name there) and renamed
// over the target only when committed, so that readers of the target never see it
// half-written and a failed or abandoned write leaves the target as it was.
//
// A target that is a symbolic link is written through: the file the link leads to is
// replaced, in its own folder, and the link stays. A replaced file keeps its permission bits;
// a new one gets those a newly created file would have. A file named while it waits for its
// rename starts with TEMPORARY_PREFIX, so that one left by a killed run can be recognised.
class AtomicFile {
public:
    // Creates the temporary file for hostPath (a host file name, already mapped). IsOpen()
    // tells whether that worked: it does not when the folder cannot take a file, or when the
    // target exists and may not be written (no permission, or no write permission bit at all,
    // which also holds back the superuser) or is no regular file.
    explicit AtomicFile(const std::string& hostPath);
    // Removes the temporary file unless it was committed.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool IsOpen() const { return stream != nullptr; }
    // The stream to write to; null when the file could not be created or is committed.
    std::FILE* Stream() const { return stream; }
    // Flushes and closes the temporary file, names it and renames it over the target. Returns
    // true when the file was written, closed and renamed; otherwise the temporary file is
    // removed, the target is untouched and false is returned.
    bool Commit();

private:
    std::string target;     // the file to replace: the end of a symbolic link's chain
    std::string folder;     // the target's folder, ending in '/'
    std::string temporary;  // the temporary file's name while it has one
    int descriptor = -1;    // the unnamed file's descriptor until the stream owns it
    bool unnamed = false;   // true when the file has no name until Commit links it
    int slot = -1;          // the entry that names the temporary file for the signal handler
    std::FILE* stream = nullptr;
};

// The start of the name of every temporary file an AtomicFile names: ".trazplot-tmp.".
extern const char* const TEMPORARY_PREFIX;

// Makes the run end cleanly on the signals that ask it to: SIGTERM, SIGINT and SIGHUP remove
// the temporary files of the open AtomicFiles, then end the process by the same signal as
// before; SIGXFSZ is ignored, so that a write past the file size limit fails like a write to a
// full disk instead of ending the process. Call once, before the first AtomicFile.
void RemoveTemporariesOnSignals();

// Removes the temporary files (named with TEMPORARY_PREFIX) in the host folder whose last
// change is more than maxAgeSeconds ago: files left by runs killed while writing. A younger
// one may belong to a run still writing. Returns how many files were removed.
int RemoveStaleTemporaries(const std::string& folder, long maxAgeSeconds);
