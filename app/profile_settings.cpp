#include "app/profile_settings.h"

#include <algorithm>
#include <climits>
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

// Reads a switch of ours, 0 or 1, from key of section into value; leaves value as it is when
// there is no key, and then or for any other text returns the line for standard error that
// says it is ignored (empty when there is none to say).
std::string ReadSwitchNote(const std::string& section, const char* key, const Settings& settings,
                           bool& value) {
    const std::string text = ReadProfileString(section, key, "", VALUE_CAPACITY, settings.iniFile);
    if (text == "0" || text == "1")
        value = text == "1";
    if (text.empty() || text == "0" || text == "1")
        return std::string();
    return "Ignoring " + std::string(key) + "=" + text + " in [" + section + "]: not 0 or 1";
}

// Reads a text of ours, cut to at most capacity bytes where a UTF-8 character begins, so a
// cut title or file name never ends inside a character.
std::string ReadText(const char* section, const char* key, const char* defaultValue,
                     std::size_t capacity, const std::string& file) {
    return CutToCharacters(ReadProfileString(section, key, defaultValue, capacity + 1, file),
                           capacity);
}

// Tells on standard error that key=text of section is ignored and why.
void PrintIgnored(const char* key, const std::string& text, const char* section,
                  const char* reason) {
    std::fprintf(stderr, "Ignoring %s=%s in [%s]: %s\n", key, text.c_str(), section, reason);
}

