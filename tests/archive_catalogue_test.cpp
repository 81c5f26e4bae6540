#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "tests/support/odbc_fixture.h"
#include "timeutil/calendar.h"

namespace {

// 2004-03-02 10:20:00 UTC, the start of the window most tests look at, and its length.
const double S = EpochFromCalendar(2004, 3, 2, 10, 20, 0.0f);
constexpr double L = 1800.0;

// Writes an epoch time as an SQL number, exact to the microsecond.
std::string Num(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

std::string FilelistRow(const std::string& sta, const std::string& ch, double tbegin, double tqty) {
    return "insert into filelist (sta, ch, tbegin, tqty, sps, cpath, datatype, foff) values ('" +
           sta + "', '" + ch + "', " + Num(tbegin) + ", " + Num(tqty) + ", 100, '" + sta +
           "/seg.dat', 1, 0);\n";
}

// Inserts an arrival; NaN leaves itime NULL and a negative distance dist.
std::string ArrivalRow(const std::string& sta, const std::string& chan, const std::string& phase,
                       double itime, double dist, const std::string& eventid) {
    return "insert into arrival (sta, chan, iphase, itime, dist, eventid) values ('" + sta +
           "', '" + chan + "', " + (phase.empty() ? "NULL" : "'" + phase + "'") + ", " +
           (std::isnan(itime) ? "NULL" : Num(itime)) + ", " + (dist < 0 ? "NULL" : Num(dist)) +
           ", '" + eventid + "');\n";
}

std::vector<std::string> Stations(const Catalogue& catalogue, int count) {
    std::vector<std::string> listed;
    for (int i = 0; i < count; ++i) {
        std::string station;
        std::string channel;
        EXPECT_EQ(catalogue.GetCatalogueStation(station, channel, i), 0);
        listed.push_back(station + "/" + channel);
    }
    return listed;
}

std::vector<std::string> Describe(const PickList& picks) {
    std::vector<std::string> described;
    for (const Pick& pick : picks) {
        char text[128];
        std::snprintf(text, sizeof text, "%s@%.3f,%.2f", pick.phase.c_str(), pick.time - S,
                      pick.distance);
        described.push_back(text);
    }
    return described;
}

// Events for FindEventStart: first arrivals (the earliest pick of each event) at
// A 10:25:07, B 10:59:30, 1234XYZ 09:00:00, QU'OTE 08:00:00; EV2004NULL has no pick time.
std::string EventCatalogue() {
    const double a = EpochFromCalendar(2004, 3, 2, 10, 25, 7.0f);
    const double b = EpochFromCalendar(2004, 3, 2, 10, 59, 30.0f);
    return "insert into origin (orid, eventid, lat, lon, origintime) values (1234, 'EV2004A', "
           "50.5, 12.25, " +
           Num(a - 20.0) + "), (77, 'EV2004B', -10.5, 100.75, " + Num(b - 30.0) +
           "), (3, '1234XYZ', 0, 0, 0), (5, 'QU''OTE', 0, 0, 0), (8, 'EV2004NULL', 0, 0, 0);\n" +
           ArrivalRow("AAA", "BHZ", "S", a + 40.0, 1.0, "EV2004A") +
           ArrivalRow("BBB", "BHZ", "P", a, 1.0, "EV2004A") +
           ArrivalRow("AAA", "BHZ", "P", b, 1.0, "EV2004B") +
           ArrivalRow("AAA", "BHZ", "P", S - 4800.0, 1.0, "1234XYZ") +
           ArrivalRow("AAA", "BHZ", "P", S - 8400.0, 1.0, "QU''OTE") +
           ArrivalRow("AAA", "BHZ", "P", std::nan(""), 1.0, "EV2004NULL");
}

class CatalogueTest : public testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        source = std::make_unique<TestDataSource>(GetParam());
        ASSERT_TRUE(source->IsReady()) << source->Error();
    }

    // Fills the catalogue from SQL text and connects to it.
    void Open(const std::string& sql) {
        ASSERT_TRUE(sql.empty() || source->ExecuteSql(sql));
        ASSERT_EQ(catalogue.OpenCatalogue(source->Dsn(), source->User(), source->Password()), 1);
    }

    std::unique_ptr<TestDataSource> source;
    Catalogue catalogue;
};

