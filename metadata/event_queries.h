#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "dsp/pick.h"
#include "metadata/quake_ml.h"
#include "metadata/station_xml.h"

// The mean Earth radius the distance labels are computed on, km.
constexpr double EARTH_RADIUS_KM = 6371.0;
// Kilometres per degree of epicentral distance, for distances a catalogue gives in degrees.
constexpr double KM_PER_DEGREE = 111.19;

// Finds the event an event id asks for: "LAST" is the event whose preferred origin time is
// latest (the first of them on a tie; events without an origin never are); any other id
// matches an event's publicID or the part of it after its last '/', without regard to case
// (the command line upper-cases its arguments). A publicID match wins over a path-part match,
// else the first match in file order is taken. Returns 0 with index set to the event's
// position in catalogue.events; 1 when no event matches, index unchanged.
int FindEvent(const EventCatalogue& catalogue, const std::string& eventId, std::size_t& index);

// The picks an event counts: those its preferred origin's arrivals use, or all of its picks
// when the origin has no arrivals. In the event's pick order.
std::vector<const QuakePick*> EventPicks(const QuakeEvent& event);

// One station that picked an event, with the picks of it that count.
struct EventStation {
    std::string network;
    std::string station;
    PickList picks;  // ascending time
};

// Lists the stations whose picks count for event (see EventPicks), only picks of the phases of
// phaseList counting when it names any (comma-separated, as PHASES= writes it), one entry per
// network and station on whatever channels they picked. Ordered as the catalogue orders a
// station list: by first pick time, then station code, then network code.
std::vector<EventStation> ListEventStations(const QuakeEvent& event, const std::string& phaseList);

// Appends to picks those picks of network/station, on any location and channel, with
// windowStart <= time <= windowEnd (epoch seconds) and, when phaseList names any, a phase in
// it; the picks of event as EventPicks counts them, or of every event of catalogue when event
// is null. In ascending time. A pick's phase is its phase hint, or the phase of the arrival
// that uses it when the hint is empty; its distance is that arrival's distance in degrees.
void QueryStationPicks(const EventCatalogue& catalogue, const QuakeEvent* event,
                       const std::string& network, const std::string& station, double windowStart,
                       double windowEnd, const std::string& phaseList, PickList& picks);

// Computes the window start of event as the catalogue does: its first counting pick minus
// windowSeconds / 5, cut to whole seconds toward zero and then down to the minute (epoch
// seconds). Returns 0 with start set; 1 when the event has no picks, start unchanged.
int EventWindowStart(const QuakeEvent& event, float windowSeconds, double& start);

// Returns the great-circle distance in km between two points (degrees) on a sphere of radius
// EARTH_RADIUS_KM.
double GreatCircleKm(double latitude1, double longitude1, double latitude2, double longitude2);

// Finds the distance label of network/station for event, km: the great-circle distance from
// the preferred origin to the station's position in the epoch that contains time (epoch
// seconds); without that position, the distance in degrees of the first arrival (by pick time)
// that uses a pick of the station, times KM_PER_DEGREE. Returns 0 with km set; 1 when neither
// is known (or the event has no origin), km unchanged.
int StationDistanceKm(const QuakeEvent& event, const StationCoordinates& coordinates,
                      const std::string& network, const std::string& station, double time,
                      double& km);
