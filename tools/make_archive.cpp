// make_archive: writes a synthetic disk loop (segment files under a data directory) and
// fills its catalogue (tables filelist, arrival, origin) through any ODBC data source. The
// demo, the end-to-end tests and the benchmark all make their archives with it.
//
// Everything follows from the options and the seed: the same command writes the same bytes
// and the same rows. The random numbers come from a splitmix64 generator of our own, so no
// library version can change them.

#include <dlfcn.h>
#include <libmseed.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "archive/odbc_handles.h"
#include "archive/sql_text.h"
#include "timeutil/calendar.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double KM_PER_DEGREE = 111.19;  // one degree of a great circle on a 6371 km sphere
constexpr double P_VELOCITY = 6.0;        // km/s, crust
constexpr double S_VELOCITY = 3.5;        // km/s
constexpr double FOCAL_DEPTH = 10.0;      // km
constexpr double NEAREST_STATION = 20.0;  // km from the network centre
constexpr double FARTHEST_STATION = 300.0;
constexpr long long MICRO_BLOCK = 1024;  // samples

const char* const USAGE =
    "usage: make_archive --dsn NAME --data DIR [options]\n"
    "\n"
    "Writes a synthetic disk loop of segment files under DIR and catalogues it (tables\n"
    "filelist, arrival, origin) in the ODBC data source NAME.\n"
    "\n"
    "connection and output:\n"
    "  --dsn NAME             ODBC data source to fill (required)\n"
    "  --user NAME            user name for the data source (default: empty)\n"
    "  --password TEXT        password for the data source (default: empty)\n"
    "  --data DIR             data root directory of the segment files (required; created)\n"
    "  --schema FILE          SQL statements that create the tables (default: db/schema.sql\n"
    "                         of the source tree this program was built from)\n"
    "  --no-schema            do not create the tables: add to an existing catalogue\n"
    "  --drop                 drop the tables filelist, arrival and origin first\n"
    "\n"
    "stations and recording:\n"
    "  --stations N           number of stations (1 to 1000), named ABEL, BORA, CEDA, ...,\n"
    "                         after the 32nd S032, S033, ... (default 8)\n"
    "  --station-list A,B,... explicit station codes (1 to 7 letters or digits)\n"
    "  --channels C,C,...     channel codes of every station (default BHZ,BHN,BHE)\n"
    "  --start EPOCH          epoch seconds of the first sample (default 1078221600,\n"
    "                         2004-03-02 10:00:00 UTC)\n"
    "  --span SECONDS         length of the recording (default 3600)\n"
    "  --segment SECONDS      length of one segment file (default 600)\n"
    "  --sps RATE             samples per second (default 100)\n"
    "  --datatype CODE        sample encoding of every station: 0, 1, 2, 3 or 5 (default:\n"
    "                         0, 1, 2, 3, 5 in turn across the stations)\n"
    "  --header BYTES         file header before the samples, the segment's foff (default 64)\n"
    "\n"
    "defects, each in the middle segment of every channel of one station:\n"
    "  --gap SECONDS          2nd station: the segment starts SECONDS late\n"
    "  --overlap SECONDS      3rd station: the segment starts SECONDS early\n"
    "  --missing-file         4th station: the segment is catalogued, its file not written\n"
    "  --short-file           5th station: the file holds the first half of its samples\n"
    "  --defects              all four, with a gap and an overlap of 10 seconds; with --sds,\n"
    "                         the SDS copy also gets the defects of real SDS archives (below)\n"
    "\n"
    "events:\n"
    "  --events N             number of events, evenly spread over the span (default 1)\n"
    "  --first-orid N         orid of the first event (default 1001)\n"
    "  --lat DEGREES          latitude of the network centre (default 47.0)\n"
    "  --lon DEGREES          longitude of the network centre (default 15.0)\n"
    "\n"
    "other:\n"
    "  --seed N               seed of every random choice (default 1)\n"
    "  --dump STA:CH:FILE     also write the samples of STA/CH over the whole span, as the\n"
    "                         segment files encode them, as little-endian 32-bit floats\n"
    "                         (sample n at start + n / sps; may be given several times)\n"
    "  --sds DIR              also write the samples of every segment file as an SDS archive\n"
    "                         of miniSEED day files under DIR, network XX, empty location\n"
    "                         (512-byte records: Steim-2 or 32-bit integers for the integer\n"
    "                         encodings, 32-bit floats for datatype 3; station codes of at\n"
    "                         most 5 characters), with its stations in DIR/stations.xml\n"
    "                         (StationXML) and the events and picks in DIR/events.xml (QuakeML).\n"
    "                         With --defects, the day files are laid out as an acquisition\n"
    "                         writes them: a stream's records run on across segment files, so\n"
    "                         a record that starts before midnight holds samples after it and\n"
    "                         stays in the earlier day's file; in every channel, the largest\n"
    "                         day file of the 6th station holds the middle third of its records\n"
    "                         in reverse order, that of the 7th its middle record twice, and the\n"
    "                         last day file of the 8th ends in the first 200 bytes of a further\n"
    "                         record (one still being written). The 1st station gets a second\n"
    "                         stream, location 10, with the same channels: the first half of the\n"
    "                         span at the station's rate, the rest at half the rate (every second\n"
    "                         sample); when the span covers three calendar days or more, its\n"
    "                         middle day's file is missing. The empty-location streams hold\n"
    "                         exactly the samples of the segment files.\n"
    "  --help                 print this text\n";

const char* const STATION_NAMES[] = {
    "ABEL", "BORA", "CEDA", "DUNK", "ELMO", "FARO", "GIRO", "HALE", "IMST", "JURA", "KOBE",
    "LIMA", "MORA", "NEVA", "ODER", "PALA", "QUAR", "RIGA", "SOLA", "TIRA", "UMEA", "VIGO",
    "WALD", "XANT", "YORK", "ZELL", "ARNO", "BREN", "CAPO", "DORA", "EGER", "FULA"};

// ---------------------------------------------------------------------------------------
// Random numbers

