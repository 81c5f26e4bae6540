// The outputs a run adds on request: a PNG instead of the GIF, and the window's samples as
// miniSEED beside or instead of CSS 3.0; and how a failed export ends the run.

#include <gd.h>
#include <gtest/gtest.h>
#include <libmseed.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/e2e_harness.h"
#include "tests/support/gif_probe.h"
#include "tests/support/mseed_probe.h"
#include "tests/support/odbc_fixture.h"

namespace {

// A file size limit that holds the picture of two rows but not their half hour as miniSEED.
constexpr long LIMITED_FILE_BYTES = 32768;
const std::vector<std::string> TEN_MINUTES = {"tbeg=10:00:00 02.03.2004", "nsec=600", "/NOPREVIEW"};

std::vector<std::string> With(std::vector<std::string> arguments,
                              const std::vector<std::string>& more) {
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
}

// The samples of a CSS .w file written as "s4": big-endian 32-bit integers.
std::vector<double> ReadS4(const std::string& path) {
    const std::string bytes = ReadFileBytes(path);
    std::vector<double> samples;
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < 4; ++k)
            value = (value << 8) | static_cast<unsigned char>(bytes[i + k]);
        samples.push_back(static_cast<std::int32_t>(value));
    }
    return samples;
}

class Exports : public BackendRun {
protected:
    // Five stations, one for each integer and float encoding in turn (ABEL 8-bit, BORA 16-bit
    // with a gap, CEDA 32-bit with an overlap, DUNK float with a missing file, ELMO unsigned
    // 16-bit with a short file), 10:00 to 10:30 at rate samples per second.
    void GenerateArchive(const std::string& rate) const {
        ASSERT_TRUE(
            folder->Generate({"--stations", "5", "--channels", "BHZ", "--span", "1800", "--segment",
                              "300", "--sps", rate, "--defects", "--events", "1"}));
    }

    std::string Stations(const std::string& more = "") const {
        return "[WAVEFORMS]\nN#=5\n\n[STA0]\nSTA=ABEL\n\n[STA1]\nSTA=BORA\n\n[STA2]\nSTA=CEDA\n\n"
               "[STA3]\nSTA=DUNK\n\n[STA4]\nSTA=ELMO\n" +
               more;
    }
};

