// Which station each row of the picture shows, in which order and with which settings:
// stations from the run's file and from the catalogue, segment mode, the CSS export per row,
// and the same pictures from a SQLite and a PostgreSQL catalogue.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/e2e_harness.h"
#include "tests/support/gif_probe.h"
#include "tests/support/odbc_fixture.h"

namespace {

constexpr double MINUTE = 60.0;
constexpr double SPS = 20.0;
constexpr double PI = 3.14159265358979323846;
// Every run of the hand-made catalogues shows 10:00:00 to 10:10:00.
const std::vector<std::string> TEN_MINUTES = {"tbeg=10:00:00 02.03.2004", "nsec=600", "/NOPREVIEW"};

// A sine of 1000 counts and 5 seconds' period, seconds long at 20 samples per second.
std::vector<float> Sine(double seconds) {
    std::vector<float> samples(static_cast<std::size_t>(seconds * SPS));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            static_cast<float>(1000.0 * std::sin(2.0 * PI * 0.2 * static_cast<double>(i) / SPS));
    return samples;
}

std::vector<float> Constant(double seconds, float value) {
    return std::vector<float>(static_cast<std::size_t>(seconds * SPS), value);
}

std::vector<std::string> With(std::vector<std::string> arguments, const std::string& more) {
    arguments.push_back(more);
    return arguments;
}

// Counts the text-coloured pixels of the phase-mark line of a pick at time in a row that
// shows [ARCHIVE_START, ARCHIVE_START + 600]; a full mark has rowHeight - 3.
int MarkPixels(const GifPicture& picture, const PlotGeometry& geometry, int row, double time) {
    const int x = static_cast<int>(1.0 + 698.0 * (time - ARCHIVE_START) / 600.0);
    const int top = geometry.RowTop(row);
    return picture.CountColour(TEXT_COLOUR, x, top + 2, x, top + geometry.rowHeight - 2);
}

class Rows : public BackendRun {
protected:
    // Writes a segment file of station's channel from tbegin and returns its filelist row.
    std::string Segment(const std::string& station, double tbegin,
                        const std::vector<float>& samples, const std::string& channel = "BHZ") {
        return WriteFloatSegment(folder->DataDir(), station, channel, tbegin, SPS, samples, 16);
    }
};

TEST_P(Rows, AreOrderedByTheirFirstPickAndKeepTheirPicks) {
    // Listed AAA (first pick 10:05), BBB (no picks), CCC (first pick 10:03): drawn BBB, CCC,
    // AAA.
    const double aaaPick = ARCHIVE_START + 5 * MINUTE;
    const double cccPick = ARCHIVE_START + 3 * MINUTE;
    ASSERT_TRUE(source->ExecuteSql(Segment("AAA", ARCHIVE_START, Sine(600)) +
                                   Segment("BBB", ARCHIVE_START, Sine(600)) +
                                   Segment("CCC", ARCHIVE_START, Sine(600)) +
                                   ArrivalInsert("AAA", "BHZ", "S", aaaPick + 60, 4.0, "E1") +
                                   ArrivalInsert("AAA", "BHZ", "P", aaaPick, 4.0, "E1") +
                                   ArrivalInsert("CCC", "BHZ", "P", cccPick, 2.0, "E1")));
    folder->WriteWaveIni(
        "[WAVEFORMS]\nN#=3\n\n[STA0]\nSTA=AAA\n\n[STA1]\nSTA=BBB\n\n[STA2]\nSTA=CCC\n");
    const PlotGeometry geometry = GeometryFor(3, false);
    const GifPicture picture = RunForPicture(*folder, TEN_MINUTES, geometry);
    ASSERT_TRUE(picture.IsLoaded());
    ExpectStationLabels(picture, geometry, {"BBB", "CCC", "AAA"});
    const int full = geometry.rowHeight - 3;
    EXPECT_EQ(MarkPixels(picture, geometry, 0, cccPick), 0);
    EXPECT_EQ(MarkPixels(picture, geometry, 0, aaaPick), 0);
    EXPECT_EQ(MarkPixels(picture, geometry, 1, cccPick), full);
    EXPECT_EQ(MarkPixels(picture, geometry, 1, aaaPick), 0);
    EXPECT_EQ(MarkPixels(picture, geometry, 2, aaaPick), full);
    EXPECT_EQ(MarkPixels(picture, geometry, 2, aaaPick + 60), full);
    // BBB has no picks and so no distance label; the others show their latest pick's.
    gdFontPtr distanceFont = FontForRole(FontRole::DISTANCE_LABEL, geometry.rowHeight);
    EXPECT_EQ(picture.CountColour(BLACK_COLOUR, 700 - 81, geometry.RowTop(0) + 1, 698,
                                  geometry.RowTop(0) + 14),
              0);
    EXPECT_EQ(picture.TextMismatches(distanceFont, 700 - 81, geometry.RowTop(1), "  222 km",
                                     BLACK_COLOUR),
              0);
    EXPECT_EQ(picture.TextMismatches(distanceFont, 700 - 81, geometry.RowTop(2), "  444 km",
                                     BLACK_COLOUR),
              0);
    // One palette entry per row follows the six fixed ones; the last row's is in use.
    EXPECT_EQ(picture.ColorsTotal(), 6 + 3);
}

TEST_P(Rows, MarkAndAreOrderedByTheListedPhasesOnly) {
    const double at = ARCHIVE_START;
    ASSERT_TRUE(source->ExecuteSql(Segment("AAA", at, Sine(600)) + Segment("BBB", at, Sine(600)) +
                                   ArrivalInsert("AAA", "BHZ", "P", at + 2 * MINUTE, 1.0, "E1") +
                                   ArrivalInsert("AAA", "BHZ", "S", at + 6 * MINUTE, 1.0, "E1") +
                                   ArrivalInsert("BBB", "BHZ", "P", at + 4 * MINUTE, 1.0, "E1") +
                                   ArrivalInsert("BBB", "BHZ", "S", at + 5 * MINUTE, 1.0, "E1")));
    struct Case {
        std::string phases;
        std::vector<std::string> rows;
        bool pMarked;
    };
    const Case cases[] = {
        {"", {"AAA", "BBB"}, true},
        {"PHASES=S\n", {"BBB", "AAA"}, false},
    };
    const PlotGeometry geometry = GeometryFor(2, false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phases);
        folder->WriteWaveIni("[WAVEFORMS]\nN#=2\n" + c.phases +
                             "\n[STA0]\nSTA=AAA\n\n[STA1]\nSTA=BBB\n");
        const GifPicture picture = RunForPicture(*folder, TEN_MINUTES, geometry);
        ASSERT_TRUE(picture.IsLoaded());
        ExpectStationLabels(picture, geometry, c.rows);
        const int aaaRow = c.rows[0] == "AAA" ? 0 : 1;
        const int full = geometry.rowHeight - 3;
        EXPECT_EQ(MarkPixels(picture, geometry, aaaRow, at + 2 * MINUTE), c.pMarked ? full : 0);
        EXPECT_EQ(MarkPixels(picture, geometry, aaaRow, at + 6 * MINUTE), full);
        EXPECT_EQ(MarkPixels(picture, geometry, 1 - aaaRow, at + 4 * MINUTE), c.pMarked ? full : 0);
    }
}