std::uint64_t Mix(std::uint64_t x) {
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// splitmix64: a sequence of 64-bit values from one seed.
class Random {
public:
    explicit Random(std::uint64_t seed) : state(seed) {}
    std::uint64_t Next() {
        state += 0x9E3779B97F4A7C15ULL;
        return Mix(state);
    }
    // Uniform in [0, 1).
    double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
    double Between(double low, double high) { return low + (high - low) * Uniform(); }

private:
    std::uint64_t state;
};

// Approximately normal, mean 0 and standard deviation 1, from 64 random bits: the sum of
// four uniform 16-bit parts, scaled.
double Gaussian(std::uint64_t bits) {
    const double sum = static_cast<double>(bits & 0xFFFF) +
                       static_cast<double>((bits >> 16) & 0xFFFF) +
                       static_cast<double>((bits >> 32) & 0xFFFF) + static_cast<double>(bits >> 48);
    return (sum / 65536.0 - 2.0) * 1.7320508075688772;
}

// ---------------------------------------------------------------------------------------
// Options

struct DumpRequest {
    std::string station;
    std::string channel;
    std::string file;
};

struct Options {
    std::string dsn;
    std::string user;
    std::string password;
    std::string dataDir;
    std::string schemaFile;
    bool createSchema = true;
    bool dropTables = false;
    int stationCount = 8;
    std::vector<std::string> stationList;
    std::vector<std::string> channels{"BHZ", "BHN", "BHE"};
    double start = 1078221600.0;
    double span = 3600.0;
    double segment = 600.0;
    double sps = 100.0;
    int datatype = -1;  // -1: 0, 1, 2, 3, 5 in turn
    long long header = 64;
    double gap = 0.0;
    double overlap = 0.0;
    bool missingFile = false;
    bool shortFile = false;
    int eventCount = 1;
    long long firstOrid = 1001;
    double centreLat = 47.0;
    double centreLon = 15.0;
    std::uint64_t seed = 1;
    std::vector<DumpRequest> dumps;
    std::string sdsDir;       // empty: no SDS copy
    bool sdsDefects = false;  // the SDS copy gets the defects of real SDS archives
};

std::string DefaultSchemaFile() {
    // This file lives in tools/ of the source tree; the schema beside it in db/.
    return (std::filesystem::path(__FILE__).parent_path().parent_path() / "db" / "schema.sql")
        .string();
}

std::vector<std::string> SplitList(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t begin = 0;
    while (true) {
        const std::size_t end = text.find(separator, begin);
        parts.push_back(text.substr(begin, end == std::string::npos ? end : end - begin));
        if (end == std::string::npos)
            return parts;
        begin = end + 1;
    }
}

bool ParseDouble(const std::string& text, double& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(value);
}

bool ParseInteger(const std::string& text, long long& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

bool IsCode(const std::string& code, std::size_t maxLength) {
    if (code.empty() || code.size() > maxLength)
        return false;
    for (char c : code) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Formats a double so that it reads back exactly.
// Reads the command line into options. Returns 0 to go on, 1 after --help, -1 with a
// message in error.
int ParseOptions(int argc, char** argv, Options& options, std::string& error) {
    options.schemaFile = DefaultSchemaFile();
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool hasValue = false;
        const std::size_t equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        // Fetches the option's value, from "--name=value" or the next argument.
        auto takeValue = [&](std::string& out) {
            if (!hasValue) {
                if (i + 1 >= argc) {
                    error = name + " needs a value";
                    return false;
                }
                value = argv[++i];
            }
            out = value;
            return true;
        };
        auto takeDouble = [&](double& out, double low, double high) {
            std::string text;
            if (!takeValue(text))
                return false;
            if (!ParseDouble(text, out) || out < low || out > high) {
                error = name + ": not a number from " + std::to_string(low) + " to " +
                        std::to_string(high) + ": " + text;
                return false;
            }
            return true;
        };
        auto takeInteger = [&](long long& out, long long low, long long high) {
            std::string text;
            if (!takeValue(text))
                return false;
            if (!ParseInteger(text, out) || out < low || out > high) {
                error = name + ": not a whole number from " + std::to_string(low) + " to " +
                        std::to_string(high) + ": " + text;
                return false;
            }
            return true;
        };
        long long number = 0;
        std::string text;

        if (name == "--help" || name == "-h") {
            return 1;
        } else if (name == "--dsn") {
            if (!takeValue(options.dsn))
                return -1;
        } else if (name == "--user") {
            if (!takeValue(options.user))
                return -1;
        } else if (name == "--password") {
            if (!takeValue(options.password))
                return -1;
        } else if (name == "--sds") {
            if (!takeValue(options.sdsDir))
                return -1;
        } else if (name == "--data") {
            if (!takeValue(options.dataDir))
                return -1;
        } else if (name == "--schema") {
            if (!takeValue(options.schemaFile))
                return -1;
        } else if (name == "--no-schema") {
            options.createSchema = false;
        } else if (name == "--drop") {
            options.dropTables = true;
        } else if (name == "--stations") {
            if (!takeInteger(number, 1, 1000))
                return -1;
            options.stationCount = static_cast<int>(number);
            options.stationList.clear();
        } else if (name == "--station-list") {
            if (!takeValue(text))
                return -1;
            options.stationList = SplitList(text, ',');
            for (const std::string& code : options.stationList) {
                if (!IsCode(code, 7)) {
                    error = "--station-list: a station code has 1 to 7 letters or digits: " + code;
                    return -1;
                }
            }
            options.stationCount = static_cast<int>(options.stationList.size());
        } else if (name == "--channels") {
            if (!takeValue(text))
                return -1;
            options.channels = SplitList(text, ',');
            for (const std::string& code : options.channels) {
                if (!IsCode(code, 15)) {
                    error = "--channels: a channel code has 1 to 15 letters or digits: " + code;
                    return -1;
                }
            }
        } else if (name == "--start") {
            if (!takeDouble(options.start, 0.0, 4102444800.0))
                return -1;
        } else if (name == "--span") {
            if (!takeDouble(options.span, 0.001, 366.0 * 86400.0))
                return -1;
        } else if (name == "--segment") {
            if (!takeDouble(options.segment, 0.001, 366.0 * 86400.0))
                return -1;
        } else if (name == "--sps") {
            if (!takeDouble(options.sps, 0.001, 1000000.0))
                return -1;
        } else if (name == "--datatype") {
            if (!takeInteger(number, 0, 5) || number == 4) {
                if (error.empty())
                    error = "--datatype: one of 0, 1, 2, 3, 5";
                return -1;
            }
            options.datatype = static_cast<int>(number);
        } else if (name == "--header") {
            if (!takeInteger(options.header, 0, 1 << 20))
                return -1;
        } else if (name == "--gap") {
            if (!takeDouble(options.gap, 0.0, 366.0 * 86400.0))
                return -1;
        } else if (name == "--overlap") {
            if (!takeDouble(options.overlap, 0.0, 366.0 * 86400.0))
                return -1;
        } else if (name == "--missing-file") {
            options.missingFile = true;
        } else if (name == "--short-file") {
            options.shortFile = true;
        } else if (name == "--defects") {
            options.gap = 10.0;
            options.overlap = 10.0;
            options.missingFile = true;
            options.shortFile = true;
            options.sdsDefects = true;
        } else if (name == "--events") {
            if (!takeInteger(number, 0, 100000))
                return -1;
            options.eventCount = static_cast<int>(number);
        } else if (name == "--first-orid") {
            if (!takeInteger(options.firstOrid, 0, 1000000000))
                return -1;
        } else if (name == "--lat") {
            if (!takeDouble(options.centreLat, -80.0, 80.0))
                return -1;
        } else if (name == "--lon") {
            if (!takeDouble(options.centreLon, -180.0, 180.0))
                return -1;
        } else if (name == "--seed") {
            if (!takeInteger(number, 0, 0x7FFFFFFFFFFFFFFFLL))
                return -1;
            options.seed = static_cast<std::uint64_t>(number);
        } else if (name == "--dump") {
            if (!takeValue(text))
                return -1;
            const std::vector<std::string> parts = SplitList(text, ':');
            if (parts.size() < 3 || parts[0].empty() || parts[1].empty()) {
                error = "--dump: expected STA:CH:FILE: " + text;
                return -1;
            }
            // The file name may itself contain colons.
            std::string file = parts[2];
            for (std::size_t p = 3; p < parts.size(); ++p) file += ":" + parts[p];
            options.dumps.push_back({parts[0], parts[1], file});
        } else {
            error = "unknown option: " + name;
            return -1;
        }
    }
    if (options.dsn.empty()) {
        error = "--dsn is required";
        return -1;
    }
    if (options.dataDir.empty()) {
        error = "--data is required";
        return -1;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// The recording

// One arrival wavelet on one channel: a damped sinusoid switched on at the pick.
struct Wavelet {
    double onset = 0.0;      // samples after the first sample of the span
    double amplitude = 0.0;  // of the signal before encoding (about 1 at most)
    double omega = 0.0;      // radians per sample
    double decay = 0.0;      // samples of the exponential decay
    double rise = 0.0;       // samples of the onset ramp
    double length = 0.0;     // samples after which the wavelet is negligible
};

// Everything that makes the samples of one station and channel. Sample n (0 at the start
// of the span; negative before it) depends on n alone, so a segment gives the same values
// wherever it is cut from, and overlapping segments agree.
struct ChannelSignal {
    std::uint64_t noiseKey = 0;
    double noiseLevel = 0.0;
    double microAmplitude = 0.0;
    double microOmega = 0.0;  // radians per sample
    double microPhase = 0.0;
    // sin and cos of microOmega * b for b in 0 .. MICRO_BLOCK - 1: the microseism of sample
    // n = a * MICRO_BLOCK + b follows from the angle at a * MICRO_BLOCK by the addition
    // theorem, with two library calls per block instead of one per sample.
    std::vector<double> microSin;
    std::vector<double> microCos;
    std::vector<Wavelet> wavelets;
};

struct Station {
    std::string code;
    int datatype = 0;
    double lat = 0.0;
    double lon = 0.0;
    std::vector<ChannelSignal> channels;
};

struct Event {
    long long orid = 0;
    std::string eventid;
    double lat = 0.0;
    double lon = 0.0;
    double originTime = 0.0;
};

struct PickRow {
    std::string station;
    std::string channel;
    std::string phase;
    double time = 0.0;
    double distance = 0.0;  // degrees
    std::string eventid;
};

// Great-circle distance in degrees.
double DistanceDegrees(double lat1, double lon1, double lat2, double lon2) {
    const double toRadians = PI / 180.0;
    const double dLat = (lat2 - lat1) * toRadians;
    const double dLon = (lon2 - lon1) * toRadians;
    const double a = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(lat1 * toRadians) * std::cos(lat2 * toRadians) * std::sin(dLon / 2) *
                         std::sin(dLon / 2);
    return 2.0 * std::asin(std::sqrt(std::min(1.0, a))) / toRadians;
}

// Moves a point distance km towards azimuth (degrees from north), on a flat local map.
void Offset(double lat, double lon, double distance, double azimuth, double& outLat,
            double& outLon) {
    const double radians = azimuth * PI / 180.0;
    outLat = lat + distance * std::cos(radians) / KM_PER_DEGREE;
    outLon = lon + distance * std::sin(radians) / (KM_PER_DEGREE * std::cos(lat * PI / 180.0));
}

// Rounds epoch seconds to whole milliseconds, the resolution the catalogue is queried with.
double Milliseconds(double t) { return std::round(t * 1000.0) / 1000.0; }

// "2004-03-02 10:00:00", for the summary.
std::string DateTimeText(double epoch) {
    const CalendarFields f = CalendarOf(epoch);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day,
                  f.hour, f.minute, static_cast<int>(f.second));
    return text;
}

int VerticalChannelIndex(const std::vector<std::string>& channels) {
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (channels[i].find_first_of("zZ") != std::string::npos)
            return static_cast<int>(i);
    }
    return 0;
}

bool IsVertical(const std::string& channel) {
    return channel.find_first_of("zZ") != std::string::npos;
}

// Draws stations, events and picks from the seed.
void DesignArchive(const Options& options, std::vector<Station>& stations,
                   std::vector<Event>& events, std::vector<PickRow>& picks) {
    Random random(options.seed);
    const int datatypes[] = {0, 1, 2, 3, 5};
    for (int s = 0; s < options.stationCount; ++s) {
        Station station;
        if (!options.stationList.empty())
            station.code = options.stationList[static_cast<std::size_t>(s)];
        else if (s < static_cast<int>(std::size(STATION_NAMES)))
            station.code = STATION_NAMES[s];
        else {
            char code[8];
            std::snprintf(code, sizeof code, "S%03d", s % 1000);
            station.code = code;
        }
        station.datatype = options.datatype >= 0 ? options.datatype : datatypes[s % 5];
        const double distance = random.Between(NEAREST_STATION, FARTHEST_STATION);
        const double azimuth = random.Between(0.0, 360.0);
        Offset(options.centreLat, options.centreLon, distance, azimuth, station.lat, station.lon);
        for (std::size_t c = 0; c < options.channels.size(); ++c) {
            ChannelSignal signal;
            signal.noiseKey = Mix(options.seed ^ Mix(static_cast<std::uint64_t>(s) + 1) ^
                                  Mix((static_cast<std::uint64_t>(c) + 1) << 32));
            signal.noiseLevel = random.Between(0.015, 0.035);
            signal.microAmplitude = random.Between(0.01, 0.04);
            signal.microOmega = 2.0 * PI * random.Between(0.12, 0.3) / options.sps;
            signal.microPhase = random.Between(0.0, 2.0 * PI);
            for (long long b = 0; b < MICRO_BLOCK; ++b) {
                signal.microSin.push_back(std::sin(signal.microOmega * static_cast<double>(b)));
                signal.microCos.push_back(std::cos(signal.microOmega * static_cast<double>(b)));
            }
            station.channels.push_back(signal);
        }
        stations.push_back(station);
    }

    const int vertical = VerticalChannelIndex(options.channels);
    for (int e = 0; e < options.eventCount; ++e) {
        Event event;
        event.orid = options.firstOrid + e;
        // The first event lies at the network centre, so its stations are 20 to 300 km
        // away; later ones move up to 15 km off.
        const double shift = e == 0 ? 0.0 : random.Between(0.0, 15.0);
        Offset(options.centreLat, options.centreLon, shift, random.Between(0.0, 360.0), event.lat,
               event.lon);
        event.originTime =
            Milliseconds(options.start + options.span * (e + 1) / (options.eventCount + 1) +
                         random.Between(0.0, 1.0));
        // The origin time and the orid: "20040302_103000_1001".
        const CalendarFields f = CalendarOf(event.originTime);
        char eventid[64];
        std::snprintf(eventid, sizeof eventid, "%04d%02d%02d_%02d%02d%02d_%lld", f.year, f.month,
                      f.day, f.hour, f.minute, static_cast<int>(f.second), event.orid);
        event.eventid = eventid;
        events.push_back(event);

        for (Station& station : stations) {
            const double degrees = DistanceDegrees(event.lat, event.lon, station.lat, station.lon);
            const double epicentral = degrees * KM_PER_DEGREE;
            const double hypocentral =
                std::sqrt(epicentral * epicentral + FOCAL_DEPTH * FOCAL_DEPTH);
            const double attenuation = 50.0 / (epicentral + 30.0);
            const double polarity = random.Uniform() < 0.5 ? -1.0 : 1.0;
            for (int phase = 0; phase < 2; ++phase) {
                const bool isP = phase == 0;
                const double time =
                    Milliseconds(event.originTime + hypocentral / (isP ? P_VELOCITY : S_VELOCITY));
                for (std::size_t c = 0; c < options.channels.size(); ++c) {
                    // P shakes mostly the vertical, S mostly the horizontals.
                    const bool onVertical = IsVertical(options.channels[c]);
                    const double weight =
                        isP ? (onVertical ? 1.0 : 0.35) : (onVertical ? 0.5 : 1.0);
                    Wavelet wavelet;
                    wavelet.onset = (time - options.start) * options.sps;
                    wavelet.amplitude = (isP ? 0.7 : 1.1) * attenuation * weight * polarity *
                                        (c % 2 == 0 ? 1.0 : -1.0);
                    wavelet.omega = 2.0 * PI * (isP ? 3.0 : 1.5) / options.sps;
                    wavelet.decay = (isP ? 2.0 : 4.0) * options.sps;
                    wavelet.rise = 0.15 * options.sps;
                    wavelet.length = 10.0 * wavelet.decay;
                    station.channels[c].wavelets.push_back(wavelet);
                }
                // The acquisition system picks what it recorded.
                if (time >= options.start && time < options.start + options.span) {
                    picks.push_back({station.code,
                                     options.channels[static_cast<std::size_t>(vertical)],
                                     isP ? "P" : "S", time, degrees, event.eventid});
                }
            }
        }
    }
}

// Computes samples first .. first + count - 1 of a channel, before encoding.
void Synthesize(const ChannelSignal& signal, long long first, std::size_t count, double* out) {
    std::size_t i = 0;
    while (i < count) {
        const long long n = first + static_cast<long long>(i);
        // Blocks are aligned to multiples of MICRO_BLOCK, so sample n gets the same value
        // whichever run it is computed in.
        long long block = n / MICRO_BLOCK;
        if (n % MICRO_BLOCK < 0)
            --block;
        const long long offset = n - block * MICRO_BLOCK;
        const std::size_t run = std::min(count - i, static_cast<std::size_t>(MICRO_BLOCK - offset));
        const double angle =
            signal.microOmega * static_cast<double>(block * MICRO_BLOCK) + signal.microPhase;
        const double blockSin = signal.microAmplitude * std::sin(angle);
        const double blockCos = signal.microAmplitude * std::cos(angle);
        const std::size_t b0 = static_cast<std::size_t>(offset);
        for (std::size_t j = 0; j < run; ++j) {
            const auto sample = static_cast<std::uint64_t>(n + static_cast<long long>(j));
            const std::uint64_t bits = Mix(signal.noiseKey + sample * 0x9E3779B97F4A7C15ULL);
            out[i + j] = signal.noiseLevel * Gaussian(bits) + blockSin * signal.microCos[b0 + j] +
                         blockCos * signal.microSin[b0 + j];
        }
        i += run;
    }
    const double blockBegin = static_cast<double>(first);
    const double blockEnd = blockBegin + static_cast<double>(count);
    for (const Wavelet& wavelet : signal.wavelets) {
        if (wavelet.onset >= blockEnd || wavelet.onset + wavelet.length < blockBegin)
            continue;
        const double from = std::max(blockBegin, std::ceil(wavelet.onset));
        const double to = std::min(blockEnd, wavelet.onset + wavelet.length);
        for (double n = from; n < to; n += 1.0) {
            const double tau = n - wavelet.onset;
            const double envelope =
                (1.0 - std::exp(-tau / wavelet.rise)) * std::exp(-tau / wavelet.decay);
            out[static_cast<std::size_t>(n - blockBegin)] +=
                wavelet.amplitude * envelope * std::sin(wavelet.omega * tau);
        }
    }
}

int SampleWidthOf(int datatype) {
    return datatype == 0 ? 1 : (datatype == 1 || datatype == 5) ? 2 : 4;
}

double Clamp(double value, double low, double high) {
    return value < low ? low : value > high ? high : value;
}

// Rounds half away from zero; value must lie well inside the range of long long.
double RoundToInteger(double value) {
    return static_cast<double>(static_cast<long long>(value + (value >= 0.0 ? 0.5 : -0.5)));
}

// Encodes one sample of a datatype into its little-endian bytes and returns the float the
// reader will decode from them. Integer encodings clip at their range, as a saturated
// converter would.
template <int Datatype>
float EncodeSample(double value, unsigned char* bytes) {
    std::uint32_t raw = 0;
    float decoded = 0.0f;
    if constexpr (Datatype == 0) {
        const auto stored =
            static_cast<std::int8_t>(RoundToInteger(Clamp(value * 100.0, -128.0, 127.0)));
        raw = static_cast<std::uint8_t>(stored);
        decoded = stored;
    } else if constexpr (Datatype == 1) {
        const auto stored =
            static_cast<std::int16_t>(RoundToInteger(Clamp(value * 8000.0, -32768.0, 32767.0)));
        raw = static_cast<std::uint16_t>(stored);
        decoded = stored;
    } else if constexpr (Datatype == 2) {
        const auto stored = static_cast<std::int32_t>(
            RoundToInteger(Clamp(value * 500000.0, -2147483648.0, 2147483647.0)));
        raw = static_cast<std::uint32_t>(stored);
        decoded = static_cast<float>(stored);
    } else if constexpr (Datatype == 3) {
        decoded = static_cast<float>(value * 1000.0);
        std::memcpy(&raw, &decoded, sizeof raw);
    } else if constexpr (Datatype == 5) {
        // Unsigned counts around mid-scale, as a converter without a sign gives them.
        const auto stored = static_cast<std::uint16_t>(
            RoundToInteger(Clamp(32768.0 + value * 8000.0, 0.0, 65535.0)));
        raw = stored;
        decoded = stored;
    }
    constexpr int width = Datatype == 0 ? 1 : (Datatype == 1 || Datatype == 5) ? 2 : 4;
    for (int i = 0; i < width; ++i) bytes[i] = static_cast<unsigned char>(raw >> (8 * i));
    return decoded;
}

template <int Datatype>
void EncodeRun(const double* values, std::size_t count, unsigned char* bytes, float* decoded) {
    constexpr std::size_t width = Datatype == 0 ? 1 : (Datatype == 1 || Datatype == 5) ? 2 : 4;
    for (std::size_t i = 0; i < count; ++i) {
        const float sample = EncodeSample<Datatype>(values[i], bytes + i * width);
        if (decoded != nullptr)
            decoded[i] = sample;
    }
}

// Encodes count samples into bytes (count * SampleWidthOf(datatype) of them) and, when
// decoded is not null, stores the floats the reader will decode.
void EncodeSamples(const double* values, std::size_t count, int datatype, unsigned char* bytes,
                   float* decoded) {
    switch (datatype) {
        case 0:
            EncodeRun<0>(values, count, bytes, decoded);
            break;
        case 1:
            EncodeRun<1>(values, count, bytes, decoded);
            break;
        case 2:
            EncodeRun<2>(values, count, bytes, decoded);
            break;
        case 3:
            EncodeRun<3>(values, count, bytes, decoded);
            break;
        case 5:
            EncodeRun<5>(values, count, bytes, decoded);
            break;
        default:
            break;
    }
}

// Writes a float's bits as 4 little-endian bytes.
void StoreFloat(float value, unsigned char* bytes) {
    std::uint32_t raw = 0;
    std::memcpy(&raw, &value, sizeof raw);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(raw >> (8 * i));
}

// One catalogued segment: samples first .. first + count - 1 of a channel.
struct Segment {
    int station = 0;
    int channel = 0;
    long long first = 0;
    long long count = 0;
    long long written = 0;  // samples in the file; 0 for a missing file
    bool missing = false;
};

// Cuts every channel of every station into segments of perSegment samples (the last one
// shorter when the span asks for it), with the requested defects in the middle segment.
std::vector<Segment> PlanSegments(const Options& options, const std::vector<Station>& stations,
                                  long long total, long long perSegment,
                                  std::vector<std::string>& notes) {
    const long long segmentCount = (total + perSegment - 1) / perSegment;
    const long long middle = segmentCount / 2;
    const int stationCount = static_cast<int>(stations.size());
    const int gapStation = 1 % stationCount;
    const int overlapStation = 2 % stationCount;
    const int missingStation = 3 % stationCount;
    const int shortStation = 4 % stationCount;
    const long long gapSamples = std::llround(options.gap * options.sps);
    const long long overlapSamples = std::llround(options.overlap * options.sps);
    const bool anyDefect =
        gapSamples > 0 || overlapSamples > 0 || options.missingFile || options.shortFile;
    // A defect in the first segment could not be told from the start of the recording.
    if (anyDefect && middle < 1)
        notes.push_back("defects need at least two segments per channel: none made");
    auto describe = [&](const char* what, int station, long long first) {
        const double time = options.start + static_cast<double>(first) / options.sps;
        notes.push_back(std::string(what) + ": " +
                        stations[static_cast<std::size_t>(station)].code +
                        ", every channel, the segment at " + DateTimeText(time) + " (tbegin " +
                        SqlNumber(time) + ")");
    };

    std::vector<Segment> segments;
    for (int s = 0; s < stationCount; ++s) {
        for (int c = 0; c < static_cast<int>(options.channels.size()); ++c) {
            for (long long k = 0; k < segmentCount; ++k) {
                Segment segment;
                segment.station = s;
                segment.channel = c;
                segment.first = k * perSegment;
                segment.count = std::min(perSegment, total - segment.first);
                const bool noted = c == 0;
                if (k == middle && middle >= 1) {
                    if (s == gapStation && gapSamples > 0 && gapSamples < segment.count) {
                        segment.first += gapSamples;
                        segment.count -= gapSamples;
                        if (noted)
                            describe(("gap of " + SqlNumber(options.gap) + " s").c_str(), s,
                                     segment.first);
                    }
                    if (s == overlapStation && overlapSamples > 0 &&
                        overlapSamples <= segment.first) {
                        segment.first -= overlapSamples;
                        segment.count += overlapSamples;
                        if (noted)
                            describe(("overlap of " + SqlNumber(options.overlap) + " s").c_str(), s,
                                     segment.first);
                    }
                }
                segment.written = segment.count;
                if (k == middle && middle >= 1) {
                    if (s == missingStation && options.missingFile) {
                        segment.missing = true;
                        segment.written = 0;
                        if (noted)
                            describe("missing file", s, segment.first);
                    } else if (s == shortStation && options.shortFile) {
                        segment.written = segment.count / 2;
                        if (noted)
                            describe("short file (first half written)", s, segment.first);
                    }
                }
                segments.push_back(segment);
            }
        }
    }
    return segments;
}

// ---------------------------------------------------------------------------------------
// The catalogue

class Database {
public:
    bool Connect(const Options& options, std::string& error) {
        if (!environment.IsOpen()) {
            error = "cannot allocate an ODBC environment";
            return false;
        }
        connection = std::make_unique<OdbcConnection>(environment.Get());
        if (!connection->Connect(options.dsn, options.user, options.password)) {
            error = "cannot connect to the data source " + options.dsn + ": " +
                    Diagnostic(SQL_NULL_HSTMT);
            return false;
        }
        return true;
    }

    // Executes one statement; on failure error holds the database's message.
    bool Execute(const std::string& text, std::string& error) {
        OdbcStatement statement(connection->Get());
        if (!statement.IsOpen()) {
            error = "cannot allocate a statement";
            return false;
        }
        if (!SQL_SUCCEEDED(statement.Execute(text))) {
            error = Diagnostic(statement.Get()) + "\nin: " + text;
            return false;
        }
        return true;
    }

    // Collects the inserts into one transaction: without it, every row would be committed
    // (and on SQLite synced to disk) on its own. Returns false when the driver cannot.
    bool BeginTransaction() {
        inTransaction = SQL_SUCCEEDED(
            SQLSetConnectOption(connection->Get(), SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF));
        return inTransaction;
    }

    bool Commit(std::string& error) {
        if (!inTransaction)
            return true;
        const bool committed =
            SQL_SUCCEEDED(SQLTransact(environment.Get(), connection->Get(), SQL_COMMIT));
        if (!committed)
            error = "commit failed: " + Diagnostic(SQL_NULL_HSTMT);
        SQLSetConnectOption(connection->Get(), SQL_AUTOCOMMIT, SQL_AUTOCOMMIT_ON);
        inTransaction = false;
        return committed;
    }

    // Undoes an unfinished transaction, so that a failed run leaves no half catalogue.
    void Rollback() {
        if (inTransaction)
            SQLTransact(environment.Get(), connection->Get(), SQL_ROLLBACK);
        inTransaction = false;
    }

private:
    std::string Diagnostic(HSTMT statement) {
        SQLCHAR state[6] = {0};
        SQLCHAR message[1024] = {0};
        SDWORD nativeError = 0;
        SWORD length = 0;
        const SQLRETURN result =
            SQLError(environment.Get(), connection ? connection->Get() : SQL_NULL_HDBC, statement,
                     state, &nativeError, message, static_cast<SWORD>(sizeof message), &length);
        if (!SQL_SUCCEEDED(result))
            return "no diagnostic";
        return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(message);
    }

    OdbcEnvironment environment;
    std::unique_ptr<OdbcConnection> connection;
    bool inTransaction = false;
};

bool ReadTextFile(const std::string& path, std::string& text) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file)
        return false;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, n);
    return std::ferror(file.get()) == 0;
}

