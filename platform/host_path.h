#pragma once

#include <string>

// Maps a Windows-style path onto a host file name: backslashes become slashes, a leading
// drive letter ("C:") is dropped, and every component that does not exist with its exact
// case is matched without regard to case against its directory's entries (the
// alphabetically first match when several match). Components that match nothing, such as
// the name of a file still to be created, are kept as given. Arguments reach the program
// upper-cased, so this keeps them usable on a case-sensitive file system.
std::string MapHostPath(const std::string& windowsPath);
