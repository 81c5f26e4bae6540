#pragma once

#include <map>
#include <mutex>
#include <string>

// Maps a Windows-style path onto a host file name: backslashes become slashes, a leading
// drive letter ("C:") is dropped, and every component that does not exist with its exact
// case is matched without regard to case against its directory's entries (the
// alphabetically first match when several match). Components that match nothing, such as
// the name of a file still to be created, are kept as given. Arguments reach the program
// upper-cased, so this keeps them usable on a case-sensitive file system.
std::string MapHostPath(const std::string& windowsPath);

// Checks that the folder at hostPath can be listed. Returns 1 when it can; 0 when it cannot
// (missing, not a folder, a loop of symbolic links, no permission), with reason set to the
// system's description of the cause.
int CheckFolderReadable(const std::string& hostPath, std::string& reason);

// Maps Windows-style paths onto host file names as MapHostPath does, but reads each folder's
// entries only the first time one of its names must be matched without regard to case, and
// remembers them, as it remembers how each folder of a path was mapped: for a batch of
// lookups in the same folders, such as the segment files of one row, made in a moment.
// Entries added to a folder after it was read are not seen, so a mapper lives no longer than
// such a batch. Safe to use from several threads.
class HostPathMapper {
public:
    std::string Map(const std::string& windowsPath);

private:
    // How far a path's walk has come: the host path to probe the next component under, the
    // mapped path so far, and whether its folders still exist.
    struct Walk {
        std::string probe;
        std::string mapped;
        bool matching = true;
    };

    // The entry of directory that equals name without regard to case, or name itself.
    std::string Match(const std::string& directory, const std::string& name);

    std::mutex mutex;
    // folder (host path) -> lowercase name -> the entry it matches
    std::map<std::string, std::map<std::string, std::string>> folders;
    // a path's folder as written, up to its closing slash -> the walk that ends there
    std::map<std::string, Walk> walks;
};