// ---------------------------------------------------------------------------------------
// The files

using OutputFile = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Writes bytes to path in one block. Returns false when it cannot.
bool WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    OutputFile file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file)
        return false;
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    return std::fclose(file.release()) == 0 && written;
}

// "2004-03-02T10:00:12.345Z": epoch seconds in whole milliseconds, for StationXML and QuakeML.
std::string IsoText(double epoch) {
    const long long milliseconds = std::llround(epoch * 1000.0);
    long long seconds = milliseconds / 1000;
    if (milliseconds % 1000 < 0)
        --seconds;
    const CalendarFields f = CalendarOf(static_cast<double>(seconds));
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", f.year, f.month, f.day,
                  f.hour, f.minute, static_cast<int>(f.second),
                  static_cast<int>(milliseconds - seconds * 1000));
    return text;
}

// Writes text to path. Returns false when it cannot.
bool WriteText(const std::string& path, const std::string& text) {
    return WriteFile(path, std::vector<unsigned char>(text.begin(), text.end()));
}

// Writes the stations of the SDS copy (network XX, one epoch from the recording's start) as
// FDSN StationXML 1.2.
bool WriteStationXml(const std::string& path, const std::vector<Station>& stations, double start) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<FDSNStationXML xmlns=\"http://www.fdsn.org/xml/station/1\" schemaVersion=\"1.2\">\n"
        "  <Source>make_archive</Source>\n  <Created>" +
        IsoText(start) + "</Created>\n  <Network code=\"XX\">\n";
    for (const Station& station : stations) {
        text += "    <Station code=\"" + station.code + "\" startDate=\"" + IsoText(start) +
                "\">\n      <Latitude>" + SqlNumber(station.lat) +
                "</Latitude>\n      <Longitude>" + SqlNumber(station.lon) +
                "</Longitude>\n      <Elevation>0</Elevation>\n" + "    </Station>\n";
    }
    return WriteText(path, text + "  </Network>\n</FDSNStationXML>\n");
}

