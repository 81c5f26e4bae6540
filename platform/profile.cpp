#include "platform/profile.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
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

// Finds the value of key in section; returns false when the file, section or key is absent.
bool FindProfileValue(const std::string& hostPath, const std::string& section,
                      const std::string& key, std::string& value) {
    std::ifstream in(hostPath, std::ios::binary);
    if (!in)
        return false;
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
