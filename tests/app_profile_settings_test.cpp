#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "app/exit_status.h"
#include "app/profile_settings.h"
#include "tests/support/temp_dir.h"

namespace {

// A run's file and a Windows directory with KVR.ini, both in a fresh folder.
class ProfileFiles : public testing::Test {
protected:
    void SetUp() override {
        windowsDir = temp.Path() + "/Windows";
        temp.Write("Windows/readme.txt", "");
        setenv("WINDIR", windowsDir.c_str(), 1);
        settings.iniFile = temp.File("wave.ini");
        settings.systemIniFile = SystemIniFilePath();
    }
    void WriteRunFile(const std::string& text) { temp.Write("wave.ini", text); }
    void WriteSystemFile(const std::string& text) { temp.Write("Windows/KVR.ini", text); }

    TempDir temp;
    std::string windowsDir;
    Settings settings;
};

}  // namespace

TEST_F(ProfileFiles, SystemFileIsKvrIniInTheWindowsDirectory) {
    EXPECT_EQ(SystemIniFilePath(), windowsDir + "\\KVR.ini");
}

TEST_F(ProfileFiles, TakesLoginAndDataDirectoryFromArgumentThenRunFileThenSystemFile) {
    struct Case {
        const char* name;
        std::string argumentDir, argumentDsn, runFile, systemFile;
        std::string dataDir, dsn, user, password;
    };
    const Case cases[] = {
        {"nothing anywhere", "", "", "", "", "C:\\", "KVR", "KVR", "MTZ"},
        {"run's file", "", "", "[DATA]\nDIR=D:\\LOOP\n[DATABASE]\nODBC=r\nUSER=ru\nPASSWORD=rp\n",
         "[DATA]\nDIR=E:\\\n[DATABASE]\nODBC=s\nUSER=su\nPASSWORD=sp\n", "D:\\LOOP\\", "r", "ru",
         "rp"},
        {"system file", "", "", "", "[DATA]\nDIR=E:\\SYS\\\n[DATABASE]\nODBC=s\nPASSWORD=sp\n",
         "E:\\SYS\\", "s", "KVR", "sp"},
        {"fields independent", "", "", "[DATABASE]\nUSER=ru\n", "[DATABASE]\nODBC=s\n", "C:\\", "s",
         "ru", "MTZ"},
        {"arguments win", "/SRV/LOOP", "ARG", "[DATA]\nDIR=D:\\\n[DATABASE]\nODBC=r\n",
         "[DATABASE]\nODBC=s\n", "/SRV/LOOP\\", "ARG", "KVR", "MTZ"},
        {"empty run value", "", "", "[DATABASE]\nODBC=\n[DATA]\nDIR=\n",
         "[DATABASE]\nODBC=s\n[DATA]\nDIR=F:\\X\n", "F:\\X\\", "s", "KVR", "MTZ"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteRunFile(c.runFile);
        WriteSystemFile(c.systemFile);
        Settings run = settings;
        run.dataDir = c.argumentDir;
        run.dsn = c.argumentDsn;
        ASSERT_EQ(LoadProfileSettings(run), STATUS_OK);
        EXPECT_EQ(run.dataDir, c.dataDir);
        EXPECT_EQ(run.dsn, c.dsn);
        EXPECT_EQ(run.dbUser, c.user);
        EXPECT_EQ(run.dbPassword, c.password);
    }
}

TEST_F(ProfileFiles, ReadsTheWindowOnlyWhenTheArgumentsLeftItOpen) {
    struct Case {
        int argumentWindow, argumentSegment;
        std::string runFile;
        int status, window, segment;
        std::string message;
    };
    const std::string ini = settings.iniFile;
    const std::string zero =
        "Missing number of second (==0)! in INI (" + ini + ") or in command line (NSEC=)";
    const std::string negative = "Missing number of second segment(<=0)! in INI (" + ini +
                                 ") or in command line (NSEC=sec:part)";
    const Case cases[] = {
        {0, 0, "", 0, 1800, 0, ""},
        {900, 0, "[WAVEFORMS]\nNSEC=3600:600\n", 0, 900, 0, ""},
        {0, 600, "[WAVEFORMS]\nNSEC=3600\n", 0, 3600, 600, ""},
        {0, 0, "[WAVEFORMS]\nNSEC=3600:600\n", 0, 3600, 600, ""},
        {0, 0, "[WAVEFORMS]\nNSEC=600:0\n", 0, 600, 0, ""},
        {0, 0, "[WAVEFORMS]\nNSEC=0\n", -2, 0, 0, zero},
        {0, 0, "[WAVEFORMS]\nNSEC=600:-60\n", -2, 600, -60, negative},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.runFile);
        WriteRunFile(c.runFile + "[WAVEFORMS]\nFILE=plot.gif\n");
        Settings run = settings;
        run.windowSeconds = c.argumentWindow;
        run.segmentSeconds = c.argumentSegment;
        testing::internal::CaptureStdout();
        EXPECT_EQ(LoadProfileSettings(run), c.status);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
        EXPECT_EQ(run.windowSeconds, c.window);
        EXPECT_EQ(run.segmentSeconds, c.segment);
        // After a window message nothing further is read.
        EXPECT_EQ(run.outputFile, c.status == 0 ? "plot.gif" : "");
    }
}

