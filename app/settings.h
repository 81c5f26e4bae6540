#pragma once

#include <string>

#include "dsp/filter_band.h"
#include "plot/rgb_triple.h"

// Capacities of the text fields, in characters; longer values are cut to them.
constexpr std::size_t START_TEXT_CAPACITY = 63;
constexpr std::size_t EVENT_ID_CAPACITY = 63;
constexpr std::size_t OUTPUT_FILE_CAPACITY = 63;
constexpr std::size_t CSS_FILE_CAPACITY = 255;
constexpr std::size_t DATA_DIR_CAPACITY = 511;
constexpr std::size_t LOGIN_CAPACITY = 31;
constexpr std::size_t CODE_CAPACITY = 15;

// Every setting of one run: filled from the arguments, then from the run's INI file and
// the system-wide KVR.ini, and completed by the run driver. Lives for the whole run.
struct Settings {
    std::string iniFile = ".\\wave.ini";
    std::string systemIniFile;  // KVR.ini in the Windows directory
    std::string startText;      // TBEG= value, or the event lookup's start text
    std::string eventId;        // EVENTID=/ORID=, replaced by the full id of a found event
    std::string outputFile;
    bool cssEnabled = false;
    std::string cssFile;
    bool mseedEnabled = false;
    std::string mseedFile;
    std::string mseedNetwork;       // [MSEEDOUTPUT] NET=, as written
    std::string mseedLocation;      // [MSEEDOUTPUT] LOC=, as written
    bool mseedNetworkSet = false;   // NET= is in the file: it replaces an SDS row's network
    bool mseedLocationSet = false;  // LOC= is in the file: it replaces an SDS row's location
    std::string mseedRecordLength;  // [MSEEDOUTPUT] RECLEN=, as written
    int imageWidth = 700;           // pixels
    int imageHeight = 500;          // pixels; the layout replaces it with the final height
    std::string dataDir;
    std::string sdsRoot;          // [DATA] SDS=: samples come from this SDS archive; empty: none
    std::string quakeMlFile;      // [EVENTS] QUAKEML=, the events and picks of an SDS run
    std::string stationXmlFiles;  // [STATIONS] STATIONXML=, files separated by ';'
    std::string dsn;
    std::string dbUser;
    std::string dbPassword;
    int windowSeconds = 0;   // 0 until set; negative: the window ends at the start time
    int segmentSeconds = 0;  // 0: segment mode off
    bool showMinMax = false;
    bool showEvent = false;
    bool showLabels = true;
    bool preview = true;
    bool showGaps = false;   // /GAPS or [WAVEFORMS] GAPS=1: missing time marked in each row
    bool writeJson = false;  // /JSON or [WAVEFORMS] JSON=1: a description beside the image
    bool writeHtml = false;  // /HTML or [WEB] INDEX=: the web page of the image's folder
    std::string webIndex;    // [WEB] INDEX=, default index.html in the image's folder
    int webRefresh = 300;    // [WEB] REFRESH=, seconds; 0 for none
    std::string webTitle;    // [WEB] TITLE=, default trazplot
    RgbTriple backgroundColor;
    RgbTriple waveformColor;
    RgbTriple textColor;
    RgbTriple gapColor;  // [WAVEFORMS] COLORGAP=, allocated after every other palette entry
    std::string defaultScale;
    FilterBand defaultFilter;
    double defaultPreroll = 0.0;  // seconds, [WAVEFORMS] PREROLL=; 0: filtered segment by segment
    bool defaultFill = true;      // [WAVEFORMS] FILL=; false: samples no file holds are left out
    bool rowTimes = false;        // [WAVEFORMS] ROWTIMES=1: a drum's rows labelled with their time
    bool commonScale = false;     // [WAVEFORMS] COMMONSCALE=1: one automatic range for all rows
    std::string phaseClause;      // SQL condition appended to the pick query; empty for all phases
    std::string phaseList;        // PHASES= as written, the phases an SDS run's picks count
    std::string traceCountText;   // N#, upper-cased
    double startTime = 0.0;       // epoch seconds, set by the run driver
};
