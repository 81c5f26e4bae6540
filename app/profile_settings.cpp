#include "app/profile_settings.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/exit_status.h"
#include "app/text_scan.h"
#include "archive/catalogue.h"
#include "platform/profile.h"

namespace {

// Capacity of the INI values that are parsed further (window, colours, filter, N#).
constexpr std::size_t VALUE_CAPACITY = 63;
constexpr std::size_t SCALE_CAPACITY = 31;

// Reads a key of the run's file with the given default when field is still empty.
void FillFromFile(std::string& field, const char* section, const char* key,
                  const char* defaultValue, std::size_t capacity, const std::string& file) {
    if (field.empty())
        field = ReadProfileString(section, key, defaultValue, capacity, file);
}

// Reads one login key: the run's file first, then the system file with its default.
void FillLogin(std::string& field, const char* key, const char* systemDefault,
               const Settings& settings) {
    FillFromFile(field, "DATABASE", key, "", LOGIN_CAPACITY, settings.iniFile);
    FillFromFile(field, "DATABASE", key, systemDefault, LOGIN_CAPACITY, settings.systemIniFile);
}

RgbTriple ReadColour(const char* key, const char* defaultValue, const Settings& settings) {
    return ParseRgbTriple(
        ReadProfileString("WAVEFORMS", key, defaultValue, VALUE_CAPACITY, settings.iniFile));
}

FilterBand ReadFilter(const std::string& section, const Settings& settings) {
    const std::string text =
        ReadProfileString(section, "filter", "", VALUE_CAPACITY, settings.iniFile);
    return text.empty() ? FilterBand() : ParseFilterBand(text);
}

// Returns the line for standard error that says the PREROLL text of section is ignored.
std::string IgnoredPrerollNote(const std::string& section, const std::string& text) {
    return "Ignoring PREROLL=" + text + " in [" + section +
           "]: not a number of seconds from 0 to 86400";
}

}  // namespace

std::string SystemIniFilePath() { return WindowsDirectory() + "\\KVR.ini"; }

int LoadProfileSettings(Settings& settings) {
    FillFromFile(settings.dataDir, "DATA", "DIR", "", DATA_DIR_CAPACITY, settings.iniFile);
    FillFromFile(settings.dataDir, "DATA", "DIR", "C:\\", DATA_DIR_CAPACITY,
                 settings.systemIniFile);
    // Segment paths from the catalogue are appended to the data directory as they are.
    if (settings.dataDir.empty() || settings.dataDir.back() != '\\')
        settings.dataDir += '\\';

    FillLogin(settings.dsn, "ODBC", "KVR", settings);
    FillLogin(settings.dbUser, "USER", "KVR", settings);
    FillLogin(settings.dbPassword, "PASSWORD", "MTZ", settings);

    if (settings.windowSeconds == 0) {
        const std::string text =
            ReadProfileString("WAVEFORMS", "NSEC", "1800", VALUE_CAPACITY, settings.iniFile);
        settings.windowSeconds = LeadingInteger(text);
        const std::size_t colon = text.find(':');
        if (colon != std::string::npos)
            settings.segmentSeconds = LeadingInteger(text.substr(colon + 1));
    }
    if (settings.windowSeconds == 0) {
        std::printf("Missing number of second (==0)! in INI (%s) or in command line (NSEC=)",
                    settings.iniFile.c_str());
        return STATUS_WINDOW_SETTINGS;
    }
    if (settings.segmentSeconds < 0) {
        std::printf(
            "Missing number of second segment(<=0)! in INI (%s) or in command line "
            "(NSEC=sec:part)",
            settings.iniFile.c_str());
        return STATUS_WINDOW_SETTINGS;
    }

    if (settings.cssEnabled) {
        FillFromFile(settings.cssFile, "CSS30OUTPUT", "FILE", ".\\wave.wfd", CSS_FILE_CAPACITY,
                     settings.iniFile);
    }
    if (settings.mseedEnabled) {
        FillFromFile(settings.mseedFile, "MSEEDOUTPUT", "FILE", ".\\wave.mseed", CSS_FILE_CAPACITY,
                     settings.iniFile);
        // A key without a value names no file: the default one is meant.
        if (settings.mseedFile.empty())
            settings.mseedFile = ".\\wave.mseed";
        settings.mseedNetwork =
            ReadProfileString("MSEEDOUTPUT", "NET", "XX", VALUE_CAPACITY, settings.iniFile);
        settings.mseedLocation =
            ReadProfileString("MSEEDOUTPUT", "LOC", "", VALUE_CAPACITY, settings.iniFile);
        settings.mseedRecordLength =
            ReadProfileString("MSEEDOUTPUT", "RECLEN", "4096", VALUE_CAPACITY, settings.iniFile);
    }
    FillFromFile(settings.outputFile, "WAVEFORMS", "FILE", "OUT.GIF", OUTPUT_FILE_CAPACITY,
                 settings.iniFile);
    settings.backgroundColor = ReadColour("COLORBG", "255,255,255", settings);
    settings.waveformColor = ReadColour("COLORWF", "0,0,128", settings);
    settings.textColor = ReadColour("COLORTXT", "255,255,0", settings);
    settings.gapColor = ReadColour("COLORGAP", "160,160,160", settings);
    if (LeadingInteger(
            ReadProfileString("WAVEFORMS", "GAPS", "0", VALUE_CAPACITY, settings.iniFile)) != 0)
        settings.showGaps = true;
    if (LeadingInteger(
            ReadProfileString("WAVEFORMS", "JSON", "0", VALUE_CAPACITY, settings.iniFile)) != 0)
        settings.writeJson = true;
    settings.webIndex = ReadProfileString("WEB", "INDEX", "", CSS_FILE_CAPACITY, settings.iniFile);
    if (!settings.webIndex.empty())
        settings.writeHtml = true;
    if (settings.writeHtml) {
        // The page is built from the descriptions.
        settings.writeJson = true;
        const std::string refresh =
            ReadProfileString("WEB", "REFRESH", "300", VALUE_CAPACITY, settings.iniFile);
        settings.webRefresh = std::max(0, LeadingInteger(refresh));
        settings.webTitle =
            ReadProfileString("WEB", "TITLE", "trazplot", VALUE_CAPACITY, settings.iniFile);
    }
    return STATUS_OK;
}

