// Filtered rows with a pre-roll: the filter runs through the archive's file boundaries and has
// settled before the window starts. The picture is compared with one drawn here from the same
// samples, filtered the specified way as one array.

#include <gd.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "dsp/filter.h"
#include "dsp/pick.h"
#include "dsp/trace.h"
#include "plot/annotations.h"
#include "plot/plot_layout.h"
#include "plot/trace_drawing.h"
#include "tests/support/e2e_harness.h"
#include "tests/support/gif_probe.h"
#include "tests/support/odbc_fixture.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double SPS = 20.0;
constexpr double FILE_SECONDS = 600.0;
constexpr int FILES = 7;  // 10:00 to 11:10
constexpr double PREROLL = 60.0;
const char* const BAND_TEXT = "filter=0.02,1\n";

// The recording: a large constant offset and a sine of 20 s period, inside the band.
float Recorded(double secondsFromStart) {
    return static_cast<float>(50000.0 + 1000.0 * std::sin(2.0 * PI * 0.05 * secondsFromStart));
}

std::vector<float> FileSamples(int file) {
    std::vector<float> samples(static_cast<std::size_t>(FILE_SECONDS * SPS));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = Recorded(file * FILE_SECONDS + static_cast<double>(i) / SPS);
    return samples;
}

FilterBand Band() {
    FilterBand band;
    band.low = 0.02f;
    band.high = 1.0f;
    band.enabled = true;
    return band;
}

// Draws what a run of one row with labels off must show for the window [start, end]: the
// files' samples from start - PREROLL filtered as one array by ApplyFilter, the pre-roll
// dropped, each file's part drawn as its own piece, with the row's separators, labels and
// border.
GdImage ExpectedPicture(double start, double end) {
    const PlotLayout layout = ComputePlotLayout(700, 500, 1, false, false);
    PlotPalette palette;
    GdImage image = CreatePlotImage(layout, {255, 255, 255}, {0, 0, 128}, {255, 255, 0}, palette);
    DrawRowSeparators(image.get(), palette, layout, 0);

    const double first = start - PREROLL;
    std::vector<float> joined;
    std::vector<double> pieceStarts;
    std::vector<std::size_t> pieceEnds;
    for (int file = 0; file < FILES; ++file) {
        const double fileStart = ARCHIVE_START + file * FILE_SECONDS;
        const std::vector<float> samples = FileSamples(file);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const double t = fileStart + static_cast<double>(i) / SPS;
            // The window's last instant is not read.
            if (t < first || t >= end)
                continue;
            if (pieceStarts.size() == pieceEnds.size())
                pieceStarts.push_back(t);
            joined.push_back(samples[i]);
        }
        if (pieceStarts.size() > pieceEnds.size())
            pieceEnds.push_back(joined.size());
    }
    const FilterBand band = Band();
    ApplyFilter(joined.data(), static_cast<int>(joined.size()),
                DesignFilter(3, "BP", band.low, band.high, static_cast<float>(1.0 / SPS)));

    Trace trace;
    std::size_t begin = 0;
    for (std::size_t p = 0; p < pieceStarts.size(); ++p) {
        // Samples before the window start are the pre-roll.
        std::size_t from = begin;
        double pieceStart = pieceStarts[p];
        while (from < pieceEnds[p] &&
               pieceStarts[p] + static_cast<double>(from - begin) / SPS < start)
            ++from;
        pieceStart = pieceStarts[p] + static_cast<double>(from - begin) / SPS;
        if (from < pieceEnds[p]) {
            SampleVector segment;
            EXPECT_TRUE(segment.AllocateZeros(static_cast<int>(pieceEnds[p] - from)));
            std::copy(joined.begin() + static_cast<long>(from),
                      joined.begin() + static_cast<long>(pieceEnds[p]), segment.samples);
            segment.sampleRate = SPS;
            segment.startTime = pieceStart;
            trace.AppendSegment(std::move(segment));
        }
        begin = pieceEnds[p];
    }
    const AmplitudeRange range = ResolveAmplitudeRange("AUTO", trace);
    for (int i = 0; i < trace.SegmentCount(); ++i)
        DrawTracePiece(image.get(), palette.waveform, layout, 0, range, start, end,
                       trace.SegmentAt(i));
    DrawPhaseMarks(image.get(), palette.text, layout, 0, start, end, PickList());
    DrawRowLabels(image.get(), palette, layout, 0, "SINE", "BHZ", band);
    DrawPlotBorder(image.get(), palette, layout);
    return image;
}

// Counts the pixels whose colour differs between the picture and the expected image.
int Differences(const std::string& path, gdImagePtr expected) {
    const GifPicture picture(path);
    if (!picture.IsLoaded() || picture.Width() != gdImageSX(expected) ||
        picture.Height() != gdImageSY(expected))
        return -1;
    int differences = 0;
    for (int y = 0; y < picture.Height(); ++y) {
        for (int x = 0; x < picture.Width(); ++x) {
            const int index = gdImageGetPixel(expected, x, y);
            differences += !(picture.At(x, y) == Rgb{gdImageRed(expected, index),
                                                     gdImageGreen(expected, index),
                                                     gdImageBlue(expected, index)});
        }
    }
    return differences;
}