TEST_P(Rows, TakeTheSettingsOfTheSectionOfTheirPositionAfterSorting) {
    // STA0 lists AAA (pick 10:05) with a filter and a fixed scale, STA1 lists BBB (pick 10:03)
    // without: BBB moves to row 0 and takes the settings of STA0.
    ASSERT_TRUE(source->ExecuteSql(
        Segment("AAA", ARCHIVE_START, Constant(600, 100.0f)) +
        Segment("BBB", ARCHIVE_START, Constant(600, 100.0f)) +
        ArrivalInsert("AAA", "BHZ", "P", ARCHIVE_START + 5 * MINUTE, 1.0, "E1") +
        ArrivalInsert("BBB", "BHZ", "P", ARCHIVE_START + 3 * MINUTE, 1.0, "E1")));
    folder->WriteWaveIni(
        "[WAVEFORMS]\nN#=2\n\n[STA0]\nSTA=AAA\nfilter=1,5\nSCALE=1000;-1000\n\n"
        "[STA1]\nSTA=BBB\n");
    const PlotGeometry geometry = GeometryFor(2, false);
    const GifPicture picture = RunForPicture(*folder, With(TEN_MINUTES, "/SHOWMINMAX"), geometry);
    ASSERT_TRUE(picture.IsLoaded());
    ExpectStationLabels(picture, geometry, {"BBB", "AAA"});
    gdFontPtr small = FontForRole(FontRole::FILTER_LABEL, geometry.rowHeight);
    const int filterY0 = geometry.RowTop(0) + geometry.rowHeight - 11;
    const int filterY1 = geometry.RowTop(1) + geometry.rowHeight - 11;
    // The next row's separator crosses the label's eleventh pixel row.
    EXPECT_EQ(picture.TextMismatches(small, 700 - 90, filterY0, "Flt: 1.0-5.0/3", GREEN_COLOUR, 10),
              0);
    EXPECT_EQ(picture.CountColour(GREEN_COLOUR, 0, filterY1, 699, filterY1 + 11), 0);
    // The fixed scale, widened, on BBB's row; AAA's constant 100 scaled automatically.
    EXPECT_EQ(picture.TextMismatches(small, 50, geometry.RowTop(0) - 1, "min/max: -1200/1200",
                                     GREEN_COLOUR),
              0);
    EXPECT_EQ(
        picture.TextMismatches(small, 50, geometry.RowTop(1) - 1, "min/max: 99/101", GREEN_COLOUR),
        0);
}

