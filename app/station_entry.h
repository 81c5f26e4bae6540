#pragma once

#include <string>
#include <vector>

#include "dsp/pick.h"

// One waveform line of the plot: a station and channel, its picks in the window in
// ascending time, and its position in listing order. A row of an SDS archive also names its
// network and location, as the archive's look-up completed them.
struct StationEntry {
    std::string station;
    std::string channel;
    bool hasStreamCodes = false;  // network and location are known: an SDS row
    std::string network;
    std::string location;
    PickList picks;
    int index = 0;

    // Epoch seconds of the earliest pick, or 0.0 without picks.
    double FirstPickTime() const { return picks.empty() ? 0.0 : picks.front().time; }
};

using StationList = std::vector<StationEntry>;
