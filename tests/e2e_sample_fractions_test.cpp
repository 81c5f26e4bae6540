// Archives whose times the doubles of epoch seconds cannot hold exactly: a rate such as 33.333
// sps, whose files of 10 000 samples last 300.003 s, starts a few milliseconds after the
// second, and 40.5 sps. A file holds its whole count, continuous files join in the exports,
// in the coverage and in the pre-roll, and complete data has no gaps.

#include <gtest/gtest.h>
#include <libmseed.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/e2e_harness.h"
#include "tests/support/gif_probe.h"
#include "tests/support/odbc_fixture.h"

namespace {

using Json = nlohmann::json;

constexpr Rgb GAP_COLOUR = {160, 160, 160};

// One generated station: its rate, the epoch seconds of its first sample and the samples of
// each of its files of 300 s (300.003 s at 33.333 sps).
struct Archive {
    const char* station;
    const char* sps;
    const char* start;
    long fileSamples;
};

const Archive ARCHIVES[] = {
    {"THIRD", "33.333", "1078221600", 10000},
    {"SHIFT", "33.333", "1078221600.003", 10000},
    {"HALF", "40.5", "1078221600", 12150},
};
constexpr int ARCHIVE_COUNT = 3;

// 10:02:01 to 10:22:01: the window begins inside the first file, holds the next three whole and
// ends inside the fifth.
const std::vector<std::string> WINDOW = {"tbeg=10:02:01 02.03.2004", "nsec=1200", "/NOPREVIEW"};

class SampleFractions : public BackendRun {
protected:
    void GenerateArchives() const {
        for (int a = 0; a < ARCHIVE_COUNT; ++a) {
            std::vector<std::string> options = {"--station-list", ARCHIVES[a].station,
                                                "--channels",     "BHZ",
                                                "--span",         "1800",
                                                "--segment",      "300",
                                                "--sps",          ARCHIVES[a].sps,
                                                "--start",        ARCHIVES[a].start,
                                                "--events",       "0",
                                                "--datatype",     "3"};
            if (a > 0)
                options.push_back("--no-schema");
            ASSERT_TRUE(folder->Generate(options));
        }
    }

    std::string Stations(const std::string& more = "") const {
        std::string text = "[WAVEFORMS]\nN#=" + std::to_string(ARCHIVE_COUNT) + "\n" + more;
        for (int a = 0; a < ARCHIVE_COUNT; ++a)
            text += "\n[STA" + std::to_string(a) + "]\nSTA=" + ARCHIVES[a].station + "\n";
        return text;
    }
};

TEST_P(SampleFractions, ExportsEveryFileWholeAndContinuous) {
    GenerateArchives();
    folder->WriteWaveIni(Stations());
    std::vector<std::string> arguments = WINDOW;
    arguments.insert(arguments.end(), {"css=rows.wfd", "mseed"});
    const ProcessResult result = folder->Run(arguments);
    ASSERT_EQ(result.status, SHELL_OK);
    EXPECT_EQ(result.errors, "");

    const std::vector<WfdiscRecord> records =
        RecordsWithSamples(ReadWfdisc(folder->WorkFile("ROWS.WFD")));
    for (const Archive& archive : ARCHIVES) {
        SCOPED_TRACE(archive.station);
        std::vector<WfdiscRecord> own;
        for (const WfdiscRecord& record : records) {
            if (record.sta == archive.station)
                own.push_back(record);
        }
        ASSERT_EQ(own.size(), 5u);
        // The three files inside the window hold all their samples, and each record begins
        // where the one before ends.
        for (std::size_t i = 1; i < own.size(); ++i) {
            SCOPED_TRACE(own[i].dfile);
            if (i < 4) {
                EXPECT_EQ(own[i].nsamp, archive.fileSamples);
            }
            EXPECT_NEAR(own[i].time, own[i - 1].endtime, 1e-5);
        }
    }

    // libmseed's own reader joins records that continue each other within half a sample.
    MSTraceGroup* group = nullptr;
    ASSERT_EQ(
        ms_readtraces(&group, folder->WorkFile("wave.mseed").c_str(), 0, -1.0, -1.0, 0, 1, 1, 0),
        MS_NOERROR);
    std::vector<std::string> traces;
    for (MSTrace* trace = group->traces; trace != nullptr; trace = trace->next)
        traces.push_back(std::string(trace->station) + " " + std::to_string(trace->samplecnt));
    mst_freegroup(&group);
    // From the last sample at or before 10:02:01 on; the window's end truncates the last
    // file's count, (10:22:01 - tbegin) * sps, toward zero.
    const std::vector<std::string> expected = {"HALF 48600", "SHIFT 39999", "THIRD 39999"};
    std::sort(traces.begin(), traces.end());
    EXPECT_EQ(traces, expected);
}

TEST_P(SampleFractions, FindsCompleteDataComplete) {
    GenerateArchives();
    // Each window begins inside a file and ends at an instant of a sample, so that the last
    // sample read covers its end: 10:16:40 is sample 33 333 of THIRD, 10:28:20 sample 56 666
    // of SHIFT, 10:22:00 sample 53 460 of HALF.
    struct Case {
        const char* station;
        const char* tbeg;
        const char* nsec;
    };
    const Case cases[] = {
        {"THIRD", "tbeg=10:01:40 02.03.2004", "nsec=900"},
        {"SHIFT", "tbeg=10:01:40 02.03.2004", "nsec=1600"},
        {"HALF", "tbeg=10:02:01 02.03.2004", "nsec=1199"},
    };
    const PlotGeometry geometry = GeometryFor(1, false);
    const int barY = geometry.RowTop(0) + geometry.rowHeight - 3;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.station);
        folder->WriteWaveIni("[WAVEFORMS]\nN#=1\n\n[STA0]\nSTA=" + std::string(c.station) + "\n");
        const ProcessResult result =
            folder->Run({c.tbeg, c.nsec, "/NOPREVIEW", "file=gaps.gif", "/GAPS", "/JSON"});
        ASSERT_EQ(result.status, SHELL_OK);
        EXPECT_EQ(result.errors, "");
        const Json description =
            Json::parse(ReadFileBytes(folder->WorkFile("GAPS.json")), nullptr, false);
        ASSERT_TRUE(description.is_object());
        ASSERT_EQ(description["rows"].size(), 1u);
        const Json& row = description["rows"][0];
        EXPECT_EQ(row["gaps"].size(), 0u) << row["gaps"].dump();
        EXPECT_EQ(row["completeness"].get<double>(), 1.0);
        const GifPicture picture(folder->WorkFile("GAPS.GIF"));
        ASSERT_TRUE(picture.IsLoaded());
        EXPECT_EQ(picture.CountColour(GAP_COLOUR, 1, barY - 1, 698, barY + 1), 0);
    }
}

