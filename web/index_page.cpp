#include "web/index_page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "dsp/coverage.h"
#include "timeutil/calendar.h"

namespace {

using Json = nlohmann::json;

// The colours of the completeness badges: complete, nearly, poorly, no data.
constexpr double COMPLETE = 0.995;
constexpr double NEARLY_COMPLETE = 0.90;

// True for a time as the descriptions write it, "2004-03-02T10:15:21.291Z": digits in every
// field, so reading its numbers cannot overflow.
bool IsTime(const Json& value) {
    if (!value.is_string())
        return false;
    const std::string& text = value.get_ref<const std::string&>();
    const std::string pattern = "dddd-dd-ddTdd:dd:dd.dddZ";
    if (text.size() != pattern.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == 'd' ? !digit : text[i] != pattern[i])
            return false;
    }
    return true;
}

bool IsSpan(const Json& value) {
    return value.is_object() && value.contains("start") && IsTime(value["start"]) &&
           value.contains("end") && IsTime(value["end"]);
}

bool Has(const Json& object, const char* key, bool (Json::*kind)() const noexcept) {
    return object.is_object() && object.contains(key) && (object[key].*kind)();
}

// The largest side of a picture, pixels: what a GIF can hold. The page adds and subtracts
// pixel numbers of a description, so numbers far beyond it, which no run of ours writes,
// would overflow.
constexpr long long MAX_SIDE = 65535;

// True when object[key] is an integer from low to high.
bool HasIntegerIn(const Json& object, const char* key, long long low, long long high) {
    if (!Has(object, key, &Json::is_number_integer))
        return false;
    const Json& value = object[key];
    // The reader keeps a non-negative integer unsigned, up to 2^64 - 1.
    if (value.is_number_unsigned()) {
        const unsigned long long number = value.get<unsigned long long>();
        return number <= static_cast<unsigned long long>(high) &&
               (low <= 0 || number >= static_cast<unsigned long long>(low));
    }
    const long long number = value.get<long long>();
    return low <= number && number <= high;
}

bool IsRow(const Json& row) {
    if (!Has(row, "station", &Json::is_string) || !Has(row, "channel", &Json::is_string) ||
        !Has(row, "band", &Json::is_object) || !HasIntegerIn(row["band"], "top", 0, MAX_SIDE) ||
        !HasIntegerIn(row["band"], "height", 0, MAX_SIDE) || !row.contains("start") ||
        !IsTime(row["start"]) || !row.contains("end") || !IsTime(row["end"]) ||
        !row.contains("filter") || !Has(row, "scale", &Json::is_object) ||
        !Has(row["scale"], "auto", &Json::is_boolean) ||
        !Has(row["scale"], "min", &Json::is_number) ||
        !Has(row["scale"], "max", &Json::is_number) ||
        !Has(row, "completeness", &Json::is_number) || !Has(row, "gaps", &Json::is_array) ||
        !Has(row, "picks", &Json::is_array) || !Has(row, "sampleRates", &Json::is_array))
        return false;
    const Json& filter = row["filter"];
    if (!filter.is_null() &&
        (!Has(filter, "low", &Json::is_number) || !Has(filter, "high", &Json::is_number) ||
         !Has(filter, "applied", &Json::is_string)))
        return false;
    for (const Json& gap : row["gaps"]) {
        if (!IsSpan(gap))
            return false;
    }
    for (const Json& pick : row["picks"]) {
        if (!Has(pick, "phase", &Json::is_string) || !pick.contains("time") ||
            !IsTime(pick["time"]) || !HasIntegerIn(pick, "x", -MAX_SIDE, MAX_SIDE))
            return false;
    }
    return true;
}

// True when the document has every part of an image description the page uses.
bool IsDescription(const Json& d) {
    if (!Has(d, "image", &Json::is_object) || !Has(d["image"], "file", &Json::is_string) ||
        !HasIntegerIn(d["image"], "width", 1, MAX_SIDE) ||
        !HasIntegerIn(d["image"], "height", 1, MAX_SIDE) || !Has(d, "window", &Json::is_object) ||
        !IsSpan(d["window"]) || !Has(d["window"], "mode", &Json::is_string) ||
        !Has(d, "rows", &Json::is_array))
        return false;
    const std::string file = d["image"]["file"];
    // A picture of this folder, named without a folder of its own.
    if (file.empty() || file.find_first_of("/\\") != std::string::npos || file == "." ||
        file == "..")
        return false;
    for (const Json& row : d["rows"]) {
        if (!IsRow(row))
            return false;
    }
    return true;
}

