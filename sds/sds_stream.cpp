#include "sds/sds_stream.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>

#include "timeutil/calendar.h"

namespace {

constexpr double SECONDS_PER_DAY = 86400.0;

// The days (counted from 1970-01-01) whose files hold samples of [t1, t2]; first > last when
// there are none.
void WindowDays(double t1, double t2, long long& first, long long& last) {
    first = 1;
    last = 0;
    if (!std::isfinite(t1) || !std::isfinite(t2) || t2 < t1)
        return;
    first = static_cast<long long>(std::floor(t1 / SECONDS_PER_DAY)) - 1;
    last = static_cast<long long>(std::floor(t2 / SECONDS_PER_DAY));
    if (t2 > t1 && static_cast<double>(last) * SECONDS_PER_DAY == t2)
        last -= 1;
}

// The year and day of year of a day counted from 1970-01-01.
void YearAndDay(long long day, int& year, int& dayOfYear) {
    const CalendarFields fields = CalendarOf(static_cast<double>(day) * SECONDS_PER_DAY);
    year = fields.year;
    dayOfYear = JulianDate(fields.year, fields.month, fields.day) % 1000;
}

std::string YearText(int year) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d", year);
    return text;
}

std::string JoinPath(const std::string& root, const std::string& name) {
    if (root.empty() || root.back() == '/')
        return root + name;
    return root + "/" + name;
}

// The years of the window's day files, ascending.
std::set<int> WindowYears(double t1, double t2) {
    long long first = 0;
    long long last = 0;
    WindowDays(t1, t2, first, last);
    std::set<int> years;
    for (long long day = first; day <= last; ++day) {
        int year = 0;
        int dayOfYear = 0;
        YearAndDay(day, year, dayOfYear);
        years.insert(year);
    }
    return years;
}

// Returns the names of the entries of a folder; none when it cannot be read.
std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator entry(folder, error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error))
        names.push_back(entry->path().filename().string());
    return names;
}

bool IsFolder(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

// Returns "A, B, C" of the codes, each in quotes when quoted is set (an empty location code
// must still show).
std::string ListCodes(const std::set<std::string>& codes, bool quoted) {
    std::string text;
    for (const std::string& code : codes) {
        if (!text.empty())
            text += ", ";
        text += quoted ? "\"" + code + "\"" : code;
    }
    return text;
}

}  // namespace

std::vector<std::string> SdsDayPaths(const std::string& root, const SdsStream& stream, double t1,
                                     double t2) {
    long long first = 0;
    long long last = 0;
    WindowDays(t1, t2, first, last);
    std::vector<std::string> paths;
    for (long long day = first; day <= last; ++day) {
        int year = 0;
        int dayOfYear = 0;
        YearAndDay(day, year, dayOfYear);
        char doy[8];
        std::snprintf(doy, sizeof doy, "%03d", dayOfYear);
        const std::string yearText = YearText(year);
        const std::string codes = stream.network + "." + stream.station + "." + stream.location +
                                  "." + stream.channel + ".D." + yearText + "." + doy;
        paths.push_back(JoinPath(root, yearText + "/" + stream.network + "/" + stream.station +
                                           "/" + stream.channel + ".D/" + codes));
    }
    return paths;
}

int ResolveSdsStream(const std::string& root, const std::optional<std::string>& network,
                     const std::string& station, const std::optional<std::string>& location,
                     const std::string& channel, double t1, double t2, SdsStream& stream,
                     std::vector<std::string>& notes) {
    stream.network = network.value_or("");
    stream.station = station;
    stream.location = location.value_or("");
    stream.channel = channel;
    const std::set<int> years = WindowYears(t1, t2);

    if (!network) {
        std::set<std::string> networks;
        for (int year : years) {
            const std::string yearFolder = JoinPath(root, YearText(year));
            for (const std::string& name : FolderNames(yearFolder)) {
                if (IsFolder(yearFolder + "/" + name + "/" + station))
                    networks.insert(name);
            }
        }
        if (networks.empty())
            return 0;
        stream.network = *networks.begin();
        if (networks.size() > 1)
            notes.push_back("Station " + station + " is in networks " + ListCodes(networks, false) +
                            "; using " + stream.network);
    }

    if (!location) {
        // A day file's name is NET.STA.LOC.CHA.D.YEAR.DOY; a location code holds no dot.
        const std::string prefix = stream.network + "." + station + ".";
        const std::string suffix = "." + channel + ".D.";
        std::set<std::string> locations;
        for (int year : years) {
            const std::string folder = JoinPath(
                root, YearText(year) + "/" + stream.network + "/" + station + "/" + channel + ".D");
            for (const std::string& name : FolderNames(folder)) {
                if (name.compare(0, prefix.size(), prefix) != 0)
                    continue;
                const std::size_t dot = name.find('.', prefix.size());
                if (dot == std::string::npos || name.compare(dot, suffix.size(), suffix) != 0)
                    continue;
                locations.insert(name.substr(prefix.size(), dot - prefix.size()));
            }
        }
        if (locations.empty())
            return 0;
        stream.location = locations.count("") > 0 ? std::string() : *locations.begin();
        if (locations.size() > 1)
            notes.push_back("Station " + stream.network + "." + station + " channel " + channel +
                            " has locations " + ListCodes(locations, true) + "; using \"" +
                            stream.location + "\"");
    }
    return 1;
}