TEST_P(Exports, PngHoldsTheGifsPixelsAsAnInterlacedPaletteImage) {
    GenerateArchive("20");
    folder->WriteWaveIni(Stations());
    for (const char* file : {"file=x.gif", "file=x.png"}) {
        const ProcessResult result = folder->Run(With(TEN_MINUTES, {file}));
        EXPECT_EQ(result.status, SHELL_OK);
        EXPECT_EQ(result.output, "");
    }
    const std::string png = ReadFileBytes(folder->WorkFile("X.PNG"));
    ASSERT_GT(png.size(), 29u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    EXPECT_EQ(png[25], 3) << "colour type: palette";
    EXPECT_EQ(png[28], 1) << "interlace method: Adam7";
    const GdPicture gif = ReadPicture(folder->WorkFile("X.GIF"));
    const GdPicture fromPng = ReadPicture(folder->WorkFile("X.PNG"));
    ASSERT_TRUE(gif && fromPng);
    ASSERT_EQ(gdImageSX(gif.get()), gdImageSX(fromPng.get()));
    ASSERT_EQ(gdImageSY(gif.get()), gdImageSY(fromPng.get()));
    ASSERT_FALSE(gdImageTrueColor(fromPng.get()));
    int differences = 0;
    for (int y = 0; y < gdImageSY(gif.get()); ++y) {
        for (int x = 0; x < gdImageSX(gif.get()); ++x) {
            const int index = gdImageGetPixel(gif.get(), x, y);
            differences += index != gdImageGetPixel(fromPng.get(), x, y) ||
                           gdImageRed(gif.get(), index) != gdImageRed(fromPng.get(), index) ||
                           gdImageGreen(gif.get(), index) != gdImageGreen(fromPng.get(), index) ||
                           gdImageBlue(gif.get(), index) != gdImageBlue(fromPng.get(), index);
        }
    }
    EXPECT_EQ(differences, 0);
}

TEST_P(Exports, MseedHoldsWhatTheCssFilesHoldForEveryEncodingGapAndOverlap) {
    GenerateArchive("40.5");
    folder->WriteWaveIni(Stations("\n[MSEEDOUTPUT]\nNET=ge\nLOC=00\nRECLEN=512\n"));
    // 10:07 to 10:22 holds the middle files, with the gap and the overlap.
    const ProcessResult result = folder->Run(
        {"tbeg=10:07:00 02.03.2004", "nsec=900", "/NOPREVIEW", "css=rows.wfd", "mseed"});
    EXPECT_EQ(result.status, SHELL_OK);
    EXPECT_EQ(result.errors, "");
    const std::vector<WfdiscRecord> segments = ReadWfdisc(folder->WorkFile("ROWS.WFD"));
    const std::vector<MseedRecord> records = ReadMseedRecords(folder->WorkFile("wave.mseed"));
    ASSERT_GE(segments.size(), 10u);
    // Each CSS segment is one run of records in the same order, but for the zeros filled in
    // for DUNK's missing file and after ELMO's short one, which only the CSS files hold;
    // every record begins at the time of its first sample in the segment.
    std::size_t next = 0;
    std::size_t filledIn = 0;
    for (const WfdiscRecord& segment : segments) {
        SCOPED_TRACE(segment.dfile);
        const std::vector<double> samples = ReadS4(folder->WorkFile(segment.dfile));
        ASSERT_EQ(samples.size(), static_cast<std::size_t>(segment.nsamp));
        const double segmentEnd = segment.time + static_cast<double>(samples.size()) / 40.5;
        std::size_t done = 0;
        while (done < samples.size()) {
            std::size_t recordAt = samples.size();
            if (next < records.size() && records[next].station == segment.sta) {
                const double offset =
                    static_cast<double>(records[next].start) / HPTMODULUS - segment.time;
                if (segment.time + offset < segmentEnd - 1e-3)
                    recordAt = static_cast<std::size_t>(std::lround(offset * 40.5));
            }
            ASSERT_GE(recordAt, done);
            for (; done < recordAt; ++done, ++filledIn) ASSERT_EQ(samples[done], 0.0) << done;
            if (done == samples.size())
                break;
            const MseedRecord& record = records[next++];
            EXPECT_EQ(record.station, segment.sta);
            EXPECT_EQ(record.channel, "BHZ");
            EXPECT_EQ(record.network, "GE");
            EXPECT_EQ(record.location, "00");
            EXPECT_EQ(record.length, 512);
            EXPECT_NEAR(record.rate, 40.5, 40.5e-6);
            // The wfdisc time column keeps five decimals.
            EXPECT_NEAR(static_cast<double>(record.start) / HPTMODULUS,
                        segment.time + static_cast<double>(done) / 40.5, 6e-6);
            for (double value : record.samples) {
                ASSERT_LT(done, samples.size());
                // Floats keep their fraction in miniSEED; the s4 file holds them truncated.
                ASSERT_EQ(std::trunc(value), samples[done]) << "sample " << done;
                ++done;
            }
        }
    }
    EXPECT_EQ(next, records.size());
    // DUNK's file of 10:15 to 10:20, and the second half of ELMO's.
    EXPECT_EQ(filledIn, static_cast<std::size_t>(300 * 40.5 + 150 * 40.5));
}

TEST_P(Exports, MseedTakesItsNameAndKeysAndReplacesAnEarlierFileWhole) {
    ASSERT_TRUE(folder->Generate({"--station-list", "ABEL,LONGSTA", "--channels", "BHZ", "--span",
                                  "1800", "--segment", "300", "--sps", "20", "--events", "0"}));
    const std::string stations = "[WAVEFORMS]\nN#=2\n\n[STA0]\nSTA=ABEL\n\n[STA1]\nSTA=LONGSTA\n";
    const std::string leftOut =
        "LONGSTA BHZ: a station code of more than 5 or a channel code of more than 3 "
        "characters: left out of the miniSEED file\n";
    struct Case {
        std::string what;
        std::string sections;
        std::vector<std::string> arguments;
        std::string file;
        std::string network;
        int recordLength;
    };
    const Case cases[] = {
        {"default name and keys", "", {"mseed"}, "wave.mseed", "XX", 4096},
        {"name from the argument", "", {"mseed='day.mseed'"}, "DAY.MSEED", "XX", 4096},
        {"keys of the run's file",
         "\n[MSEEDOUTPUT]\nFILE=.\\out\\Day.mseed\nNET=BW\nRECLEN=256\n",
         {"MSEED"},
         "out/Day.mseed",
         "BW",
         256},
    };
    folder->WriteWorkFile("out/Day.mseed", "an earlier file");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        folder->WriteWaveIni(stations + c.sections);
        const ProcessResult result = folder->Run(With(TEN_MINUTES, c.arguments));
        EXPECT_EQ(result.status, SHELL_OK);
        EXPECT_EQ(result.errors, leftOut);
        const std::vector<MseedRecord> records = ReadMseedRecords(folder->WorkFile(c.file));
        ASSERT_FALSE(records.empty());
        std::size_t samples = 0;
        for (const MseedRecord& record : records) {
            EXPECT_EQ(record.station, "ABEL");
            EXPECT_EQ(record.network, c.network);
            EXPECT_EQ(record.length, c.recordLength);
            samples += record.samples.size();
        }
        EXPECT_EQ(samples, 600u * 20u);
    }
    // A run that ends before its rows are done leaves the file as it was, and so does one
    // whose miniSEED file cannot be written to the end; that one still writes its image.
    const std::string before = ReadFileBytes(folder->WorkFile("out/Day.mseed"));
    folder->WriteWaveIni("[WAVEFORMS]\nN#=0\n\n[MSEEDOUTPUT]\nFILE=out\\Day.mseed\n");
    EXPECT_EQ(folder->Run(With(TEN_MINUTES, {"mseed"})).status, SHELL_TRACE_COUNT);
    EXPECT_EQ(ReadFileBytes(folder->WorkFile("out/Day.mseed")), before);
    folder->WriteWaveIni(stations + "\n[MSEEDOUTPUT]\nFILE=out\\Day.mseed\nRECLEN=256\n");
    std::remove(folder->WorkFile("OUT.GIF").c_str());
    // Half an hour of miniSEED does not fit the limit; the picture does.
    const ProcessResult full = folder->RunWithFileSizeLimit(
        LIMITED_FILE_BYTES, {"tbeg=10:00:00 02.03.2004", "nsec=1800", "/NOPREVIEW", "mseed"});
    EXPECT_EQ(full.status, SHELL_EXPORT_WRITE);
    EXPECT_EQ(full.errors, leftOut + "Cannot write miniSEED file out\\Day.mseed!\n");
    EXPECT_EQ(ReadFileBytes(folder->WorkFile("out/Day.mseed")), before);
    EXPECT_TRUE(ReadPicture(folder->WorkFile("OUT.GIF")));
    // No temporary file is left beside it.
    const auto files = std::filesystem::directory_iterator(folder->WorkFile("out"));
    EXPECT_EQ(std::distance(std::filesystem::begin(files), std::filesystem::end(files)), 1);
}

TEST_P(Exports, EndWithMinusSevenAndTheImageWhenAnExportCannotBeWritten) {
    GenerateArchive("20");
    folder->WriteWaveIni(Stations());
    struct Case {
        std::string what;
        std::string argument;
        std::string errors;
    };
    const Case cases[] = {
        {"CSS into a folder that does not exist", "css=missing\\rows.wfd",
         "Ошибка записи файла wfdisc\n"},
        {"miniSEED into a folder that does not exist", "mseed=missing\\rows.mseed",
         "Cannot write miniSEED file MISSING\\ROWS.MSEED!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(folder->WorkFile("OUT.GIF").c_str());
        const ProcessResult result = folder->Run(With(TEN_MINUTES, {c.argument}));
        EXPECT_EQ(result.status, SHELL_EXPORT_WRITE);
        EXPECT_EQ(result.output, "");
        // Either export is given up at its first failure, with one message.
        EXPECT_EQ(result.errors.find(c.errors), 0u) << result.errors;
        EXPECT_TRUE(ReadPicture(folder->WorkFile("OUT.GIF")));
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, Exports, testing::ValuesIn(ALL_BACKENDS), BackendParamName);

}  // namespace
