#pragma once

#include <string>

// A fresh folder under /tmp for one test, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path; }
    // Returns Path() + "/" + name.
    std::string File(const std::string& name) const;
    // Writes text to Path()/name, creating folders on the way; returns its full path.
    std::string Write(const std::string& name, const std::string& text) const;

private:
    std::string path;
};

// Reads a whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);