TEST_P(Rows, ComeFromTheCatalogueForAll) {
    const double at = ARCHIVE_START;
    ASSERT_TRUE(source->ExecuteSql(
        Segment("AAA", at, Sine(600)) + Segment("AAA", at, Sine(600), "BHN") +
        Segment("BBB", at, Sine(600)) + Segment("CCC", at, Sine(600)) +
        // Data that ended more than 300 s before the start, and data of a horizontal channel
        // only: neither station is listed.
        Segment("OLD", at - 20 * MINUTE, Sine(840)) + Segment("HOR", at, Sine(600), "BHN") +
        // Data that ended less than 300 s before the start: listed, with an empty row.
        Segment("EDGE", at - 20 * MINUTE, Sine(960)) +
        ArrivalInsert("AAA", "BHZ", "P", at + 4 * MINUTE, 1.0, "EV1") +
        ArrivalInsert("BBB", "BHZ", "P", at + 2 * MINUTE, 1.0, "EV1") +
        ArrivalInsert("BBB", "BHZ", "P", at + 6 * MINUTE, 1.0, "EV2") +
        ArrivalInsert("OLD", "BHZ", "P", at + 1 * MINUTE, 1.0, "EV1")));
    folder->WriteWaveIni("[WAVEFORMS]\nN#=ALL\n");
    struct Case {
        std::string name, more;
        std::vector<std::string> rows;
        int bbbRow;
        bool ev2Marked;
    };
    const Case cases[] = {
        // Listed by code, then sorted: the rows without picks first.
        {"every station with recent vertical data", "", {"CCC", "EDGE", "BBB", "AAA"}, 2, true},
        {"the stations that picked the event", "eventid=ev1", {"BBB", "AAA"}, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PlotGeometry geometry = GeometryFor(static_cast<int>(c.rows.size()), true);
        const GifPicture picture = RunForPicture(*folder, With(TEN_MINUTES, c.more), geometry);
        ASSERT_TRUE(picture.IsLoaded());
        ExpectStationLabels(picture, geometry, c.rows);
        gdFontPtr channelFont = FontForRole(FontRole::CHANNEL_LABEL, geometry.rowHeight);
        for (std::size_t row = 0; row < c.rows.size(); ++row) {
            const int top = geometry.RowTop(static_cast<int>(row));
            EXPECT_EQ(picture.TextMismatches(channelFont, 3, top + geometry.rowHeight - 11, "BHZ",
                                             TEXT_COLOUR),
                      0)
                << "row " << row;
        }
        EXPECT_EQ(MarkPixels(picture, geometry, c.bbbRow, at + 2 * MINUTE), geometry.rowHeight - 3);
        EXPECT_EQ(MarkPixels(picture, geometry, c.bbbRow, at + 6 * MINUTE),
                  c.ev2Marked ? geometry.rowHeight - 3 : 0);
    }
}

TEST_P(Rows, ExportOnlyTheRowsWithDataUnfilteredAndOnlyInsideTheirWindow) {
    ASSERT_TRUE(source->ExecuteSql(Segment("AAA", ARCHIVE_START, Constant(600, 100.0f)) +
                                   Segment("CCC", ARCHIVE_START, Sine(600))));
    folder->WriteWaveIni(
        "[WAVEFORMS]\nN#=3\nfilter=1,5\n\n[STA0]\nSTA=AAA\n\n[STA1]\nSTA=NOD\n\n"
        "[STA2]\nSTA=CCC\n\n[CSS30OUTPUT]\nFILE=.\\export\\rows.wfd\n");
    folder->WriteWorkFile("export/keep.txt", "");
    // A second run appends its records to the same file.
    for (int run = 0; run < 2; ++run)
        ASSERT_TRUE(
            RunForPicture(*folder, With(TEN_MINUTES, "css"), GeometryFor(3, false)).IsLoaded());

    const std::vector<WfdiscRecord> records = ReadWfdisc(folder->WorkFile("export/rows.wfd"));
    ASSERT_EQ(records.size(), 4u);
    const char* const stations[] = {"AAA", "CCC", "AAA", "CCC"};
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i].length, 283u);
        EXPECT_EQ(records[i].sta, stations[i]);
        EXPECT_EQ(records[i].chan, "bhz");
        EXPECT_NEAR(records[i].time, ARCHIVE_START, 1e-4);
        EXPECT_NEAR(records[i].endtime, ARCHIVE_START + 600, 1e-4);
        EXPECT_EQ(records[i].nsamp, 12000);
        EXPECT_EQ(records[i].jdate, 2004062);
        EXPECT_EQ(records[i].datatype, "s4");
        EXPECT_EQ(records[i].dfile, "0-10000002032004-" + std::string(stations[i]) + "-bhz.w");
    }
    // The samples as read, big-endian integers, before the row's filter changed them.
    const std::string samples =
        ReadFileBytes(folder->WorkFile("export/0-10000002032004-AAA-bhz.w"));
    std::string hundreds;
    for (int i = 0; i < 12000; ++i) hundreds += std::string("\0\0\0d", 4);
    EXPECT_TRUE(samples == hundreds);
    EXPECT_EQ(ReadFileBytes(folder->WorkFile("export/0-10000002032004-CCC-bhz.w")).size(), 48000u);
    EXPECT_FALSE(std::filesystem::exists(folder->WorkFile("export/0-10000002032004-NOD-bhz.w")));

    // A window that starts where a file ends: the catalogue lists that file too, since it
    // touches the window, but it holds no sample of the window and must not become a record
    // dated anywhere else (such as 1970-01-01).
    ASSERT_TRUE(source->ExecuteSql(Segment("AAA", ARCHIVE_START + 600, Sine(300))));
    folder->WriteWaveIni("[WAVEFORMS]\nN#=1\n\n[STA0]\nSTA=AAA\n");
    ASSERT_TRUE(RunForPicture(*folder,
                              {"tbeg=10:10:00 02.03.2004", "nsec=300", "/NOPREVIEW", "css"},
                              GeometryFor(1, false))
                    .IsLoaded());
    const std::vector<WfdiscRecord> touching = ReadWfdisc(folder->WorkFile("wave.wfd"));
    ExpectRecordsCover(RecordsWithSamples(touching), ARCHIVE_START + 600, ARCHIVE_START + 900);
    for (const WfdiscRecord& record : touching) {
        SCOPED_TRACE(record.dfile);
        EXPECT_GE(record.time, ARCHIVE_START + 600);
        EXPECT_LE(record.time, ARCHIVE_START + 900);
    }
}