// Writes the events and picks of the catalogue as QuakeML 1.2: each event's origin, its
// picks on network XX with the empty location, and an arrival per pick with its distance.
bool WriteQuakeMl(const std::string& path, const std::vector<Event>& events,
                  const std::vector<PickRow>& picks) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<q:quakeml xmlns:q=\"http://quakeml.org/xmlns/quakeml/1.2\" "
        "xmlns=\"http://quakeml.org/xmlns/bed/1.2\">\n"
        "  <eventParameters publicID=\"smi:trazplot/catalogue\">\n";
    for (const Event& event : events) {
        const std::string origin = "smi:trazplot/origin/" + std::to_string(event.orid);
        text += "    <event publicID=\"smi:trazplot/event/" + event.eventid +
                "\">\n      <preferredOriginID>" + origin + "</preferredOriginID>\n";
        std::string arrivals;
        std::string pickElements;
        int n = 0;
        for (const PickRow& pick : picks) {
            if (pick.eventid != event.eventid)
                continue;
            const std::string id =
                "smi:trazplot/pick/" + std::to_string(event.orid) + "-" + std::to_string(++n);
            pickElements +=
                "      <pick publicID=\"" + id + "\">\n        <time><value>" + IsoText(pick.time) +
                "</value></time>\n        <waveformID networkCode=\"XX\" "
                "stationCode=\"" +
                pick.station + "\" locationCode=\"\" channelCode=\"" + pick.channel +
                "\"/>\n        <phaseHint>" + pick.phase + "</phaseHint>\n      </pick>\n";
            arrivals += "        <arrival publicID=\"" + id + "/arrival\">\n          <pickID>" +
                        id + "</pickID>\n          <phase>" + pick.phase +
                        "</phase>\n          <distance>" + SqlNumber(pick.distance) +
                        "</distance>\n        </arrival>\n";
        }
        text += "      <origin publicID=\"" + origin + "\">\n        <time><value>" +
                IsoText(event.originTime) + "</value></time>\n        <latitude><value>" +
                SqlNumber(event.lat) + "</value></latitude>\n        <longitude><value>" +
                SqlNumber(event.lon) + "</value></longitude>\n" + arrivals + "      </origin>\n" +
                pickElements + "    </event>\n";
    }
    return WriteText(path, text + "  </eventParameters>\n</q:quakeml>\n");
}

