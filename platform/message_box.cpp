#include "platform/message_box.h"

#include <cstdio>

void ShowMessageBox(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}
