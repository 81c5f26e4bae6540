#include "app/sds_source.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/exit_status.h"
#include "app/profile_settings.h"
#include "metadata/event_queries.h"
#include "platform/host_path.h"
#include "plot/annotations.h"
#include "sds/sds_stream.h"
#include "timeutil/calendar.h"

namespace {

// The distance label shows a pick's distance times this many km per degree.
constexpr double LABEL_KM_PER_DEGREE = 111.0;

int PrintCannotRead(const std::string& name) {
    std::printf("Cannot read %s!\n", name.c_str());
    return STATUS_DATABASE_OPEN;
}

// Returns the names of a list separated by ';', without empty ones.
std::vector<std::string> SplitFileList(const std::string& text) {
    std::vector<std::string> names;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t end = text.find(';', begin);
        if (end == std::string::npos)
            end = text.size();
        if (end > begin)
            names.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return names;
}

// True when a channel code names a vertical component.
bool IsVertical(const std::string& channel) { return !channel.empty() && channel.back() == 'Z'; }

}  // namespace

int OpenSdsSource(const Settings& settings, SdsSource& source) {
    source.root = MapHostPath(settings.sdsRoot);
    std::string reason;
    if (CheckFolderReadable(source.root, reason) != 1) {
        std::printf("Cannot open archive %s!\n", settings.sdsRoot.c_str());
        return STATUS_DATABASE_OPEN;
    }
    source.quakeMlName = settings.quakeMlFile;
    if (!settings.quakeMlFile.empty() &&
        ReadQuakeMl(MapHostPath(settings.quakeMlFile), source.events) != 0)
        return PrintCannotRead(settings.quakeMlFile);
    for (const std::string& name : SplitFileList(settings.stationXmlFiles)) {
        if (ReadStationXml(MapHostPath(name), source.stations) != 0)
            return PrintCannotRead(name);
    }
    return STATUS_OK;
}

int ResolveSdsEvent(Settings& settings, SdsSource& source, EventInfo& event, bool& eventKnown) {
    std::size_t index = 0;
    double start = 0.0;
    if (FindEvent(source.events, settings.eventId, index) != 0 ||
        EventWindowStart(source.events.events[index], static_cast<float>(settings.windowSeconds),
                         start) != 0) {
        std::printf("Not found ID=%s in database %s!\n", settings.eventId.c_str(),
                    source.quakeMlName.c_str());
        return STATUS_EVENT_NOT_FOUND;
    }
    const QuakeEvent& found = source.events.events[index];
    source.event = &found;
    settings.eventId = found.publicId.substr(0, EVENT_ID_CAPACITY);
    const CalendarFields fields = CalendarOf(start);
    char text[96];
    std::snprintf(text, sizeof text, "%d:%d:%f %d//%d//%d", fields.hour, fields.minute,
                  static_cast<double>(fields.second), fields.day, fields.month, fields.year);
    settings.startText = std::string(text).substr(0, START_TEXT_CAPACITY);
    if (found.hasOrigin) {
        event.lat = static_cast<float>(found.origin.latitude);
        event.lon = static_cast<float>(found.origin.longitude);
        event.originTime = found.origin.time;
        event.orid = found.origin.publicId;
        eventKnown = true;
    }
    return STATUS_OK;
}

StationList ListSdsEventStations(const Settings& settings, const SdsSource& source) {
    StationList entries;
    if (source.event == nullptr)
        return entries;
    const std::vector<const QuakePick*> counted = EventPicks(*source.event);
    for (const EventStation& listed : ListEventStations(*source.event, settings.phaseList)) {
        StationEntry entry;
        entry.network = listed.network;
        entry.station = listed.station;
        // The earliest pick on a vertical component names the row's channel.
        const QuakePick* first = nullptr;
        const QuakePick* firstVertical = nullptr;
        for (const QuakePick* pick : counted) {
            if (pick->network != listed.network || pick->station != listed.station)
                continue;
            if (first == nullptr || pick->time < first->time)
                first = pick;
            if (IsVertical(pick->channel) &&
                (firstVertical == nullptr || pick->time < firstVertical->time))
                firstVertical = pick;
        }
        if (firstVertical != nullptr)
            entry.channel = firstVertical->channel;
        else if (first != nullptr && !first->channel.empty())
            entry.channel = first->channel.substr(0, first->channel.size() - 1) + "Z";
        else
            entry.channel = "BHZ";
        entries.push_back(std::move(entry));
    }
    return entries;
}

void CompleteSdsEntry(const Settings& settings, const SdsSource& source, bool fromIni, int n,
                      double windowStart, double windowEnd, StationEntry& entry) {
    std::optional<std::string> network;
    std::optional<std::string> location;
    if (fromIni)
        ReadStreamCodes(settings, n, network, location);
    else
        network = entry.network;
    SdsStream stream;
    std::vector<std::string> notes;
    ResolveSdsStream(source.root, network, entry.station, location, entry.channel, windowStart,
                     windowEnd, stream, notes);
    for (const std::string& note : notes) std::fprintf(stderr, "%s\n", note.c_str());
    entry.hasStreamCodes = true;
    entry.network = stream.network;
    entry.location = stream.location;

    QueryStationPicks(source.events, source.event, entry.network, entry.station, windowStart,
                      windowEnd, settings.phaseList, entry.picks);
    // The label shows km; a pick carries its distance in the degrees the label multiplies.
    double km = 0.0;
    const bool known =
        source.event != nullptr && StationDistanceKm(*source.event, source.stations, entry.network,
                                                     entry.station, windowStart, km) == 0;
    for (Pick& pick : entry.picks) {
        if (source.event != nullptr)
            pick.distance = known ? km / LABEL_KM_PER_DEGREE : -1.0;
        else if (pick.distance >= 0.0)
            pick.distance = pick.distance * KM_PER_DEGREE / LABEL_KM_PER_DEGREE;
        else
            pick.distance = -1.0;
    }
}
