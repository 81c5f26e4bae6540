#include "platform/host_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <map>
#include <memory>
#include <mutex>

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// The lowercase form of a name, for matching without regard to case.
std::string Folded(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

// Maps a path component by component; match finds the entry of a folder that equals a name
// without regard to case (or returns the name itself).
template <typename Match>
std::string MapWith(const std::string& windowsPath, const Match& match) {
    std::string path = windowsPath;
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0])))
        path.erase(0, 2);
    if (path.empty())
        return path;
    // Most paths exist as written: one look instead of one per component.
    if (Exists(path))
        return path;

    const bool absolute = path[0] == '/';
    std::string result = absolute ? "" : ".";
    std::string mapped = absolute ? "/" : "";
    std::size_t pos = absolute ? 1 : 0;
    bool matching = true;
    while (pos <= path.size()) {
        std::size_t slash = path.find('/', pos);
        if (slash == std::string::npos)
            slash = path.size();
        const std::string component = path.substr(pos, slash - pos);
        std::string chosen = component;
        if (matching && !component.empty() && component != "." && component != "..") {
            const std::string candidate = result + "/" + component;
            if (!Exists(candidate)) {
                chosen = match(result, component);
                // Once a folder is missing altogether nothing below it can exist either.
                matching = Exists(result + "/" + chosen);
            }
        }
        result += "/" + chosen;
        mapped += chosen;
        if (slash < path.size())
            mapped += "/";
        pos = slash + 1;
    }
    return mapped;
}

}  // namespace

std::string MapHostPath(const std::string& windowsPath) {
    // A mapper of its own: the folders it reads are forgotten after this one path.
    HostPathMapper mapper;
    return mapper.Map(windowsPath);
}

std::string HostPathMapper::Map(const std::string& windowsPath) {
    return MapWith(windowsPath, [this](const std::string& directory, const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex);
        auto folder = folders.find(directory);
        if (folder == folders.end()) {
            // The folder's entries, once: for each name, the alphabetically first of the
            // entries equal to it without regard to case.
            std::map<std::string, std::string> entries;
            DirHandle dir(opendir(directory.empty() ? "/" : directory.c_str()));
            while (dir) {
                const dirent* entry = readdir(dir.get());
                if (entry == nullptr)
                    break;
                const std::string candidate = entry->d_name;
                std::string& best = entries[Folded(candidate)];
                if (best.empty() || candidate < best)
                    best = candidate;
            }
            folder = folders.emplace(directory, std::move(entries)).first;
        }
        const auto entry = folder->second.find(Folded(name));
        return entry == folder->second.end() ? name : entry->second;
    });
}