TEST_F(ProfileFiles, ReadsWfdiscFileOnlyForExportAndOutputFileWhenNotGiven) {
    struct Case {
        bool cssEnabled;
        std::string argumentCss, argumentOutput, runFile, cssFile, outputFile;
    };
    const std::string longName(80, 'x');
    const Case cases[] = {
        {false, "", "", "[CSS30OUTPUT]\nFILE=a.wfd\n", "", "OUT.GIF"},
        {true, "", "", "", ".\\wave.wfd", "OUT.GIF"},
        {true, "B.WFD", "", "[CSS30OUTPUT]\nFILE=a.wfd\n", "B.WFD", "OUT.GIF"},
        {false, "", "ARG.GIF", "[WAVEFORMS]\nFILE=Plot.gif\n", "", "ARG.GIF"},
        {false, "", "", "[WAVEFORMS]\nFILE=" + longName + "\n", "", longName.substr(0, 63)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.runFile);
        WriteRunFile(c.runFile);
        Settings run = settings;
        run.cssEnabled = c.cssEnabled;
        run.cssFile = c.argumentCss;
        run.outputFile = c.argumentOutput;
        ASSERT_EQ(LoadProfileSettings(run), STATUS_OK);
        EXPECT_EQ(run.cssFile, c.cssFile);
        EXPECT_EQ(run.outputFile, c.outputFile);
    }
}

TEST_F(ProfileFiles, ReadsColoursWithTheirDefaults) {
    WriteRunFile("[waveforms]\ncolorwf=10,20\ncolortxt=\n");
    ASSERT_EQ(LoadProfileSettings(settings), STATUS_OK);
    EXPECT_EQ(settings.backgroundColor.red + settings.backgroundColor.green +
                  settings.backgroundColor.blue,
              3 * 255);
    EXPECT_EQ(settings.waveformColor.red, 10);
    EXPECT_EQ(settings.waveformColor.green, 20);
    EXPECT_EQ(settings.waveformColor.blue, 0);
    EXPECT_EQ(settings.textColor.red + settings.textColor.green + settings.textColor.blue, 0);
}