class Preroll : public BackendRun {
protected:
    void SetUp() override {
        BackendRun::SetUp();
        if (HasFatalFailure())
            return;
        std::string sql;
        for (int file = 0; file < FILES; ++file) {
            sql +=
                WriteFloatSegment(folder->DataDir(), "SINE", "BHZ",
                                  ARCHIVE_START + file * FILE_SECONDS, SPS, FileSamples(file), 0);
        }
        ASSERT_TRUE(source->ExecuteSql(sql));
    }
};

TEST_P(Preroll, FiltersThroughFileBoundariesAndChangesNothingWithoutIt) {
    // 10:05:30 to 10:35:30 crosses the files' boundaries at 10:10, 10:20 and 10:30.
    const double start = ARCHIVE_START + 330.0;
    const std::vector<std::string> arguments = {"tbeg=10:05:30 02.03.2004", "nsec=1800", "/NOLABEL",
                                                "/NOPREVIEW"};
    const auto run = [&](const std::string& waveforms, const std::string& row,
                         const std::string& file) {
        folder->WriteWaveIni("[WAVEFORMS]\nN#=1\n" + waveforms + "\n[STA0]\nSTA=SINE\n" + row);
        std::vector<std::string> named = arguments;
        named.push_back("file=" + file);
        const ProcessResult result = folder->Run(named);
        EXPECT_EQ(result.status, SHELL_OK);
        EXPECT_EQ(result.errors, "");
        return ReadFileBytes(folder->WorkFile(file));
    };
    const std::string joined = run(std::string(BAND_TEXT) + "PREROLL=60\n", "", "JOINED.GIF");
    const GdImage expected = ExpectedPicture(start, start + 1800.0);
    EXPECT_EQ(Differences(folder->WorkFile("JOINED.GIF"), expected.get()), 0);
    // A row's own PREROLL wins, and the file-wide band is enough.
    EXPECT_EQ(run(BAND_TEXT, "PREROLL=60.0\n", "ROW.GIF"), joined);

    // Without a pre-roll every file restarts the filter, as specified.
    const std::string specified = run(BAND_TEXT, "", "PLAIN.GIF");
    EXPECT_NE(specified, joined);
    EXPECT_EQ(run(std::string(BAND_TEXT) + "PREROLL=0\n", "", "ZERO.GIF"), specified);
    EXPECT_EQ(run(std::string(BAND_TEXT) + "PREROLL=60\n", "PREROLL=0\n", "OFF.GIF"), specified);
    // Nothing changes for a row without a band.
    EXPECT_EQ(run("PREROLL=60\n", "", "RAW1.GIF"), run("", "", "RAW2.GIF"));
}

TEST_P(Preroll, IgnoresValuesThatAreNoSecondsOfADayWithALineNamingTheSection) {
    folder->WriteWaveIni("[WAVEFORMS]\nN#=1\nPREROLL=-5\n" + std::string(BAND_TEXT) +
                         "\n[STA0]\nSTA=SINE\nPREROLL=1e3\n");
    const ProcessResult result =
        folder->Run({"tbeg=10:05:00 02.03.2004", "nsec=3600:600", "/NOPREVIEW"});
    EXPECT_EQ(result.status, SHELL_OK);
    EXPECT_EQ(result.output, "");
    // Each text once, although the drum's six rows all read section STA0.
    EXPECT_EQ(result.errors,
              "Ignoring PREROLL=-5 in [WAVEFORMS]: not a number of seconds from 0 to 86400\n"
              "Ignoring PREROLL=1e3 in [STA0]: not a number of seconds from 0 to 86400\n");
}

TEST_P(Preroll, JoinsTheRowsOfADrum) {
    folder->WriteWaveIni("[WAVEFORMS]\nN#=1\nPREROLL=60\nSCALE=1500;-1500\n" +
                         std::string(BAND_TEXT) + "\n[STA0]\nSTA=SINE\n");
    // 09:59 moves to 10:00; six rows of ten minutes.
    const PlotGeometry geometry = GeometryFor(6, false);
    const GifPicture picture = RunForPicture(
        *folder, {"tbeg=09:59:00 02.03.2004", "nsec=3600:600", "/NOPREVIEW"}, geometry);
    ASSERT_TRUE(picture.IsLoaded());
    // The middle of the waveform pixels of column x in row, relative to the band's top.
    const auto middle = [&](int row, int x) {
        const int top = geometry.RowTop(row);
        int first = -1;
        int last = -1;
        for (int y = top; y <= top + geometry.rowHeight; ++y) {
            if (picture.At(x, y) == WAVEFORM_COLOUR) {
                if (first < 0)
                    first = y;
                last = y;
            }
        }
        return first < 0 ? -1000.0 : (first + last) / 2.0 - top;
    };
    // A row's first column continues the line of the last two columns of the row before:
    // the columns hold consecutive stretches of the signal. The first row has no pre-roll
    // to read, as the recording begins at 10:00 exactly.
    for (int row = 1; row + 1 < 6; ++row) {
        SCOPED_TRACE(row);
        const double predicted = 2.0 * middle(row, 698) - middle(row, 697);
        EXPECT_NEAR(middle(row + 1, 1), predicted, 2.0);
    }
}