// Reads a switch of ours: 1 turns it on, 0 leaves it off; an empty or absent key keeps the
// default, off. Anything else is ignored with a line on standard error.
bool ReadSwitch(const char* section, const char* key, const Settings& settings) {
    bool value = false;
    const std::string note = ReadSwitchNote(section, key, settings, value);
    if (!note.empty())
        std::fprintf(stderr, "%s\n", note.c_str());
    return value;
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
    // An SDS archive takes the place of the catalogue and its data directory.
    settings.sdsRoot = ReadText("DATA", "SDS", "", DATA_DIR_CAPACITY, settings.iniFile);
    settings.quakeMlFile = ReadText("EVENTS", "QUAKEML", "", DATA_DIR_CAPACITY, settings.iniFile);
    settings.stationXmlFiles =
        ReadText("STATIONS", "STATIONXML", "", DATA_DIR_CAPACITY, settings.iniFile);

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
        if (settings.mseedFile.empty()) {
            settings.mseedFile = ReadText("MSEEDOUTPUT", "FILE", ".\\wave.mseed", CSS_FILE_CAPACITY,
                                          settings.iniFile);
        }
        // A key without a value names no file: the default one is meant.
        if (settings.mseedFile.empty())
            settings.mseedFile = ".\\wave.mseed";
        settings.mseedNetwork =
            ReadProfileString("MSEEDOUTPUT", "NET", "XX", VALUE_CAPACITY, settings.iniFile);
        settings.mseedLocation =
            ReadProfileString("MSEEDOUTPUT", "LOC", "", VALUE_CAPACITY, settings.iniFile);
        // A key that is absent reads as a text no code can be.
        settings.mseedNetworkSet = ReadProfileString("MSEEDOUTPUT", "NET", "\x01", VALUE_CAPACITY,
                                                     settings.iniFile) != "\x01";
        settings.mseedLocationSet = ReadProfileString("MSEEDOUTPUT", "LOC", "\x01", VALUE_CAPACITY,
                                                      settings.iniFile) != "\x01";
        settings.mseedRecordLength =
            ReadProfileString("MSEEDOUTPUT", "RECLEN", "4096", VALUE_CAPACITY, settings.iniFile);
    }
    FillFromFile(settings.outputFile, "WAVEFORMS", "FILE", "OUT.GIF", OUTPUT_FILE_CAPACITY,
                 settings.iniFile);
    settings.backgroundColor = ReadColour("COLORBG", "255,255,255", settings);
    settings.waveformColor = ReadColour("COLORWF", "0,0,128", settings);
    settings.textColor = ReadColour("COLORTXT", "255,255,0", settings);
    const std::string gapColour =
        ReadProfileString("WAVEFORMS", "COLORGAP", "", VALUE_CAPACITY, settings.iniFile);
    settings.gapColor = ParseRgbTriple(DEFAULT_GAP_COLOUR);
    if (!gapColour.empty() && !ParseColourValue(gapColour, settings.gapColor))
        PrintIgnored("COLORGAP", gapColour, "WAVEFORMS", "not three numbers from 0 to 255");
    if (ReadSwitch("WAVEFORMS", "GAPS", settings))
        settings.showGaps = true;
    if (ReadSwitch("WAVEFORMS", "JSON", settings))
        settings.writeJson = true;
    settings.webIndex = ReadText("WEB", "INDEX", "", CSS_FILE_CAPACITY, settings.iniFile);
    if (!settings.webIndex.empty())
        settings.writeHtml = true;
    if (settings.writeHtml) {
        // The page is built from the descriptions.
        settings.writeJson = true;
        const std::string refresh =
            ReadProfileString("WEB", "REFRESH", "", VALUE_CAPACITY, settings.iniFile);
        settings.webRefresh = DEFAULT_REFRESH;
        if (!refresh.empty() && !ParseRefresh(refresh, settings.webRefresh))
            PrintIgnored("REFRESH", refresh, "WEB",
                         "not a whole number of seconds from 0 to 2147483647");
        settings.webTitle = ReadText("WEB", "TITLE", "trazplot", VALUE_CAPACITY, settings.iniFile);
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
    settings.rowTimes = false;
    settings.commonScale = false;
    const std::string notes[] = {
        ReadRowFill("WAVEFORMS", settings, settings.defaultFill),
        ReadSwitchNote("WAVEFORMS", "ROWTIMES", settings, settings.rowTimes),
        ReadSwitchNote("WAVEFORMS", "COMMONSCALE", settings, settings.commonScale),
    };
    for (const std::string& note : notes) {
        if (!note.empty())
            std::fprintf(stderr, "%s\n", note.c_str());
    }
    settings.phaseList =
        ReadProfileString("WAVEFORMS", "PHASES", "", VALUE_CAPACITY, settings.iniFile);
    settings.phaseClause = BuildPhaseClause(settings.phaseList);
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

void ReadStreamCodes(const Settings& settings, int n, std::optional<std::string>& network,
                     std::optional<std::string>& location) {
    char section[32];
    std::snprintf(section, sizeof section, "STA%d", n);
    // A key that is absent reads as this text, which no code can be.
    const char* absent = "\x01";
    const std::string net =
        ReadProfileString(section, "NET", absent, CODE_CAPACITY, settings.iniFile);
    const std::string loc =
        ReadProfileString(section, "LOC", absent, CODE_CAPACITY, settings.iniFile);
    network.reset();
    location.reset();
    if (net != absent)
        network = net;
    if (loc != absent)
        location = loc;
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
    return ReadSwitchNote(section, "FILL", settings, fill);
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

bool ParseColourValue(const std::string& text, RgbTriple& colour) {
    int parts[3] = {};
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t comma = i < 2 ? text.find(',', start) : text.size();
        if (comma == std::string::npos)
            return false;
        const std::string part = text.substr(start, comma - start);
        const std::size_t first = part.find_first_not_of(" \t");
        const std::size_t last = part.find_last_not_of(" \t");
        if (first == std::string::npos)
            return false;
        const std::string digits = part.substr(first, last - first + 1);
        // At most three digits, so the value cannot overflow before the range check.
        if (digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        parts[i] = std::atoi(digits.c_str());
        if (parts[i] > 255)
            return false;
        start = comma + 1;
    }
    colour.red = parts[0];
    colour.green = parts[1];
    colour.blue = parts[2];
    return true;
}

bool ParseRefresh(const std::string& text, int& seconds) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT_MAX)
        return false;
    seconds = static_cast<int>(value);
    return true;
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
