#include <gtest/gtest.h>

#include "app/settings.h"
#include "app/time_window.h"
#include "timeutil/calendar.h"

namespace {

// Epoch seconds of a UTC time on 2003-02-01.
double OnFebruaryFirst(int hour, int minute, int second) {
    return EpochFromCalendar(2003, 2, 1, hour, minute, static_cast<float>(second));
}

}  // namespace

TEST(ComputeWindow, AlignsSegmentsAndTurnsNegativeWindows) {
    struct Case {
        const char* startText;
        int windowSeconds, segmentSeconds;
        double start;  // S
        int length;    // L
    };
    const Case cases[] = {
        {"12:00:00 01.02.2003", 600, 0, OnFebruaryFirst(12, 0, 0), 600},
        {"12:00:00 01.02.2003", -600, 0, OnFebruaryFirst(11, 50, 0), 600},
        // On a multiple of the segment the start moves a whole segment, else to the next one.
        {"12:00:00 01.02.2003", 3600, 300, OnFebruaryFirst(12, 5, 0), 3600},
        {"12:01:30 01.02.2003", 3600, 300, OnFebruaryFirst(12, 5, 0), 3600},
        // Before 1970 the start moves forward by at most one segment too.
        {"23:58:20 31.12.1969", 120, 60, -60.0, 120},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.startText << " NSEC=" << c.windowSeconds << ':' << c.segmentSeconds);
        Settings settings;
        settings.startText = c.startText;
        settings.windowSeconds = c.windowSeconds;
        settings.segmentSeconds = c.segmentSeconds;
        const TimeWindow window = ComputeWindow(settings);
        EXPECT_EQ(window.start, c.start);
        EXPECT_EQ(window.length, c.length);
        EXPECT_EQ(settings.startTime, c.start);
        EXPECT_EQ(settings.windowSeconds, c.length);
    }
}
