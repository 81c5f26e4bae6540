#include "metadata/event_queries.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

std::string LastPathPart(const std::string& id) {
    const std::size_t slash = id.rfind('/');
    return slash == std::string::npos ? id : id.substr(slash + 1);
}

// Splits a comma-separated phase list as the catalogue's phase clause does: empty names are
// skipped, blanks inside a name are kept.
std::vector<std::string> SplitPhaseList(const std::string& phaseList) {
    std::vector<std::string> phases;
    std::size_t start = 0;
    while (start <= phaseList.size()) {
        std::size_t comma = phaseList.find(',', start);
        if (comma == std::string::npos)
            comma = phaseList.size();
        if (comma > start)
            phases.push_back(phaseList.substr(start, comma - start));
        start = comma + 1;
    }
    return phases;
}

bool PhaseCounts(const std::vector<std::string>& phases, const std::string& phase) {
    return phases.empty() || std::find(phases.begin(), phases.end(), phase) != phases.end();
}

const QuakeArrival* ArrivalOf(const QuakeEvent& event, const QuakePick& pick) {
    if (pick.publicId.empty())
        return nullptr;
    for (const QuakeArrival& arrival : event.arrivals) {
        if (arrival.pickId == pick.publicId)
            return &arrival;
    }
    return nullptr;
}

// Converts pick into the record a plot row draws, its phase and distance completed from the
// arrival that uses it.
Pick RowPick(const QuakeEvent& event, const QuakePick& pick) {
    Pick row;
    row.time = pick.time;
    row.phase = pick.phaseHint;
    const QuakeArrival* arrival = ArrivalOf(event, pick);
    if (arrival) {
        if (row.phase.empty())
            row.phase = arrival->phase;
        row.distance = arrival->distance;
    }
    return row;
}

void SortByTime(PickList& picks) {
    std::stable_sort(picks.begin(), picks.end(),
                     [](const Pick& a, const Pick& b) { return a.time < b.time; });
}

}  // namespace

int FindEvent(const EventCatalogue& catalogue, const std::string& eventId, std::size_t& index) {
    const std::vector<QuakeEvent>& events = catalogue.events;
    bool found = false;
    std::size_t best = 0;
    if (eventId == "LAST") {
        for (std::size_t i = 0; i < events.size(); ++i) {
            if (events[i].hasOrigin &&
                (!found || events[i].origin.time > events[best].origin.time)) {
                best = i;
                found = true;
            }
        }
    } else {
        for (std::size_t i = 0; i < events.size() && !found; ++i) {
            if (EqualIgnoringCase(events[i].publicId, eventId)) {
                best = i;
                found = true;
            }
        }
        for (std::size_t i = 0; i < events.size() && !found; ++i) {
            if (EqualIgnoringCase(LastPathPart(events[i].publicId), eventId)) {
                best = i;
                found = true;
            }
        }
    }
    if (!found)
        return 1;
    index = best;
    return 0;
}

std::vector<const QuakePick*> EventPicks(const QuakeEvent& event) {
    std::vector<const QuakePick*> picks;
    for (const QuakePick& pick : event.picks) {
        if (event.arrivals.empty() || ArrivalOf(event, pick))
            picks.push_back(&pick);
    }
    return picks;
}

std::vector<EventStation> ListEventStations(const QuakeEvent& event, const std::string& phaseList) {
    const std::vector<std::string> phases = SplitPhaseList(phaseList);
    std::vector<EventStation> stations;
    for (const QuakePick* pick : EventPicks(event)) {
        const Pick row = RowPick(event, *pick);
        // A pick without a station code names no row to draw it on.
        if (pick->station.empty() || !PhaseCounts(phases, row.phase))
            continue;
        auto entry = std::find_if(stations.begin(), stations.end(), [&](const EventStation& s) {
            return s.network == pick->network && s.station == pick->station;
        });
        if (entry == stations.end())
            entry = stations.insert(stations.end(), EventStation{pick->network, pick->station, {}});
        entry->picks.push_back(row);
    }
    for (EventStation& entry : stations) SortByTime(entry.picks);
    // The catalogue lists an event's stations by pick time, then by code.
    std::stable_sort(stations.begin(), stations.end(),
                     [](const EventStation& a, const EventStation& b) {
                         const double timeA = a.picks.front().time;
                         const double timeB = b.picks.front().time;
                         if (timeA != timeB)
                             return timeA < timeB;
                         if (a.station != b.station)
                             return a.station < b.station;
                         return a.network < b.network;
                     });
    return stations;
}

