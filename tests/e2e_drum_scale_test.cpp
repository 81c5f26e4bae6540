// Drums that read like helicorders: each row labelled with its UTC start time, and one
// automatic scale for all rows of a picture.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "plot/fonts.h"
#include "plot/plot_layout.h"
#include "tests/support/e2e_harness.h"
#include "tests/support/gif_probe.h"
#include "tests/support/odbc_fixture.h"

namespace {

using Json = nlohmann::json;

constexpr double PI = 3.14159265358979323846;
constexpr double SPS = 20.0;
constexpr double HOUR = 3600.0;

// An hour of a sine of the amplitude, counts.
std::vector<float> HourOfSine(double amplitude) {
    std::vector<float> samples(static_cast<std::size_t>(HOUR * SPS));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            static_cast<float>(amplitude * std::sin(2.0 * PI * 0.2 * static_cast<double>(i) / SPS));
    return samples;
}

// The first and the last pixel row of the waveform in a row's band, relative to its top.
std::pair<int, int> WaveformExtent(const GifPicture& picture, const PlotGeometry& geometry,
                                   int row) {
    int first = -1;
    int last = -1;
    const int top = geometry.RowTop(row);
    for (int y = top; y <= top + geometry.rowHeight; ++y) {
        for (int x = 1; x < picture.Width() - 1; ++x) {
            if (picture.At(x, y) == WAVEFORM_COLOUR) {
                if (first < 0)
                    first = y - top;
                last = y - top;
                break;
            }
        }
    }
    return {first, last};
}

class DrumScale : public BackendRun {};

TEST_P(DrumScale, LabelsEveryRowWithItsTimeInTheStationLabelsFont) {
    // No data: the labels stand alone in their rows. 11:59 moves to 12:00; 48 rows of half
    // an hour reach across midnight to noon of the next day.
    const std::vector<std::string> expected = [] {
        std::vector<std::string> labels;
        for (int row = 0; row < 48; ++row) {
            const int minutes = (12 * 60 + row * 30) % (24 * 60);
            char text[16];
            if (row == 0 || row == 24) {
                std::snprintf(text, sizeof text, "%02d/03 %02d:%02d", row == 0 ? 1 : 2,
                              minutes / 60, minutes % 60);
            } else {
                std::snprintf(text, sizeof text, "%02d:%02d", minutes / 60, minutes % 60);
            }
            labels.push_back(text);
        }
        return labels;
    }();
    // One row height for each font of the station labels: 5x8 up to 21 pixels.
    for (const int rowHeight : {20, 21, 23, 27, 35, 45}) {
        SCOPED_TRACE(testing::Message() << rowHeight << "-pixel rows");
        folder->WriteWaveIni("[WAVEFORMS]\nN#=1\nROWTIMES=1\n\n[STA0]\nSTA=GIRO\n");
        const std::string size = "size=700x" + std::to_string(48 * (rowHeight + 1) + 28);
        const ProcessResult result =
            folder->Run({"tbeg=11:59:00 01.03.2004", "nsec=86400:1800", size, "/NOPREVIEW"});
        ASSERT_EQ(result.status, SHELL_OK) << result.output << result.errors;
        const GifPicture picture(folder->WorkFile("OUT.GIF"));
        ASSERT_TRUE(picture.IsLoaded());
        const PlotLayout layout =
            ComputePlotLayout(700, 48 * (rowHeight + 1) + 28, 48, true, false);
        ASSERT_EQ(layout.rowHeight, rowHeight);
        const gdFontPtr font = FontForRole(FontRole::STATION_LABEL, rowHeight);
        EXPECT_EQ(font == PlotFont(FontCell::TINY_5X8), rowHeight <= 21);
        for (int row = 0; row < 48; ++row) {
            SCOPED_TRACE(expected[static_cast<std::size_t>(row)]);
            EXPECT_EQ(picture.TextMismatches(font, 3, layout.RowTop(row) + 1,
                                             expected[static_cast<std::size_t>(row)], TEXT_COLOUR),
                      0);
        }
    }
}

TEST_P(DrumScale, MovesTheMinMaxLabelRightOfTheTimeAndLeavesNormalRowsAlone) {
    folder->WriteWaveIni("[WAVEFORMS]\nN#=1\nROWTIMES=1\n\n[STA0]\nSTA=GIRO\n");
    ASSERT_EQ(
        folder->Run({"tbeg=11:59:00 01.03.2004", "nsec=7200:3600", "/SHOWMINMAX", "/NOPREVIEW"})
            .status,
        SHELL_OK);
    const GifPicture picture(folder->WorkFile("OUT.GIF"));
    const PlotLayout layout = ComputePlotLayout(700, 500, 2, true, false);
    const gdFontPtr time = FontForRole(FontRole::STATION_LABEL, layout.rowHeight);
    const int x = 3 + time->w * 11 + 6;  // right of "01/03 12:00"
    const int y = layout.RowTop(0) - 17 + layout.bottomMargin;
    // No samples: the automatic range is 0 +-1, widened by 1.2.
    EXPECT_EQ(picture.TextMismatches(FontForRole(FontRole::MIN_MAX_LABEL, layout.rowHeight), x, y,
                                     "min/max: -1/1", GREEN_COLOUR),
              0);

    // Rows of stations carry their codes, not times; without labels, nothing is written.
    const auto run = [&](const std::string& waveforms, const std::vector<std::string>& more) {
        folder->WriteWaveIni("[WAVEFORMS]\nN#=1\n" + waveforms + "\n[STA0]\nSTA=GIRO\n");
        std::vector<std::string> arguments = {"tbeg=11:59:00 01.03.2004", "/NOPREVIEW"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        EXPECT_EQ(folder->Run(arguments).status, SHELL_OK);
        return ReadFileBytes(folder->WorkFile("OUT.GIF"));
    };
    EXPECT_EQ(run("ROWTIMES=1\n", {"nsec=3600"}), run("", {"nsec=3600"}));
    EXPECT_EQ(run("ROWTIMES=1\n", {"nsec=7200:3600", "/NOLABEL"}),
              run("", {"nsec=7200:3600", "/NOLABEL"}));
}

TEST_P(DrumScale, DrawsEveryAutomaticRowOnOneScaleWhenAsked) {
    // Six hours of GIRO, quiet but for the event in its fourth hour.
    std::string sql;
    for (int hour = 0; hour < 6; ++hour)
        sql += WriteFloatSegment(folder->DataDir(), "GIRO", "BHZ", ARCHIVE_START + hour * HOUR, SPS,
                                 HourOfSine(hour == 3 ? 1000.0 : 10.0), 0);
    ASSERT_TRUE(source->ExecuteSql(sql));
    const PlotGeometry geometry = GeometryFor(6, false);
    for (const bool common : {false, true}) {
        SCOPED_TRACE(common ? "COMMONSCALE=1" : "each row its own scale");
        folder->WriteWaveIni(std::string("[WAVEFORMS]\nN#=1\n") +
                             (common ? "COMMONSCALE=1\n" : "") + "\n[STA0]\nSTA=GIRO\n");
        const ProcessResult result =
            folder->Run({"tbeg=09:59:00 02.03.2004", "nsec=21600:3600", "/JSON", "/NOPREVIEW"});
        ASSERT_EQ(result.status, SHELL_OK) << result.errors;
        const Json rows = Json::parse(ReadFileBytes(folder->WorkFile("OUT.json")))["rows"];
        const GifPicture picture(folder->WorkFile("OUT.GIF"));
        const std::pair<int, int> event = WaveformExtent(picture, geometry, 3);
        for (int row = 0; row < 6; ++row) {
            SCOPED_TRACE(row);
            const Json& scale = rows[static_cast<std::size_t>(row)]["scale"];
            const double expectedMax = 1.2 * (common || row == 3 ? 1000.0 : 10.0);
            EXPECT_NEAR(scale["max"].get<double>(), expectedMax, expectedMax * 1e-3);
            EXPECT_EQ(scale.contains("common"), common);
            if (row == 3)
                continue;
            const std::pair<int, int> quiet = WaveformExtent(picture, geometry, row);
            if (common) {
                EXPECT_LT(quiet.second - quiet.first, (event.second - event.first) / 10);
            } else {
                EXPECT_NEAR(quiet.second - quiet.first, event.second - event.first, 1);
            }
        }
    }
}

TEST_P(DrumScale, KeepsFixedScalesAmongCommonAutomaticOnes) {
    std::string sql;
    const double amplitudes[] = {10.0, 300.0, 100.0};
    const char* const codes[] = {"ABEL", "BORA", "CEDA"};
    for (int s = 0; s < 3; ++s)
        sql += WriteFloatSegment(folder->DataDir(), codes[s], "BHZ", ARCHIVE_START, SPS,
                                 HourOfSine(amplitudes[s]), 0);
    ASSERT_TRUE(source->ExecuteSql(sql));
    folder->WriteWaveIni(
        "[WAVEFORMS]\nN#=3\nCOMMONSCALE=1\n\n[STA0]\nSTA=ABEL\n[STA1]\nSTA=BORA\nSCALE=500;-500\n"
        "[STA2]\nSTA=CEDA\n");
    const ProcessResult result =
        folder->Run({"tbeg=10:00:00 02.03.2004", "nsec=3600", "/JSON", "/NOPREVIEW"});
    ASSERT_EQ(result.status, SHELL_OK) << result.errors;
    const Json rows = Json::parse(ReadFileBytes(folder->WorkFile("OUT.json")))["rows"];
    // ABEL takes CEDA's range; BORA keeps its own.
    const double expected[] = {120.0, 600.0, 120.0};
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(codes[row]);
        const Json& scale = rows[static_cast<std::size_t>(row)]["scale"];
        EXPECT_NEAR(scale["max"].get<double>(), expected[row], 0.2);
        EXPECT_NEAR(scale["min"].get<double>(), -expected[row], 0.2);
        EXPECT_EQ(scale.value("common", false), row != 1);
    }
}

TEST_P(DrumScale, IgnoresValuesOtherThanZeroAndOneWithALine) {
    folder->WriteWaveIni("[WAVEFORMS]\nN#=1\nROWTIMES=yes\nCOMMONSCALE=2\n\n[STA0]\nSTA=GIRO\n");
    const ProcessResult result =
        folder->Run({"tbeg=09:59:00 02.03.2004", "nsec=3600:1800", "/NOPREVIEW"});
    EXPECT_EQ(result.status, SHELL_OK);
    EXPECT_EQ(result.errors,
              "Ignoring ROWTIMES=yes in [WAVEFORMS]: not 0 or 1\n"
              "Ignoring COMMONSCALE=2 in [WAVEFORMS]: not 0 or 1\n");
}

INSTANTIATE_TEST_SUITE_P(Backends, DrumScale, testing::ValuesIn(ALL_BACKENDS), BackendParamName);

}  // namespace
