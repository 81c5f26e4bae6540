#pragma once

#include <optional>
#include <string>
#include <vector>

// The four codes that name one stream of an SDS archive; an empty location is "".
struct SdsStream {
    std::string network;
    std::string station;
    std::string location;
    std::string channel;
};

// Returns the day files of stream under root that hold samples of the window [t1, t2] (epoch
// seconds, UTC): the file of every day from the one before t1's day to t2's day, in ascending
// order. The day before is there because a record that starts before midnight stays in that
// day's file and may hold samples after it; t2's day is left out when t2 falls exactly on its
// midnight after t1, as no sample before t2 can lie in it. A day file is
// <root>/<YEAR>/<NET>/<STA>/<CHA>.D/<NET>.<STA>.<LOC>.<CHA>.D.<YEAR>.<DOY> with a three-digit
// day of year; the dots stay when the location is empty. Files are not checked for existence.
// Times that are not finite, or t2 before t1, give no files.
std::vector<std::string> SdsDayPaths(const std::string& root, const SdsStream& stream, double t1,
                                     double t2);

// Completes the codes of a station's channel in the SDS archive under root for the window
// [t1, t2] (epoch seconds), looking only at the network folders of the window's years
// (<root>/<YEAR>/) and the day-file names in the channel's folders. Without a network, the
// network is the one whose folder holds the station, the first alphabetically when several
// do; without a location, the empty location code when a day file has it, else the first
// found alphabetically. A given network or location is kept as it is. Each choice among
// several adds one line of text to notes (without a newline) for the caller to print.
// Returns 1 with stream filled when the network and the location were found or given;
// 0 when the station is in no network folder or the channel has no day file of the window's
// years, with stream holding what was found (an empty location where none was).
int ResolveSdsStream(const std::string& root, const std::optional<std::string>& network,
                     const std::string& station, const std::optional<std::string>& location,
                     const std::string& channel, double t1, double t2, SdsStream& stream,
                     std::vector<std::string>& notes);
