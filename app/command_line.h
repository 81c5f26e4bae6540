#pragma once

#include <string>

#include "app/settings.h"
#include "timeutil/calendar.h"

// Fills settings from the arguments (argv[0], the program's own path, included). Every
// argument is upper-cased as a whole and matched by prefix against the keywords TBEG=,
// FILE=, CSS, SIZE=/SCREEN=, DATA=, ODBC=, USER=, PASSWORD=, NSEC=, /SHOWMINMAX,
// /SHOWEVENT, /NOLABE, /NOPREVIEW, INI=, EVENTID=/ORID=, in that order; the first match
// decides and an argument that matches none is skipped. Returns true when a run may start;
// false when neither a start text nor an event is given, or an event comes with a CURRENT
// start (the caller then prints the usage text).
bool ParseCommandLine(int argc, char** argv, Settings& settings);

// Writes the usage text to standard output.
void PrintUsage();

// Reads a start text "h:m:s dd.mm.yyyy": hour and minute separated by ':', ',' or blanks,
// the second (with fraction) followed by ',' or blanks, day, month and year separated by
// ':', ',', '.', '/' or blanks. Fields are stored as they are read and not range-checked.
// Returns 1 when all six numbers were read, 0 otherwise.
int ParseStartText(const std::string& text, int& hour, int& minute, float& second, int& day,
                   int& month, int& year);

// Reads a start text as ParseStartText does into calendar fields. Returns 1 when all six
// numbers were read, 0 otherwise.
int ParseStartFields(const std::string& text, CalendarFields& fields);

// Returns 1 when the start text can be turned into a time: all six numbers read, the month
// within 1..12, and the time inside the calendar (year 1 on). A CURRENT start is not a start
// text in this sense.
int IsValidStartText(const std::string& text);