TEST_P(CatalogueTest, ConnectsOnlyToAKnownDataSourceWithItsLogin) {
    EXPECT_EQ(catalogue.OpenCatalogue("NO_SUCH_SOURCE", source->User(), source->Password()), 0);
    if (GetParam() == Backend::Postgres) {  // an SQLite file has no login
        EXPECT_EQ(catalogue.OpenCatalogue(source->Dsn(), source->User(), "WRONG"), 0);
    }
    // Without a connection every query is empty.
    EXPECT_EQ(catalogue.ListCatalogueStations(S, ""), 0);
    std::vector<SegmentRow> rows;
    EXPECT_FALSE(catalogue.ListSegments("ABC", "BHZ", S, S + L, rows));

    // A failed attempt leaves the catalogue able to connect later.
    EXPECT_EQ(catalogue.OpenCatalogue(source->Dsn(), source->User(), source->Password()), 1);
    EXPECT_TRUE(catalogue.ListSegments("ABC", "BHZ", S, S + L, rows));
    EXPECT_EQ(catalogue.CloseCatalogue(), 1);
    EXPECT_FALSE(catalogue.ListSegments("ABC", "BHZ", S, S + L, rows));
    EXPECT_EQ(catalogue.CloseCatalogue(), 1);
}

TEST_P(CatalogueTest, ListsOneVerticalChannelPerStationInCodeOrder) {
    const double bound = S - 300.0;
    Open(FilelistRow("NEW", "SHZ", bound - 59.0, 60.0) +  // ends 1 s after the bound
         FilelistRow("ABC", "SHZ", S, 60.0) +             //
         FilelistRow("ABC", "BHZ", S - 30.0, 60.0) +      // BHZ sorts before SHZ
         FilelistRow("ABCD", "BHZ", S, 60.0) +            // contains ABC
         FilelistRow("XABC", "BHZ", S, 60.0) +            // contains ABC too
         FilelistRow("ABD", "BHN", S, 60.0) +             // horizontal only
         FilelistRow("ABE", "bhz", S, 60.0) +             // lower-case z is vertical
         FilelistRow("OLD", "BHZ", bound - 60.0, 60.0) +  // ends exactly at the bound
         FilelistRow("DEF", "BHZ", S + 3600.0, 60.0) +    // only data an hour later
         // Rows without a code: the empty code would occur in every other code.
         "insert into filelist (sta, ch, tbegin, tqty) values (NULL, 'BHZ', " + Num(S) +
         ", 60), ('', 'BHZ', " + Num(S) + ", 60);");
    const int count = catalogue.ListCatalogueStations(S, "");
    EXPECT_EQ(Stations(catalogue, count),
              (std::vector<std::string>{"ABC/BHZ", "ABE/bhz", "DEF/BHZ", "NEW/SHZ"}));
    std::string station = "keep";
    std::string channel = "keep";
    for (const int index : {-1, count}) {
        SCOPED_TRACE(index);
        EXPECT_EQ(catalogue.GetCatalogueStation(station, channel, index), -1);
        EXPECT_EQ(station + channel, "keepkeep");
    }
    // Every listing refills the table.
    EXPECT_EQ(Stations(catalogue, catalogue.ListCatalogueStations(S + 3600.0, "")),
              (std::vector<std::string>{"DEF/BHZ"}));
    EXPECT_EQ(catalogue.ListCatalogueStations(S + 7200.0, ""), 0);
    EXPECT_EQ(catalogue.GetCatalogueStation(station, channel, 0), -1);
}

TEST_P(CatalogueTest, ListsMoreThanAHundredStations) {
    std::string sql = "insert into filelist (sta, ch, tbegin, tqty) values ";
    for (int i = 0; i < 150; ++i) {
        char code[8];
        std::snprintf(code, sizeof code, "S%03d", i);
        sql += std::string(i > 0 ? ", " : "") + "('" + code + "', 'BHZ', " + Num(S) + ", 60)";
    }
    Open(sql);
    ASSERT_EQ(catalogue.ListCatalogueStations(S, ""), 150);
    std::string station;
    std::string channel;
    EXPECT_EQ(catalogue.GetCatalogueStation(station, channel, 149), 0);
    EXPECT_EQ(station, "S149");
}

