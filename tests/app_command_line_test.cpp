#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace {

// Runs ParseCommandLine over "trazplot" followed by arguments.
bool Parse(const std::vector<std::string>& arguments, Settings& settings) {
    std::vector<std::string> texts = {"/usr/bin/trazplot"};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), settings);
}

}  // namespace

TEST(ParseCommandLine, FillsTextFieldsUpperCasedWithoutQuotes) {
    struct Case {
        std::vector<std::string> arguments;
        std::string Settings::*field;
        std::string expected;
    };
    const std::string longText(600, 'a');
    const Case cases[] = {
        {{"tbeg=12:00:00 01.01.2003"}, &Settings::startText, "12:00:00 01.01.2003"},
        {{"tbeg='12:00:00 01.01.2003'"}, &Settings::startText, "12:00:00 01.01.2003"},
        {{"TBEG=\"12:00\""}, &Settings::startText, "\"12:00\""},  // double quotes stay
        {{"file=out.gif"}, &Settings::outputFile, "OUT.GIF"},
        {{"file=a.gif", "file=b.gif"}, &Settings::outputFile, "B.GIF"},
        {{"FILE='a\"b'.gif"}, &Settings::outputFile, "AB.GIF"},  // quotes anywhere go
        {{"cssfile=x=y"}, &Settings::cssFile, "X=Y"},            // after the first '='
        {{"css=b.wfd", "css"}, &Settings::cssFile, "B.WFD"},
        {{"data=/srv/loop"}, &Settings::dataDir, "/SRV/LOOP"},
        {{"password=p'w\""}, &Settings::dbPassword, "PW"},
        {{"eventid=\"77\""}, &Settings::eventId, "77"},
        {{"orid=1234"}, &Settings::eventId, "1234"},
        {{"eventid=1", "orid=2"}, &Settings::eventId, "2"},
        {{"tbeg=" + longText}, &Settings::startText, std::string(63, 'A')},
        {{"odbc=" + longText}, &Settings::dsn, std::string(31, 'A')},
        {{"css=" + longText}, &Settings::cssFile, std::string(255, 'A')},
        {{"data=" + longText}, &Settings::dataDir, std::string(511, 'A')},  // capacities cut
        // An output path from the command line is used in full.
        {{"file=" + longText}, &Settings::outputFile, std::string(600, 'A')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments).substr(0, 80));
        Settings settings;
        Parse(c.arguments, settings);
        EXPECT_EQ(settings.*(c.field), c.expected);
    }
}

TEST(ParseCommandLine, MatchesSwitchesByPrefix) {
    struct Case {
        std::string argument;
        bool showMinMax, showEvent, showLabels, preview, cssEnabled;
    };
    const Case cases[] = {
        {"/showminmax", true, false, true, true, false},
        {"/SHOWMINMAXX", true, false, true, true, false},
        {"/NOLABE", false, false, false, true, false},
        {"/NOLABELS", false, false, false, true, false},
        {"/NOLAB", false, false, true, true, false},
        {"/nopreview", false, false, true, false, false},
        {"css", false, false, true, true, true},
        {"/css", false, false, true, true, false},
        {"unknown=1", false, false, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argument);
        Settings settings;
        Parse({c.argument}, settings);
        EXPECT_EQ(settings.showMinMax, c.showMinMax);
        EXPECT_EQ(settings.showEvent, c.showEvent);
        EXPECT_EQ(settings.showLabels, c.showLabels);
        EXPECT_EQ(settings.preview, c.preview);
        EXPECT_EQ(settings.cssEnabled, c.cssEnabled);
        EXPECT_EQ(settings.cssFile, "");
    }
}

