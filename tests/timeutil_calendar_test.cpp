#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "timeutil/calendar.h"

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date, counted from the 400-year era
// structure instead of the year/leap-day sums the code under test uses.
long long DaysFromCivil(int year, int month, int day) {
    const long long y = month <= 2 ? year - 1 : year;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yearOfEra = y - era * 400;
    const long long dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct Fields {
    int year, month, day, hour, minute;
    float second;
};

}  // namespace

TEST(CalendarFromEpoch, GivesTheWorkedValuesAndCycleBoundaries) {
    struct Case {
        double epoch;
        Fields fields;
    };
    const Case cases[] = {
        {0.0, {1970, 1, 1, 0, 0, 0.0f}},
        {951782400.0, {2000, 2, 29, 0, 0, 0.0f}},
        {978220800.0, {2000, 12, 31, 0, 0, 0.0f}},  // last day of a 400-year cycle
        {978307200.0, {2001, 1, 1, 0, 0, 0.0f}},
        {851990400.0, {1996, 12, 31, 0, 0, 0.0f}},  // last day of a 4-year cycle
        {852076800.0, {1997, 1, 1, 0, 0, 0.0f}},
        {983787900.0, {2001, 3, 5, 10, 25, 0.0f}},
        {-1.0, {1969, 12, 31, 23, 59, 59.0f}},
        {4107542400.0, {2100, 3, 1, 0, 0, 0.0f}},  // 2100 has no 29 February
        {-11676096000.0, {1600, 1, 1, 0, 0, 0.0f}},
        {983787959.9999, {2001, 3, 5, 10, 25, 59.9999f}},  // the second never carries
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::fixed << c.epoch);
        Fields got = {};
        ASSERT_EQ(CalendarFromEpoch(c.epoch, got.year, got.month, got.day, got.hour, got.minute,
                                    got.second),
                  1);
        EXPECT_EQ(got.year * 10000 + got.month * 100 + got.day,
                  c.fields.year * 10000 + c.fields.month * 100 + c.fields.day);
        EXPECT_EQ(got.hour * 100 + got.minute, c.fields.hour * 100 + c.fields.minute);
        EXPECT_NEAR(got.second, c.fields.second, 1e-4);
    }
    const CalendarFields worked = CalendarOf(983787900.0);
    EXPECT_EQ(worked.year * 10000 + worked.month * 100 + worked.day, 20010305);
    EXPECT_EQ(worked.hour * 100 + worked.minute, 1025);
}

TEST(CalendarFromEpoch, RefusesTimesBeforeYearOneOrBeyondTheFields) {
    struct Case {
        double epoch;
        bool timeWritten;  // the time of day is written even where the date cannot be
    };
    const Case cases[] = {{-62135596800.0 - 2 * 86400.0 + 3661.0, true},
                          {std::nan(""), false},
                          {HUGE_VAL, false},
                          {-HUGE_VAL, false},
                          {1.0e300, false},
                          {-1.0e15, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.epoch);
        int year = 7, month = 7, day = 7, hour = 7, minute = 7;
        float second = 7.0f;
        EXPECT_EQ(CalendarFromEpoch(c.epoch, year, month, day, hour, minute, second), 0);
        EXPECT_EQ(year + month + day, 21);
        if (!c.timeWritten) {
            EXPECT_EQ(hour + minute, 14);
            const CalendarFields fields = CalendarOf(c.epoch);
            EXPECT_EQ(fields.year + fields.month + fields.day + fields.hour + fields.minute, 0);
        }
    }
}