void LoadDisplaySettings(Settings& settings) {
    settings.defaultScale =
        ReadProfileString("WAVEFORMS", "SCALE", "AUTO", SCALE_CAPACITY, settings.iniFile);
    settings.defaultFilter = ReadFilter("WAVEFORMS", settings);
    settings.defaultPreroll = 0.0;
    const std::string prerollNote = ReadRowPreroll("WAVEFORMS", settings, settings.defaultPreroll);
    if (!prerollNote.empty())
        std::fprintf(stderr, "%s\n", prerollNote.c_str());
    settings.defaultFill = true;
    const std::string fillNote = ReadRowFill("WAVEFORMS", settings, settings.defaultFill);
    if (!fillNote.empty())
        std::fprintf(stderr, "%s\n", fillNote.c_str());
    settings.phaseClause = BuildPhaseClause(
        ReadProfileString("WAVEFORMS", "PHASES", "", VALUE_CAPACITY, settings.iniFile));
    settings.traceCountText = ReadTraceCountText(settings);
}

std::string ReadTraceCountText(const Settings& settings) {
    return UpperCase(ReadProfileString("WAVEFORMS", "N#", "0", VALUE_CAPACITY, settings.iniFile));
}

void ReadStationEntry(const Settings& settings, int n, std::string& station, std::string& channel) {
    char section[32];
    std::snprintf(section, sizeof section, "STA%d", n);
    station = ReadProfileString(section, "STA", "", CODE_CAPACITY, settings.iniFile);
    channel = ReadProfileString(section, "CH", "BHZ", CODE_CAPACITY, settings.iniFile);
}

void ReadRowSettings(const std::string& section, const Settings& settings, FilterBand& band,
                     std::string& scaleText) {
    band = ReadFilter(section, settings);
    // A row cannot switch a file-wide filter off: an absent or invalid band falls back.
    if (!band.enabled && settings.defaultFilter.enabled)
        band = settings.defaultFilter;
    scaleText = ReadProfileString(section, "SCALE", "", SCALE_CAPACITY, settings.iniFile);
    if (scaleText.empty())
        scaleText = settings.defaultScale;
    scaleText = UpperCase(scaleText);
}

std::string ReadRowPreroll(const std::string& section, const Settings& settings, double& preroll) {
    preroll = settings.defaultPreroll;
    const std::string text =
        ReadProfileString(section, "PREROLL", "", VALUE_CAPACITY, settings.iniFile);
    if (text.empty() || ParsePreroll(text, preroll))
        return std::string();
    return IgnoredPrerollNote(section, text);
}

std::string ReadRowFill(const std::string& section, const Settings& settings, bool& fill) {
    fill = settings.defaultFill;
    const std::string text =
        ReadProfileString(section, "FILL", "", VALUE_CAPACITY, settings.iniFile);
    if (text == "0" || text == "1")
        fill = text == "1";
    if (text.empty() || text == "0" || text == "1")
        return std::string();
    return "Ignoring FILL=" + text + " in [" + section + "]: not 0 or 1";
}

bool ParsePreroll(const std::string& text, double& seconds) {
    // Plain decimals only: strtod alone would also take "inf", "nan", hex and exponents.
    const std::size_t first = text.find_first_not_of(" \t");
    const std::size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos)
        return false;
    const std::string number = text.substr(first, last - first + 1);
    if (number.find_first_not_of("0123456789.") != std::string::npos ||
        number.find_first_of("0123456789") == std::string::npos ||
        number.find('.') != number.rfind('.'))
        return false;
    const double value = std::strtod(number.c_str(), nullptr);
    if (!(value >= 0.0 && value <= MAX_PREROLL))
        return false;
    seconds = value;
    return true;
}

FilterBand ParseFilterBand(const std::string& text) {
    FilterBand band;
    float low = 0.0f;
    float high = 0.0f;
    TextScanner scanner(text);
    if (!scanner.ReadFloat(low) || !scanner.SkipAnyOf(",") || !scanner.ReadFloat(high))
        return band;
    band.low = low;
    band.high = high;
    band.enabled = low >= 0.0f && high >= 0.0f && low < high;
    return band;
}

RgbTriple ParseRgbTriple(const std::string& text) {
    RgbTriple colour;
    TextScanner scanner(text);
    if (scanner.ReadInt(colour.red) && scanner.SkipAnyOf(",") && scanner.ReadInt(colour.green) &&
        scanner.SkipAnyOf(","))
        scanner.ReadInt(colour.blue);
    return colour;
}

int TraceCountFromText(const std::string& traceCountText) {
    if (StartsWith(traceCountText, "LAST") || StartsWith(traceCountText, "FIRS"))
        return 0;
    return LeadingInteger(traceCountText);
}