TEST(ParseCommandLine, AppliesSizeAndWindowRules) {
    struct Case {
        std::vector<std::string> arguments;
        int width, height, window, segment;
    };
    const Case cases[] = {
        {{"screen=1024X768"}, 1024, 768, 0, 0},
        {{"size=0x0"}, 700, 500, 0, 0},
        {{"size=800"}, 800, 500, 0, 0},
        {{"size=x600"}, 700, 600, 0, 0},
        {{"size=abc"}, 700, 500, 0, 0},
        {{"size=' 640 x 480'"}, 640, 480, 0, 0},
        {{"nsec=600:60"}, 700, 500, 600, 60},
        {{"nsec=0:30", "nsec=600"}, 700, 500, 600, 30},  // segment kept without ':'
        {{"nsec=-900"}, 700, 500, -900, 0},
        {{"nsec=900", "nsec=abc"}, 700, 500, 900, 0},
        {{"nsec=0:30", "nsec=600:x"}, 700, 500, 600, 0},  // ':' without a number sets 0
        {{"nsec=99999999999"}, 700, 500, INT_MAX, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        Settings settings;
        Parse(c.arguments, settings);
        EXPECT_EQ(settings.imageWidth, c.width);
        EXPECT_EQ(settings.imageHeight, c.height);
        EXPECT_EQ(settings.windowSeconds, c.window);
        EXPECT_EQ(settings.segmentSeconds, c.segment);
    }
}

TEST(ParseCommandLine, NeedsAStartOrAnEventButNotAnEventWithCurrent) {
    struct Case {
        std::vector<std::string> arguments;
        bool expected;
    };
    const Case cases[] = {
        {{}, false},
        {{"file=a.gif"}, false},
        {{"eventid=''"}, false},
        {{"tbeg=current"}, true},
        {{"orid=5"}, true},
        {{"eventid=123", "tbeg=current"}, false},
        {{"tbeg=currently", "orid=1"}, false},
        {{"eventid=123", "tbeg=12:00:00 01.01.2003"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        Settings settings;
        EXPECT_EQ(Parse(c.arguments, settings), c.expected);
    }
}

TEST(ParseStartText, ReadsSixNumbersWithTheirSeparators) {
    struct Case {
        std::string text;
        int result, hour, minute;
        float second;
        int day, month, year;
    };
    const Case cases[] = {
        {"12:30:00 01.02.2003", 1, 12, 30, 0.0f, 1, 2, 2003},
        {"12,30,05.5 1/2/2003", 1, 12, 30, 5.5f, 1, 2, 2003},
        {" 12 :: 30 : 7.25 ,, 3 :/. 4 2005", 1, 12, 30, 7.25f, 3, 4, 2005},
        {"25:61:75 32.13.03", 1, 25, 61, 75.0f, 32, 13, 3},  // no range check here
        {"12:30 01.02.2003", 0, 0, 0, 0, 0, 0, 0},           // the second swallows "01.02"
        {"12:30:00 01.02", 0, 0, 0, 0, 0, 0, 0},
        {"12:30:00.5:01.02.2003", 0, 0, 0, 0, 0, 0, 0},  // ':' does not follow the second
        {"\"12:30:00 01.02.2003\"", 0, 0, 0, 0, 0, 0, 0},
        {"12:30:nan 01.02.2003", 0, 0, 0, 0, 0, 0, 0},
        {"", 0, 0, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int hour = 0, minute = 0, day = 0, month = 0, year = 0;
        float second = 0.0f;
        ASSERT_EQ(ParseStartText(c.text, hour, minute, second, day, month, year), c.result);
        if (c.result == 0)
            continue;
        EXPECT_EQ(hour, c.hour);
        EXPECT_EQ(minute, c.minute);
        EXPECT_EQ(second, c.second);
        EXPECT_EQ(day, c.day);
        EXPECT_EQ(month, c.month);
        EXPECT_EQ(year, c.year);
    }
}

TEST(IsValidStartText, RefusesUnreadableTextsAndMonthsOutsideTheYear) {
    struct Case {
        std::string text;
        int expected;
    };
    const Case cases[] = {
        {"12:00:00 31.12.2003", 1},
        {"12:00:00 01.00.2003", 0},
        {"12:00:00 01.13.2003", 0},
        {"12:00", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(IsValidStartText(c.text), c.expected);
    }
}

TEST(PrintUsage, WritesTheUsageText) {
    const char* const expected =
        "Trazplot - make GIF-image of waveforms from KVR RingBank\n"
        "========================================================\n"
        "Ver 2.06\n"
        "USAGE: trazplot tbeg=\"h:m:s dd.mm.yyyy\"|eventid=<event id>|orid=<orid id>\n"
        "\t [file=<output file name>] [ini=<.ini file name>]\n"
        "\t [size|screen=<HORxVER pix>] [nsec=<sec to display>[:<sec in segment>]] [ODBC=dsn]\n"
        "\t [/css[=file_wfdisk]] [/SHOWEVENT] [/SHOWMINMAX] [/NOLABEL] [/NOPREVIEW]\n\n"
        "   where tbeg=\"CURRENT\"\t- begin from current system time\n"
        "\t eventid|orid=\"LAST\"\t- show phase picking for last event\n"
        "\t ODBC=data_source_name\t- preset ODBC from INI-file to data_source_name\n"
        "\t nsec=nSec[:dSec]\t- show waveforms in \"segment\" format (nSec=dSec*N),\n"
        "\t /css[=file_wfdisk]\t- save waveforms to CSS v3.0 format,\n"
        "\t\t\t\t absent [=file_wfdisk] - name from INI-file\n"
        "\t /SHOWEVENT\t\t- display event parameters (lat, lon, o_time)\n"
        "\t /SHOWMINMAX\t\t- display waveforms amplitude (min/max in count)\n"
        "\t /NOLABEL\t\t- don't display ANY label (top and bottom)\n"
        "\t absent eventid|orid\t- show all phase picking\n"
        "\t absent file=\t\t- default filename OUT.GIF\n"
        "\t absent ini=\t\t- default WAVE.INI in current directory\n"
        "\t absent nsec=\t\t- display 1800 (or defined in INI-file) second\n"
        "\t absent /NOPREVIEW\t- run default associated *.GIF program\n";
    testing::internal::CaptureStdout();
    PrintUsage();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
}
