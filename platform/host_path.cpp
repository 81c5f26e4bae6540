#include "platform/host_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>
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

// A path with the host's separators and without a drive letter.
std::string HostSeparators(const std::string& windowsPath) {
    std::string path = windowsPath;
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0])))
        path.erase(0, 2);
    return path;
}

}  // namespace

// Maps a path component by component: each component that does not exist with its exact case
// is matched against its folder's entries, until a folder is missing altogether. The state
// after each folder of the path is remembered, so the files of one folder walk it once.
std::string HostPathMapper::Map(const std::string& windowsPath) {
    const std::string path = HostSeparators(windowsPath);
    if (path.empty())
        return path;
    // Most paths exist as written: one look instead of one per component.
    if (Exists(path))
        return path;

    const bool absolute = path[0] == '/';
    Walk walk{absolute ? "" : ".", absolute ? "/" : "", true};
    std::size_t pos = absolute ? 1 : 0;
    while (pos <= path.size()) {
        std::size_t slash = path.find('/', pos);
        const bool last = slash == std::string::npos;
        if (last)
            slash = path.size();
        // The walk up to and including this folder, when an earlier path took it.
        const std::string written = path.substr(0, slash + 1);
        if (!last) {
            std::lock_guard<std::mutex> lock(mutex);
            const auto known = walks.find(written);
            if (known != walks.end()) {
                walk = known->second;
                pos = slash + 1;
                continue;
            }
        }
        const std::string component = path.substr(pos, slash - pos);
        std::string chosen = component;
        if (walk.matching && !component.empty() && component != "." && component != "..") {
            const std::string candidate = walk.probe + "/" + component;
            if (!Exists(candidate)) {
                chosen = Match(walk.probe, component);
                // Once a folder is missing altogether nothing below it can exist either.
                if (!last)
                    walk.matching = Exists(walk.probe + "/" + chosen);
            }
        }
        walk.probe += "/" + chosen;
        walk.mapped += chosen;
        if (last)
            break;
        walk.mapped += "/";
        {
            std::lock_guard<std::mutex> lock(mutex);
            walks.emplace(written, walk);
        }
        pos = slash + 1;
    }
    return walk.mapped;
}

std::string HostPathMapper::Match(const std::string& directory, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex);
    auto folder = folders.find(directory);
    if (folder == folders.end()) {
        // The folder's entries, once: for each name, the alphabetically first of the entries
        // equal to it without regard to case.
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
}

std::string MapHostPath(const std::string& windowsPath) {
    // A mapper of its own: the folders it reads are forgotten after this one path.
    HostPathMapper mapper;
    return mapper.Map(windowsPath);
}

int CheckFolderReadable(const std::string& hostPath, std::string& reason) {
    const DirHandle dir(opendir(hostPath.empty() ? "." : hostPath.c_str()));
    if (dir)
        return 1;
    reason = std::strerror(errno);
    return 0;
}
