#pragma once

#include <string_view>

// Converts an ISO 8601 date and time as StationXML and QuakeML write it ("2024-03-01T12:30:05.25Z",
// with or without the fraction, with "Z", a "+hh:mm" or "-hh:mm" offset, or no zone at all,
// which is read as UTC; a date alone is midnight) to epoch seconds. Blanks around the text are
// ignored. Returns 0 with epoch set; 1 when the text is no such time, epoch unchanged.
int ParseIsoTime(std::string_view text, double& epoch);

// Returns text without the blanks (spaces, tabs, carriage returns, line feeds) around it, as
// XML Schema reads a number or a time.
std::string_view TrimBlanks(std::string_view text);