TEST_P(Rows, SayOnStandardErrorWhenTheirBandIsChangedOrNotApplied) {
    // Ten minutes of a 3 Hz sine at 100 samples per second for each station.
    std::vector<float> sine(60000);
    for (std::size_t i = 0; i < sine.size(); ++i)
        sine[i] =
            static_cast<float>(1000.0 * std::sin(2.0 * PI * 3.0 * static_cast<double>(i) / 100.0));
    std::string sql;
    for (const char* station : {"AAA", "BBB", "CCC"})
        sql += WriteFloatSegment(folder->DataDir(), station, "BHZ", ARCHIVE_START, 100.0, sine, 0);
    ASSERT_TRUE(source->ExecuteSql(sql));
    const std::string stations =
        "[STA0]\nSTA=AAA\nfilter=0.001,5\n\n[STA1]\nSTA=BBB\nfilter=1,49.99998\n\n"
        "[STA2]\nSTA=CCC\nfilter=1,10\n";
    const std::string refused =
        "AAA BHZ: filter 0.001-5 Hz at 100 samples per second would grow without bound: left "
        "unfiltered\n";
    const std::string highPass =
        "BBB BHZ: filter 1-49.99998 Hz at 100 samples per second reaches half the sampling "
        "rate: filtered as a high-pass from its low corner\n";

    folder->WriteWaveIni("[WAVEFORMS]\nN#=3\n\n" + stations);
    ProcessResult result = folder->Run(TEN_MINUTES);
    EXPECT_EQ(result.status, SHELL_OK);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.errors, refused + highPass);
    // Every row of a drum has the same band: the line comes once.
    folder->WriteWaveIni("[WAVEFORMS]\nN#=1\n\n" + stations);
    result = folder->Run({"tbeg=09:59:00 02.03.2004", "nsec=600:120", "/NOPREVIEW"});
    EXPECT_EQ(result.status, SHELL_OK);
    EXPECT_EQ(result.errors, refused);
}

