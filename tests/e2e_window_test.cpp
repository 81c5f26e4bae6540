// The time window of a run, from a start text, from the current time (under a pinned clock)
// and from an event. The header shows the window's ends; the CSS export shows exactly which
// samples were read, since every row exports its samples before they are drawn.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/e2e_harness.h"
#include "tests/support/gif_probe.h"
#include "tests/support/odbc_fixture.h"

namespace {

constexpr double MINUTE = 60.0;
// 2003-02-01 12:00:00 UTC.
constexpr double NOON = 1044100800.0;
// The event this file adds to the generated archive: origin at 10:24:50, first arrival
// (BORA) at 10:25:07.
constexpr double EVENT_ORIGIN = ARCHIVE_START + 24 * MINUTE + 50.0;
constexpr double EVENT_FIRST_ARRIVAL = ARCHIVE_START + 25 * MINUTE + 7.0;
const std::string EVENT_ID = "20040302_102450_1234";
const std::vector<std::string> TWO_STATIONS_WITH_EVENT = {"--stations", "2",    "--channels", "BHZ",
                                                          "--span",     "1800", "--segment",  "300",
                                                          "--sps",      "20",   "--events",   "1"};

// What one run must show: the window [start, headerEnd] in the header, rows of ... and
// the samples [dataStart, dataEnd] exported.
struct WindowCase {
    std::string name;
    std::vector<std::string> arguments;
    double start, headerEnd;
    int rows;
    bool segmentMode;
    double dataStart, dataEnd;
};

// A window of one row in normal mode whose samples are all in the archive.
WindowCase Span(const std::string& name, const std::vector<std::string>& arguments, double start,
                double end, int rows = 1, double dataEnd = 0.0) {
    return {name, arguments, start, end, rows, false, start, dataEnd > 0.0 ? dataEnd : end};
}

// A window in segment mode of rows rows.
WindowCase Segments(const std::string& name, const std::vector<std::string>& arguments,
                    double start, double end, int rows, double dataStart, double dataEnd) {
    return {name, arguments, start, end, rows, true, dataStart, dataEnd};
}

class Window : public BackendRun {
protected:
    // Adds event 1234: origin 10:24:50, picked by BORA at 10:25:07 and, with abel, by ABEL
    // later.
    void AddEvent(bool abel) const {
        ASSERT_TRUE(source->ExecuteSql(
            "insert into origin (orid, eventid, lat, lon, origintime) values (1234, '" + EVENT_ID +
            "', 46.5, 14.25, " + std::to_string(EVENT_ORIGIN) + ");\n" +
            ArrivalInsert("BORA", "BHZ", "P", EVENT_FIRST_ARRIVAL, 0.2, EVENT_ID) +
            (abel ? ArrivalInsert("ABEL", "BHZ", "P", EVENT_FIRST_ARRIVAL + 5.5, 0.5, EVENT_ID) +
                        ArrivalInsert("ABEL", "BHZ", "S", EVENT_FIRST_ARRIVAL + 23.0, 0.5, EVENT_ID)
                  : "")));
    }

    // Runs the case (at the pinned time when pinnedClock is not empty), exporting to a
    // wfdisc file of its own, and checks header, rows and exported samples: stations are the
    // codes the rows must show in normal mode, the one station of segment mode.
    void ExpectWindow(const WindowCase& c, const std::vector<std::string>& stations,
                      const std::string& pinnedClock = "",
                      const std::vector<std::string>& environment = {}) {
        SCOPED_TRACE(c.name);
        ++runs;
        const std::string wfdisc = "CASE" + std::to_string(runs) + ".WFD";
        std::vector<std::string> arguments = c.arguments;
        arguments.push_back("/NOPREVIEW");
        arguments.push_back("css=" + wfdisc);
        arguments.push_back("file=" + std::to_string(runs) + ".gif");
        const ProcessResult result = pinnedClock.empty() ? folder->Run(arguments, environment)
                                                         : folder->RunAt(pinnedClock, arguments);
        ASSERT_EQ(result.output, "");
        ASSERT_EQ(result.status, 0);

        const GifPicture picture(folder->WorkFile(std::to_string(runs) + ".GIF"));
        ASSERT_TRUE(picture.IsLoaded());
        // At most twelve rows: the catalogue list's higher minimum row height never applies.
        const PlotGeometry geometry = GeometryFor(c.rows, false);
        EXPECT_EQ(picture.Height(), geometry.height) << c.rows << " rows";
        const std::vector<WfdiscRecord> records =
            RecordsWithSamples(ReadWfdisc(folder->WorkFile(wfdisc)));
        if (c.segmentMode) {
            ASSERT_EQ(stations.size(), 1u);
            ExpectHeader(picture, geometry,
                         HeaderDateTime(c.start) + "     " + stations[0] + "::BHZ",
                         HeaderDateTime(c.headerEnd));
            for (const WfdiscRecord& record : records) EXPECT_EQ(record.sta, stations[0]);
            ExpectRecordsCover(records, c.dataStart, c.dataEnd);
            return;
        }
        ExpectHeader(picture, geometry, HeaderDateTime(c.start), HeaderTime(c.headerEnd));
        ExpectStationLabels(picture, geometry, stations);
        for (const std::string& station : stations) {
            SCOPED_TRACE(station);
            std::vector<WfdiscRecord> ofStation;
            std::copy_if(records.begin(), records.end(), std::back_inserter(ofStation),
                         [&](const WfdiscRecord& record) { return record.sta == station; });
            ExpectRecordsCover(ofStation, c.dataStart, c.dataEnd);
        }
    }

