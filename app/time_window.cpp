#include "app/time_window.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>

#include "app/command_line.h"
#include "app/exit_status.h"
#include "app/query_failure.h"
#include "archive/catalogue.h"
#include "plot/annotations.h"
#include "timeutil/calendar.h"

namespace {

// Returns the epoch time of the next whole minute after now (a moment exactly on a minute
// still gives the following one).
double NextWholeMinute() {
    const CalendarFields now = CalendarOf(static_cast<double>(std::time(nullptr)));
    return EpochFromCalendar(now.year, now.month, now.day, now.hour, now.minute + 1, 0.0f);
}

}  // namespace

bool IsCurrentStart(const std::string& startText) {
    return startText.compare(0, 7, "CURRENT") == 0;
}

int ResolveEvent(Settings& settings, Catalogue& catalogue, EventInfo& event, bool& eventKnown) {
    if (settings.eventId.compare(0, 4, "LAST") == 0) {
        std::string orid;
        float lat = 0.0f;
        float lon = 0.0f;
        double originTime = 0.0;
        if (catalogue.QueryLatestEvent(orid, lat, lon, originTime) == 0) {
            settings.eventId = orid.substr(0, EVENT_ID_CAPACITY);
            event.lat = lat;
            event.lon = lon;
            event.originTime = originTime;
            event.orid = orid;
            eventKnown = true;
        }
    }
    std::string id = settings.eventId;
    std::string startText;
    if (catalogue.FindEventStart(id, startText, static_cast<float>(settings.windowSeconds)) != 0) {
        const int status = ReportFailedQuery(catalogue);
        if (status != STATUS_OK)
            return status;
        std::printf("Not found ID=%s in database %s!\n", settings.eventId.c_str(),
                    settings.dsn.c_str());
        return STATUS_EVENT_NOT_FOUND;
    }
    settings.eventId = id.substr(0, EVENT_ID_CAPACITY);
    settings.startText = startText.substr(0, START_TEXT_CAPACITY);
    return STATUS_OK;
}

TimeWindow ComputeWindow(Settings& settings) {
    const bool current = IsCurrentStart(settings.startText);
    double start = 0.0;
    if (current) {
        start = NextWholeMinute();
    } else {
        CalendarFields fields;
        ParseStartFields(settings.startText, fields);
        start = EpochFromCalendar(fields.year, fields.month, fields.day, fields.hour, fields.minute,
                                  fields.second);
    }
    if (settings.segmentSeconds != 0) {
        // Moves forward to the next multiple of the segment length after the whole second,
        // by a full segment when already on one; the fraction of a second stays. The
        // remainder is taken non-negative so that times before 1970 move forward too.
        double remainder = std::fmod(std::trunc(start), settings.segmentSeconds);
        if (remainder < 0.0)
            remainder += settings.segmentSeconds;
        start = start - remainder + settings.segmentSeconds;
    }
    if (settings.windowSeconds < 0) {
        settings.windowSeconds =
            settings.windowSeconds == INT_MIN ? INT_MAX : -settings.windowSeconds;
        start -= settings.windowSeconds;
    }
    settings.startTime = start;

    TimeWindow window;
    window.start = current && settings.segmentSeconds == 0 ? start - settings.windowSeconds : start;
    window.length = settings.windowSeconds;
    return window;
}