// Returns the integer a stored sample of an integer datatype holds (little-endian bytes).
std::int32_t StoredInteger(const unsigned char* bytes, int datatype) {
    switch (datatype) {
        case 0:
            return static_cast<std::int8_t>(bytes[0]);
        case 1:
            return static_cast<std::int16_t>(bytes[0] | bytes[1] << 8);
        case 5:
            return bytes[0] | bytes[1] << 8;
        default:
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes[0]) |
                                             static_cast<std::uint32_t>(bytes[1]) << 8 |
                                             static_cast<std::uint32_t>(bytes[2]) << 16 |
                                             static_cast<std::uint32_t>(bytes[3]) << 24);
    }
}

void AppendSdsRecord(char* record, int length, void* file) {
    std::fwrite(record, 1, static_cast<std::size_t>(length), static_cast<std::FILE*>(file));
}

// The codes of one stream of the SDS copy (network XX); an empty location is "".
struct SdsCodes {
    std::string station;
    std::string location;
    std::string channel;
};

// Packs n stored samples of datatype (little-endian, as a segment file holds them), the first
// at start (epoch seconds), sps per second, into 512-byte records (Steim-2 where the
// differences fit, else 32-bit integers; 32-bit floats for datatype 3) and hands each record
// to handler with sink. Returns false when libmseed cannot pack them all.
bool PackSdsRecords(const SdsCodes& codes, double start, double sps, int datatype,
                    const unsigned char* stored, int n, void (*handler)(char*, int, void*),
                    void* sink) {
    const int width = SampleWidthOf(datatype);
    std::vector<std::int32_t> integers(static_cast<std::size_t>(n));
    std::vector<float> floats(static_cast<std::size_t>(n));
    bool steim = true;
    for (int i = 0; i < n; ++i) {
        const unsigned char* bytes = stored + i * width;
        if (datatype == 3) {
            std::memcpy(&floats[static_cast<std::size_t>(i)], bytes, sizeof(float));
            continue;
        }
        integers[static_cast<std::size_t>(i)] = StoredInteger(bytes, datatype);
        // Steim-2 holds differences of up to 30 bits.
        const long long step = i == 0
                                   ? 0
                                   : static_cast<long long>(integers[static_cast<std::size_t>(i)]) -
                                         integers[static_cast<std::size_t>(i) - 1];
        if (step < -(1LL << 29) || step >= (1LL << 29))
            steim = false;
    }
    MSRecord* record = msr_init(nullptr);
    if (record == nullptr)
        return false;
    std::snprintf(record->network, sizeof record->network, "XX");
    std::snprintf(record->station, sizeof record->station, "%s", codes.station.c_str());
    std::snprintf(record->location, sizeof record->location, "%s", codes.location.c_str());
    std::snprintf(record->channel, sizeof record->channel, "%s", codes.channel.c_str());
    record->dataquality = 'D';
    record->starttime = static_cast<hptime_t>(std::llround(start * HPTMODULUS));
    record->samprate = sps;
    record->reclen = 512;
    record->byteorder = 1;
    record->numsamples = n;
    if (datatype == 3) {
        record->datasamples = floats.data();
        record->sampletype = 'f';
        record->encoding = DE_FLOAT32;
    } else {
        record->datasamples = integers.data();
        record->sampletype = 'i';
        record->encoding = steim ? DE_STEIM2 : DE_INT32;
    }
    std::int64_t packed = 0;
    const int records = msr_pack(record, handler, sink, &packed, 1, 0);
    record->datasamples = nullptr;
    msr_free(&record);
    return records >= 0 && packed == n;
}