TEST_P(CatalogueTest, ListsTheStationsOfAnEventInPickOrder) {
    const std::string quoted = "EV''1";  // a quote in the id must not break the statement
    Open(FilelistRow("AAA", "BHZ", S, 600.0) + FilelistRow("BBB", "BHZ", S, 600.0) +
         FilelistRow("BBB", "SHZ", S, 600.0) + FilelistRow("CCC", "SHZ", S, 600.0) +
         FilelistRow("DDD", "BHN", S, 600.0) + FilelistRow("EEE", "BHZ", S, 600.0) +
         FilelistRow("FFF", "BHZ", S - 3600.0, 600.0) +  //
         ArrivalRow("AAA", "BHZ", "S", S + 90.0, 1.0, quoted) +
         ArrivalRow("BBB", "BHZ", "P", S + 40.0, 0.5, quoted) +
         ArrivalRow("BBB", "BHZ", "S", S + 70.0, 0.5, quoted) +
         ArrivalRow("CCC", "SHZ", "P", S + 20.0, 0.2, quoted) +
         ArrivalRow("AAA", "BHZ", "P", S + 60.0, 1.0, quoted) +
         ArrivalRow("DDD", "BHN", "P", S + 10.0, 0.1, quoted) +  // no vertical channel
         ArrivalRow("EEE", "BHZ", "P", S + 5.0, 0.1, "OTHER") +  // another event
         ArrivalRow("FFF", "BHZ", "P", S + 8.0, 0.1, quoted));   // data ends too early
    EXPECT_EQ(Stations(catalogue, catalogue.ListCatalogueStations(S, "EV'1")),
              (std::vector<std::string>{"CCC/SHZ", "BBB/BHZ", "AAA/BHZ"}));
    EXPECT_EQ(catalogue.ListCatalogueStations(S, "EV"), 0);
}

TEST_P(CatalogueTest, FetchesPicksInsideTheWindowInTimeOrder) {
    Open(ArrivalRow("ABC", "BHZ", "S", S + 300.0, 2.5, "E1") +
         ArrivalRow("ABC", "BHZ", "P", S, 2.5, "E1") +          // at the window start
         ArrivalRow("ABC", "BHZ", "Lg", S + L, 2.5, "E1") +     // at the window end
         ArrivalRow("ABC", "BHZ", "X", S - 0.5, 1.0, "E1") +    // just before
         ArrivalRow("ABC", "BHZ", "X", S + L + 0.5, 1.0, "E1")  // just after
         + ArrivalRow("ABC", "BHN", "X", S + 10.0, 1.0, "E1") +
         ArrivalRow("ABCD", "BHZ", "X", S + 10.0, 1.0, "E1") +
         ArrivalRow("ABC", "BHZ", "", S + 1.0, 1.0, "E1") +  // NULL values leave the pick out
         ArrivalRow("ABC", "BHZ", "X", std::nan(""), 1.0, "E1") +
         ArrivalRow("ABC", "BHZ", "X", S + 2.0, -1.0, "E1"));
    PickList picks(1);  // picks already present stay in front
    picks[0].phase = "old";
    picks[0].time = S + 5.0;
    catalogue.QueryPicks(S, S + L, "ABC", "BHZ", "", "", picks);
    EXPECT_EQ(Describe(picks), (std::vector<std::string>{"old@5.000,-1.00", "P@0.000,2.50",
                                                         "S@300.000,2.50", "Lg@1800.000,2.50"}));
}

TEST_P(CatalogueTest, RestrictsPicksToAnEventAndAPhaseClauseOfAnyLength) {
    const std::string longEvent(60, 'E');
    std::string longClause = " and iphase in ('P'";
    for (int i = 0; i < 40; ++i) longClause += ", 'Q" + std::to_string(i) + "'";
    longClause += ", 'S')";
    Open(ArrivalRow("O''B", "BHZ", "P", S + 10.0, 1.0, "E''1") +
         ArrivalRow("O''B", "BHZ", "S", S + 20.0, 1.0, "E''1") +
         ArrivalRow("O''B", "BHZ", "Pn", S + 30.0, 1.0, "E''1") +
         ArrivalRow("O''B", "BHZ", "P", S + 40.0, 1.0, "E2") +
         ArrivalRow("O''B", "BHZ", "P", S + 50.0, 1.0, longEvent) +
         ArrivalRow("O''B", "BHZ", "Lg", S + 60.0, 1.0, longEvent));
    struct Case {
        std::string eventId, extra;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"",
         "",
         {"P@10.000,1.00", "S@20.000,1.00", "Pn@30.000,1.00", "P@40.000,1.00", "P@50.000,1.00",
          "Lg@60.000,1.00"}},
        {"E'1", "", {"P@10.000,1.00", "S@20.000,1.00", "Pn@30.000,1.00"}},
        {"E", "", {}},
        {"E'1", " and iphase in ('Pn')", {"Pn@30.000,1.00"}},
        // Beyond the 255 characters a statement once had.
        {longEvent, longClause, {"P@50.000,1.00"}},
        {"", "and broken (", {}},  // a failing statement appends nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("event [" + c.eventId + "] condition [" + c.extra.substr(0, 40) + "]");
        PickList picks;
        catalogue.QueryPicks(S, S + L, "O'B", "BHZ", c.eventId, c.extra, picks);
        EXPECT_EQ(Describe(picks), c.expected);
    }
}