// Four files of 10 000 samples at 33.333 sps from 10:00:00.003 (station SINE) and the same
// samples in one file (station WHOLE): a constant offset far outside the band and a sine of
// 10 s period inside it.
class SampleFractionsPreroll : public BackendRun {
protected:
    void SetUp() override {
        BackendRun::SetUp();
        if (HasFatalFailure())
            return;
        constexpr double PI = 3.14159265358979323846;
        constexpr double SPS = 33.333;
        constexpr int FILE_SAMPLES = 10000;
        std::vector<float> samples(4 * FILE_SAMPLES);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const double t = static_cast<double>(i) / SPS;
            samples[i] = static_cast<float>(50000.0 + 1000.0 * std::sin(2.0 * PI * 0.1 * t));
        }
        std::string sql = WriteFloatSegment(folder->DataDir(), "WHOLE", "BHZ",
                                            ARCHIVE_START + 0.003, SPS, samples, 0);
        for (int file = 0; file < 4; ++file) {
            const auto first = samples.begin() + file * FILE_SAMPLES;
            sql += WriteFloatSegment(folder->DataDir(), "SINE", "BHZ",
                                     ARCHIVE_START + 0.003 + file * FILE_SAMPLES / SPS, SPS,
                                     std::vector<float>(first, first + FILE_SAMPLES), 0);
        }
        ASSERT_TRUE(source->ExecuteSql(sql));
    }
};

TEST_P(SampleFractionsPreroll, FiltersThroughTheFileBoundaryInTheWindow) {
    folder->WriteWaveIni(
        "[WAVEFORMS]\nN#=2\nfilter=0.05,2\nPREROLL=60\n\n[STA0]\nSTA=SINE\n\n[STA1]\nSTA=WHOLE\n");
    // SINE's third file begins at 10:15:00.009, half a minute into the window.
    const ProcessResult result =
        folder->Run({"tbeg=10:14:30 02.03.2004", "nsec=60", "/NOPREVIEW", "/JSON"});
    ASSERT_EQ(result.status, SHELL_OK);
    EXPECT_EQ(result.errors, "");
    const Json description =
        Json::parse(ReadFileBytes(folder->WorkFile("OUT.json")), nullptr, false);
    ASSERT_TRUE(description.is_object());
    ASSERT_EQ(description["rows"].size(), 2u);
    // The filter runs through the boundary as through one file: no step where the file begins
    // widens the row's range.
    const Json& files = description["rows"][0]["scale"];
    const Json& whole = description["rows"][1]["scale"];
    EXPECT_NEAR(files["max"].get<double>(), whole["max"].get<double>(), 1.0);
    EXPECT_NEAR(files["min"].get<double>(), whole["min"].get<double>(), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Backends, SampleFractions, testing::ValuesIn(ALL_BACKENDS),
                         BackendParamName);
INSTANTIATE_TEST_SUITE_P(Backends, SampleFractionsPreroll, testing::ValuesIn(ALL_BACKENDS),
                         BackendParamName);

}  // namespace