void QueryStationPicks(const EventCatalogue& catalogue, const QuakeEvent* event,
                       const std::string& network, const std::string& station, double windowStart,
                       double windowEnd, const std::string& phaseList, PickList& picks) {
    const std::vector<std::string> phases = SplitPhaseList(phaseList);
    PickList found;
    const auto collect = [&](const QuakeEvent& source) {
        for (const QuakePick* pick : EventPicks(source)) {
            if (pick->network != network || pick->station != station ||
                !(pick->time >= windowStart && pick->time <= windowEnd))
                continue;
            const Pick row = RowPick(source, *pick);
            if (PhaseCounts(phases, row.phase))
                found.push_back(row);
        }
    };
    if (event) {
        collect(*event);
    } else {
        for (const QuakeEvent& source : catalogue.events) collect(source);
    }
    SortByTime(found);
    picks.insert(picks.end(), found.begin(), found.end());
}

int EventWindowStart(const QuakeEvent& event, float windowSeconds, double& start) {
    const std::vector<const QuakePick*> picks = EventPicks(event);
    if (picks.empty())
        return 1;
    double firstPick = picks.front()->time;
    for (const QuakePick* pick : picks) firstPick = std::min(firstPick, pick->time);
    // The window length is divided in single precision, as the catalogue's query does.
    const double t = firstPick - static_cast<double>(windowSeconds / 5);
    // Far outside any calendar, the time has no whole-second value to cut down to.
    if (!(std::fabs(t) < 1e15))
        return 1;
    const long long minuteStart = static_cast<long long>(t) / 60 * 60;
    start = static_cast<double>(minuteStart);
    return 0;
}

double GreatCircleKm(double latitude1, double longitude1, double latitude2, double longitude2) {
    constexpr double RADIANS_PER_DEGREE = 3.14159265358979323846 / 180.0;
    const double phi1 = latitude1 * RADIANS_PER_DEGREE;
    const double phi2 = latitude2 * RADIANS_PER_DEGREE;
    const double halfDeltaPhi = (phi2 - phi1) / 2.0;
    const double halfDeltaLambda = (longitude2 - longitude1) * RADIANS_PER_DEGREE / 2.0;
    // The haversine form stays accurate for the short distances of a local network, where the
    // spherical law of cosines loses its digits.
    const double h =
        std::sin(halfDeltaPhi) * std::sin(halfDeltaPhi) +
        std::cos(phi1) * std::cos(phi2) * std::sin(halfDeltaLambda) * std::sin(halfDeltaLambda);
    return 2.0 * EARTH_RADIUS_KM * std::asin(std::min(1.0, std::sqrt(h)));
}

int StationDistanceKm(const QuakeEvent& event, const StationCoordinates& coordinates,
                      const std::string& network, const std::string& station, double time,
                      double& km) {
    if (!event.hasOrigin)
        return 1;
    StationEpoch epoch;
    if (FindStationCoordinates(coordinates, network, station, time, epoch) == 0) {
        km = GreatCircleKm(event.origin.latitude, event.origin.longitude, epoch.latitude,
                           epoch.longitude);
        return 0;
    }
    const QuakePick* first = nullptr;
    double degrees = -1.0;
    for (const QuakePick& pick : event.picks) {
        if (pick.network != network || pick.station != station)
            continue;
        const QuakeArrival* arrival = ArrivalOf(event, pick);
        if (arrival && arrival->distance >= 0.0 && (!first || pick.time < first->time)) {
            first = &pick;
            degrees = arrival->distance;
        }
    }
    if (!first)
        return 1;
    km = degrees * KM_PER_DEGREE;
    return 0;
}
