#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "metadata/event_queries.h"
#include "tests/support/quakeml_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr double MARCH_1_10H = 1709287200.0;  // 2024-03-01T10:00:00Z
constexpr double MARCH_2_05H = 1709355600.0;  // 2024-03-02T05:00:00Z
constexpr std::size_t LATER_EVENT = 0;        // 2024efgh, first in the file
constexpr std::size_t EARLIER_EVENT = 1;      // 2024abcd

EventCatalogue ReadFixture() {
    TempDir dir;
    EventCatalogue catalogue;
    EXPECT_EQ(ReadQuakeMl(dir.Write("events.xml", QuakeMlFixture()), catalogue), 0);
    EXPECT_EQ(catalogue.events.size(), 2u);
    return catalogue;
}

std::vector<std::string> Codes(const std::vector<EventStation>& stations) {
    std::vector<std::string> codes;
    for (const EventStation& entry : stations) codes.push_back(entry.network + "." + entry.station);
    return codes;
}

std::vector<std::string> Phases(const PickList& picks) {
    std::vector<std::string> phases;
    for (const Pick& pick : picks) phases.push_back(pick.phase);
    return phases;
}

QuakePick MakePick(const std::string& id, const std::string& network, const std::string& station,
                   double time) {
    QuakePick pick;
    pick.publicId = id;
    pick.network = network;
    pick.station = station;
    pick.channel = "HHZ";
    pick.phaseHint = "P";
    pick.time = time;
    return pick;
}

}  // namespace

