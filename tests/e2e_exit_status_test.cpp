// Every way a run of trazplot ends: the exit status the shell sees (256 + the negative
// status) and the exact text on standard output, with the data source of a real catalogue
// where one is needed. No error run leaves a file behind.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "tests/support/e2e_harness.h"
#include "tests/support/gif_probe.h"
#include "tests/support/odbc_fixture.h"

namespace {

const char* const TOO_FEW_TRACES = "Missing number of trace (<=0)! in INI (.\\wave.ini)\n";

std::string UsageText() {
    testing::internal::CaptureStdout();
    PrintUsage();
    return testing::internal::GetCapturedStdout();
}

// One run and what it must print and end with.
struct StatusCase {
    std::string name;
    std::string waveIni;  // the whole run's file
    std::vector<std::string> arguments;
    std::string output;
    int status = 0;
};

// Runs the case in folder; a failing run must leave the working directory as it was.
void ExpectRun(const RunFolder& folder, const StatusCase& c) {
    SCOPED_TRACE(c.name);
    folder.WriteWorkFile("wave.ini", c.waveIni);
    const std::vector<std::string> filesBefore = folder.WorkFiles();
    const ProcessResult result = folder.Run(c.arguments);
    EXPECT_EQ(result.output, c.output);
    EXPECT_EQ(result.status, c.status);
    if (c.status != SHELL_OK) {
        EXPECT_EQ(folder.WorkFiles(), filesBefore) << "no file written";
    }
}

// The statuses that end the run before any catalogue query: the data source need not exist.
TEST(ExitStatusBeforeTheCatalogue, PrintsTheUsageWindowAndDatabaseMessages) {
    TestDataSource source(Backend::Sqlite);
    ASSERT_TRUE(source.IsReady()) << source.Error();
    RunFolder folder(source);
    std::ofstream(folder.WindowsDir() + "/MY.INI", std::ios::binary) << "[WAVEFORMS]\r\nNSEC=0\r\n";
    const std::string usage = UsageText();
    ASSERT_EQ(usage.rfind("Trazplot - make GIF-image of waveforms from KVR RingBank\n", 0), 0u);

    const StatusCase cases[] = {
        {"no arguments", "", {}, usage, SHELL_USAGE},
        {"an event with the current time", "", {"eventid=123", "tbeg=current"}, usage, SHELL_USAGE},
        {"an orid with the current time", "", {"ORID=LAST", "TBEG=CURRENT"}, usage, SHELL_USAGE},
        {"only switches", "", {"/NOPREVIEW", "css", "nsec=600"}, usage, SHELL_USAGE},
        // A data source that cannot be opened: the window messages come first, so the
        // database is never contacted.
        {"NSEC=0 in the file",
         "[WAVEFORMS]\r\nNSEC=0\r\n",
         {"tbeg=12:00:00 01.02.2003", "odbc=no_such_source", "/NOPREVIEW"},
         "Missing number of second (==0)! in INI (.\\wave.ini) or in command line (NSEC=)",
         SHELL_WINDOW_SETTINGS},
        // A file name without a folder names a file in the Windows directory.
        {"NSEC=0 in a run's file in the Windows directory",
         "",
         {"tbeg=12:00:00 01.02.2003", "ini=my.ini", "odbc=no_such_source", "/NOPREVIEW"},
         "Missing number of second (==0)! in INI (MY.INI) or in command line (NSEC=)",
         SHELL_WINDOW_SETTINGS},
        {"a start text without six numbers",
         "",
         {"tbeg=12:00 01.02.2003", "odbc=no_such_source"},
         "Invalid start time (TBEG=12:00 01.02.2003)!\n",
         SHELL_WINDOW_SETTINGS},
        {"a start text with month 13",
         "",
         {"tbeg=12:00:00 01.13.2003", "odbc=no_such_source"},
         "Invalid start time (TBEG=12:00:00 01.13.2003)!\n",
         SHELL_WINDOW_SETTINGS},
        {"a negative segment length",
         "",
         {"tbeg=12:00:00 01.02.2003", "nsec=600:-60", "odbc=no_such_source", "/NOPREVIEW"},
         "Missing number of second segment(<=0)! in INI (.\\wave.ini) or in command line "
         "(NSEC=sec:part)",
         SHELL_WINDOW_SETTINGS},
        // The final layout is checked as soon as the row count is known: for a numeric N#
        // and in segment mode that is before the catalogue is opened.
        {"a requested height that makes the image too high",
         "[WAVEFORMS]\nN#=1\n",
         {"tbeg=12:00:00 01.02.2003", "odbc=no_such_source", "size=700x65535"},
         "Invalid image size (SIZE=700x65535)!\n",
         SHELL_WINDOW_SETTINGS},
        {"a width that makes the image too large for gd",
         "[WAVEFORMS]\nN#=1\n",
         {"tbeg=12:00:00 01.02.2003", "odbc=no_such_source", "size=65535x40000"},
         "Invalid image size (SIZE=65535x40000)!\n",
         SHELL_WINDOW_SETTINGS},
        {"more segments than rows of the minimum height fit",
         "[WAVEFORMS]\nN#=1\n",
         {"tbeg=12:00:00 01.02.2003", "odbc=no_such_source", "nsec=3120:1"},
         "Too many rows (3120) for one image!\n",
         SHELL_WINDOW_SETTINGS},
        {"segments of a catalogue list, whose rows are higher",
         "[WAVEFORMS]\nN#=ALL\n",
         {"tbeg=12:00:00 01.02.2003", "odbc=no_such_source", "nsec=2200:1"},
         "Too many rows (2200) for one image!\n",
         SHELL_WINDOW_SETTINGS},
        {"a miniSEED record length that is no power of two",
         "[WAVEFORMS]\nN#=1\n\n[MSEEDOUTPUT]\nRECLEN=1000\n",
         {"tbeg=12:00:00 01.02.2003", "odbc=no_such_source", "mseed"},
         "Invalid miniSEED setting (RECLEN=1000)!\n",
         SHELL_WINDOW_SETTINGS},
        {"a miniSEED network code of three characters",
         "[WAVEFORMS]\nN#=1\n\n[MSEEDOUTPUT]\nNET=ABC\n",
         {"tbeg=12:00:00 01.02.2003", "odbc=no_such_source", "mseed=x.mseed"},
         "Invalid miniSEED setting (NET=ABC)!\n",
         SHELL_WINDOW_SETTINGS},
        {"a login from the arguments, upper-cased",
         "",
         {"tbeg=12:00:00 01.02.2003", "odbc=no_such_source", "user=someone", "password=Secret",
          "/NOPREVIEW", "css"},
         "Database open error (DSN=NO_SUCH_SOURCE/USER=SOMEONE/PSW=SECRET)!",
         SHELL_DATABASE_OPEN},
        {"a login from the run's file, as written, with the built-in user and password",
         "[DATABASE]\nODBC=missing_Source\n",
         {"tbeg=12:00:00 01.02.2003", "/NOPREVIEW"},
         "Database open error (DSN=missing_Source/USER=KVR/PSW=MTZ)!",
         SHELL_DATABASE_OPEN},
    };
    for (const StatusCase& c : cases) ExpectRun(folder, c);

    // The system-wide file supplies the user and password; the run's file wins for the name.
    std::ofstream(folder.WindowsDir() + "/KVR.ini", std::ios::binary)
        << "[DATABASE]\r\nODBC=sys_source\r\nUSER=sysuser\r\nPASSWORD=syspass\r\n";
    ExpectRun(folder, {"system file",
                       "[DATABASE]\nODBC=run_source\n",
                       {"tbeg=12:00:00 01.02.2003", "/NOPREVIEW"},
                       "Database open error (DSN=run_source/USER=sysuser/PSW=syspass)!",
                       SHELL_DATABASE_OPEN});
}

class ExitStatus : public BackendRun {
protected:
    // Two stations with vertical channels, 10:00 to 10:30 at 20 samples per second, one event.
    void GenerateArchive() const {
        ASSERT_TRUE(
            folder->Generate({"--stations", "2", "--channels", "BHZ", "--span", "1800", "--segment",
                              "300", "--sps", "20", "--events", "1", "--seed", "5"}));
    }

