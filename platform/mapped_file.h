#pragma once

#include <string>

// Maps a whole regular file read-only into memory for as long as it lives, so that its bytes
// are read where the page cache holds them instead of being copied out. The file's size is
// taken once, when it is mapped: bytes written later are not seen. Cannot be copied.
class MappedFile {
public:
    // Maps the file at path; IsOpen() is false when it cannot be opened, is not a regular file,
    // is empty or cannot be mapped.
    explicit MappedFile(const std::string& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool IsOpen() const { return bytes != nullptr; }
    // The file's bytes, Size() of them; null when it is not open.
    const unsigned char* Data() const { return bytes; }
    // Bytes mapped; 0 when it is not open.
    long long Size() const { return size; }

private:
    unsigned char* bytes = nullptr;
    long long size = 0;
};
