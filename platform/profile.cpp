#include "platform/profile.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/host_path.h"

namespace {

const char* const BLANKS = " \t\r\n\f\v";

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(BLANKS);
    if (first == std::string::npos)
        return std::string();
    const std::size_t last = text.find_last_not_of(BLANKS);
    return text.substr(first, last - first + 1);
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::string Unquote(const std::string& value) {
    if (value.size() >= 2) {
        const char first = value.front();
        if ((first == '"' || first == '\'') && value.back() == first)
            return value.substr(1, value.size() - 2);
    }
    return value;
}

std::string Cut(const std::string& text, std::size_t capacity) {
    return text.size() > capacity ? text.substr(0, capacity) : text;
}

bool HasDirectoryPart(const std::string& path) {
    return path.find_first_of("\\/:") != std::string::npos;
}

// Reads the whole file into text; returns false when it cannot be read. A run asks dozens of
// keys of the same file, a few for each row: the text of the file read last is kept, and
// reused while the file has the same identity, size and modification time (to the file
// system's resolution: a file rewritten to the same size within it reads as before).
bool ReadProfileText(const std::string& hostPath, std::string& text) {
    struct Cached {
        std::string path;
        struct stat info {};
        std::string bytes;
    };
    static std::mutex mutex;
    static Cached cached;
    struct stat info {};
    if (stat(hostPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    std::lock_guard<std::mutex> lock(mutex);
    const struct stat& known = cached.info;
    if (cached.path == hostPath && known.st_dev == info.st_dev && known.st_ino == info.st_ino &&
        known.st_size == info.st_size && known.st_mtim.tv_sec == info.st_mtim.tv_sec &&
        known.st_mtim.tv_nsec == info.st_mtim.tv_nsec) {
        text = cached.bytes;
        return true;
    }
    std::ifstream in(hostPath, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    text = bytes.str();
    cached = {hostPath, info, text};
    return true;
}

// Finds the value of key in section of INI text; returns false when the section or key is
// absent.
bool FindProfileValueInText(const std::string& contents, const std::string& section,
                            const std::string& key, std::string& value) {
    std::istringstream in(contents);
    std::string line;
    bool first = true;
    bool inSection = false;
    while (std::getline(in, line)) {
        if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3);
        first = false;
        const std::string text = Trim(line);
        if (text.empty() || text[0] == ';')
            continue;
        if (text[0] == '[') {
            const std::size_t close = text.find(']');
            const std::string name =
                Trim(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            inSection = SameIgnoringCase(name, section);
            continue;
        }
        if (!inSection)
            continue;
        const std::size_t equals = text.find('=');
        if (equals == std::string::npos)
            continue;
        if (SameIgnoringCase(Trim(text.substr(0, equals)), key)) {
            value = Unquote(Trim(text.substr(equals + 1)));
            return true;
        }
    }
    return false;
}

// Finds the value of key in section; returns false when the file, section or key is absent.
bool FindProfileValue(const std::string& hostPath, const std::string& section,
                      const std::string& key, std::string& value) {
    std::string contents;
    if (!ReadProfileText(hostPath, contents))
        return false;
    return FindProfileValueInText(contents, section, key, value);
}

}  // namespace

std::string WindowsDirectory() {
    const char* windir = std::getenv("WINDIR");
    if (windir != nullptr && windir[0] != '\0')
        return windir;
    return "/etc";
}

std::string ReadProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, std::size_t capacity,
                              const std::string& filePath) {
    const std::string located =
        HasDirectoryPart(filePath) ? filePath : WindowsDirectory() + "/" + filePath;
    std::string value;
    if (!FindProfileValue(MapHostPath(located), section, key, value))
        value = defaultValue;
    return Cut(value, capacity);
}

std::string ReadProfileStringFromText(const std::string& section, const std::string& key,
                                      const std::string& defaultValue, std::size_t capacity,
                                      const std::string& text) {
    std::string value;
    if (!FindProfileValueInText(text, section, key, value))
        value = defaultValue;
    return Cut(value, capacity);
}
