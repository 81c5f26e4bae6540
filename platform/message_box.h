#pragma once

#include <string>

// Shows a message that the user must see although no console message is planned for it;
// on this host it is one line on standard error.
void ShowMessageBox(const std::string& text);
