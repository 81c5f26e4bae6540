#pragma once

#include <string>
#include <vector>

// One phase pick of a QuakeML event.
struct QuakePick {
    std::string publicId;
    double time = 0.0;  // epoch seconds
    // The stream the pick was made on (waveformID codes); empty when not given.
    std::string network;
    std::string station;
    std::string location;
    std::string channel;
    std::string phaseHint;  // empty when not given
};

// One arrival of the preferred origin: which pick it uses and how the origin reads it.
struct QuakeArrival {
    std::string pickId;
    std::string phase;
    double distance = -1.0;  // epicentral distance, degrees; negative when not given
};

// The preferred origin of an event.
struct QuakeOrigin {
    std::string publicId;
    double time = 0.0;       // epoch seconds
    double latitude = 0.0;   // degrees north
    double longitude = 0.0;  // degrees east
    double depth = 0.0;      // metres below the surface; 0 when not given
};

// One event of a QuakeML file: its preferred origin with that origin's arrivals, and all of
// its picks in file order.
struct QuakeEvent {
    std::string publicId;
    bool hasOrigin = false;  // false when the event has no origin with a time and position
    QuakeOrigin origin;
    std::vector<QuakeArrival> arrivals;
    std::vector<QuakePick> picks;
};

// The events of a QuakeML file, in file order.
struct EventCatalogue {
    std::vector<QuakeEvent> events;
};

// Reads the events of a QuakeML 1.2 file (the BED elements, inside the quakeml wrapper or
// standing alone) and appends them to catalogue. The preferred origin is the origin named by
// preferredOriginID, else the event's first origin. A pick without a readable time is skipped,
// as is an origin without a readable time, latitude or longitude; elements of other namespaces
// and those not used here are ignored. Returns 0 when the file was read (a well-formed document
// of another kind gives no events); 1 when it is missing, cannot be opened or is not
// well-formed XML, with catalogue unchanged.
int ReadQuakeMl(const std::string& path, EventCatalogue& catalogue);