    int runs = 0;
};

TEST_P(Window, FollowsTheStartText) {
    // One station recorded from 11:45 to 12:15.
    ASSERT_TRUE(
        folder->Generate({"--stations", "1", "--channels", "BHZ", "--start", "1044099900", "--span",
                          "1800", "--segment", "300", "--sps", "20", "--events", "0"}));
    folder->WriteWaveIni("[WAVEFORMS]\nN#=1\n\n[STA0]\nSTA=ABEL\n");
    const WindowCase cases[] = {
        Span("600 s from the start", {"tbeg=12:00:00 01.02.2003", "nsec=600"}, NOON, NOON + 600),
        Span("a negative window ends at the start", {"tbeg=12:00:00 01.02.2003", "nsec=-600"},
             NOON - 600, NOON),
        // 12:00:00 lies on a multiple of 300 s and moves a whole segment.
        Segments("segments from a start on a segment boundary",
                 {"tbeg=12:00:00 01.02.2003", "nsec=3600:300"}, NOON + 300, NOON + 3900, 12,
                 NOON + 300, NOON + 15 * MINUTE),
        Segments("segments from a start between boundaries",
                 {"TBEG=12:01:30 01.02.2003", "NSEC=3600:300"}, NOON + 300, NOON + 3900, 12,
                 NOON + 300, NOON + 15 * MINUTE),
        Span("a start with a fraction of a second", {"tbeg=11:58:20.5 01.02.2003", "nsec=100"},
             NOON - 99.5, NOON + 0.5),
    };
    for (const WindowCase& c : cases) ExpectWindow(c, {"ABEL"});
    // Every time is UTC, whatever the local time zone: here five and a half hours east.
    ExpectWindow(cases[0], {"ABEL"}, "", {"TZ=IST-5:30"});
    ExpectWindow(cases[2], {"ABEL"}, "", {"TZ=IST-5:30"});
}

TEST_P(Window, StartsOnTheDayTypedBefore1970) {
    // One station recorded from 1967-12-31 23:50 to 1968-01-01 00:10 at 20 samples per
    // second; 1968 is a leap year, counted like every other.
    const double newYear1968 = -63158400.0;
    ASSERT_EQ(HeaderDateTime(newYear1968), "01/01/1968 00:00:00");
    ASSERT_TRUE(
        source->ExecuteSql(WriteFloatSegment(folder->DataDir(), "ABEL", "BHZ", newYear1968 - 600,
                                             20, std::vector<float>(24000, 5.0f), 0)));
    folder->WriteWaveIni("[WAVEFORMS]\nN#=1\n\n[STA0]\nSTA=ABEL\n");
    ExpectWindow(
        Span("1968", {"tbeg=00:00:00 01.01.1968", "nsec=600"}, newYear1968, newYear1968 + 600),
        {"ABEL"});
}

TEST_P(Window, EndsAtTheNextWholeMinuteForTheCurrentTime) {
    // One station recorded from 10:00 to 10:30; the clock reads 10:20:15.
    ASSERT_TRUE(folder->Generate({"--stations", "1", "--channels", "BHZ", "--span", "1800",
                                  "--segment", "300", "--sps", "20", "--events", "0"}));
    folder->WriteWaveIni("[WAVEFORMS]\nN#=1\n\n[STA0]\nSTA=ABEL\n");
    const double at1011 = ARCHIVE_START + 11 * MINUTE;
    const WindowCase cases[] = {
        Span("600 s up to the next minute", {"tbeg=current", "nsec=600"}, at1011, at1011 + 600),
        // The two shifts add up: the window ends 600 s before the next minute.
        Span("a negative window", {"TBEG=CURRENT", "nsec=-600"}, at1011 - 600, at1011),
        // 10:21:00 is aligned to 10:25:00, less 3600 s: twelve rows from 09:25:00, of which
        // the recording fills the last five.
        Segments("segments of a negative window", {"tbeg=CURRENT", "nsec=-3600:300"},
                 ARCHIVE_START - 35 * MINUTE, ARCHIVE_START + 25 * MINUTE, 12, ARCHIVE_START,
                 ARCHIVE_START + 25 * MINUTE),
    };
    for (const WindowCase& c : cases) ExpectWindow(c, {"ABEL"}, "2004-03-02 10:20:15");
    // A moment exactly on a minute still gives the following minute.
    ExpectWindow(cases[0], {"ABEL"}, "2004-03-02 10:20:00");
}

TEST_P(Window, StartsAFifthOfTheWindowBeforeTheEventsFirstArrival) {
    // Two stations from 10:00 to 10:30 with the generator's event at about 10:15, and
    // event 1234 added.
    ASSERT_TRUE(folder->Generate(TWO_STATIONS_WITH_EVENT));
    AddEvent(true);
    folder->WriteWaveIni("[WAVEFORMS]\nN#=ALL\nNSEC=1800\n");
    // 10:25:07    folder->WriteWaveIni("[WAVEFORMS]\nN#=ALL\nNSEC=1800\n");
    // 10:25:07 less 360 s is 10:19:07, down to the minute 10:19:00.
    const double at1019 = ARCHIVE_START + 19 * MINUTE;
    const double recordingEnd = ARCHIVE_START + 30 * MINUTE;
    ExpectWindow(Span("by orid", {"orid=1234"}, at1019, at1019 + 1800, 2, recordingEnd),
                 {"BORA", "ABEL"});
    ExpectWindow(Span("the latest event", {"eventid=last"}, at1019, at1019 + 1800, 2, recordingEnd),
                 {"BORA", "ABEL"});
    // A start text together with an event: no lookup, the event only chooses the stations.
    ExpectWindow(
        Span("an event with a start text", {"tbeg=10:20:00 02.03.2004", "eventid=" + EVENT_ID},
             ARCHIVE_START + 20 * MINUTE, ARCHIVE_START + 50 * MINUTE, 2, recordingEnd),
        {"BORA", "ABEL"});
}

TEST_P(Window, ShowsTheLatestEventOnlyWhenLastWasLookedUp) {
    ASSERT_TRUE(folder->Generate(TWO_STATIONS_WITH_EVENT));
    AddEvent(false);
    folder->WriteWaveIni("[WAVEFORMS]\nN#=ALL\nNSEC=1800\n");
    const PlotGeometry geometry = GeometryFor(1, true);
    const std::string eventLine = "lat=46.50 lon=14.25 (2004/03/02 10:24:50.00)";
    struct Case {
        std::vector<std::string> arguments;
        bool eventLineShown;
        std::vector<std::string> environment;
    };
    const Case cases[] = {
        {{"eventid=last", "/showevent"}, true, {}},
        // The origin time is written in UTC, whatever the local time zone.
        {{"eventid=last", "/showevent"}, true, {"TZ=IST-5:30"}},
        {{"eventid=last"}, false, {}},
        {{"orid=1234", "/showevent"}, false, {}},
        {{"eventid=" + EVENT_ID, "tbeg=10:20:00 02.03.2004", "/showevent"}, false, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        SCOPED_TRACE(testing::PrintToString(arguments) + testing::PrintToString(c.environment));
        arguments.push_back("/NOPREVIEW");
        const ProcessResult result = folder->Run(arguments, c.environment);
        ASSERT_EQ(result.output, "");
        ASSERT_EQ(result.status, 0);
        const GifPicture picture(folder->WorkFile("OUT.GIF"));
        ASSERT_TRUE(picture.IsLoaded());
        ASSERT_EQ(picture.Height(), geometry.height);
        ExpectStationLabels(picture, geometry, {"BORA"});
        const int width = picture.Width();
        if (c.eventLineShown) {
            EXPECT_EQ(picture.TextMismatches(FontForRole(FontRole::HEADER, geometry.rowHeight),
                                             width / 2 - 160, 1, eventLine, BLUE_COLOUR),
                      0);
        } else {
            EXPECT_EQ(picture.CountColour(BLUE_COLOUR, 0, 0, width - 1, 15), 0);
        }
    }
    // With a start text the picks and the station list are restricted to an event whose id
    // is the text LAST: there is none.
    const ProcessResult result =
        folder->Run({"tbeg=10:10:00 02.03.2004", "eventid=last", "/NOPREVIEW"});
    EXPECT_EQ(result.output, "Missing number of trace (<=0)! in INI (.\\wave.ini)\n");
    EXPECT_EQ(result.status, 251);
}

// A run that writes a description, or the page built from one, refuses a window its ISO times
// cannot hold before it opens the catalogue; a data source that cannot be opened shows where
// the run stopped. A run that writes neither goes on to the catalogue as it always has.
TEST(WindowBeforeTheCatalogue, RefusesYearsTheDescriptionCannotWrite) {
    TestDataSource source(Backend::Sqlite);
    ASSERT_TRUE(source.IsReady()) << source.Error();
    RunFolder folder(source);
    const std::string databaseError = "Database open error (DSN=NO_SUCH_SOURCE/USER=KVR/PSW=MTZ)!";
    struct Case {
        std::string what;
        std::string sections;  // INI text after [WAVEFORMS] N#=1
        std::vector<std::string> arguments;
        bool refused;
    };
    const Case cases[] = {
        {"the year 10000, described", "", {"tbeg=00:00:00 01.01.10000", "/JSON"}, true},
        {"the year 10000 on the page", "", {"tbeg=00:00:00 01.01.10000", "/HTML"}, true},
        {"the year 10000, described by the run's file",
         "JSON=1\n",
         {"tbeg=00:00:00 01.01.10000"},
         true},
        {"the year 10000 on the page of the run's file",
         "\n[WEB]\nINDEX=site\\index.html\n",
         {"tbeg=00:00:00 01.01.10000"},
         true},
        {"an hour that ends in the year 10000",
         "",
         {"tbeg=23:00:00 31.12.9999", "nsec=3600", "/JSON"},
         true},
        {"segments moved into the year 10000",
         "",
         {"tbeg=23:50:00 31.12.9999", "nsec=600:600", "/JSON"},
         true},
        {"a window ending at the start, from before the year 1",
         "",
         {"tbeg=00:00:30 01.01.0001", "nsec=-60", "/JSON"},
         true},
        {"the last second of the year 9999",
         "",
         {"tbeg=23:00:00 31.12.9999", "nsec=3599", "/JSON"},
         false},
        {"the first minute of the year 1",
         "",
         {"tbeg=00:00:00 01.01.0001", "nsec=60", "/HTML"},
         false},
        {"the year 10000, not described", "", {"tbeg=00:00:00 01.01.10000"}, false},
        {"the current time, described", "", {"tbeg=current", "/JSON"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        folder.WriteWorkFile("wave.ini", "[WAVEFORMS]\nN#=1\nNSEC=600\n" + c.sections);
        std::vector<std::string> arguments = c.arguments;
        arguments.push_back("odbc=no_such_source");
        arguments.push_back("/NOPREVIEW");
        const std::vector<std::string> filesBefore = folder.WorkFiles();
        const ProcessResult result = folder.Run(arguments);
        if (c.refused) {
            EXPECT_EQ(result.output,
                      "Invalid start time (TBEG=" + c.arguments[0].substr(5) + ")!\n");
            EXPECT_EQ(result.status, SHELL_WINDOW_SETTINGS);
        } else {
            EXPECT_EQ(result.output, databaseError);
            EXPECT_EQ(result.status, SHELL_DATABASE_OPEN);
        }
        EXPECT_EQ(folder.WorkFiles(), filesBefore) << "no file written";
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, Window, testing::ValuesIn(ALL_BACKENDS), BackendParamName);

}  // namespace
