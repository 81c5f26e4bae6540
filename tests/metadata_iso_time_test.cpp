#include <gtest/gtest.h>

#include "metadata/iso_time.h"

namespace {

constexpr double MARCH_1_2024 = 1709251200.0;  // 2024-03-01T00:00:00Z

}  // namespace

TEST(IsoTime, ReadsUtcTimesWithFractionsAndZones) {
    struct Case {
        const char* text;
        double expected;  // epoch seconds
    };
    const Case cases[] = {
        {"2024-03-01T10:00:12.25Z", MARCH_1_2024 + 36012.25},
        {"2024-03-01T10:00:12.123456Z", MARCH_1_2024 + 36012.123456},  // microseconds
        {"2024-03-01T10:00:12Z", MARCH_1_2024 + 36012.0},
        {"2024-03-01T10:00:12", MARCH_1_2024 + 36012.0},  // no zone: UTC
        {"2024-03-01T12:00:12+02:00", MARCH_1_2024 + 36012.0},
        {"2024-03-01T08:30:12.5-01:30", MARCH_1_2024 + 36012.5},
        {"2024-03-01", MARCH_1_2024},
        {"  2024-03-01T00:00:00Z\n", MARCH_1_2024},
        {"2024-02-29T23:59:60Z", MARCH_1_2024},  // a leap second carries into the next day
        {"2024-02-29T24:00:00Z", MARCH_1_2024},  // the end of the day
        {"1969-12-31T23:59:59.5Z", -0.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        double epoch = -1.0;
        ASSERT_EQ(ParseIsoTime(c.text, epoch), 0);
        EXPECT_NEAR(epoch, c.expected, 1e-6);
    }
}

TEST(IsoTime, RejectsTextsThatAreNoTime) {
    const char* cases[] = {
        "",
        "yesterday",
        "2024-3-01T10:00:00Z",
        "2024-13-01T10:00:00Z",
        "2024-03-01T10:00Z",
        "2024-03-01T10:61:00Z",
        "2024-03-01T24:00:01Z",
        "2024-03-01T10:00:00.Z",
        "2024-03-01T10:00:00ZZ",
        "2024-03-01T10:00:00+0200",
        "2024-03-01 10:00:00",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        double epoch = 42.0;
        EXPECT_EQ(ParseIsoTime(text, epoch), 1);
        EXPECT_EQ(epoch, 42.0);
    }
}
