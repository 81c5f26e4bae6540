#pragma once

#include <memory>
#include <string>

#include "app/settings.h"
#include "app/station_entry.h"
#include "metadata/quake_ml.h"
#include "metadata/station_xml.h"
#include "sds/sds_reader.h"

struct EventInfo;

// What a run that reads an SDS archive takes in place of the catalogue: the archive's root,
// the events and picks of its QuakeML file, the station positions of its StationXML files,
// the run's event once it is found, and what its rows have learnt of the day files.
struct SdsSource {
    std::string root;         // host path of the archive's root folder
    std::string quakeMlName;  // the QuakeML file as the INI file names it
    EventCatalogue events;
    StationCoordinates stations;
    const QuakeEvent* event = nullptr;  // the event of EVENTID=; null for a run by time
    // The record lists of the day files read so far, shared by the rows and their exports.
    std::unique_ptr<SdsDayIndex> dayIndex = std::make_unique<SdsDayIndex>();
};

// Opens the archive of settings.sdsRoot and reads its QuakeML and StationXML files, those
// that are named. Returns 0; -3 after printing "Cannot open archive" when the root is not a
// readable folder, or "Cannot read" for a file that is missing or not well-formed XML.
int OpenSdsSource(const Settings& settings, SdsSource& source);

// Finds the event of settings.eventId in the QuakeML events: LAST for the latest preferred
// origin, else a publicID or its last path part. Sets the event id to the event's publicID,
// the start text to the window start the catalogue would give (its first pick less a fifth of
// the window, down to the minute) and fills event from the preferred origin (eventKnown).
// Returns 0; -4 after printing the not-found message, which names the QuakeML file.
int ResolveSdsEvent(Settings& settings, SdsSource& source, EventInfo& event, bool& eventKnown);

// Lists the stations that picked the run's event, ordered by first pick, each on the channel
// of its first pick on a vertical component (else on its first pick's channel with the
// component Z). None without an event.
StationList ListSdsEventStations(const Settings& settings, const SdsSource& source);

// Completes entry (station and channel set, index n of the STA<n> sections when fromIni)
// for the window [windowStart, windowEnd] (epoch seconds): its network and location from
// the INI file or the archive (each choice the archive makes among several said once on
// standard error), its picks in the window, and their distance label.
void CompleteSdsEntry(const Settings& settings, const SdsSource& source, bool fromIni, int n,
                      double windowStart, double windowEnd, StationEntry& entry);
