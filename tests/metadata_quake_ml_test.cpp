#include <gtest/gtest.h>

#include <string>

#include "metadata/quake_ml.h"
#include "tests/support/quakeml_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr double MARCH_1_10H = 1709287200.0;  // 2024-03-01T10:00:00Z
constexpr double MARCH_2_05H = 1709355600.0;  // 2024-03-02T05:00:00Z

EventCatalogue ReadFixture() {
    TempDir dir;
    EventCatalogue catalogue;
    EXPECT_EQ(ReadQuakeMl(dir.Write("events.xml", QuakeMlFixture()), catalogue), 0);
    return catalogue;
}

}  // namespace

TEST(QuakeMl, ReadsThePreferredOriginAndItsArrivals) {
    const EventCatalogue catalogue = ReadFixture();
    ASSERT_EQ(catalogue.events.size(), 2u);
    const QuakeEvent& event = catalogue.events[1];
    EXPECT_EQ(event.publicId, "smi:org.test/event/2024abcd");
    ASSERT_TRUE(event.hasOrigin);
    EXPECT_EQ(event.origin.publicId, "smi:org.test/origin/a2");
    EXPECT_EQ(event.origin.time, MARCH_1_10H + 0.5);
    EXPECT_EQ(event.origin.latitude, 45.0);
    EXPECT_EQ(event.origin.longitude, 7.0);
    EXPECT_EQ(event.origin.depth, 10000.0);
    ASSERT_EQ(event.arrivals.size(), 4u);
    EXPECT_EQ(event.arrivals[2].pickId, "smi:org.test/pick/p3");
    EXPECT_EQ(event.arrivals[2].phase, "P");
    EXPECT_EQ(event.arrivals[2].distance, 0.5);
    EXPECT_LT(event.arrivals[3].distance, 0.0);  // not given
}

TEST(QuakeMl, ReadsEveryPickWithItsStreamAndPhaseHint) {
    const EventCatalogue catalogue = ReadFixture();
    ASSERT_EQ(catalogue.events.size(), 2u);
    const QuakeEvent& event = catalogue.events[1];
    // The pick of the extension namespace is not one of them.
    ASSERT_EQ(event.picks.size(), 5u);
    const QuakePick& horizontal = event.picks[2];
    EXPECT_EQ(horizontal.publicId, "smi:org.test/pick/p2");
    EXPECT_EQ(horizontal.time, MARCH_1_10H + 21.0);
    EXPECT_EQ(horizontal.network, "XX");
    EXPECT_EQ(horizontal.station, "ABC");
    EXPECT_EQ(horizontal.location, "");
    EXPECT_EQ(horizontal.channel, "HHE");
    EXPECT_EQ(horizontal.phaseHint, "S");
    EXPECT_EQ(event.picks[1].time, MARCH_1_10H + 12.25);
    const QuakePick& withoutHint = event.picks[3];
    EXPECT_EQ(withoutHint.location, "00");
    EXPECT_EQ(withoutHint.channel, "BHZ");
    EXPECT_EQ(withoutHint.phaseHint, "");
}

TEST(QuakeMl, TakesTheFirstOriginWhenNoneIsPreferred) {
    const EventCatalogue catalogue = ReadFixture();
    ASSERT_EQ(catalogue.events.size(), 2u);
    const QuakeEvent& event = catalogue.events[0];
    EXPECT_EQ(event.publicId, "smi:org.test/event/2024efgh");
    ASSERT_TRUE(event.hasOrigin);
    EXPECT_EQ(event.origin.time, MARCH_2_05H);
    EXPECT_EQ(event.origin.depth, 0.0);
    EXPECT_TRUE(event.arrivals.empty());
    EXPECT_EQ(event.picks.size(), 2u);
}

TEST(QuakeMl, ReadsEventParametersWithoutTheWrapper) {
    TempDir dir;
    const std::string text = R"(<bed:eventParameters xmlns:bed="http://quakeml.org/xmlns/bed/1.2">
  <bed:event publicID="smi:x/event/1">
    <bed:origin publicID="smi:x/origin/1">
      <bed:time><bed:value>2024-03-01T10:00:00Z</bed:value></bed:time>
      <bed:latitude><bed:value>1.5</bed:value></bed:latitude>
      <bed:longitude><bed:value>2.5</bed:value></bed:longitude>
    </bed:origin>
  </bed:event>
  <event publicID="smi:x/event/unbound"/>
</bed:eventParameters>)";
    EventCatalogue catalogue;
    ASSERT_EQ(ReadQuakeMl(dir.Write("events.xml", text), catalogue), 0);
    ASSERT_EQ(catalogue.events.size(), 1u);
    EXPECT_TRUE(catalogue.events[0].hasOrigin);
    EXPECT_EQ(catalogue.events[0].origin.longitude, 2.5);
}

TEST(QuakeMl, AnEventWithoutAUsableOriginHasNone) {
    TempDir dir;
    const std::string text = R"(<q:quakeml xmlns:q="http://quakeml.org/xmlns/quakeml/1.2">
  <eventParameters xmlns="http://quakeml.org/xmlns/bed/1.2">
    <event publicID="smi:x/event/1"/>
    <event publicID="smi:x/event/2">
      <origin publicID="smi:x/origin/2">
        <time><value>not a time</value></time>
        <latitude><value>1.5</value></latitude>
        <longitude><value>2.5</value></longitude>
      </origin>
    </event>
  </eventParameters>
</q:quakeml>)";
    EventCatalogue catalogue;
    ASSERT_EQ(ReadQuakeMl(dir.Write("events.xml", text), catalogue), 0);
    ASSERT_EQ(catalogue.events.size(), 2u);
    EXPECT_FALSE(catalogue.events[0].hasOrigin);
    EXPECT_FALSE(catalogue.events[1].hasOrigin);
}

TEST(QuakeMl, CannotReadAMissingOrMalformedFile) {
    struct Case {
        const char* name;
        const char* text;  // null: the file is not written
    };
    const Case cases[] = {
        {"missing", nullptr},
        {"empty", ""},
        {"mismatched tags",
         "<q:quakeml xmlns:q=\"http://quakeml.org/xmlns/quakeml/1.2\"><eventParameters>"
         "</event></q:quakeml>"},
        {"cut short",
         "<q:quakeml xmlns:q=\"http://quakeml.org/xmlns/quakeml/1.2\"><eventParameters>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = c.text ? dir.Write("events.xml", c.text) : dir.File("none.xml");
        EventCatalogue catalogue;
        catalogue.events.push_back(QuakeEvent());
        EXPECT_EQ(ReadQuakeMl(path, catalogue), 1);
        EXPECT_EQ(catalogue.events.size(), 1u);
    }
}
