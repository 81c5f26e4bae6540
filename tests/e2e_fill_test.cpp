// Samples the reader fills in for a missing or short file are no recording: a pre-roll run
// ends where they begin, and with FILL=0 they are neither drawn, scaled nor exported.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/e2e_harness.h"
#include "tests/support/odbc_fixture.h"

namespace {

using Json = nlohmann::json;

constexpr double PI = 3.14159265358979323846;
constexpr double SPS = 20.0;
constexpr double FILE_SECONDS = 300.0;
constexpr int FILES = 6;  // 10:00 to 10:30
constexpr int SHORT_FILE = 2;
constexpr int MISSING_FILE = 4;
constexpr double OFFSET = 5000.0;
constexpr double AMPLITUDE = 35.0;

// A recording on an offset of 5000 counts: a sine of 10 s period, inside the band 0.05-2 Hz.
std::vector<float> FileSamples(int file) {
    std::vector<float> samples(static_cast<std::size_t>(FILE_SECONDS * SPS));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = file * FILE_SECONDS + static_cast<double>(i) / SPS;
        samples[i] = static_cast<float>(OFFSET + AMPLITUDE * std::sin(2.0 * PI * 0.1 * t));
    }
    return samples;
}

class Fill : public BackendRun {
protected:
    // The catalogue lists six files of GIRO; the file of 10:10 holds only its first half,
    // the file of 10:20 is missing.
    void SetUp() override {
        BackendRun::SetUp();
        if (HasFatalFailure())
            return;
        std::string sql;
        for (int file = 0; file < FILES; ++file)
            sql +=
                WriteFloatSegment(folder->DataDir(), "GIRO", "BHZ",
                                  ARCHIVE_START + file * FILE_SECONDS, SPS, FileSamples(file), 0);
        ASSERT_TRUE(source->ExecuteSql(sql));
        const std::filesystem::path giro = std::filesystem::path(folder->DataDir()) / "GIRO";
        const auto name = [&](int file) {
            return giro /
                   ("GIRO_BHZ_" +
                    std::to_string(static_cast<long long>(ARCHIVE_START + file * FILE_SECONDS)) +
                    ".dat");
        };
        std::filesystem::resize_file(name(SHORT_FILE),
                                     4 * static_cast<std::uintmax_t>(FILE_SECONDS * SPS / 2));
        std::filesystem::remove(name(MISSING_FILE));
    }

    // Draws 10:05 to 10:28 with the waveform settings and /JSON; returns the row's scale
    // as described, [min, max].
    std::vector<double> Scale(const std::string& waveforms, const std::string& file,
                              const std::vector<std::string>& more = {}) {
        folder->WriteWaveIni("[WAVEFORMS]\nN#=1\n" + waveforms + "\n[STA0]\nSTA=GIRO\n");
        std::vector<std::string> arguments = {"tbeg=10:05:00 02.03.2004", "nsec=1380", "/JSON",
                                              "/NOPREVIEW", "file=" + file};
        arguments.insert(arguments.end(), more.begin(), more.end());
        const ProcessResult result = folder->Run(arguments);
        EXPECT_EQ(result.status, SHELL_OK) << result.output << result.errors;
        std::string json = file.substr(0, file.find('.')) + ".json";
        const Json description = Json::parse(ReadFileBytes(folder->WorkFile(json)), nullptr, false);
        if (!description.is_object())
            return {0.0, 0.0};
        const Json& scale = description["rows"][0]["scale"];
        return {scale["min"].get<double>(), scale["max"].get<double>()};
    }
};

TEST_P(Fill, PrerollRunsEndWhereTheReaderFilledIn) {
    // Filtered through the zeros, the step from 5000 counts to 0 and back rang to about
    // +-4200 and flattened the signal; filtered up to them, the row keeps the sine's scale.
    const std::vector<double> scale = Scale("filter=0.05,2\nPREROLL=60\n", "RUN.GIF");
    SCOPED_TRACE(testing::Message() << scale[0] << " .. " << scale[1]);
    EXPECT_GT(scale[0], -3.0 * AMPLITUDE);
    EXPECT_LT(scale[1], 3.0 * AMPLITUDE);
    EXPECT_GT(scale[1], 0.8 * AMPLITUDE);
}

TEST_P(Fill, LeavesOutWhatNoFileHoldsOnlyWhenAsked) {
    struct Case {
        std::string waveforms;
        double low, high;  // the bounds the row's scale must lie within
    };
    const double widened = 1.2 * AMPLITUDE;
    const double zerosWidened = 0.1 * (OFFSET + AMPLITUDE) + 1.0;
    const Case cases[] = {
        // The reader's zeros are in the scale, as specified.
        {"", -zerosWidened, -zerosWidened + 2.0},
        {"FILL=1\n", -zerosWidened, -zerosWidened + 2.0},
        // Without them, the recording sets it.
        {"FILL=0\n", OFFSET - widened - 1.0, OFFSET + widened + 1.0},
        {"FILL=0\nfilter=0.05,2\n", -3.0 * AMPLITUDE, 3.0 * AMPLITUDE},
        {"FILL=0\nfilter=0.05,2\nPREROLL=60\n", -3.0 * AMPLITUDE, 3.0 * AMPLITUDE},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.waveforms);
        const std::vector<double> scale = Scale(c.waveforms, "F" + std::to_string(n++) + ".GIF");
        EXPECT_GE(scale[0], c.low);
        EXPECT_LE(c.waveforms.find("FILL=0") == std::string::npos ? scale[0] : scale[1], c.high);
    }
}

TEST_P(Fill, ExportsNoFilledInSamplesToCssWithFillOff) {
    const auto exported = [&](const std::string& waveforms, const std::string& wfdisc) {
        folder->WriteWaveIni("[WAVEFORMS]\nN#=1\n" + waveforms + "\n[STA0]\nSTA=GIRO\n" +
                             "[CSS30OUTPUT]\nFILE=" + wfdisc + "\n");
        const ProcessResult result = folder->Run(
            {"tbeg=10:05:00 02.03.2004", "nsec=1380", "css", "/NOPREVIEW", "file=x.gif"});
        EXPECT_EQ(result.status, SHELL_OK) << result.output << result.errors;
        long samples = 0;
        for (const WfdiscRecord& record : ReadWfdisc(folder->WorkFile(wfdisc)))
            samples += record.nsamp;
        return samples;
    };
    // 10:05 to 10:28 is 1380 s; the short file lacks 150 s of it, the missing one 300 s.
    EXPECT_EQ(exported("", "all.wfd"), static_cast<long>(1380 * SPS));
    EXPECT_EQ(exported("FILL=0\n", "held.wfd"), static_cast<long>((1380 - 450) * SPS));
}

TEST_P(Fill, IgnoresValuesOtherThanZeroAndOneWithALineNamingTheSection) {
    folder->WriteWaveIni("[WAVEFORMS]\nN#=1\nFILL=no\n\n[STA0]\nSTA=GIRO\nFILL=2\n");
    const ProcessResult result =
        folder->Run({"tbeg=10:05:00 02.03.2004", "nsec=1200:600", "/NOPREVIEW"});
    EXPECT_EQ(result.status, SHELL_OK);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.errors,
              "Ignoring FILL=no in [WAVEFORMS]: not 0 or 1\n"
              "Ignoring FILL=2 in [STA0]: not 0 or 1\n");
}

INSTANTIATE_TEST_SUITE_P(Backends, Fill, testing::ValuesIn(ALL_BACKENDS), BackendParamName);

}  // namespace