// Returns the path of the day file under root that holds the records of codes starting on the
// day that begins at dayStart (epoch seconds of a midnight).
std::string SdsDayPath(const std::string& root, const SdsCodes& codes, double dayStart) {
    const CalendarFields day = CalendarOf(dayStart);
    char name[160];
    std::snprintf(name, sizeof name, "%04d/XX/%s/%s.D/XX.%s.%s.%s.D.%04d.%03d", day.year,
                  codes.station.c_str(), codes.channel.c_str(), codes.station.c_str(),
                  codes.location.c_str(), codes.channel.c_str(), day.year,
                  JulianDate(day.year, day.month, day.day) % 1000);
    return root + "/" + name;
}

// Writes the SDS copy of one segment file: its count stored samples of datatype, the first at
// tbegin, as records appended to the day files of the days they fall in (a record does not
// cross midnight here). A day file met first in this run is started afresh; started holds
// those met. Returns false when a file cannot be written.
bool WriteSdsSegment(const std::string& root, const std::string& station,
                     const std::string& channel, double tbegin, double sps, int datatype,
                     const unsigned char* stored, long long count,
                     std::vector<std::string>& started) {
    const SdsCodes codes{station, "", channel};
    const int width = SampleWidthOf(datatype);
    long long next = 0;
    while (next < count) {
        const double start = tbegin + static_cast<double>(next) / sps;
        const double dayStart = std::floor(start / 86400.0) * 86400.0;
        // The samples before the next midnight.
        long long end = static_cast<long long>(std::ceil((dayStart + 86400.0 - tbegin) * sps));
        end = std::max(next + 1, std::min(end, count));
        const int n = static_cast<int>(end - next);
        const std::string path = SdsDayPath(root, codes, dayStart);
        const bool fresh = std::find(started.begin(), started.end(), path) == started.end();
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
        OutputFile file(std::fopen(path.c_str(), fresh ? "wb" : "ab"), &std::fclose);
        if (error || !file)
            return false;
        if (fresh)
            started.push_back(path);
        if (!PackSdsRecords(codes, start, sps, datatype, stored + next * width, n, AppendSdsRecord,
                            file.get()) ||
            std::fclose(file.release()) != 0)
            return false;
        next = end;
    }
    return true;
}

// The records of one stream of the SDS copy, by day file, in the order the files are met.
struct SdsStreamFiles {
    std::vector<std::string> paths;
    std::vector<std::vector<std::string>> records;  // 512 bytes each, per file of paths

    std::vector<std::string>& Of(const std::string& path) {
        const auto found = std::find(paths.begin(), paths.end(), path);
        if (found != paths.end())
            return records[static_cast<std::size_t>(found - paths.begin())];
        paths.push_back(path);
        records.emplace_back();
        return records.back();
    }

    // Returns the index of the file with the most records (the first of equals); -1 for none.
    int Largest() const {
        int largest = -1;
        for (std::size_t f = 0; f < records.size(); ++f) {
            if (largest < 0 ||
                records[f].size() > records[static_cast<std::size_t>(largest)].size())
                largest = static_cast<int>(f);
        }
        return largest;
    }
};

void CollectSdsRecord(char* record, int length, void* records) {
    static_cast<std::vector<std::string>*>(records)->emplace_back(record,
                                                                  static_cast<std::size_t>(length));
}

// Writes the SDS copy with the defects of real SDS archives, for --defects. A stream is packed
// as the acquisition writes it, record after record across the segment files, so a record that
// starts before midnight holds samples after it and stays in the earlier day's file. On top of
// that, in every channel: the 6th station's largest day file holds the middle third of its
// records in reverse order, the 7th's writes its middle record twice in a row, and the 8th's
// last day file ends in the first 200 bytes of the record that would follow (one still being
// written). The 1st station gets a second stream, location 10, with the first half of the
// span at its rate and the rest decimated by two; when the span covers three calendar days or
// more, its middle day's file is not written. The empty-location streams hold exactly the
// samples of the segment files. Segments are added channel by channel in time order, as
// PlanSegments lists them.
class DefectiveSdsCopy {
public:
    DefectiveSdsCopy(const Options& runOptions, const std::vector<Station>& runStations,
                     long long spanSamples, std::vector<std::string>& writtenFiles)
        : options(runOptions), stations(runStations), total(spanSamples), written(writtenFiles) {
        const int count = static_cast<int>(stations.size());
        reversedStation = 5 % count;
        repeatedStation = 6 % count;
        partialStation = 7 % count;
        const double firstDay = std::floor(options.start / 86400.0);
        const double lastDay =
            std::floor((options.start + static_cast<double>(total - 1) / options.sps) / 86400.0);
        if (lastDay - firstDay >= 2.0)
            missingDay = std::floor((firstDay + lastDay) / 2.0) * 86400.0;
    }

    // Adds the count stored samples of a segment file of the station and channel, the first
    // being sample first of the span. Returns false when a file cannot be written.
    bool Add(int station, int channel, long long first, const unsigned char* stored,
             long long count) {
        if (station != stationIndex || channel != channelIndex) {
            if (!Finish())
                return false;
            stationIndex = station;
            channelIndex = channel;
        }
        const std::size_t width = static_cast<std::size_t>(Width());
        if (runCount > 0 && first != runFirst + runCount && !FlushRun())
            return false;
        if (runCount == 0)
            runFirst = first;
        run.insert(run.end(), stored, stored + static_cast<std::size_t>(count) * width);
        runCount += count;
        streamEnd = std::max(streamEnd, first + count);
        return true;
    }

    // Writes the day files of the channel added last. Returns false when one cannot be written.
    bool Finish() {
        if (stationIndex < 0)
            return true;
        bool ok = FlushRun();
        if (ok && stationIndex == reversedStation) {
            const int f = plain.Largest();
            if (f >= 0) {
                std::vector<std::string>& records = plain.records[static_cast<std::size_t>(f)];
                std::reverse(records.begin() + static_cast<std::ptrdiff_t>(records.size() / 3),
                             records.begin() + static_cast<std::ptrdiff_t>(records.size() * 2 / 3));
            }
        }
        if (ok && stationIndex == repeatedStation) {
            const int f = plain.Largest();
            if (f >= 0) {
                std::vector<std::string>& records = plain.records[static_cast<std::size_t>(f)];
                const auto middle =
                    records.begin() + static_cast<std::ptrdiff_t>(records.size() / 2);
                records.insert(middle + 1, *middle);
            }
        }
        if (ok && stationIndex == partialStation && !plain.records.empty())
            ok = AppendPartialRecord(plain.records.back());
        ok = ok && WriteFiles(plain, -1.0) && WriteFiles(located, missingDay);
        plain = SdsStreamFiles();
        located = SdsStreamFiles();
        stationIndex = -1;
        channelIndex = -1;
        streamEnd = 0;
        return ok;
    }

private:
    const Station& CurrentStation() const {
        return stations[static_cast<std::size_t>(stationIndex)];
    }
    const std::string& CurrentChannel() const {
        return options.channels[static_cast<std::size_t>(channelIndex)];
    }
    int Width() const { return SampleWidthOf(CurrentStation().datatype); }
    double TimeOf(long long sample) const {
        return options.start + static_cast<double>(sample) / options.sps;
    }

    // Packs count stored samples of the current station's datatype, the first at start (epoch
    // seconds), sps per second, into records of codes, each filed under the day it starts in.
    bool Pack(const SdsCodes& codes, double start, double sps, const unsigned char* stored,
              long long count, SdsStreamFiles& files) {
        const int datatype = CurrentStation().datatype;
        const long long width = Width();
        // libmseed counts a pack's samples in an int; a longer run is packed in parts.
        constexpr long long PART = 1 << 22;
        for (long long next = 0; next < count; next += PART) {
            const long long n = std::min(PART, count - next);
            std::vector<std::string> records;
            if (!PackSdsRecords(codes, start + static_cast<double>(next) / sps, sps, datatype,
                                stored + next * width, static_cast<int>(n), CollectSdsRecord,
                                &records))
                return false;
            for (std::string& record : records) {
                if (msr_parse(record.data(), static_cast<int>(record.size()), parsed.Slot(), 0, 0,
                              0) != MS_NOERROR)
                    return false;
                const double recordStart =
                    static_cast<double>((*parsed.Slot())->starttime) / HPTMODULUS;
                const double dayStart = std::floor(recordStart / 86400.0) * 86400.0;
                files.Of(SdsDayPath(options.sdsDir, codes, dayStart)).push_back(std::move(record));
            }
        }
        return true;
    }