// Counts the segment files a run opens, as strace writes its openat calls to the file.
int SegmentFileOpens(const std::string& trace) {
    std::istringstream lines(trace);
    std::string line;
    int opens = 0;
    while (std::getline(lines, line)) opens += line.find(".dat\"") != std::string::npos;
    return opens;
}

TEST_P(Preroll, ReadsEachFileOnceAndExportsTheWindowAsRead) {
    // strace's ptrace and LeakSanitizer's do not go together.
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "LeakSanitizer cannot run under strace";
#endif
    // Runs 10:10:30 + 30 min with the exports, under strace; returns the segment files opened.
    const auto run = [&](const std::string& waveforms, const std::string& name) {
        folder->WriteWaveIni("[WAVEFORMS]\nN#=1\n" + waveforms + "\n[STA0]\nSTA=SINE\n" +
                             "[CSS30OUTPUT]\nFILE=.\\" + name +
                             "\\w.wfd\n[MSEEDOUTPUT]\nFILE=" + name + ".mseed\n");
        folder->WriteWorkFile(name + "/keep.txt", "");
        const std::string opens = folder->WorkFile(name + ".strace");
        const ProcessResult result = folder->RunUnder(
            "/usr/bin/strace", {"-f", "-e", "trace=openat", "-o", opens},
            {"tbeg=10:10:30 02.03.2004", "nsec=1800", "css", "mseed", "/NOPREVIEW"});
        EXPECT_EQ(result.status, SHELL_OK) << result.errors;
        return SegmentFileOpens(ReadFileBytes(opens));
    };
    // The window meets four files, the pre-roll one more; each is opened once. The exports
    // hold the window as read, whether the row is filtered with a pre-roll or not.
    EXPECT_EQ(run(BAND_TEXT, "plain"), 4);
    EXPECT_EQ(run(std::string(BAND_TEXT) + "PREROLL=60\n", "joined"), 5);
    EXPECT_EQ(ReadFileBytes(folder->WorkFile("joined.mseed")),
              ReadFileBytes(folder->WorkFile("plain.mseed")));
    EXPECT_EQ(ReadFileBytes(folder->WorkFile("joined/w.wfd")),
              ReadFileBytes(folder->WorkFile("plain/w.wfd")));
    for (const WfdiscRecord& record : ReadWfdisc(folder->WorkFile("plain/w.wfd"))) {
        SCOPED_TRACE(record.dfile);
        EXPECT_EQ(ReadFileBytes(folder->WorkFile("joined/" + record.dfile)),
                  ReadFileBytes(folder->WorkFile("plain/" + record.dfile)));
    }

    // A drum of six rows reads its first row's pre-roll and every file once, however long the
    // pre-roll: the rows go on with the filter from each other instead of each reading its own.
    const auto drum = [&](const std::string& preroll) {
        folder->WriteWaveIni("[WAVEFORMS]\nN#=1\nPREROLL=" + preroll + "\n" + BAND_TEXT +
                             "\n[STA0]\nSTA=SINE\n");
        const std::string opens = folder->WorkFile("drum.strace");
        const ProcessResult result =
            folder->RunUnder("/usr/bin/strace", {"-f", "-e", "trace=openat", "-o", opens},
                             {"tbeg=10:09:00 02.03.2004", "nsec=3600:600", "/NOPREVIEW"});
        EXPECT_EQ(result.status, SHELL_OK) << result.errors;
        return SegmentFileOpens(ReadFileBytes(opens));
    };
    // 10:09 moves to 10:10; 10:10 to 11:10 is files 1 to 6, and a pre-roll of 60 s reaches into
    // file 0, one of 600 s no further.
    EXPECT_EQ(drum("60"), 6 + 1);
    EXPECT_EQ(drum("600"), 6 + 1);
}

TEST_P(Preroll, DrumFiltersOnAThreadOfItsOwn) {
    // strace's ptrace and LeakSanitizer's do not go together.
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "LeakSanitizer cannot run under strace";
#endif
    // A drum filtered through its rows is one recursion, which runs beside the two reading
    // threads (and this one, which draws): one thread more than the drum reads with.
    const auto threads = [&](const std::string& waveforms) {
        folder->WriteWaveIni("[WAVEFORMS]\nN#=1\n" + waveforms + "\n[STA0]\nSTA=SINE\n");
        return folder->ThreadsStarted({"tbeg=10:10:00 02.03.2004", "nsec=3600:600", "/NOPREVIEW"});
    };
    EXPECT_EQ(threads(std::string(BAND_TEXT) + "PREROLL=60\n"), 3);
    EXPECT_EQ(threads("PREROLL=60\n"), 2);
}

INSTANTIATE_TEST_SUITE_P(Backends, Preroll, testing::ValuesIn(ALL_BACKENDS), BackendParamName);

}  // namespace