TEST_P(CatalogueTest, FindsTheEventStartByOridOrEventIdPrefix) {
    Open(EventCatalogue());
    struct Case {
        std::string id;
        float seconds;
        std::string eventId, startText;
    };
    const Case cases[] = {
        // 10:25:07 - 360 s = 10:19:07, down to the minute.
        {"1234", 1800.0f, "EV2004A", "10:19:0.000000 2//3//2004"},
        {"EV2004A", 600.0f, "EV2004A", "10:23:0.000000 2//3//2004"},
        {"0077", 1800.0f, "EV2004B", "10:53:0.000000 2//3//2004"},
        // Both A and B (and the event without pick times) match: the latest first arrival.
        {"EV", 1800.0f, "EV2004B", "10:53:0.000000 2//3//2004"},
        // Orid 1234 and the event id 1234XYZ both match; A's first arrival is later.
        {"1234", 60.0f, "EV2004A", "10:24:0.000000 2//3//2004"},
        // Not a number: only the event id prefix can match.
        {"1234X", 1800.0f, "1234XYZ", "8:54:0.000000 2//3//2004"},
        {"QU'", 1800.0f, "QU'OTE", "7:54:0.000000 2//3//2004"},
        {"3", 1800.0f, "1234XYZ", "8:54:0.000000 2//3//2004"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        std::string id = c.id;
        std::string startText;
        EXPECT_EQ(catalogue.FindEventStart(id, startText, c.seconds), 0);
        EXPECT_EQ(id, c.eventId);
        EXPECT_EQ(startText, c.startText);
    }
    for (const char* original : {"", "NOSUCH", "LAST", "99999999999999999999", "1234 or 1=1",
                                 "x' or 'a'='a", "EV2004NULL", "12.5"}) {
        SCOPED_TRACE(original);
        std::string id = original;
        std::string startText = "unchanged";
        EXPECT_EQ(catalogue.FindEventStart(id, startText, 1800.0f), 1);
        EXPECT_EQ(id, original);
        EXPECT_EQ(startText, "unchanged");
    }
}

TEST_P(CatalogueTest, FindsTheLatestEventWithTimeAndPosition) {
    Open("");
    std::string orid = "none";
    float lat = 1.0f;
    float lon = 2.0f;
    double originTime = 3.0;
    EXPECT_EQ(catalogue.QueryLatestEvent(orid, lat, lon, originTime), 1);
    EXPECT_EQ(orid, "none");
    EXPECT_EQ(lat + lon + originTime, 6.0);

    // The origin without a time is passed over on both databases.
    ASSERT_TRUE(source->ExecuteSql(
        EventCatalogue() +
        "insert into origin (orid, eventid, lat, lon) values (999, 'NO', 1, 1);"));
    EXPECT_EQ(catalogue.QueryLatestEvent(orid, lat, lon, originTime), 0);
    EXPECT_EQ(orid, "77");
    EXPECT_EQ(lat, -10.5f);
    EXPECT_EQ(lon, 100.75f);
    EXPECT_EQ(originTime, EpochFromCalendar(2004, 3, 2, 10, 59, 0.0f));

    // A latest origin without a position is unknown.
    ASSERT_TRUE(source->ExecuteSql(
        "insert into origin (orid, eventid, lat, lon, origintime) values (1, 'A', NULL, 5, " +
        Num(S + 7200.0) + ");"));
    orid = "none";
    EXPECT_EQ(catalogue.QueryLatestEvent(orid, lat, lon, originTime), 1);
    EXPECT_EQ(orid, "none");
}

TEST_P(CatalogueTest, ListsTheSegmentsThatMeetTheWindowWithNullsReadable) {
    const double t1 = S;
    const double t2 = S + 60.0;
    auto row = [](const std::string& sta, double tbegin, const std::string& rest) {
        return "('" + sta + "', 'BHZ', " + Num(tbegin) + ", " + rest + ")";
    };
    const std::string rows[] = {
        row("ABC", t1 + 30.0, "60, 100, 'inside', 2, 4096"),
        row("ABC", t1 - 60.0, "60, 100, 'ends_at_t1', 1, 0"),
        row("ABC", t1 - 61.0, "60, 100, 'ends_before', 1, 0"),
        row("ABC", t1 - 10.0, "60, 20, 'holds_t1', 0, 16"),
        row("ABC", t2, "60, 100, 'starts_at_t2', 5, 2147483647"),
        row("ABC", t2 + 1.0, "60, 100, 'after', 1, 0"),
        row("ABCD", t1, "60, 100, 'other_station', 1, 0"),
        row("ABC", t1 + 1.0, "60, 100, 'null_foff', 3, NULL"),
        row("ABC", t1 + 2.0, "60, 100, 'null_datatype', NULL, 8"),
        // Rows that cannot be placed in time are skipped.
        row("ABC", t1 + 4.0, "NULL, 100, 'null_tqty', 1, 0"),
        row("ABC", t1 + 6.0, "60, 0, 'zero_sps', 1, 0"),
        row("ABC", t1 + 8.0, "60, 100, NULL, 1, 0"),
        "('ABC', 'BHZ', NULL, 60, 100, 'null_tbegin', 1, 0)",
        "('ABC', 'BHN', " + Num(t1) + ", 60, 100, 'other_channel', 1, 0)",
    };
    std::string sql =
        "insert into filelist (sta, ch, tbegin, tqty, sps, cpath, datatype, foff) values ";
    for (const std::string& r : rows) sql += (&r == rows ? "" : ", ") + r;
    Open(sql);

    struct Expected {
        double tbegin, tqty, sps;
        const char* cpath;
        int datatype;
        long long foff;
    };
    const Expected expected[] = {
        {t1 - 60.0, 60.0, 100.0, "ends_at_t1", 1, 0},
        {t1 - 10.0, 60.0, 20.0, "holds_t1", 0, 16},
        {t1 + 1.0, 60.0, 100.0, "null_foff", 3, 0},
        {t1 + 2.0, 60.0, 100.0, "null_datatype", -1, 8},
        {t1 + 30.0, 60.0, 100.0, "inside", 2, 4096},
        {t2, 60.0, 100.0, "starts_at_t2", 5, 2147483647LL},
    };
    std::vector<SegmentRow> listed(3);  // whatever the vector held is replaced
    ASSERT_TRUE(catalogue.ListSegments("ABC", "BHZ", t1, t2, listed));
    ASSERT_EQ(listed.size(), std::size(expected));
    for (std::size_t i = 0; i < listed.size(); ++i) {
        SCOPED_TRACE(expected[i].cpath);
        EXPECT_EQ(listed[i].station, "ABC");
        EXPECT_EQ(listed[i].tbegin, expected[i].tbegin);
        EXPECT_EQ(listed[i].tqty, expected[i].tqty);
        EXPECT_EQ(listed[i].sps, expected[i].sps);
        EXPECT_EQ(listed[i].cpath, expected[i].cpath);
        EXPECT_EQ(listed[i].datatype, expected[i].datatype);
        EXPECT_EQ(listed[i].foff, expected[i].foff);
    }
}

TEST_P(CatalogueTest, QuotesCodesAndNeverWritesToTheCatalogue) {
    const std::string hostile = "x'; delete from filelist; delete from arrival; --";
    ASSERT_TRUE(source->ExecuteSql(
        EventCatalogue() + FilelistRow("AAA", "BHZ", S, 600.0) +
        "insert into filelist (sta, ch, tbegin, tqty, sps, cpath, datatype, foff) values ('O''B', "
        "'B''Z', " +
        Num(S) + ", 60, 100, 'quoted', 1, 0);"));
    // On PostgreSQL any write by the catalogue's own connection would now fail.
    EXPECT_EQ(source->MakeReadOnlyForNewConnections(), GetParam() == Backend::Postgres);
    const std::string before =
        source->SqliteFile().empty() ? std::string() : ReadFileBytes(source->SqliteFile());
    Open("");

    EXPECT_EQ(Stations(catalogue, catalogue.ListCatalogueStations(S, "")),
              (std::vector<std::string>{"AAA/BHZ", "O'B/B'Z"}));
    EXPECT_EQ(catalogue.ListCatalogueStations(S, hostile), 0);
    PickList picks;
    catalogue.QueryPicks(S, S + L, hostile, hostile, hostile, "", picks);
    EXPECT_TRUE(picks.empty());
    std::string id = hostile;
    std::string startText;
    EXPECT_EQ(catalogue.FindEventStart(id, startText, 1800.0f), 1);
    std::vector<SegmentRow> rows;
    ASSERT_TRUE(catalogue.ListSegments("O'B", "B'Z", S, S + 60.0, rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].cpath, "quoted");
    // Text that tries to widen the condition only names a station that does not exist.
    EXPECT_TRUE(catalogue.ListSegments("x' or sta<>'", "BHZ", S, S + 60.0, rows));
    EXPECT_TRUE(rows.empty());
    catalogue.CloseCatalogue();

    EXPECT_EQ(source->QueryRows("select count(*) from filelist"),
              (std::vector<std::vector<std::string>>{{"2"}}));
    EXPECT_EQ(source->QueryRows("select count(*) from arrival"),
              (std::vector<std::vector<std::string>>{{"6"}}));
    if (!before.empty()) {
        EXPECT_EQ(ReadFileBytes(source->SqliteFile()), before);
    }
}

TEST_P(CatalogueTest, TellsAFailedStatementFromAResultWithoutRows) {
    Open("");
    std::vector<SegmentRow> rows;
    PickList picks;
    std::string id = "EV";
    std::string startText;
    std::string orid;
    float lat = 0.0f;
    float lon = 0.0f;
    double originTime = 0.0;
    EXPECT_EQ(catalogue.ListCatalogueStations(S, ""), 0);
    catalogue.QueryPicks(S, S + L, "AAA", "BHZ", "", "", picks);
    EXPECT_EQ(catalogue.FindEventStart(id, startText, 1800.0f), 1);
    EXPECT_EQ(catalogue.QueryLatestEvent(orid, lat, lon, originTime), 1);
    EXPECT_TRUE(catalogue.ListSegments("AAA", "BHZ", S, S + L, rows));
    EXPECT_EQ(catalogue.FailedQuery(), nullptr);

    // Without its tables every statement fails; the first failure is the one named.
    ASSERT_TRUE(source->ExecuteSql("drop table filelist; drop table arrival; drop table origin"));
    EXPECT_FALSE(catalogue.ListSegments("AAA", "BHZ", S, S + L, rows));
    ASSERT_NE(catalogue.FailedQuery(), nullptr);
    EXPECT_STREQ(catalogue.FailedQuery(), "segments");
    catalogue.QueryPicks(S, S + L, "AAA", "BHZ", "", "", picks);
    EXPECT_STREQ(catalogue.FailedQuery(), "segments");

    struct Case {
        const char* kind;
        void (*query)(Catalogue&);
    };
    const Case cases[] = {
        {"stations", [](Catalogue& c) { c.ListCatalogueStations(S, ""); }},
        {"picks",
         [](Catalogue& c) {
             PickList found;
             c.QueryPicks(S, S + L, "AAA", "BHZ", "", "", found);
         }},
        {"event",
         [](Catalogue& c) {
             std::string eventId = "1234";
             std::string text;
             c.FindEventStart(eventId, text, 1800.0f);
         }},
        {"event",
         [](Catalogue& c) {
             std::string latest;
             float latitude = 0.0f;
             float longitude = 0.0f;
             double time = 0.0;
             c.QueryLatestEvent(latest, latitude, longitude, time);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        Catalogue fresh;
        ASSERT_EQ(fresh.OpenCatalogue(source->Dsn(), source->User(), source->Password()), 1);
        c.query(fresh);
        ASSERT_NE(fresh.FailedQuery(), nullptr);
        EXPECT_STREQ(fresh.FailedQuery(), c.kind);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, CatalogueTest, testing::ValuesIn(ALL_BACKENDS),
                         BackendParamName);

TEST(SplitSqlStatements, KeepsSemicolonsInsideLiteralsAndDropsComments) {
    EXPECT_EQ(
        SplitSqlStatements("-- a; comment\ncreate table t (a int);\n\n"
                           "insert into t values ('x;''y'); -- trailing; note\n ;"),
        (std::vector<std::string>{"create table t (a int)", "insert into t values ('x;''y')"}));
}

}  // namespace