    // Packs the run of continuous samples collected so far, and the 1st station's copy of it
    // under location 10: samples before the middle of the span as they are, every second one
    // from the middle on.
    bool FlushRun() {
        if (runCount == 0)
            return true;
        const SdsCodes codes{CurrentStation().code, "", CurrentChannel()};
        bool ok = Pack(codes, TimeOf(runFirst), options.sps, run.data(), runCount, plain);
        if (ok && stationIndex == 0) {
            const SdsCodes decimatedCodes{codes.station, "10", codes.channel};
            const long long half = total / 2;
            const long long width = Width();
            const long long before = std::clamp(half - runFirst, 0LL, runCount);
            ok = Pack(decimatedCodes, TimeOf(runFirst), options.sps, run.data(), before, located);
            long long first = std::max(runFirst, half);
            first += (first - half) % 2;
            std::vector<unsigned char> decimated;
            for (long long n = first; n < runFirst + runCount; n += 2) {
                const unsigned char* sample = run.data() + (n - runFirst) * width;
                decimated.insert(decimated.end(), sample, sample + width);
            }
            ok = ok && Pack(decimatedCodes, TimeOf(first), options.sps / 2.0, decimated.data(),
                            static_cast<long long>(decimated.size()) / width, located);
        }
        run.clear();
        runCount = 0;
        return ok;
    }

    // Appends to records the first 200 bytes of the record that would follow the stream's
    // last sample.
    bool AppendPartialRecord(std::vector<std::string>& records) {
        constexpr std::size_t FOLLOWING = 1000;  // samples, more than one record holds
        constexpr std::size_t WRITTEN = 200;     // bytes of it in the file
        const Station& station = CurrentStation();
        std::vector<double> values(FOLLOWING);
        Synthesize(station.channels[static_cast<std::size_t>(channelIndex)], streamEnd, FOLLOWING,
                   values.data());
        std::vector<unsigned char> stored(
            FOLLOWING * static_cast<std::size_t>(SampleWidthOf(station.datatype)));
        EncodeSamples(values.data(), FOLLOWING, station.datatype, stored.data(), nullptr);
        std::vector<std::string> following;
        if (!PackSdsRecords(SdsCodes{station.code, "", CurrentChannel()}, TimeOf(streamEnd),
                            options.sps, station.datatype, stored.data(),
                            static_cast<int>(FOLLOWING), CollectSdsRecord, &following) ||
            following.empty())
            return false;
        records.push_back(following.front().substr(0, WRITTEN));
        return true;
    }

    // Writes the day files of files, all but the one of the day that starts at skippedDay
    // (epoch seconds; -1 for none).
    bool WriteFiles(const SdsStreamFiles& files, double skippedDay) {
        for (std::size_t f = 0; f < files.paths.size(); ++f) {
            const std::string& path = files.paths[f];
            if (skippedDay >= 0.0 &&
                path == SdsDayPath(options.sdsDir,
                                   SdsCodes{CurrentStation().code, "10", CurrentChannel()},
                                   skippedDay))
                continue;
            std::vector<unsigned char> bytes;
            for (const std::string& record : files.records[f])
                bytes.insert(bytes.end(), record.begin(), record.end());
            std::error_code error;
            std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
            if (error || !WriteFile(path, bytes))
                return false;
            written.push_back(path);
        }
        return true;
    }

    // Owns the record libmseed parses a packed record into, to find its start.
    class ParsedRecord {
    public:
        ParsedRecord() = default;
        ~ParsedRecord() {
            if (record != nullptr)
                msr_free(&record);
        }
        ParsedRecord(const ParsedRecord&) = delete;
        ParsedRecord& operator=(const ParsedRecord&) = delete;
        MSRecord** Slot() { return &record; }

    private:
        MSRecord* record = nullptr;
    };

    const Options& options;
    const std::vector<Station>& stations;
    long long total = 0;                // samples of the span
    std::vector<std::string>& written;  // paths of the day files written
    int reversedStation = 0;
    int repeatedStation = 0;
    int partialStation = 0;
    double missingDay = -1.0;  // epoch seconds of the location-10 day left out; -1: none
    int stationIndex = -1;     // the stream being collected; -1: none
    int channelIndex = -1;
    std::vector<unsigned char> run;  // stored samples that continue each other
    long long runFirst = 0;          // sample of the span that run starts with
    long long runCount = 0;
    long long streamEnd = 0;  // one past the stream's last sample
    SdsStreamFiles plain;     // the empty location
    SdsStreamFiles located;   // location 10
    ParsedRecord parsed;
};

struct SegmentNames {
    std::string hostPath;  // where the file is written
    std::string cpath;     // what the catalogue stores
};

// The acquisition system names its files in upper case, Windows style, while the host's
// copy of the disk loop is in lower case: the reader must match them without regard to case.
SegmentNames NameSegment(const Options& options, const std::string& station,
                         const std::string& channel, double tbegin) {
    const std::string year = std::to_string(CalendarOf(tbegin).year);
    char epoch[32];
    std::snprintf(epoch, sizeof epoch, "%lld", static_cast<long long>(tbegin));
    SegmentNames names;
    names.cpath = Upper(station) + "\\" + year + "\\" + Upper(station) + "_" + Upper(channel) +
                  "_" + epoch + ".dat";
    names.hostPath = (std::filesystem::path(options.dataDir) / Lower(station) / year /
                      (Lower(station) + "_" + Lower(channel) + "_" + epoch + ".dat"))
                         .string();
    return names;
}

std::string Header(const Station& station, const std::string& channel, double tbegin, double sps,
                   long long count, long long size) {
    char text[256];
    std::snprintf(text, sizeof text, "TRAZPLOT SEGMENT %s %s %.3f %.17g %d %lld\n",
                  station.code.c_str(), channel.c_str(), tbegin, sps, station.datatype, count);
    std::string header(text);
    header.resize(static_cast<std::size_t>(size), '\0');
    return header;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "make_archive: %s\n", message.c_str());
    return 1;
}

