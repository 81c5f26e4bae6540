#include "timeutil/calendar.h"

#include <cmath>

namespace {

const int DAYS_BEFORE_MONTH[13] = {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
const int DAYS_IN_MONTH[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Seconds from 0001-01-01 to 1970-01-01 in the proleptic Gregorian calendar.
const double EPOCH_OFFSET = 62135596800.0;

// Beyond some three million years the year no longer fits an int.
const double EPOCH_LIMIT = 1.0e14;

// The quotient rounded toward minus infinity, so that years before 1970 count their leap
// days as exactly as years after it.
long long FloorDivide(long long numerator, long long denominator) {
    const long long quotient = numerator / denominator;
    return quotient * denominator > numerator ? quotient - 1 : quotient;
}

int DayOfYear(int year, int month, int day) {
    int dayOfYear = DAYS_BEFORE_MONTH[month] + day;
    if (month > 2 && IsLeapYear(year) == 1)
        dayOfYear += 1;
    return dayOfYear;
}

}  // namespace

int IsLeapYear(int year) {
    if (year % 400 == 0)
        return 1;
    if (year % 4 != 0)
        return 0;
    if (year % 100 == 0)
        return 0;
    return 1;
}

double EpochFromCalendar(int year, int month, int day, int hour, int minute, float second) {
    // Wide integers and doubles: the fields come unchecked from the command line, and a
    // year or day near the limits of int must not overflow.
    const long long y = static_cast<long long>(year) - 1970;
    const long long leapDays =
        FloorDivide(y + 1, 4) - FloorDivide(y + 69, 100) + FloorDivide(y + 369, 400);
    double dayOfYear = DAYS_BEFORE_MONTH[month] + static_cast<double>(day);
    if (month > 2 && IsLeapYear(year) == 1)
        dayOfYear += 1.0;
    const double days =
        static_cast<double>(y) * 365.0 + static_cast<double>(leapDays) + dayOfYear - 1.0;
    return days * 86400.0 + hour * 3600.0 + minute * 60.0 + static_cast<double>(second);
}

int CalendarFromEpoch(double epoch, int& year, int& month, int& day, int& hour, int& minute,
                      float& second) {
    if (!(std::fabs(epoch) < EPOCH_LIMIT))
        return 0;
    const double t = epoch + EPOCH_OFFSET;
    double whole = 0.0;
    const double fraction = std::modf(t, &whole);
    double days = std::trunc(whole / 86400.0);
    double rest = whole - days * 86400.0;
    const double hours = std::trunc(rest / 3600.0);
    rest -= hours * 3600.0;
    const double minutes = std::trunc(rest / 60.0);
    rest -= minutes * 60.0;
    hour = static_cast<int>(hours);
    minute = static_cast<int>(minutes);
    second = static_cast<float>(rest + fraction);

    const double c400 = std::trunc(days / 146097.0);
    days -= c400 * 146097.0;
    // The last day of a 400-year cycle and of a 4-year cycle would otherwise count as
    // day 0 of a century or year that does not exist.
    const double c100 = days == 146096.0 ? 3.0 : std::trunc(days / 36524.0);
    days -= c100 * 36524.0;
    const double c4 = std::trunc(days / 1461.0);
    days -= c4 * 1461.0;
    double c1 = std::trunc(days / 365.0);
    if (c1 == 4.0)
        c1 = 3.0;
    days -= c1 * 365.0;

    const int fullYear = static_cast<int>(400.0 * c400 + 100.0 * c100 + 4.0 * c4 + c1 + 1.0);
    int foundMonth = 0;
    int foundDay = 0;
    if (MonthDayFromDayOfYear(static_cast<int>(days + 1.0), foundMonth, foundDay, fullYear) != 1)
        return 0;
    year = fullYear;
    month = foundMonth;
    day = foundDay;
    return 1;
}

int MonthDayFromDayOfYear(int dayOfYear, int& month, int& day, int year) {
    month = 0;
    day = 0;
    if (dayOfYear < 1)
        return 0;
    int remaining = dayOfYear;
    for (int m = 1; m <= 12; ++m) {
        int length = DAYS_IN_MONTH[m];
        if (m == 2 && IsLeapYear(year) == 1)
            length = 29;
        if (remaining - length <= 0) {
            month = m;
            day = remaining;
            return 1;
        }
        remaining -= length;
    }
    return 0;
}

int JulianDate(int year, int month, int day) { return year * 1000 + DayOfYear(year, month, day); }

CalendarFields CalendarOf(double epoch) {
    CalendarFields fields;
    CalendarFromEpoch(epoch, fields.year, fields.month, fields.day, fields.hour, fields.minute,
                      fields.second);
    return fields;
}
