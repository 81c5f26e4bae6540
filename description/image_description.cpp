#include "description/image_description.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "timeutil/calendar.h"

namespace {

using Json = nlohmann::ordered_json;

Json Times(const TimeSpan& span) {
    return Json{{"start", IsoTime(span.start)}, {"end", IsoTime(span.end)}};
}

// The scale of a row; "common" only where the range is the one shared by every automatic row.
Json ScaleJson(const DescribedRow& row) {
    Json scale{{"auto", row.autoScale}, {"min", row.scaleMin}, {"max", row.scaleMax}};
    if (row.commonScale)
        scale["common"] = true;
    return scale;
}

Json RowJson(const DescribedRow& row) {
    Json filter = nullptr;
    if (row.filter.enabled) {
        filter = Json{{"low", row.filter.low},
                      {"high", row.filter.high},
                      {"order", row.filter.order},
                      {"applied", row.filterApplied}};
    }
    Json gaps = Json::array();
    for (const TimeSpan& gap : row.gaps) gaps.push_back(Times(gap));
    Json picks = Json::array();
    for (const DescribedPick& pick : row.picks)
        picks.push_back(Json{{"phase", pick.phase}, {"time", IsoTime(pick.time)}, {"x", pick.x}});
    return Json{
        {"row", row.number},
        {"station", row.station},
        {"channel", row.channel},
        {"network", row.hasStreamCodes ? Json(row.network) : Json(nullptr)},
        {"location", row.hasStreamCodes ? Json(row.location) : Json(nullptr)},
        {"band", Json{{"top", row.bandTop}, {"height", row.bandHeight}}},
        {"start", IsoTime(row.start)},
        {"end", IsoTime(row.end)},
        {"filter", filter},
        {"prerollSeconds", row.prerollSeconds},
        {"scale", ScaleJson(row)},
        {"sampleRates", row.sampleRates},
        {"completeness", row.completeness},
        {"gaps", gaps},
        {"picks", picks},
        {"distanceKm", row.hasDistance ? Json(row.distanceKm) : Json(nullptr)},
    };
}

}  // namespace

std::string IsoTime(double epoch) {
    // Whole milliseconds, rounded; the calendar fields of the whole second.
    const double milliseconds = std::round(epoch * 1000.0);
    const double seconds = std::floor(milliseconds / 1000.0);
    const int millis = static_cast<int>(milliseconds - seconds * 1000.0);
    const CalendarFields f = CalendarOf(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", f.year, f.month, f.day,
                  f.hour, f.minute, static_cast<int>(f.second), millis);
    return text;
}

bool IsWritableTime(double epoch) {
    // Compared as IsoTime rounds it, so that an instant a fraction of a millisecond before
    // the year 10000 counts as in it.
    const double seconds = std::round(epoch * 1000.0) / 1000.0;
    return seconds >= EpochFromCalendar(1, 1, 1, 0, 0, 0.0f) &&
           seconds < EpochFromCalendar(10000, 1, 1, 0, 0, 0.0f);
}

bool WriteImageDescription(std::FILE* stream, const ImageDescription& d) {
    Json event = nullptr;
    if (d.eventKnown) {
        event = Json{{"id", d.eventId},
                     {"orid", d.eventOrid},
                     {"originTime", IsoTime(d.eventOriginTime)},
                     {"latitude", d.eventLatitude},
                     {"longitude", d.eventLongitude}};
    }
    Json rows = Json::array();
    for (const DescribedRow& row : d.rows) rows.push_back(RowJson(row));
    const Json document{
        {"image", Json{{"file", d.imageFile},
                       {"format", d.format},
                       {"width", d.width},
                       {"height", d.height}}},
        {"window",
         Json{{"start", IsoTime(d.windowStart)},
              {"end", IsoTime(d.windowEnd)},
              {"seconds", d.windowSeconds},
              {"mode", d.segmentMode ? "segment" : "normal"},
              {"segmentSeconds", d.segmentMode ? Json(d.segmentSeconds) : Json(nullptr)}}},
        {"event", event},
        {"rows", rows},
    };
    // Texts from the archive need not be UTF-8 (a code page's letters in a station code);
    // they are written with the invalid bytes replaced rather than refused.
    const std::string text = document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size() &&
           std::ferror(stream) == 0;
}
