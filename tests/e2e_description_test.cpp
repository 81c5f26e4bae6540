// Data availability marked on the picture (/GAPS) and the JSON description of every image
// (/JSON), checked against the archive's holes, the picture's pixels and the JSON Schema.

#include <gd.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "description/image_description.h"
#include "dsp/filter.h"
#include "plot/fonts.h"
#include "tests/support/e2e_harness.h"
#include "tests/support/gif_probe.h"
#include "tests/support/odbc_fixture.h"

namespace {

using Json = nlohmann::json;

constexpr Rgb GAP_COLOUR = {160, 160, 160};
// 2004-03-02 10:10:00, the start of the gap runs' window of 1200 s.
constexpr double WINDOW_START = ARCHIVE_START + 600.0;
constexpr double WINDOW_SECONDS = 1200.0;
// The first column right of a three-character channel label in the 6x12 font.
constexpr int CHANNEL_LABEL_END = 3 + 3 * 6;

Json ReadJson(const std::string& path) { return Json::parse(ReadFileBytes(path), nullptr, false); }

// Checks every description against the JSON Schema with Debian's python3-jsonschema.
void ExpectValidAgainstSchema(const std::vector<std::string>& paths) {
    std::vector<std::string> arguments = {
        "-c",
        "import json, sys, jsonschema\n"
        "schema = json.load(open(sys.argv[1]))\n"
        "validator = jsonschema.validators.validator_for(schema)\n"
        "validator.check_schema(schema)\n"
        "for path in sys.argv[2:]:\n"
        "    validator(schema).validate(json.load(open(path)))\n",
        TRAZPLOT_SOURCE_DIR "/docs/description.schema.json"};
    arguments.insert(arguments.end(), paths.begin(), paths.end());
    const ProcessResult result = RunProcess("/usr/bin/python3", arguments, "/", {"LANG=C.UTF-8"});
    EXPECT_EQ(result.status, 0) << result.errors;
}

// A row of the gap runs: its station, the stretches (seconds after WINDOW_START) that no
// present sample covers, and the completeness text.
struct GapRow {
    std::string station;
    std::vector<TimeSpan> gaps;
    std::string completeness;
};

// The pixel column of a time in the gap runs' window, as the samples are mapped.
int Column(double secondsIntoWindow) {
    return static_cast<int>(1.0 + secondsIntoWindow * 698.0 / WINDOW_SECONDS);
}

class Description : public BackendRun {};

TEST_P(Description, MarksEveryKindOfHoleAndDescribesItAsDrawn) {
    // ABEL sound, BORA a gap of 10 s, CEDA an overlap, DUNK a missing file, ELMO a short file,
    // each in the file of 10:15 to 10:20.
    ASSERT_TRUE(
        folder->Generate({"--stations", "5", "--channels", "BHZ", "--span", "1800", "--segment",
                          "300", "--sps", "20", "--defects", "--events", "0"}));
    // MARK: one file of 10:10 to 10:25 with 20 s of missing-sample markers from 10:15.
    std::vector<float> marked(18000, 100.0f);
    std::fill(marked.begin() + 6000, marked.begin() + 6400, MISSING_SAMPLE);
    ASSERT_TRUE(source->ExecuteSql(
        WriteFloatSegment(folder->DataDir(), "MARK", "BHZ", WINDOW_START, 20.0, marked, 0)));
    const std::vector<GapRow> rows = {
        {"MARK", {{300, 320}, {900, 1200}}, "73.3%"},
        {"ABEL", {}, "100.0%"},
        {"BORA", {{300, 310}}, "99.1%"},
        {"CEDA", {}, "100.0%"},
        {"DUNK", {{300, 600}}, "75.0%"},
        {"ELMO", {{450, 600}}, "87.5%"},
        {"NODATA", {{0, 1200}}, "0.0%"},
    };
    std::string stations;
    for (std::size_t i = 0; i < rows.size(); ++i)
        stations += "\n[STA" + std::to_string(i) + "]\nSTA=" + rows[i].station + "\n";
    // The markers' values are drawn as they are: a fixed scale keeps the sound samples in view.
    stations.replace(stations.find("STA=MARK\n") + 9, 0, "SCALE=2000;-2000\n");
    folder->WriteWaveIni("[WAVEFORMS]\nN#=7\n" + stations);
    const std::vector<std::string> window = {"tbeg=10:10:00 02.03.2004", "nsec=1200", "/NOPREVIEW"};
    auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), window.begin(), window.end());
        return more;
    };
    for (const auto& run : {with({"file=plain.gif"}), with({"file=gaps.gif", "/GAPS", "/JSON"})}) {
        const ProcessResult result = folder->Run(run);
        ASSERT_EQ(result.status, SHELL_OK) << result.output;
        EXPECT_EQ(result.errors, "");
    }
    folder->WriteWaveIni("[WAVEFORMS]\nN#=7\nGAPS=0\n" + stations);
    EXPECT_EQ(folder->Run(with({"file=zero.gif"})).status, SHELL_OK);
    EXPECT_EQ(ReadFileBytes(folder->WorkFile("ZERO.GIF")),
              ReadFileBytes(folder->WorkFile("PLAIN.GIF")));

    const PlotGeometry geometry = GeometryFor(7, false);
    const GifPicture picture(folder->WorkFile("GAPS.GIF"));
    ASSERT_TRUE(picture.IsLoaded());
    const gdFontPtr font = PlotFont(FontCell::SMALL_6X12);
    // What may differ from the plain picture: the bars and the completeness texts.
    std::vector<gdRect> allowed;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        SCOPED_TRACE(rows[r].station);
        const int top = geometry.RowTop(static_cast<int>(r));
        const int barY = top + geometry.rowHeight - 3;
        int gapPixels = 0;
        for (int x = 1; x < 699; ++x) gapPixels += picture.At(x, barY) == GAP_COLOUR;
        if (rows[r].gaps.empty()) {
            EXPECT_EQ(gapPixels, 0);
        }
        for (const TimeSpan& gap : rows[r].gaps) {
            const int first = Column(gap.start);
            const int last = std::max(first, Column(gap.end) - 1);
            // The samples on either side may cover the bar's end columns, and the channel
            // label, written after it, its first ones.
            const int from = std::max(first + 1, CHANNEL_LABEL_END);
            EXPECT_EQ(picture.CountColour(GAP_COLOUR, from, barY - 1, last - 1, barY + 1),
                      3 * (last - from));
            EXPECT_FALSE(picture.At(first - 1, barY) == GAP_COLOUR);
            EXPECT_FALSE(picture.At(last + 1, barY) == GAP_COLOUR);
            allowed.push_back({first, barY - 1, last - first + 1, 3});
        }
        const int textX = 700 - 87 - font->w * static_cast<int>(rows[r].completeness.size());
        EXPECT_EQ(picture.TextMismatches(font, textX, top + 1, rows[r].completeness, TEXT_COLOUR),
                  0);
        allowed.push_back({textX, top + 1, font->w * 6, font->h});
    }

    // The GIF's colour table: the plain picture's entries (six and one per row), then the
    // gap colour; every other pixel unchanged.
    const std::string plainBytes = ReadFileBytes(folder->WorkFile("PLAIN.GIF"));
    const std::string gapsBytes = ReadFileBytes(folder->WorkFile("GAPS.GIF"));
    const std::size_t entries = 6 + rows.size();
    ASSERT_GE(GifColourTableSize(gapsBytes), static_cast<int>(entries + 1));
    EXPECT_EQ(gapsBytes.substr(13, 3 * entries), plainBytes.substr(13, 3 * entries));
    EXPECT_EQ(gapsBytes.substr(13 + 3 * entries, 3), "\xA0\xA0\xA0");
    const auto plain = ReadPicture(folder->WorkFile("PLAIN.GIF"));
    const auto gaps = ReadPicture(folder->WorkFile("GAPS.GIF"));
    ASSERT_TRUE(plain && gaps);
    int elsewhere = 0;
    for (int y = 0; y < gdImageSY(plain.get()); ++y) {
        for (int x = 0; x < gdImageSX(plain.get()); ++x) {
            if (gdImageGetPixel(plain.get(), x, y) == gdImageGetPixel(gaps.get(), x, y))
                continue;
            bool inside = false;
            for (const gdRect& rect : allowed) {
                inside = inside || (x >= rect.x && x < rect.x + rect.width && y >= rect.y &&
                                    y < rect.y + rect.height);
            }
            elsewhere += !inside;
        }
    }
    EXPECT_EQ(elsewhere, 0);

    // The description says the same.
    const Json description = ReadJson(folder->WorkFile("GAPS.json"));
    ASSERT_TRUE(description.is_object());
    EXPECT_EQ(description["image"]["file"], "GAPS.GIF");
    EXPECT_EQ(description["image"]["height"], geometry.height);
    EXPECT_EQ(description["window"]["start"], "2004-03-02T10:10:00.000Z");
    EXPECT_EQ(description["window"]["end"], "2004-03-02T10:30:00.000Z");
    EXPECT_TRUE(description["event"].is_null());
    ASSERT_EQ(description["rows"].size(), rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        SCOPED_TRACE(rows[r].station);
        const Json& row = description["rows"][r];
        EXPECT_EQ(row["station"], rows[r].station);
        EXPECT_EQ(row["band"]["top"], geometry.RowTop(static_cast<int>(r)));
        EXPECT_EQ(row["band"]["height"], geometry.rowHeight);
        double missing = 0.0;
        ASSERT_EQ(row["gaps"].size(), rows[r].gaps.size());
        for (std::size_t g = 0; g < rows[r].gaps.size(); ++g) {
            const TimeSpan& gap = rows[r].gaps[g];
            EXPECT_EQ(row["gaps"][g]["start"], IsoTime(WINDOW_START + gap.start));
            EXPECT_EQ(row["gaps"][g]["end"], IsoTime(WINDOW_START + gap.end));
            missing += gap.end - gap.start;
        }
        EXPECT_NEAR(row["completeness"].get<double>(), 1.0 - missing / WINDOW_SECONDS, 1e-9);
        EXPECT_TRUE(row["filter"].is_null());
        EXPECT_EQ(row["sampleRates"].size(), r == 6 ? 0u : 1u);
    }
    ExpectValidAgainstSchema({folder->WorkFile("GAPS.json")});
}

