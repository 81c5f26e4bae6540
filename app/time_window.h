#pragma once

#include "app/settings.h"

class Catalogue;
struct EventInfo;

// The interval the picks are asked for and that the header and time axis describe.
struct TimeWindow {
    double start = 0.0;  // S, epoch seconds
    int length = 0;      // L, seconds
};

// Resolves the event of settings.eventId (LAST for the latest origin, an orid, or the
// beginning of an event id) into the full event id and a start text. Returns 0; -4 after
// printing the not-found message; -3 after printing the query error when a catalogue
// statement failed instead. eventKnown becomes true with event filled when
// LAST found the latest origin.
int ResolveEvent(Settings& settings, Catalogue& catalogue, EventInfo& event, bool& eventKnown);

// Fixes settings.startTime from the start text (CURRENT: the next whole minute of the
// current UTC time), moves it to the next segment boundary in segment mode, turns a
// negative window into one that ends at the start, and returns the window. The start text
// must be valid (checked before the catalogue is opened).
TimeWindow ComputeWindow(Settings& settings);

// True when the start text asks for the current time.
bool IsCurrentStart(const std::string& startText);