TEST(FindEvent, SelectsTheLatestOriginOrTheIdInAnyCase) {
    const EventCatalogue catalogue = ReadFixture();
    struct Case {
        const char* id;
        int expected;
        std::size_t index;
    };
    const Case cases[] = {
        {"LAST", 0, LATER_EVENT},  // the latest origin, though first in the file
        {"SMI:ORG.TEST/EVENT/2024ABCD", 0, EARLIER_EVENT},  // the whole publicID
        {"smi:org.test/event/2024efgh", 0, LATER_EVENT},
        {"2024ABCD", 0, EARLIER_EVENT},  // its last path component
        {"2024efgh", 0, LATER_EVENT},
        {"2024", 1, 0},  // no prefix matches
        {"EVENT/2024ABCD", 1, 0},
        {"NOPE", 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        std::size_t index = 99;
        ASSERT_EQ(FindEvent(catalogue, c.id, index), c.expected);
        EXPECT_EQ(index, c.expected == 0 ? c.index : 99u);
    }
}

TEST(FindEvent, LastPassesOverEventsWithoutOrigin) {
    EventCatalogue catalogue;
    catalogue.events.resize(3);
    catalogue.events[1].hasOrigin = true;
    catalogue.events[1].origin.time = -100.0;
    std::size_t index = 99;
    ASSERT_EQ(FindEvent(catalogue, "LAST", index), 0);
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(FindEvent(EventCatalogue(), "LAST", index), 1);
}

TEST(ListEventStations, OrdersStationsByFirstPickWithTheirPicks) {
    const EventCatalogue catalogue = ReadFixture();
    const std::vector<EventStation> stations =
        ListEventStations(catalogue.events[EARLIER_EVENT], "");
    // XX.JKL picked first, but no arrival of the preferred origin uses its pick.
    EXPECT_EQ(Codes(stations), (std::vector<std::string>{"YY.DEF", "XX.ABC", "XX.GHI"}));
    ASSERT_EQ(stations.size(), 3u);
    const PickList& abc = stations[1].picks;
    ASSERT_EQ(abc.size(), 2u);
    EXPECT_EQ(Phases(abc), (std::vector<std::string>{"P", "S"}));  // Z and E channels
    EXPECT_EQ(abc[0].time, MARCH_1_10H + 12.25);
    EXPECT_EQ(abc[1].time, MARCH_1_10H + 21.0);
    EXPECT_EQ(abc[0].distance, 0.9);
    // A pick without phase hint takes its arrival's phase.
    EXPECT_EQ(Phases(stations[0].picks), (std::vector<std::string>{"P"}));
}

TEST(ListEventStations, CountsOnlyThePhasesListed) {
    const EventCatalogue catalogue = ReadFixture();
    struct Case {
        const char* phases;
        std::vector<std::string> codes;
    };
    const Case cases[] = {
        {"", {"YY.DEF", "XX.ABC", "XX.GHI"}},
        {"P", {"YY.DEF", "XX.ABC", "XX.GHI"}},
        {"S,P", {"YY.DEF", "XX.ABC", "XX.GHI"}},
        {"S", {"XX.ABC"}},
        {",S,", {"XX.ABC"}},
        {"Pn", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phases);
        const std::vector<EventStation> stations =
            ListEventStations(catalogue.events[EARLIER_EVENT], c.phases);
        EXPECT_EQ(Codes(stations), c.codes);
    }
    const std::vector<EventStation> sOnly = ListEventStations(catalogue.events[EARLIER_EVENT], "S");
    ASSERT_EQ(sOnly.size(), 1u);
    EXPECT_EQ(Phases(sOnly[0].picks), (std::vector<std::string>{"S"}));
}

TEST(ListEventStations, CountsEveryPickOfAnOriginWithoutArrivals) {
    const EventCatalogue catalogue = ReadFixture();
    const std::vector<EventStation> stations = ListEventStations(catalogue.events[LATER_EVENT], "");
    ASSERT_EQ(Codes(stations), (std::vector<std::string>{"XX.ABC"}));
    // Listed in the file S first; a station's picks come in time order.
    EXPECT_EQ(Phases(stations[0].picks), (std::vector<std::string>{"P", "S"}));
}

TEST(ListEventStations, BreaksTiesByStationThenNetworkCode) {
    QuakeEvent event;
    event.picks = {MakePick("a", "ZZ", "BBB", 10.0), MakePick("b", "YY", "AAA", 10.0),
                   MakePick("c", "XX", "BBB", 10.0), MakePick("d", "XX", "CCC", 5.0),
                   MakePick("e", "XX", "", 1.0)};
    EXPECT_EQ(Codes(ListEventStations(event, "")),
              (std::vector<std::string>{"XX.CCC", "YY.AAA", "XX.BBB", "ZZ.BBB"}));
}

TEST(QueryStationPicks, FindsAStationsPicksOnAnyChannelInTheWindow) {
    const EventCatalogue catalogue = ReadFixture();
    const QuakeEvent* event = &catalogue.events[EARLIER_EVENT];
    struct Case {
        const char* name;
        const QuakeEvent* event;
        const char* network;
        double start, end;  // seconds after 2024-03-01T10:00:00Z
        const char* phases;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"both channels", event, "XX", 0.0, 60.0, "", {"P", "S"}},
        {"window ends are inclusive", event, "XX", 12.25, 21.0, "", {"P", "S"}},
        {"window cuts the S", event, "XX", 0.0, 20.0, "", {"P"}},
        {"phase filter", event, "XX", 0.0, 60.0, "S", {"S"}},
        {"another network", event, "YY", 0.0, 60.0, "", {}},
        {"every event", nullptr, "XX", 0.0, 86400.0, "", {"P", "S", "P", "S"}},
        {"every event, one hour", nullptr, "XX", 0.0, 3600.0, "", {"P", "S"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PickList picks;
        QueryStationPicks(catalogue, c.event, c.network, "ABC", MARCH_1_10H + c.start,
                          MARCH_1_10H + c.end, c.phases, picks);
        EXPECT_EQ(Phases(picks), c.expected);
        for (std::size_t i = 1; i < picks.size(); ++i) EXPECT_LT(picks[i - 1].time, picks[i].time);
    }
}

TEST(QueryStationPicks, AppendsToThePicksGiven) {
    const EventCatalogue catalogue = ReadFixture();
    PickList picks(1);
    QueryStationPicks(catalogue, &catalogue.events[LATER_EVENT], "XX", "ABC", MARCH_2_05H,
                      MARCH_2_05H + 60.0, "", picks);
    ASSERT_EQ(picks.size(), 3u);
    EXPECT_EQ(picks[1].time, MARCH_2_05H + 30.0);
    EXPECT_LT(picks[1].distance, 0.0);  // no arrival gives one
}

TEST(EventWindowStart, StartsAFifthOfTheWindowBeforeTheFirstPickOnAWholeMinute) {
    const EventCatalogue catalogue = ReadFixture();
    struct Case {
        float windowSeconds;
        double expected;  // seconds after 2024-03-01T10:00:00Z
    };
    // The first counting pick is YY.DEF's at 10:00:09 (XX.JKL's at 10:00:05 does not count).
    const Case cases[] = {
        {0.0f, 0.0},       // 10:00:09 down to 10:00
        {45.0f, 0.0},      // 10:00:00 exactly
        {46.0f, -60.0},    // 09:59:59.8
        {300.0f, -60.0},   // 09:59:09
        {900.0f, -180.0},  // 09:57:09
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.windowSeconds);
        double start = 0.0;
        ASSERT_EQ(EventWindowStart(catalogue.events[EARLIER_EVENT], c.windowSeconds, start), 0);
        EXPECT_EQ(start, MARCH_1_10H + c.expected);
    }
    double start = 42.0;
    EXPECT_EQ(EventWindowStart(QuakeEvent(), 300.0f, start), 1);
    EXPECT_EQ(start, 42.0);
}

TEST(GreatCircleKm, MatchesTheHaversineOnTheMeanSphere) {
    struct Case {
        const char* name;
        double lat1, lon1, lat2, lon2;
        double expected;  // km
    };
    const Case cases[] = {
        {"one degree north", 45.0, 7.0, 46.0, 7.0, 111.195},  // 6371 km * pi / 180
        {"one degree east at 45 N", 45.0, 7.0, 45.0, 8.0, 78.626},
        // Paris to London: h = sin^2(1.3254 deg) + cos(48.8566 deg) cos(51.5074 deg)
        // sin^2(1.24 deg) = 7.2680e-4, 2 * 6371 * asin(sqrt(h)) = 343.556 km.
        {"Paris to London", 48.8566, 2.3522, 51.5074, -0.1278, 343.556},
        {"quarter of the equator", 0.0, 0.0, 0.0, 90.0, 10007.543},
        {"antipodes", 0.0, 0.0, 0.0, 180.0, 20015.087},
        {"same point", 45.0, 7.0, 45.0, 7.0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(GreatCircleKm(c.lat1, c.lon1, c.lat2, c.lon2), c.expected, 0.001);
        EXPECT_NEAR(GreatCircleKm(c.lat2, c.lon2, c.lat1, c.lon1), c.expected, 0.001);
    }
}

TEST(StationDistanceKm, UsesTheStationEpochElseTheArrivalDistance) {
    const EventCatalogue catalogue = ReadFixture();
    const QuakeEvent& event = catalogue.events[EARLIER_EVENT];  // origin 45 N 7 E
    StationCoordinates coordinates;
    StationEpoch before;
    before.network = "XX";
    before.station = "ABC";
    before.endTime = MARCH_1_10H - 3600.0;
    before.latitude = 45.0;
    before.longitude = 8.0;
    StationEpoch now = before;
    now.startTime = before.endTime;
    now.endTime = std::numeric_limits<double>::infinity();
    now.latitude = 46.0;
    now.longitude = 7.0;
    coordinates.epochs = {before, now};
    struct Case {
        const char* name;
        const char* network;
        const char* station;
        double time;
        int expected;
        double km;
    };
    const Case cases[] = {
        {"one degree north", "XX", "ABC", MARCH_1_10H, 0, 111.195},
        {"the epoch before", "XX", "ABC", MARCH_1_10H - 7200.0, 0, 78.626},
        {"arrival distance", "YY", "DEF", MARCH_1_10H, 0, 0.5 * 111.19},
        {"neither", "XX", "GHI", MARCH_1_10H, 1, 0.0},
        {"not picked", "XX", "XYZ", MARCH_1_10H, 1, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        double km = -1.0;
        ASSERT_EQ(StationDistanceKm(event, coordinates, c.network, c.station, c.time, km),
                  c.expected);
        EXPECT_NEAR(km, c.expected == 0 ? c.km : -1.0, 0.001);
    }
}

TEST(StationDistanceKm, FallsBackToTheArrivalWithoutCoordinates) {
    const EventCatalogue catalogue = ReadFixture();
    double km = 0.0;
    ASSERT_EQ(StationDistanceKm(catalogue.events[EARLIER_EVENT], StationCoordinates(), "XX", "ABC",
                                MARCH_1_10H, km),
              0);
    EXPECT_NEAR(km, 0.9 * 111.19, 1e-9);
    // The later event's origin has no arrivals, so it gives no distance.
    EXPECT_EQ(StationDistanceKm(catalogue.events[LATER_EVENT], StationCoordinates(), "XX", "ABC",
                                MARCH_2_05H, km),
              1);
}
