#pragma once

#include <limits>
#include <string>
#include <vector>

// Where one station stood during one epoch of its StationXML description.
struct StationEpoch {
    std::string network;  // network code
    std::string station;  // station code
    // Epoch seconds; -infinity when the description gives no start date.
    double startTime = -std::numeric_limits<double>::infinity();
    // Epoch seconds; infinity while the epoch is open (no end date).
    double endTime = std::numeric_limits<double>::infinity();
    double latitude = 0.0;   // degrees north
    double longitude = 0.0;  // degrees east
    double elevation = 0.0;  // metres; 0 when the description gives none
};

// The station epochs of one or more StationXML files, in file order.
struct StationCoordinates {
    std::vector<StationEpoch> epochs;
};

// Reads the station epochs of a FDSN StationXML file (versions 1.1 and 1.2, which share one
// namespace) and appends them to coordinates. A station epoch without a latitude or longitude,
// or with a start or end date that cannot be read, is skipped; channels and everything else the
// file holds are ignored. Returns 0 when the file was read (a well-formed document of another kind
// gives no epochs); 1 when it is missing, cannot be opened or is not well-formed XML, with
// coordinates unchanged.
int ReadStationXml(const std::string& path, StationCoordinates& coordinates);

// Finds the epoch of network/station (codes compared exactly) that contains time (epoch
// seconds; the start date belongs to the epoch, the end date does not), the first in file
// order when epochs overlap. Returns 0 with epoch copied; 1 when there is none, epoch unchanged.
int FindStationCoordinates(const StationCoordinates& coordinates, const std::string& network,
                           const std::string& station, double time, StationEpoch& epoch);