    // The run's file of a working catalogue, followed by more sections; the data directory
    // is the generator's unless given.
    std::string WaveIni(const std::string& sections, const std::string& dataDir = "") const {
        return "[DATA]\nDIR=" + (dataDir.empty() ? folder->DataDir() : dataDir) +
               "\n\n[DATABASE]\nODBC=" + source->Dsn() + "\nUSER=" + source->User() +
               "\nPASSWORD=" + source->Password() + "\n\n" + sections;
    }
};

TEST_P(ExitStatus, EndsWithZeroAndTheImageWhenTheRunSucceeds) {
    GenerateArchive();
    // ABEL picked the event at about 10:15; NODATA has neither samples nor picks, so it is
    // drawn first.
    const std::string ini =
        WaveIni("[WAVEFORMS]\nN#=2\n\n[STA0]\nSTA=ABEL\n\n[STA1]\nSTA=NODATA\n");
    const std::vector<std::string> arguments = {"tbeg=10:10:00 02.03.2004", "nsec=600",
                                                "/NOPREVIEW"};
    ExpectRun(*folder, {"default output name", ini, arguments, "", SHELL_OK});
    EXPECT_EQ(folder->WorkFiles(), (std::vector<std::string>{"OUT.GIF", "wave.ini"}));
    std::vector<std::string> named = arguments;
    named.push_back("file=picture.gif");
    ExpectRun(*folder, {"output name from the arguments", ini, named, "", SHELL_OK});
    EXPECT_EQ(folder->WorkFiles(),
              (std::vector<std::string>{"OUT.GIF", "PICTURE.GIF", "wave.ini"}));

    const std::string bytes = ReadFileBytes(folder->WorkFile("PICTURE.GIF"));
    EXPECT_EQ(bytes, ReadFileBytes(folder->WorkFile("OUT.GIF")));
    EXPECT_EQ(bytes.substr(0, 6), "GIF87a");
    // 6 + 2 palette entries make a global colour table of 8.
    EXPECT_EQ(GifColourTableSize(bytes), 8);
    EXPECT_TRUE(GifIsInterlaced(bytes));
    const GifPicture picture(folder->WorkFile("PICTURE.GIF"));
    ASSERT_TRUE(picture.IsLoaded());
    const PlotGeometry geometry = GeometryFor(2, false);
    EXPECT_EQ(picture.Width(), 700);
    EXPECT_EQ(picture.Height(), geometry.height);
    // gd counts the palette up to the last entry in use: the last row's distance label.
    EXPECT_EQ(picture.ColorsTotal(), 6 + 2);
    EXPECT_EQ(picture.CountInRow(WAVEFORM_COLOUR, geometry, 0), 0);
    EXPECT_GT(picture.CountInRow(WAVEFORM_COLOUR, geometry, 1), 700);
}

TEST_P(ExitStatus, FindsItsFilesThroughUpperCasedArguments) {
    GenerateArchive();
    // The run's file names no usable data directory; the argument reaches the program in
    // upper case and still names the lower-case folders of the host.
    folder->WriteWorkFile("wave.ini",
                          WaveIni("[WAVEFORMS]\nN#=1\n\n[STA0]\nSTA=ABEL\n", "/nowhere"));
    folder->WriteWorkFile("Out/keep.txt", "");
    const PlotGeometry geometry = GeometryFor(1, false);
    const GifPicture picture =
        RunForPicture(*folder,
                      {"tbeg=10:11:00 02.03.2004", "nsec=600", "data=" + folder->DataDir(),
                       "file=out\\picture.gif", "css=out\\rows.wfd", "/NOPREVIEW"},
                      geometry, "Out/PICTURE.GIF");
    ASSERT_TRUE(picture.IsLoaded());
    EXPECT_GT(picture.CountInRow(WAVEFORM_COLOUR, geometry, 0), 698);
    // 10:11 to 10:21 meets three files of five minutes.
    const std::vector<WfdiscRecord> records = ReadWfdisc(folder->WorkFile("Out/ROWS.WFD"));
    ASSERT_EQ(records.size(), 3u);
    for (const WfdiscRecord& record : records) {
        SCOPED_TRACE(record.dfile);
        EXPECT_EQ(ReadFileBytes(folder->WorkFile("Out/" + record.dfile)).size(),
                  static_cast<std::size_t>(record.nsamp) * 4);
    }
}

TEST_P(ExitStatus, EndsWithZeroWhenNoRowFindsData) {
    GenerateArchive();
    ExpectRun(*folder, {"no data",
                        WaveIni("[WAVEFORMS]\nN#=1\n\n[STA0]\nSTA=ZZZ\n"),
                        {"tbeg=10:00:00 02.03.2004", "nsec=600", "/NOPREVIEW", "css"},
                        "",
                        SHELL_OK});
    // No samples, so no CSS export either; the band keeps its label.
    EXPECT_EQ(folder->WorkFiles(), (std::vector<std::string>{"OUT.GIF", "wave.ini"}));
    const GifPicture picture(folder->WorkFile("OUT.GIF"));
    ASSERT_TRUE(picture.IsLoaded());
    EXPECT_EQ(picture.CountColour(WAVEFORM_COLOUR, 0, 0, 699, picture.Height() - 1), 0);
    const PlotGeometry geometry = GeometryFor(1, false);
    EXPECT_GT(
        picture.CountColour(TEXT_COLOUR, 3, geometry.RowTop(0) + 1, 40, geometry.RowTop(0) + 17),
        20);
}

TEST_P(ExitStatus, EndsWithMinusFourWhenTheEventIsNotInTheCatalogue) {
    const std::string dsn = source->Dsn();
    const std::string ini = WaveIni("[WAVEFORMS]\nN#=ALL\n");
    // An empty origin table: LAST finds nothing and is reported as given.
    ExpectRun(*folder, {"LAST, empty origin table",
                        ini,
                        {"eventid=last", "/NOPREVIEW"},
                        "Not found ID=LAST in database " + dsn + "!\n",
                        SHELL_EVENT_NOT_FOUND});
    GenerateArchive();
    const StatusCase cases[] = {
        {"an orid that does not exist",
         ini,
         {"orid=999", "/NOPREVIEW"},
         "Not found ID=999 in database " + dsn + "!\n",
         SHELL_EVENT_NOT_FOUND},
        {"an event id prefix that matches nothing",
         ini,
         {"eventid=1999", "/NOPREVIEW"},
         "Not found ID=1999 in database " + dsn + "!\n",
         SHELL_EVENT_NOT_FOUND},
    };
    for (const StatusCase& c : cases) ExpectRun(*folder, c);
    // The latest origin has no arrivals: its orid is what was not found.
    ASSERT_TRUE(
        source->ExecuteSql("insert into origin (orid, eventid, lat, lon, origintime) values "
                           "(77, 'LATE_77', 47.0, 15.0, 1078225200.0)"));
    ExpectRun(*folder, {"LAST without arrivals",
                        ini,
                        {"EVENTID=LAST", "/NOPREVIEW"},
                        "Not found ID=77 in database " + dsn + "!\n",
                        SHELL_EVENT_NOT_FOUND});
}

TEST_P(ExitStatus, EndsWithMinusFiveOnABadTraceCount) {
    GenerateArchive();
    const std::string stations = "[STA0]\nSTA=ABEL\n\n[STA1]\nSTA=BORA\n";
    const std::vector<std::string> at10 = {"tbeg=10:00:00 02.03.2004", "/NOPREVIEW", "css"};
    auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), at10.begin(), at10.end());
        return more;
    };
    const StatusCase cases[] = {
        {"N# missing", WaveIni(stations), at10, TOO_FEW_TRACES, SHELL_TRACE_COUNT},
        {"N#=0", WaveIni("[WAVEFORMS]\nN#=0\n" + stations), at10, TOO_FEW_TRACES,
         SHELL_TRACE_COUNT},
        {"N#=2 in segment mode", WaveIni("[WAVEFORMS]\nN#=2\n" + stations), with({"nsec=3600:600"}),
         "Missing number of trace (>1) for NSEC=3600:600! in INI (.\\wave.ini)\n",
         SHELL_TRACE_COUNT},
        {"N#=ALL listing two stations in segment mode",
         WaveIni("[WAVEFORMS]\nN#=ALL\nNSEC=1800:300\n"), at10,
         "Missing number of trace (>1) for NSEC=1800:300! in INI (.\\wave.ini)\n",
         SHELL_TRACE_COUNT},
        {"a window shorter than one segment", WaveIni("[WAVEFORMS]\nN#=1\n" + stations),
         with({"nsec=30:60"}), TOO_FEW_TRACES, SHELL_TRACE_COUNT},
        {"N#=ALL long after the recording",
         WaveIni("[WAVEFORMS]\nN#=ALL\n"),
         {"tbeg=11:00:00 02.03.2004", "/NOPREVIEW"},
         TOO_FEW_TRACES,
         SHELL_TRACE_COUNT},
        // The message names the run's file as the arguments gave it.
        {"another run's file", "", with({"ini=.\\Other.ini"}),
         "Missing number of trace (<=0)! in INI (.\\OTHER.INI)\n", SHELL_TRACE_COUNT},
    };
    for (const StatusCase& c : cases) {
        folder->WriteWorkFile("Other.ini", WaveIni(stations));
        ExpectRun(*folder, c);
    }
}

