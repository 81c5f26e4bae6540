#include "app/command_line.h"

#include <cstdio>

#include "app/text_scan.h"

namespace {

std::string RemoveCharacters(const std::string& text, const char* characters) {
    std::string kept;
    kept.reserve(text.size());
    for (char c : text) {
        bool drop = false;
        for (const char* q = characters; *q != '\0'; ++q) drop = drop || c == *q;
        if (!drop)
            kept += c;
    }
    return kept;
}

std::string RemoveQuotes(const std::string& text) { return RemoveCharacters(text, "'\""); }

// The text after the first '=' of the argument, empty when there is none.
std::string AfterEquals(const std::string& argument) {
    const std::size_t equals = argument.find('=');
    return equals == std::string::npos ? std::string() : argument.substr(equals + 1);
}

void ApplySize(const std::string& value, Settings& settings) {
    const int width = LeadingInteger(value);
    if (width != 0)
        settings.imageWidth = width;
    const std::size_t x = value.find('X');
    if (x != std::string::npos) {
        const int height = LeadingInteger(value.substr(x + 1));
        if (height != 0)
            settings.imageHeight = height;
    }
}

void ApplyWindow(const std::string& value, Settings& settings) {
    const int window = LeadingInteger(value);
    if (window != 0)
        settings.windowSeconds = window;
    // A 0 window with a segment ("0:60") sets the segment length alone and leaves the
    // window to the configuration file.
    const std::size_t colon = value.find(':');
    if (colon != std::string::npos)
        settings.segmentSeconds = LeadingInteger(value.substr(colon + 1));
}

// Turns an export on from its argument ("CSS" or "MSEED", with "=file" naming its file).
void EnableExport(const std::string& argument, bool& enabled, std::string& file) {
    enabled = true;
    const std::string named = RemoveQuotes(AfterEquals(argument));
    if (!named.empty())
        file = CutToCapacity(named, CSS_FILE_CAPACITY);
}

void ApplyArgument(const std::string& argument, Settings& settings) {
    if (StartsWith(argument, "TBEG=")) {
        // Only single quotes: double quotes stay part of the start text.
        settings.startText =
            CutToCapacity(RemoveCharacters(argument.substr(5), "'"), START_TEXT_CAPACITY);
    } else if (StartsWith(argument, "FILE=")) {
        settings.outputFile = RemoveQuotes(argument.substr(5));
    } else if (StartsWith(argument, "CSS")) {
        EnableExport(argument, settings.cssEnabled, settings.cssFile);
    } else if (StartsWith(argument, "MSEED")) {
        EnableExport(argument, settings.mseedEnabled, settings.mseedFile);
    } else if (StartsWith(argument, "SIZE=") || StartsWith(argument, "SCREEN=")) {
        ApplySize(RemoveQuotes(AfterEquals(argument)), settings);
    } else if (StartsWith(argument, "DATA=")) {
        settings.dataDir = CutToCapacity(RemoveQuotes(argument.substr(5)), DATA_DIR_CAPACITY);
    } else if (StartsWith(argument, "ODBC=")) {
        settings.dsn = CutToCapacity(RemoveQuotes(argument.substr(5)), LOGIN_CAPACITY);
    } else if (StartsWith(argument, "USER=")) {
        settings.dbUser = CutToCapacity(RemoveQuotes(argument.substr(5)), LOGIN_CAPACITY);
    } else if (StartsWith(argument, "PASSWORD=")) {
        settings.dbPassword = CutToCapacity(RemoveQuotes(argument.substr(9)), LOGIN_CAPACITY);
    } else if (StartsWith(argument, "NSEC=")) {
        ApplyWindow(RemoveQuotes(argument.substr(5)), settings);
    } else if (StartsWith(argument, "/SHOWMINMAX")) {
        settings.showMinMax = true;
    } else if (StartsWith(argument, "/SHOWEVENT")) {
        settings.showEvent = true;
    } else if (StartsWith(argument, "/NOLABE")) {
        // Seven characters only, so /NOLABE and /NOLABELS are accepted too.
        settings.showLabels = false;
    } else if (StartsWith(argument, "/GAPS")) {
        settings.showGaps = true;
    } else if (StartsWith(argument, "/JSON")) {
        settings.writeJson = true;
    } else if (StartsWith(argument, "/HTML")) {
        settings.writeHtml = true;
    } else if (StartsWith(argument, "/NOPREVIEW")) {
        settings.preview = false;
    } else if (StartsWith(argument, "INI=")) {
        settings.iniFile = RemoveQuotes(argument.substr(4));
    } else if (StartsWith(argument, "EVENTID=") || StartsWith(argument, "ORID=")) {
        settings.eventId = CutToCapacity(RemoveQuotes(AfterEquals(argument)), EVENT_ID_CAPACITY);
    }
}

}  // namespace

bool ParseCommandLine(int argc, char** argv, Settings& settings) {
    for (int i = 0; i < argc; ++i) {
        if (argv[i] != nullptr)
            ApplyArgument(UpperCase(argv[i]), settings);
    }
    if (settings.startText.empty() && settings.eventId.empty())
        return false;
    // An event fixes its own start, which a CURRENT start would contradict.
    if (!settings.eventId.empty() && StartsWith(settings.startText, "CURRENT"))
        return false;
    return true;
}

void PrintUsage() {
    std::fputs(
        "Trazplot - make GIF-image of waveforms from KVR RingBank\n"
        "========================================================\n"
        "Ver 2.06\n"
        "USAGE: trazplot tbeg=\"h:m:s dd.mm.yyyy\"|eventid=<event id>|orid=<orid id>\n"
        "\t [file=<output file name>] [ini=<.ini file name>]\n"
        "\t [size|screen=<HORxVER pix>] [nsec=<sec to display>[:<sec in segment>]] "
        "[ODBC=dsn]\n"
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
        "\t absent /NOPREVIEW\t- run default associated *.GIF program\n",
        stdout);
}

int ParseStartText(const std::string& text, int& hour, int& minute, float& second, int& day,
                   int& month, int& year) {
    // The same text comes from the command line ("12:30:00 01.02.2003") and from the event
    // lookup ("12:30:0.000000 1//2//2003"), hence the sets of separators.
    TextScanner scanner(text);
    if (!scanner.ReadInt(hour) || !scanner.SkipAnyOf(":, "))
        return 0;
    if (!scanner.ReadInt(minute) || !scanner.SkipAnyOf(":, "))
        return 0;
    if (!scanner.ReadFloat(second) || !scanner.SkipAnyOf(", "))
        return 0;
    if (!scanner.ReadInt(day) || !scanner.SkipAnyOf(":,./ "))
        return 0;
    if (!scanner.ReadInt(month) || !scanner.SkipAnyOf(":,./ "))
        return 0;
    if (!scanner.ReadInt(year))
        return 0;
    return 1;
}

int ParseStartFields(const std::string& text, CalendarFields& fields) {
    return ParseStartText(text, fields.hour, fields.minute, fields.second, fields.day, fields.month,
                          fields.year);
}

int IsValidStartText(const std::string& text) {
    CalendarFields fields;
    if (ParseStartFields(text, fields) != 1)
        return 0;
    if (fields.month < 1 || fields.month > 12)
        return 0;
    // A time that no calendar field can show (a seconds field of 1e30, say) is no start.
    const double epoch = EpochFromCalendar(fields.year, fields.month, fields.day, fields.hour,
                                           fields.minute, fields.second);
    return CalendarOf(epoch).year != 0 ? 1 : 0;
}