TEST(EpochFromCalendar, GivesTheWorkedValuesAndCarriesLargeFields) {
    struct Case {
        Fields fields;
        double epoch;
    };
    const Case cases[] = {
        {{2000, 2, 29, 12, 0, 0.0f}, 951825600.0},
        {{2001, 3, 5, 10, 25, 30.5f}, 983787930.5},
        {{2003, 1, 32, 0, 0, 0.0f}, 1044057600.0},  // day 32 is 1 February
        {{2003, 1, 31, 24, 0, 0.0f}, 1044057600.0},
        {{2004, 3, 2, 10, 80, 0.0f}, 1078226400.0},  // minute 80 is 11:20
        {{1969, 12, 31, 23, 59, 59.0f}, -1.0},
        {{1968, 1, 1, 0, 0, 0.0f}, -63158400.0},  // a leap year before 1970
        {{1968, 3, 1, 0, 0, 0.0f}, -57974400.0},
        {{1900, 3, 1, 0, 0, 0.0f}, -2203891200.0},  // a century without 29 February
        {{1600, 1, 1, 0, 0, 0.0f}, -11676096000.0},
        {{1, 1, 1, 0, 0, 0.0f}, -62135596800.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.fields.year << '-' << c.fields.month << '-' << c.fields.day);
        EXPECT_EQ(EpochFromCalendar(c.fields.year, c.fields.month, c.fields.day, c.fields.hour,
                                    c.fields.minute, c.fields.second),
                  c.epoch);
    }
    // Fields at the limits of int must not overflow.
    EXPECT_EQ(EpochFromCalendar(2003, 1, INT_MAX, 0, 0, 0.0f),
              EpochFromCalendar(2003, 1, 1, 0, 0, 0.0f) + (INT_MAX - 1.0) * 86400.0);
    EXPECT_TRUE(std::isfinite(EpochFromCalendar(INT_MIN, 1, 1, 0, 0, 0.0f)));
    EXPECT_TRUE(std::isfinite(EpochFromCalendar(INT_MAX, 12, 31, INT_MAX, INT_MAX, 0.0f)));
}

TEST(Calendar, RoundTripsEveryDayFromYearOneThrough2100) {
    const double timesOfDay[] = {0.0, 1.0, 43200.25, 86399.5};
    for (int year = 1; year <= 2100; ++year) {
        for (int month = 1; month <= 12; ++month) {
            const long long first = DaysFromCivil(year, month, 1);
            const long long next =
                month == 12 ? DaysFromCivil(year + 1, 1, 1) : DaysFromCivil(year, month + 1, 1);
            for (int day = 1; day <= next - first; ++day) {
                for (double timeOfDay : timesOfDay) {
                    const double epoch = static_cast<double>(first + day - 1) * 86400.0 + timeOfDay;
                    Fields f = {};
                    ASSERT_EQ(CalendarFromEpoch(epoch, f.year, f.month, f.day, f.hour, f.minute,
                                                f.second),
                              1);
                    ASSERT_TRUE(f.year == year && f.month == month && f.day == day)
                        << year << '-' << month << '-' << day << " read " << f.year << '-'
                        << f.month << '-' << f.day;
                    ASSERT_EQ(EpochFromCalendar(f.year, f.month, f.day, f.hour, f.minute, f.second),
                              epoch)
                        << year << '-' << month << '-' << day << " + " << timeOfDay;
                }
            }
        }
    }
}

TEST(DayNumbers, FollowTheGregorianLeapYearRule) {
    struct Case {
        int year, month, day, leap, julian;
    };
    const Case cases[] = {
        {2001, 3, 5, 0, 2001064},   {2000, 2, 29, 1, 2000060}, {2000, 3, 5, 1, 2000065},
        {2000, 12, 31, 1, 2000366}, {1900, 3, 1, 0, 1900060},  // divisible by 100 but not by 400
        {2004, 1, 1, 1, 2004001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.year << '-' << c.month << '-' << c.day);
        EXPECT_EQ(IsLeapYear(c.year), c.leap);
        EXPECT_EQ(JulianDate(c.year, c.month, c.day), c.julian);
        int month = -1, day = -1;
        EXPECT_EQ(MonthDayFromDayOfYear(c.julian % 1000, month, day, c.year), 1);
        EXPECT_EQ(month * 100 + day, c.month * 100 + c.day);
    }
    struct Outside {
        int dayOfYear, year;
    };
    for (const Outside& o : {Outside{366, 2001}, Outside{367, 2000}, Outside{0, 2001}}) {
        SCOPED_TRACE(testing::Message() << o.dayOfYear << " of " << o.year);
        int month = -1, day = -1;
        EXPECT_EQ(MonthDayFromDayOfYear(o.dayOfYear, month, day, o.year), 0);
        EXPECT_EQ(month, 0);
        EXPECT_EQ(day, 0);
    }
}
