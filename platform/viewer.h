#pragma once

#include <string>

// Opens a host file with the desktop's associated program (xdg-open from PATH) in a
// detached process of its own session, standard streams on /dev/null, and returns at once.
// A missing launcher or a failing viewer is ignored.
void OpenInViewer(const std::string& hostPath);