TEST_P(Rows, ShowOneStationAsSegmentsInSegmentMode) {
    // ABEL from 10:00 to 10:30 with an event at about 10:15.
    ASSERT_TRUE(folder->Generate({"--stations", "1", "--channels", "BHZ", "--span", "1800",
                                  "--segment", "300", "--sps", "20", "--events", "1"}));
    folder->WriteWaveIni("[WAVEFORMS]\nN#=1\n\n[STA0]\nSTA=ABEL\nfilter=0.5,5\n");
    struct Case {
        std::string nsec;
        int rows;
        std::string headerEnd;
    };
    // 09:59:00 moves to the next 600-second boundary, 10:00:00.
    const Case cases[] = {
        {"nsec=3600:600", 6, "02/03/2004 11:00:00"},
        // Five whole segments: the window shrinks to 3000 s.
        {"nsec=3500:600", 5, "02/03/2004 10:50:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nsec);
        const std::string wfdisc = c.nsec.substr(5, 4) + ".WFD";
        const PlotGeometry geometry = GeometryFor(c.rows, false);
        const GifPicture picture = RunForPicture(
            *folder, {"tbeg=09:59:00 02.03.2004", c.nsec, "/NOPREVIEW", "css=" + wfdisc}, geometry);
        ASSERT_TRUE(picture.IsLoaded());
        ExpectHeader(picture, geometry, "02/03/2004 10:00:00     ABEL::BHZ     Flt: 0.5-5.0/3",
                     c.headerEnd);
        for (int row = 0; row < c.rows; ++row) {
            SCOPED_TRACE(row);
            const int top = geometry.RowTop(row);
            // The recording fills the first three rows of ten minutes.
            const int drawn = picture.CountInRow(WAVEFORM_COLOUR, geometry, row);
            if (row < 3)
                EXPECT_GT(drawn, 698);
            else
                EXPECT_EQ(drawn, 0);
            // No row carries labels of its own.
            EXPECT_EQ(picture.CountColour(TEXT_COLOUR, 0, top, 60, top + geometry.rowHeight), 0);
            EXPECT_EQ(picture.CountColour(GREEN_COLOUR, 0, top, 699, top + geometry.rowHeight), 0);
        }
        // Every row exported its own ten minutes.
        ExpectRecordsCover(RecordsWithSamples(ReadWfdisc(folder->WorkFile(wfdisc))), ARCHIVE_START,
                           ARCHIVE_START + 30 * MINUTE);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, Rows, testing::ValuesIn(ALL_BACKENDS), BackendParamName);

// The same archive and settings give the same bytes whichever database holds the catalogue.
TEST(RowsOnBothBackends, GiveByteIdenticalPictures) {
    std::vector<std::unique_ptr<TestDataSource>> sources;
    std::vector<std::unique_ptr<RunFolder>> folders;
    for (Backend backend : ALL_BACKENDS) {
        sources.push_back(std::make_unique<TestDataSource>(backend));
        ASSERT_TRUE(sources.back()->IsReady()) << sources.back()->Error();
        folders.push_back(std::make_unique<RunFolder>(*sources.back()));
        // Four stations with every sample encoding but one, vertical and horizontal channels.
        ASSERT_TRUE(folders.back()->Generate({"--stations", "4", "--channels", "BHZ,BHN", "--span",
                                              "1800", "--segment", "300", "--sps", "20", "--events",
                                              "1", "--seed", "11"}));
    }
    struct Case {
        std::string name, sections;
        std::vector<std::string> arguments;
        int rows;
    };
    const Case cases[] = {
        {"the latest event",
         "[WAVEFORMS]\nN#=ALL\nNSEC=600\nPHASES=P,S\n",
         {"eventid=last", "/showevent"},
         4},
        {"segment mode",
         "[WAVEFORMS]\nN#=1\n\n[STA0]\nSTA=BORA\nfilter=0.5,8\n",
         {"tbeg=09:59:00 02.03.2004", "nsec=1800:300"},
         6},
        // DUNK's horizontal channel has no picks and comes first; BORA picked before ABEL and
        // takes the fixed scale of STA1.
        {"filtered, with fixed and automatic scales",
         "[WAVEFORMS]\nN#=3\nfilter=1,8\n\n[STA0]\nSTA=DUNK\nCH=BHN\n\n[STA1]\nSTA=ABEL\n"
         "SCALE=4000;-4000\n\n[STA2]\nSTA=BORA\n",
         {"tbeg=10:12:00 02.03.2004", "nsec=600", "/showminmax"},
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> pictures;
        for (const auto& folder : folders) {
            SCOPED_TRACE(BackendName(folder->Source().GetBackend()));
            folder->WriteWaveIni(c.sections);
            const PlotGeometry geometry = GeometryFor(c.rows, false);
            const GifPicture picture =
                RunForPicture(*folder, With(c.arguments, "/NOPREVIEW"), geometry);
            ASSERT_TRUE(picture.IsLoaded());
            pictures.push_back(ReadFileBytes(folder->WorkFile("OUT.GIF")));
            // Not an empty picture: every row has samples drawn and is covered by no other.
            for (int row = 0; row < c.rows; ++row) {
                EXPECT_GT(picture.CountInRow(BACKGROUND_COLOUR, geometry, row), 698) << row;
                EXPECT_GT(picture.CountInRow(WAVEFORM_COLOUR, geometry, row), 698) << row;
            }
        }
        ASSERT_EQ(pictures.size(), 2u);
        EXPECT_TRUE(pictures[0] == pictures[1]) << "the pictures differ";
    }
}

}  // namespace