TEST_P(ExitStatus, EndsWithMinusTwoWhenTheListedStationsDoNotFitOneImage) {
    GenerateArchive();
    // Two rows of a catalogue list from a requested height of 65535 make 65537 pixel rows.
    ExpectRun(*folder, {"N#=ALL",
                        WaveIni("[WAVEFORMS]\nN#=ALL\n"),
                        {"tbeg=10:00:00 02.03.2004", "size=700x65535", "/NOPREVIEW"},
                        "Invalid image size (SIZE=700x65535)!\n",
                        SHELL_WINDOW_SETTINGS});
}

TEST_P(ExitStatus, EndsWithMinusSixWhenTheImageCannotBeWritten) {
    GenerateArchive();
    for (const char* name : {"OUT.GIF", "OUT.PNG"}) {
        ExpectRun(*folder, {"a folder that does not exist",
                            WaveIni("[WAVEFORMS]\nN#=1\n\n[STA0]\nSTA=ABEL\n"),
                            {"tbeg=10:00:00 02.03.2004", "nsec=600",
                             std::string("file=missing\\") + name, "/NOPREVIEW"},
                            std::string("Cannot write image file MISSING\\") + name + "!\n",
                            SHELL_IMAGE_WRITE});
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, ExitStatus, testing::ValuesIn(ALL_BACKENDS), BackendParamName);

}  // namespace
