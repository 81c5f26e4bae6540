#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "tests/support/odbc_fixture.h"
#include "timeutil/calendar.h"

namespace {

// 2004-03-02 10:20:00 UTC, the start of the windows below.
const double S = EpochFromCalendar(2004, 3, 2, 10, 20, 0.0f);

std::string Num(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

// The window's condition alone, as the catalogue is asked for a channel's segments.
std::string WindowConditionOnly(const std::string& station, const std::string& channel, double t1,
                                double t2) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "select sta, tbegin, tqty, sps, cpath, datatype, foff from filelist where "
                  "sta='%s' and ch='%s' and ( tbegin<=%.3f and tbegin+tqty>=%.3f or tbegin>=%.3f "
                  "and tbegin<=%.3f) order by tbegin",
                  station.c_str(), channel.c_str(), t1, t1, t1, t2);
    return text;
}

// The cpath of each row, in the order given.
std::vector<std::string> Paths(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::string> paths;
    for (const std::vector<std::string>& row : rows) paths.push_back(row.at(4));
    return paths;
}

// Segments around the window [S, S + 60]: at its edges, across it, of no length, running
// backwards, without a length, and one of a whole year.
std::string EdgeCatalogue() {
    struct Row {
        double tbegin;
        const char* tqty;
        const char* cpath;
    };
    const Row rows[] = {
        {S - 60.0, "60", "ends_at_t1"},
        {S - 60.001, "60", "ends_just_before_t1"},
        {S - 600.0, "1200", "spans_the_window"},
        {S - 365.0 * 86400.0, "31536000", "a_year_ending_inside"},
        {S - 3.0 * 86400.0, "600", "long_before"},
        {S, "0", "no_length_at_t1"},
        {S - 1.0, "0", "no_length_before_t1"},
        {S + 30.0, "0", "no_length_inside"},
        {S + 60.0, "60", "starts_at_t2"},
        {S + 60.001, "60", "starts_just_after_t2"},
        {S + 30.0, "-100", "backwards_inside"},
        {S + 10.0, "-5", "backwards_ending_inside"},
        {S - 5.0, "-10", "backwards_before_t1"},
        {S + 20.0, "NULL", "no_length_inside_null"},
        {S - 20.0, "NULL", "no_length_before_null"},
        {S + 600.0, "60", "later"},
        {S + 86400.0, "-90000", "backwards_from_tomorrow"},
    };
    std::string sql;
    for (const Row& r : rows) {
        sql +=
            "insert into filelist (sta, ch, tbegin, tqty, sps, cpath, datatype, foff) values "
            "('ABC', 'BHZ', " +
            Num(r.tbegin) + ", " + r.tqty + ", 100, '" + r.cpath + "', 1, 0);\n";
    }
    // Another channel and station, whose rows must never appear.
    sql += "insert into filelist values ('ABC', 'BHN', " + Num(S) + ", 60, 100, 'bhn', 1, 0);\n";
    sql += "insert into filelist values ('ABCD', 'BHZ', " + Num(S) + ", 60, 100, 'abcd', 1, 0);\n";
    return sql;
}

class SegmentListingTest : public testing::TestWithParam<Backend> {};

TEST_P(SegmentListingTest, SelectsExactlyTheRowsOfTheWindowsConditionAlone) {
    TestDataSource source(GetParam());
    ASSERT_TRUE(source.IsReady()) << source.Error();
    ASSERT_TRUE(source.ExecuteSql(EdgeCatalogue()));

    struct Window {
        double t1, t2;
        const char* what;
    };
    const Window windows[] = {
        {S, S + 60.0, "a minute"},
        {S - 0.0004, S + 60.0004, "edges that round to whole milliseconds"},
        {S + 0.0006, S + 59.9994, "edges that round away from the segments"},
        {S + 60.0, S, "end before start"},
        {S + 30.0, S + 30.0, "no length"},
        {S + 3600.0, S + 7200.0, "where no segment ends later"},
        {S - 365.0 * 86400.0, S, "a year back"},
        {S + 86400.0 - 90000.0, S + 86400.0, "around the backwards segment"},
    };
    for (const Window& w : windows) {
        SCOPED_TRACE(w.what);
        const std::vector<std::vector<std::string>> alone =
            source.QueryRows(WindowConditionOnly("ABC", "BHZ", w.t1, w.t2));
        const std::vector<std::vector<std::string>> bounded =
            source.QueryRows(SegmentListingStatement("ABC", "BHZ", w.t1, w.t2));
        // Equal start times may come in either order; the rows themselves must be the same.
        std::vector<std::string> alonePaths = Paths(alone);
        std::vector<std::string> boundedPaths = Paths(bounded);
        std::sort(alonePaths.begin(), alonePaths.end());
        std::sort(boundedPaths.begin(), boundedPaths.end());
        EXPECT_EQ(boundedPaths, alonePaths);
        EXPECT_EQ(bounded.size(), alone.size());
    }
    // The edge rows themselves, so that a catalogue that lists nothing cannot pass.
    std::vector<std::string> minute =
        Paths(source.QueryRows(SegmentListingStatement("ABC", "BHZ", S, S + 60.0)));
    std::sort(minute.begin(), minute.end());
    EXPECT_EQ(minute, (std::vector<std::string>{"a_year_ending_inside", "backwards_ending_inside",
                                                "backwards_inside", "ends_at_t1", "no_length_at_t1",
                                                "no_length_inside", "no_length_inside_null",
                                                "spans_the_window", "starts_at_t2"}));
}

INSTANTIATE_TEST_SUITE_P(Backends, SegmentListingTest, testing::ValuesIn(ALL_BACKENDS),
                         BackendParamName);

// The plan lines of a statement on SQLite that read filelist.
std::vector<std::string> FilelistPlan(TestDataSource& source, const std::string& statement) {
    std::vector<std::string> lines;
    for (const std::vector<std::string>& row :
         source.QueryRows("explain query plan " + statement)) {
        if (row.back().find("filelist") != std::string::npos ||
            row.back().find(" f ") != std::string::npos)
            lines.push_back(row.back());
    }
    return lines;
}

// SQLite chooses its plan from the statement and the indexes alone (no statistics are
// gathered here), so the plan of an empty catalogue is the plan of a long one.
TEST(SegmentListingPlan, SearchesEveryChannelByTimeOnSqlite) {
    TestDataSource source(Backend::Sqlite);
    ASSERT_TRUE(source.IsReady()) << source.Error();
    ASSERT_TRUE(source.ExecuteSql(EdgeCatalogue()));

    struct Case {
        const char* what;
        std::string statement;
    };
    const Case cases[] = {
        {"segments", SegmentListingStatement("ABC", "BHZ", S, S + 60.0)},
        {"stations of an event",
         "select distinct f.sta, f.ch, a.itime from filelist as f inner join arrival as a on "
         "f.sta=a.sta where f.tbegin+f.tqty > " +
             Num(S - 300.0) +
             " and a.eventid='E1' and (f.ch like '%z%' or f.ch like '%Z%') order by a.itime, "
             "f.sta, f.ch"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<std::string> plan = FilelistPlan(source, c.statement);
        ASSERT_FALSE(plan.empty());
        for (const std::string& line : plan) {
            SCOPED_TRACE(line);
            // A search of filelist bounded by a time: a start (tbegin) or an end (<expr>).
            EXPECT_EQ(line.rfind("SEARCH", 0), 0u);
            EXPECT_TRUE(line.find("tbegin>") != std::string::npos ||
                        line.find("<expr>>") != std::string::npos);
        }
    }
}

}  // namespace