// Epoch seconds of an ISO 8601 time as the descriptions write them.
double EpochOf(const std::string& iso) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
    if (std::sscanf(iso.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &year, &month, &day, &hour, &minute,
                    &second, &millis) != 7 ||
        month < 1 || month > 12)
        return 0.0;
    return EpochFromCalendar(year, month, day, hour, minute, static_cast<float>(second)) +
           millis / 1000.0;
}

// "2004-03-02 10:15:21.291" from "2004-03-02T10:15:21.291Z".
std::string Readable(const std::string& iso) {
    std::string text = iso;
    if (!text.empty() && text.back() == 'Z')
        text.pop_back();
    std::replace(text.begin(), text.end(), 'T', ' ');
    return text;
}

std::string Number(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// The pixel column of a time in a row, as the samples are mapped.
int Column(double time, double rowStart, double rowEnd, int width) {
    const double span = rowEnd - rowStart;
    if (!(span > 0.0))
        return 1;
    const double x = 1.0 + (time - rowStart) * (width - 2) / span;
    return static_cast<int>(std::max(-1.0e6, std::min(1.0e6, x)));
}

std::string Area(int x1, int y1, int x2, int y2, const std::string& title) {
    const std::string text = EscapeHtml(title);
    return "      <area shape=\"rect\" coords=\"" + std::to_string(x1) + "," + std::to_string(y1) +
           "," + std::to_string(x2) + "," + std::to_string(y2) + "\" title=\"" + text +
           "\" alt=\"" + text + "\">\n";
}

std::string Percent(double completeness) {
    return Number(CompletenessPercent(completeness), 1) + " %";
}

std::string BadgeClass(const Json& row) {
    const double completeness = row["completeness"];
    if (completeness <= 0.0)
        return "none";
    if (completeness >= COMPLETE)
        return "good";
    return completeness >= NEARLY_COMPLETE ? "fair" : "poor";
}

std::string FilterText(const Json& filter) {
    if (filter.is_null())
        return "no filter";
    const std::string applied = filter["applied"];
    return "filter " + Number(filter["low"].get<double>(), 2) + "-" +
           Number(filter["high"].get<double>(), 2) + " Hz, applied: " + applied;
}

// One figure: the picture with its map, caption and badges; pictureFolder as in PageSettings.
std::string Figure(const Json& d, int number, const std::string& pictureFolder) {
    const Json& image = d["image"];
    const Json& window = d["window"];
    const int width = image["width"];
    const std::string map = "picture-" + std::to_string(number);
    const std::string file = image["file"];
    const bool drum = window["mode"] == "segment";

    std::string areas;
    std::string badges;
    std::vector<std::string> stations;
    for (const Json& row : d["rows"]) {
        const std::string station = row["station"];
        const std::string channel = row["channel"];
        const int top = row["band"]["top"];
        const int height = row["band"]["height"];
        const double rowStart = EpochOf(row["start"]);
        const double rowEnd = EpochOf(row["end"]);
        // The first area that holds a point wins: marks and bars before their band.
        for (const Json& pick : row["picks"]) {
            const int x = pick["x"];
            areas += Area(x - 3, top, x + 3, top + height,
                          pick["phase"].get<std::string>() + " " + Readable(pick["time"]) +
                              " UTC, " + station + " " + channel);
        }
        for (const Json& gap : row["gaps"]) {
            const double start = EpochOf(gap["start"]);
            const double end = EpochOf(gap["end"]);
            const int first = Column(start, rowStart, rowEnd, width);
            const int last = std::max(first, Column(end, rowStart, rowEnd, width) - 1);
            areas +=
                Area(first, top + height - 6, last, top + height,
                     "gap " + Readable(gap["start"]) + " to " + Readable(gap["end"]) + " UTC (" +
                         Number(end - start, 1) + " s), " + station + " " + channel);
        }
        const Json& scale = row["scale"];
        areas += Area(0, top, width - 1, top + height,
                      station + " " + channel + ", " + FilterText(row["filter"]) + ", scale " +
                          (scale["auto"].get<bool>() ? "auto " : "fixed ") +
                          Number(scale["min"].get<double>(), 0) + " to " +
                          Number(scale["max"].get<double>(), 0) + ", " +
                          Percent(row["completeness"]) + " complete");
        const std::string label = drum ? Readable(row["start"]).substr(11, 8) : station;
        badges += "      <span class=\"badge " + BadgeClass(row) + "\" title=\"" +
                  EscapeHtml(station + " " + channel) + "\">" + EscapeHtml(label) + " " +
                  EscapeHtml(Percent(row["completeness"])) + "</span>\n";
        if (std::find(stations.begin(), stations.end(), station) == stations.end())
            stations.push_back(station);
    }
    std::string who;
    for (const std::string& station : stations) who += (who.empty() ? "" : ", ") + station;
    std::string caption = Readable(window["start"]) + " to " + Readable(window["end"]) + " UTC, ";
    caption += drum ? "segment mode, drum recorder of " + who : "normal mode: " + who;

    std::string html = "  <figure>\n";
    html += "    <img src=\"" + EscapeHtml(EncodeUrlPath(pictureFolder + file)) + "\" width=\"" +
            std::to_string(width) + "\" height=\"" + std::to_string(image["height"].get<int>()) +
            "\" usemap=\"#" + map + "\" alt=\"" + EscapeHtml(caption) + "\">\n";
    html += "    <map name=\"" + map + "\">\n" + areas + "    </map>\n";
    html += "    <figcaption>" + EscapeHtml(caption) + "\n    <div class=\"badges\">\n" + badges +
            "    </div></figcaption>\n";
    html += "  </figure>\n";
    return html;
}

}  // namespace

