#pragma once

#include <string>
#include <vector>

// One phase pick of a station: filled by the catalogue, drawn by the plot.
struct Pick {
    double time = 0.0;       // epoch seconds
    std::string phase;       // at most 15 characters
    double distance = -1.0;  // epicentral distance, degrees
};

// The picks of one station in the order the catalogue delivered them: ascending time.
using PickList = std::vector<Pick>;
