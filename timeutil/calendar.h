#pragma once

// Epoch time is a double: seconds since 1970-01-01 00:00:00 UTC, 86 400 seconds a day,
// no leap seconds. Calendar fields are always UTC, proleptic Gregorian, and the second is
// a 32-bit float throughout.

// Returns 1 for a Gregorian leap year, else 0.
int IsLeapYear(int year);

// Converts UTC calendar fields to epoch seconds, for years before 1970 as after it.
// Fields are not validated: an hour of 24
// or a day of 32 carries into the next day. The month must lie in 1..12.
double EpochFromCalendar(int year, int month, int day, int hour, int minute, float second);

// Splits epoch seconds into UTC calendar fields. Returns 1 on success; 0 when the day of
// year falls outside its year (epochs before 0001-01-01), with hour, minute and second
// written and year, month and day untouched. The second is never carried into the minute.
// An epoch that is not finite, or too far out for int fields, returns 0 with nothing written.
int CalendarFromEpoch(double epoch, int& year, int& month, int& day, int& hour, int& minute,
                      float& second);

// Finds month and day of a day of year (1 = 1 January). Returns 1 on success; 0 with
// month and day set to 0 when the day lies outside the year.
int MonthDayFromDayOfYear(int dayOfYear, int& month, int& day, int year);

// Returns year × 1000 + day of year, the CSS day number (2001-03-05 gives 2001064).
int JulianDate(int year, int month, int day);

// The UTC calendar fields of one instant.
struct CalendarFields {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    float second = 0.0f;
};

// Returns the calendar fields of epoch seconds, as CalendarFromEpoch splits them; the date
// stays 0 for times before year 1, and every field stays 0 for times CalendarFromEpoch
// cannot split.
CalendarFields CalendarOf(double epoch);