TEST(ParseRgbTriple, StopsAtTheFirstMismatch) {
    struct Case {
        std::string text;
        int red, green, blue;
    };
    const Case cases[] = {
        {"10,20", 10, 20, 0}, {"1,,2,,,3", 1, 2, 3}, {" 1, 2,\t3", 1, 2, 3},
        {"1 ,2,3", 1, 0, 0},  {"abc", 0, 0, 0},      {"300,-5,7", 300, -5, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const RgbTriple colour = ParseRgbTriple(c.text);
        EXPECT_EQ(colour.red, c.red);
        EXPECT_EQ(colour.green, c.green);
        EXPECT_EQ(colour.blue, c.blue);
    }
}

TEST(ParseFilterBand, EnablesOnlyAnOrderedNonNegativeBand) {
    struct Case {
        std::string text;
        bool enabled;
        float low, high;
    };
    const Case cases[] = {
        {"0.5,5", true, 0.5f, 5.0f},   {"0,5", true, 0.0f, 5.0f},  {" 1,,, 10", true, 1.0f, 10.0f},
        {"5,0.5", false, 5.0f, 0.5f},  {"1,1", false, 1.0f, 1.0f}, {"-1,5", false, -1.0f, 5.0f},
        {"1;10", false, 0.0f, 0.0f},   {"abc", false, 0.0f, 0.0f}, {"inf,nan", false, 0.0f, 0.0f},
        {"1,1e99", false, 0.0f, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const FilterBand band = ParseFilterBand(c.text);
        EXPECT_EQ(band.enabled, c.enabled);
        EXPECT_EQ(band.low, c.low);
        EXPECT_EQ(band.high, c.high);
        EXPECT_EQ(band.order, 3);
    }
}

TEST_F(ProfileFiles, LoadsDisplaySettingsAndBuildsThePhaseClause) {
    struct Case {
        std::string waveforms, scale;
        bool filterEnabled;
        std::string clause, traceCount;
    };
    const Case cases[] = {
        {"", "AUTO", false, "", "0"},
        {"SCALE=auto\nFILTER=1,10\nphases=p,S\nn#=all\n", "auto", true, " and iphase in ('p', 'S')",
         "ALL"},
        {"PHASES=P, S\n", "AUTO", false, " and iphase in ('P', ' S')", "0"},
        {"PHASES=,,Pn,,Sn,\n", "AUTO", false, " and iphase in ('Pn', 'Sn')", "0"},
        {"PHASES=P'x\n", "AUTO", false, " and iphase in ('P''x')", "0"},
        {"PHASES=,,,\n", "AUTO", false, "", "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.waveforms);
        WriteRunFile("[WAVEFORMS]\n" + c.waveforms);
        LoadDisplaySettings(settings);
        EXPECT_EQ(settings.defaultScale, c.scale);
        EXPECT_EQ(settings.defaultFilter.enabled, c.filterEnabled);
        EXPECT_EQ(settings.phaseClause, c.clause);
        EXPECT_EQ(settings.traceCountText, c.traceCount);
    }
}

TEST(TraceCountFromText, ReadsTheLeadingIntegerExceptLastAndFirst) {
    struct Case {
        std::string text;
        int count;
    };
    const Case cases[] = {
        {"3", 3}, {" 12X", 12}, {"-2", -2}, {"ABC", 0}, {"LAST5", 0}, {"FIRS", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(TraceCountFromText(c.text), c.count);
    }
}

TEST_F(ProfileFiles, ReadsStationEntriesWithChannelDefault) {
    WriteRunFile("[STA0]\nSTA=KIV\nCH=SHZ\n[sta1]\nsta=ABCDEFGHIJKLMNOPQ\n");
    struct Case {
        int n;
        std::string station, channel;
    };
    const Case cases[] = {{0, "KIV", "SHZ"}, {1, "ABCDEFGHIJKLMNO", "BHZ"}, {2, "", "BHZ"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        std::string station = "old";
        std::string channel = "old";
        ReadStationEntry(settings, c.n, station, channel);
        EXPECT_EQ(station, c.station);
        EXPECT_EQ(channel, c.channel);
    }
}

TEST_F(ProfileFiles, RowSettingsFallBackToTheFileWideOnes) {
    struct Case {
        std::string section, waveforms;
        bool enabled;
        float low, high;
        std::string scale;
    };
    const Case cases[] = {
        {"STA1", "filter=1,10", true, 2.0f, 8.0f, "500;-500"},         // the row's own band
        {"STA2", "filter=1,10", true, 1.0f, 10.0f, "AUTO"},            // invalid row band 20,5
        {"STA3", "filter=1,10", true, 1.0f, 10.0f, "AUTO"},            // unreadable row band
        {"STA0", "filter=1,10", true, 1.0f, 10.0f, "AUTO"},            // no row band
        {"STA2", "SCALE=Automatic", false, 20.0f, 5.0f, "AUTOMATIC"},  // nothing to fall back to
        {"STA2", "SCALE=500", false, 20.0f, 5.0f, "500"},              // an empty row scale
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.section + " / " + c.waveforms);
        WriteRunFile("[WAVEFORMS]\n" + c.waveforms +
                     "\n[STA1]\nfilter=2,8\nSCALE=500;-500\n[STA2]\nfilter=20,5\nSCALE=\n"
                     "[STA3]\nfilter=x\n");
        LoadDisplaySettings(settings);
        FilterBand band;
        std::string scale;
        ReadRowSettings(c.section, settings, band, scale);
        EXPECT_EQ(band.enabled, c.enabled);
        EXPECT_EQ(band.low, c.low);
        EXPECT_EQ(band.high, c.high);
        EXPECT_EQ(scale, c.scale);
    }
}

TEST(ParsePreroll, TakesPlainDecimalSecondsUpToADay) {
    struct Case {
        const char* text;
        bool taken;
        double seconds;
    };
    const Case cases[] = {
        {"60", true, 60.0},    {" 0.5 ", true, 0.5}, {"0", true, 0.0},    {"86400", true, 86400.0},
        {"86400.5", false, 0}, {"-1", false, 0},     {"1e3", false, 0},   {"inf", false, 0},
        {"nan", false, 0},     {"0x10", false, 0},   {"1.2.3", false, 0}, {".", false, 0},
        {"", false, 0},        {"60s", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        double seconds = -7.0;
        EXPECT_EQ(ParsePreroll(c.text, seconds), c.taken);
        EXPECT_EQ(seconds, c.taken ? c.seconds : -7.0);
    }
}

TEST_F(ProfileFiles, IgnoresSwitchesColoursAndRefreshOutsideTheirFormsWithANote) {
    struct Case {
        std::string waveforms, web;
        bool gaps, json;
        int gapRed, gapGreen, gapBlue, refresh;
        std::string errors;
    };
    const Case cases[] = {
        {"GAPS=1\nJSON=1\nCOLORGAP=1,2,3\n", "REFRESH=0\n", true, true, 1, 2, 3, 0, ""},
        {"GAPS=0\nJSON=\nCOLORGAP= 255 , 0 ,255\n", "REFRESH=2147483647\n", false, true, 255, 0,
         255, 2147483647, ""},
        {"GAPS=yes\nJSON=true\n", "", false, true, 160, 160, 160, 300,
         "Ignoring GAPS=yes in [WAVEFORMS]: not 0 or 1\n"
         "Ignoring JSON=true in [WAVEFORMS]: not 0 or 1\n"},
        {"GAPS=-1\nJSON=1e3\n", "", false, true, 160, 160, 160, 300,
         "Ignoring GAPS=-1 in [WAVEFORMS]: not 0 or 1\n"
         "Ignoring JSON=1e3 in [WAVEFORMS]: not 0 or 1\n"},
        {"COLORGAP=abc\n", "", false, true, 160, 160, 160, 300,
         "Ignoring COLORGAP=abc in [WAVEFORMS]: not three numbers from 0 to 255\n"},
        {"COLORGAP=300,300,300\n", "", false, true, 160, 160, 160, 300,
         "Ignoring COLORGAP=300,300,300 in [WAVEFORMS]: not three numbers from 0 to 255\n"},
        {"COLORGAP=1,,2,3\n", "", false, true, 160, 160, 160, 300,
         "Ignoring COLORGAP=1,,2,3 in [WAVEFORMS]: not three numbers from 0 to 255\n"},
        {"", "REFRESH=1e3\n", false, true, 160, 160, 160, 300,
         "Ignoring REFRESH=1e3 in [WEB]: not a whole number of seconds from 0 to 2147483647\n"},
        {"", "REFRESH=5.5\n", false, true, 160, 160, 160, 300,
         "Ignoring REFRESH=5.5 in [WEB]: not a whole number of seconds from 0 to 2147483647\n"},
        {"", "REFRESH=99999999999999999999\n", false, true, 160, 160, 160, 300,
         "Ignoring REFRESH=99999999999999999999 in [WEB]: not a whole number of seconds from 0 "
         "to 2147483647\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.waveforms + c.web);
        WriteRunFile("[WAVEFORMS]\n" + c.waveforms + "[WEB]\nINDEX=index.html\n" + c.web);
        Settings run = settings;
        run.windowSeconds = 60;
        testing::internal::CaptureStderr();
        ASSERT_EQ(LoadProfileSettings(run), STATUS_OK);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.errors);
        EXPECT_EQ(run.showGaps, c.gaps);
        EXPECT_EQ(run.writeJson, c.json);  // the web page implies a description
        EXPECT_EQ(run.gapColor.red, c.gapRed);
        EXPECT_EQ(run.gapColor.green, c.gapGreen);
        EXPECT_EQ(run.gapColor.blue, c.gapBlue);
        EXPECT_EQ(run.webRefresh, c.refresh);
    }
}

TEST_F(ProfileFiles, ReadsTheJsonSwitchWithoutAWebPage) {
    const std::pair<std::string, bool> cases[] = {{"1", true}, {"0", false}, {"2", false}};
    for (const auto& [text, json] : cases) {
        SCOPED_TRACE(text);
        WriteRunFile("[WAVEFORMS]\nJSON=" + text + "\n");
        Settings run = settings;
        run.windowSeconds = 60;
        testing::internal::CaptureStderr();
        ASSERT_EQ(LoadProfileSettings(run), STATUS_OK);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(run.writeJson, json);
    }
}

TEST_F(ProfileFiles, CutsTitlesAndFileNamesWhereACharacterBegins) {
    // 31 two-byte letters and one more: 64 bytes, cut at 63 in the middle of the last.
    std::string title;
    for (int i = 0; i < 32; ++i) title += "\xc3\xa4";
    std::string file(254, 'x');
    file += "\xe2\x82\xac";  // a three-byte character across the 255th byte
    WriteRunFile("[WEB]\nINDEX=" + file + "\nTITLE=" + title + "\n[MSEEDOUTPUT]\nFILE=" + file +
                 "\n");
    settings.windowSeconds = 60;
    settings.mseedEnabled = true;
    ASSERT_EQ(LoadProfileSettings(settings), STATUS_OK);
    EXPECT_EQ(settings.webTitle, title.substr(0, 62));
    EXPECT_EQ(settings.webIndex, std::string(254, 'x'));
    EXPECT_EQ(settings.mseedFile, std::string(254, 'x'));

    WriteRunFile("[WEB]\nINDEX=i.html\nTITLE=plain ASCII\n");
    Settings plain = settings;
    plain.mseedEnabled = false;
    ASSERT_EQ(LoadProfileSettings(plain), STATUS_OK);
    EXPECT_EQ(plain.webTitle, "plain ASCII");
}