int Run(const Options& options) {
    const long long total = std::llround(options.span * options.sps);
    const long long perSegment = std::llround(options.segment * options.sps);
    if (total < 1 || perSegment < 1)
        return Fail("the span and the segment length must hold at least one sample each");
    if (options.channels.empty())
        return Fail("no channels");
    for (std::size_t a = 0; a < options.stationList.size(); ++a) {
        for (std::size_t b = a + 1; b < options.stationList.size(); ++b) {
            if (Upper(options.stationList[a]) == Upper(options.stationList[b]))
                return Fail("station codes must differ in more than case: " +
                            options.stationList[a]);
        }
    }

    std::vector<std::string> notes;
    for (const std::string& a : options.stationList) {
        for (const std::string& b : options.stationList) {
            if (a != b && b.find(a) != std::string::npos)
                notes.push_back("station code " + b + " contains " + a +
                                ": the catalogue's station listing leaves it out");
        }
    }
    std::vector<Station> stations;
    std::vector<Event> events;
    std::vector<PickRow> picks;
    DesignArchive(options, stations, events, picks);
    const std::vector<Segment> segments = PlanSegments(options, stations, total, perSegment, notes);

    // Dumps are checked before anything is written.
    std::vector<std::pair<int, int>> dumpChannels;
    for (const DumpRequest& dump : options.dumps) {
        int found = -1;
        for (std::size_t s = 0; s < stations.size(); ++s) {
            if (stations[s].code == dump.station)
                found = static_cast<int>(s);
        }
        int channel = -1;
        for (std::size_t c = 0; c < options.channels.size(); ++c) {
            if (options.channels[c] == dump.channel)
                channel = static_cast<int>(c);
        }
        if (found < 0 || channel < 0)
            return Fail("--dump: no such station and channel: " + dump.station + ":" +
                        dump.channel);
        dumpChannels.emplace_back(found, channel);
    }

    if (!options.sdsDir.empty()) {
        for (const Station& station : stations) {
            if (station.code.size() > 5)
                return Fail("--sds: station code " + station.code + " is longer than 5");
        }
        for (const std::string& channel : options.channels) {
            if (channel.size() > 3)
                return Fail("--sds: channel code " + channel + " is longer than 3");
        }
    }

    Database database;
    std::string error;
    if (!database.Connect(options, error))
        return Fail(error);
    if (options.dropTables) {
        for (const char* table : {"filelist", "arrival", "origin"}) {
            if (!database.Execute(std::string("drop table if exists ") + table, error))
                return Fail(error);
        }
    }
    if (options.createSchema) {
        std::string schema;
        if (!ReadTextFile(options.schemaFile, schema))
            return Fail("cannot read the schema file " + options.schemaFile);
        for (const std::string& statement : SplitSqlStatements(schema)) {
            if (!database.Execute(statement, error))
                return Fail(error);
        }
    }
    if (!database.BeginTransaction())
        notes.push_back("the driver cannot switch off autocommit: rows committed one by one");

    std::error_code fileError;
    std::filesystem::create_directories(options.dataDir, fileError);
    if (fileError)
        return Fail("cannot create " + options.dataDir + ": " + fileError.message());

    long long filesWritten = 0;
    long long bytesWritten = 0;
    long long missingFiles = 0;
    long long shortFiles = 0;
    std::vector<std::string> sdsFiles;
    DefectiveSdsCopy defectiveSds(options, stations, total, sdsFiles);
    std::vector<double> values;
    std::vector<unsigned char> bytes;
    for (const Segment& segment : segments) {
        const Station& station = stations[static_cast<std::size_t>(segment.station)];
        const std::string& channel = options.channels[static_cast<std::size_t>(segment.channel)];
        const double tbegin = options.start + static_cast<double>(segment.first) / options.sps;
        const double tqty = static_cast<double>(segment.count) / options.sps;
        const SegmentNames names = NameSegment(options, station.code, channel, tbegin);

        if (!segment.missing) {
            const std::size_t width = static_cast<std::size_t>(SampleWidthOf(station.datatype));
            const std::size_t count = static_cast<std::size_t>(segment.written);
            values.resize(count);
            Synthesize(station.channels[static_cast<std::size_t>(segment.channel)], segment.first,
                       count, values.data());
            const std::string header =
                Header(station, channel, tbegin, options.sps, segment.count, options.header);
            bytes.assign(header.begin(), header.end());
            bytes.resize(header.size() + count * width);
            EncodeSamples(values.data(), count, station.datatype, bytes.data() + header.size(),
                          nullptr);
            std::filesystem::create_directories(std::filesystem::path(names.hostPath).parent_path(),
                                                fileError);
            if (fileError || !WriteFile(names.hostPath, bytes)) {
                database.Rollback();
                return Fail("cannot write " + names.hostPath);
            }
            const unsigned char* stored = bytes.data() + header.size();
            const bool sdsWritten =
                options.sdsDir.empty() ||
                (options.sdsDefects
                     ? defectiveSds.Add(segment.station, segment.channel, segment.first, stored,
                                        segment.written)
                     : WriteSdsSegment(options.sdsDir, station.code, channel, tbegin, options.sps,
                                       station.datatype, stored, segment.written, sdsFiles));
            if (!sdsWritten) {
                database.Rollback();
                return Fail("cannot write the SDS copy under " + options.sdsDir);
            }
            ++filesWritten;
            bytesWritten += static_cast<long long>(bytes.size());
            if (segment.written < segment.count)
                ++shortFiles;
        } else {
            ++missingFiles;
        }

        const std::string insert =
            "insert into filelist (sta, ch, tbegin, tqty, sps, cpath, datatype, foff) values (" +
            SqlLiteral(station.code) + ", " + SqlLiteral(channel) + ", " + SqlNumber(tbegin) +
            ", " + SqlNumber(tqty) + ", " + SqlNumber(options.sps) + ", " +
            SqlLiteral(names.cpath) + ", " + std::to_string(station.datatype) + ", " +
            std::to_string(options.header) + ")";
        if (!database.Execute(insert, error)) {
            database.Rollback();
            return Fail(error);
        }
    }

    if (!options.sdsDir.empty() && options.sdsDefects && !defectiveSds.Finish()) {
        database.Rollback();
        return Fail("cannot write the SDS copy under " + options.sdsDir);
    }

    for (const Event& event : events) {
        const std::string insert =
            "insert into origin (orid, eventid, lat, lon, origintime) values (" +
            std::to_string(event.orid) + ", " + SqlLiteral(event.eventid) + ", " +
            SqlNumber(event.lat) + ", " + SqlNumber(event.lon) + ", " +
            SqlNumber(event.originTime) + ")";
        if (!database.Execute(insert, error)) {
            database.Rollback();
            return Fail(error);
        }
    }
    for (const PickRow& pick : picks) {
        const std::string insert =
            "insert into arrival (sta, chan, iphase, itime, dist, eventid) values (" +
            SqlLiteral(pick.station) + ", " + SqlLiteral(pick.channel) + ", " +
            SqlLiteral(pick.phase) + ", " + SqlNumber(pick.time) + ", " + SqlNumber(pick.distance) +
            ", " + SqlLiteral(pick.eventid) + ")";
        if (!database.Execute(insert, error)) {
            database.Rollback();
            return Fail(error);
        }
    }
    if (!database.Commit(error))
        return Fail(error);

    // The SDS copy comes with its stations' positions and the events' picks.
    if (!options.sdsDir.empty() &&
        (!WriteStationXml(options.sdsDir + "/stations.xml", stations, options.start - 86400.0) ||
         !WriteQuakeMl(options.sdsDir + "/events.xml", events, picks)))
        return Fail("cannot write the metadata of the SDS copy under " + options.sdsDir);

    for (std::size_t d = 0; d < options.dumps.size(); ++d) {
        const Station& station = stations[static_cast<std::size_t>(dumpChannels[d].first)];
        const std::size_t count = static_cast<std::size_t>(total);
        values.resize(count);
        Synthesize(station.channels[static_cast<std::size_t>(dumpChannels[d].second)], 0, count,
                   values.data());
        std::vector<unsigned char> stored(
            count * static_cast<std::size_t>(SampleWidthOf(station.datatype)));
        std::vector<float> decoded(count);
        EncodeSamples(values.data(), count, station.datatype, stored.data(), decoded.data());
        bytes.resize(count * 4);
        for (std::size_t i = 0; i < count; ++i) StoreFloat(decoded[i], &bytes[i * 4]);
        if (!WriteFile(options.dumps[d].file, bytes))
            return Fail("cannot write " + options.dumps[d].file);
    }

    std::printf("make_archive: %d stations x %zu channels, %s UTC + %s s at %s sps, seed %llu\n",
                options.stationCount, options.channels.size(), DateTimeText(options.start).c_str(),
                SqlNumber(options.span).c_str(), SqlNumber(options.sps).c_str(),
                static_cast<unsigned long long>(options.seed));
    std::string stationText;
    for (const Station& station : stations)
        stationText += " " + station.code + "(" + std::to_string(station.datatype) + ")";
    std::printf("  stations (datatype):%s\n", stationText.c_str());
    std::printf(
        "  segment files: %lld written, %lld bytes, %lld missing, %lld short; "
        "filelist rows: %zu\n",
        filesWritten, bytesWritten, missingFiles, shortFiles, segments.size());
    if (!options.sdsDir.empty())
        std::printf("  SDS day files: %zu under %s\n", sdsFiles.size(), options.sdsDir.c_str());
    for (const Event& event : events) {
        std::printf("  event: orid %lld, eventid %s, origin %s UTC, lat %.4f, lon %.4f\n",
                    event.orid, event.eventid.c_str(), DateTimeText(event.originTime).c_str(),
                    event.lat, event.lon);
    }
    std::printf("  arrival rows: %zu\n", picks.size());
    for (const std::string& note : notes) std::printf("  %s\n", note.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // The SQLite driver loads the driver manager's INI library and unloads it with itself;
    // the INI entries that library cached then become unreachable, which LeakSanitizer
    // reports. Kept loaded for the life of the process, they stay reachable.
    dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_NODELETE);
    Options options;
    std::string error;
    const int parsed = ParseOptions(argc, argv, options, error);
    if (parsed == 1) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (parsed < 0) {
        std::fprintf(stderr, "make_archive: %s\n\n%s", error.c_str(), USAGE);
        return 2;
    }
    return Run(options);
}