TEST_P(Description, FindsTheHolesOfFilteredRowsBeforeFilteringMovesThem) {
    // Two files of ten minutes at 20 sps from 10:10, each with missing-sample markers from
    // 12 s to 15 s after its start: within the 10 s to 20 s that filtering copies over the
    // first 10 s of a file to hide the filter's start-up.
    std::string sql;
    for (int file = 0; file < 2; ++file) {
        std::vector<float> samples(12000, 100.0f);
        std::fill(samples.begin() + 240, samples.begin() + 300, MISSING_SAMPLE);
        sql += WriteFloatSegment(folder->DataDir(), "MARK", "BHZ", WINDOW_START + 600.0 * file,
                                 20.0, samples, 0);
    }
    ASSERT_TRUE(source->ExecuteSql(sql));
    folder->WriteWaveIni("[WAVEFORMS]\nN#=1\nfilter=1,5\n\n[STA0]\nSTA=MARK\n");
    const ProcessResult result =
        folder->Run({"tbeg=10:10:00 02.03.2004", "nsec=1200", "/JSON", "/NOPREVIEW"});
    ASSERT_EQ(result.status, SHELL_OK) << result.output;
    const Json description = ReadJson(folder->WorkFile("OUT.json"));
    ASSERT_TRUE(description.is_object());
    ASSERT_EQ(description["rows"].size(), 1u);
    const Json& gaps = description["rows"][0]["gaps"];
    ASSERT_EQ(gaps.size(), 2u) << gaps.dump();
    for (int file = 0; file < 2; ++file) {
        EXPECT_EQ(gaps[file]["start"], IsoTime(WINDOW_START + 600.0 * file + 12.0));
        EXPECT_EQ(gaps[file]["end"], IsoTime(WINDOW_START + 600.0 * file + 15.0));
    }
}