std::string EscapeHtml(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&#39;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string EncodeUrlPath(const std::string& path) {
    static const char HEX[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(path.size());
    for (char c : path) {
        const unsigned char byte = static_cast<unsigned char>(c);
        // Letters and digits of ASCII only, whatever the locale says.
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                          c == '/';
        if (kept) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += HEX[byte >> 4];
            encoded += HEX[byte & 0x0F];
        }
    }
    return encoded;
}

std::string BuildIndexPage(const std::string& folder, const PageSettings& settings,
                           PageContents& contents) {
    std::error_code error;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".json" && entry.is_regular_file(error))
            files.push_back(entry.path());
    }
    // In name order, which settles the ties of equal windows.
    std::sort(files.begin(), files.end());
    std::vector<DescriptionText> texts;
    for (const std::filesystem::path& path : files) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        texts.push_back(DescriptionText{path.filename().string(), text.str()});
    }
    return BuildIndexPageFromTexts(texts, settings, contents);
}

std::string BuildIndexPageFromTexts(const std::vector<DescriptionText>& texts,
                                    const PageSettings& settings, PageContents& contents) {
    // The descriptions, newest window first; the order given settles ties.
    std::vector<std::pair<std::string, Json>> descriptions;
    for (const DescriptionText& description : texts) {
        Json document = Json::parse(description.text, nullptr, false);
        bool ours = false;
        try {
            ours = !document.is_discarded() && IsDescription(document);
        } catch (const Json::exception&) {
            ours = false;
        }
        if (!ours) {
            contents.skipped.push_back(description.fileName);
            continue;
        }
        descriptions.emplace_back(document["window"]["start"].get<std::string>(),
                                  std::move(document));
    }
    std::stable_sort(descriptions.begin(), descriptions.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });

    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    if (settings.refreshSeconds > 0)
        html += "<meta http-equiv=\"refresh\" content=\"" +
                std::to_string(settings.refreshSeconds) + "\">\n";
    html += "<title>" + EscapeHtml(settings.title) + "</title>\n";
    html +=
        "<style>\n"
        "body { font-family: sans-serif; margin: 8px; background: #fff; color: #000; }\n"
        "figure { margin: 0 0 24px 0; }\n"
        "img { display: block; border: 0; }\n"
        "figcaption { margin-top: 4px; }\n"
        ".badges { margin-top: 4px; }\n"
        ".badge { display: inline-block; margin: 2px; padding: 2px 6px; border-radius: 4px; "
        "color: #000; }\n"
        ".good { background: rgb(0, 160, 0); color: #fff; }\n"
        ".fair { background: rgb(255, 176, 0); }\n"
        ".poor { background: rgb(200, 0, 0); color: #fff; }\n"
        ".none { background: rgb(160, 160, 160); }\n"
        "</style>\n</head>\n<body>\n";
    html += "<h1>" + EscapeHtml(settings.title) + "</h1>\n";
    int number = 0;
    for (const auto& description : descriptions) {
        try {
            html += Figure(description.second, number++, settings.pictureFolder);
        } catch (const Json::exception&) {
            // IsDescription let nothing through that Figure cannot read; a backstop only.
        }
    }
    html += "</body>\n</html>\n";
    contents.pictures = number;
    return html;
}