TEST_P(Description, DescribesEventsDrumsCatalogueListsAndFilterFallbacks) {
    ASSERT_TRUE(folder->Generate({"--stations", "3", "--channels", "BHZ", "--span", "1800",
                                  "--segment", "300", "--sps", "100", "--events", "1"}));
    // Every station that picked the latest event, filtered up to half the rate: a high-pass.
    folder->WriteWaveIni("[WAVEFORMS]\nN#=ALL\nfilter=1,50\n");
    ProcessResult result = folder->Run({"eventid=last", "/SHOWEVENT", "/JSON", "/NOPREVIEW"});
    ASSERT_EQ(result.status, SHELL_OK) << result.output;
    const Json event = ReadJson(folder->WorkFile("OUT.json"));
    ASSERT_TRUE(event.is_object());
    ASSERT_TRUE(event["event"].is_object());
    EXPECT_EQ(event["event"]["orid"], "1001");
    EXPECT_EQ(event["event"]["id"].get<std::string>().rfind("2004", 0), 0u);
    const GifPicture picture(folder->WorkFile("OUT.GIF"));
    ASSERT_TRUE(picture.IsLoaded());
    const PlotGeometry geometry = GeometryFor(3, true);
    ASSERT_EQ(event["rows"].size(), 3u);
    for (const Json& row : event["rows"]) {
        SCOPED_TRACE(row["station"].get<std::string>());
        EXPECT_EQ(row["filter"]["applied"], "highpass");
        EXPECT_EQ(row["band"]["top"], geometry.RowTop(row["row"].get<int>()));
        // The window reaches past the end of the recording: one gap at its end.
        ASSERT_EQ(row["gaps"].size(), 1u);
        EXPECT_EQ(row["gaps"][0]["start"], "2004-03-02T10:30:00.000Z");
        EXPECT_EQ(row["gaps"][0]["end"], event["window"]["end"]);
        ASSERT_FALSE(row["picks"].empty());
        EXPECT_TRUE(row["distanceKm"].is_number());
        // Each mark is a line of the text colour down the band at its column.
        const int top = row["band"]["top"];
        for (const Json& pick : row["picks"]) {
            const int x = pick["x"];
            EXPECT_GE(picture.CountColour(TEXT_COLOUR, x, top + 2, x, top + geometry.rowHeight - 2),
                      geometry.rowHeight - 10)
                << pick["phase"];
        }
    }

    // A drum of one station: six rows of five minutes, one after the other.
    folder->WriteWaveIni("[WAVEFORMS]\nN#=1\n\n[STA0]\nSTA=ABEL\n");
    result = folder->Run(
        {"tbeg=09:59:00 02.03.2004", "nsec=1800:300", "file=drum.png", "/JSON", "/NOPREVIEW"});
    ASSERT_EQ(result.status, SHELL_OK) << result.output;
    const Json drum = ReadJson(folder->WorkFile("DRUM.json"));
    ASSERT_TRUE(drum.is_object());
    EXPECT_EQ(drum["image"]["format"], "png");
    EXPECT_EQ(drum["window"]["mode"], "segment");
    EXPECT_EQ(drum["window"]["segmentSeconds"], 300);
    ASSERT_EQ(drum["rows"].size(), 6u);
    for (int r = 0; r < 6; ++r) {
        EXPECT_EQ(drum["rows"][r]["start"], IsoTime(ARCHIVE_START + 300.0 * r));
        EXPECT_EQ(drum["rows"][r]["end"], IsoTime(ARCHIVE_START + 300.0 * (r + 1)));
    }
    ExpectValidAgainstSchema({folder->WorkFile("OUT.json"), folder->WorkFile("DRUM.json")});
}

TEST_P(Description, EndsWithMinusSevenAndTheImageWhenItCannotBeWritten) {
    ASSERT_TRUE(folder->Generate({"--stations", "1", "--channels", "BHZ", "--span", "600",
                                  "--segment", "300", "--sps", "20", "--events", "0"}));
    folder->WriteWaveIni("[WAVEFORMS]\nN#=1\nJSON=1\n\n[STA0]\nSTA=ABEL\n");
    // A folder where the description would go.
    std::filesystem::create_directories(folder->WorkFile("BLOCKED.json"));
    const ProcessResult result =
        folder->Run({"tbeg=10:00:00 02.03.2004", "nsec=600", "file=blocked.gif", "/NOPREVIEW"});
    EXPECT_EQ(result.status, SHELL_EXPORT_WRITE);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.errors, "Cannot write description file BLOCKED.json!\n");
    EXPECT_TRUE(GifPicture(folder->WorkFile("BLOCKED.GIF")).IsLoaded());
    EXPECT_TRUE(std::filesystem::is_directory(folder->WorkFile("BLOCKED.json")));
}

INSTANTIATE_TEST_SUITE_P(Backends, Description, testing::ValuesIn(ALL_BACKENDS), BackendParamName);

}  // namespace
