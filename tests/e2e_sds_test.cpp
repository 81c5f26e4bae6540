// A run whose [DATA] names an SDS archive reads its rows from the archive's day files, its
// events and picks from QuakeML and its stations' positions from StationXML; the catalogue is
// never opened. The same samples draw the same picture from either archive.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/e2e_harness.h"
#include "tests/support/gif_probe.h"
#include "tests/support/mseed_probe.h"
#include "tests/support/odbc_fixture.h"

namespace {

using Json = nlohmann::json;
namespace fs = std::filesystem;

constexpr double PI = 3.14159265358979323846;

// The segment archive and its SDS copy of three stations (ABEL, BORA, CEDA, network XX,
// empty location) from 10:00 to 10:20, 20 samples per second, in files of five minutes.
class Sds : public BackendRun {
protected:
    void SetUp() override {
        BackendRun::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(folder->Generate({"--stations", "3", "--span", "1200", "--segment", "300",
                                      "--sps", "20", "--channels", "BHZ,BHN", "--sds", Root()}));
    }

    std::string Root() const { return folder->WorkFile("sds"); }

    // Writes wave.ini of an SDS run: section DATA with the archive (and a catalogue that does
    // not exist), then sections.
    void WriteSdsIni(const std::string& sections) const {
        folder->WriteWorkFile("wave.ini", "[DATA]\nSDS=" + Root() +
                                              "\n\n[DATABASE]\nODBC=NOSUCHSOURCE\n\n" + sections);
    }

    // Copies the day files of XX.<station> BHZ into network and location codes of their own.
    void CopyStream(const std::string& station, const std::string& network,
                    const std::string& location) const {
        const fs::path from = fs::path(Root()) / "2004" / "XX" / station / "BHZ.D";
        const fs::path to = fs::path(Root()) / "2004" / network / station / "BHZ.D";
        fs::create_directories(to);
        for (const fs::directory_entry& file : fs::directory_iterator(from)) {
            std::string name = file.path().filename().string();
            // XX.STA..BHZ.D.2004.062
            const std::string tail = name.substr(name.find(".BHZ.D."));
            fs::copy_file(file.path(), to / (network + "." + station + "." + location + tail),
                          fs::copy_options::overwrite_existing);
        }
    }
};

const std::vector<std::string> RUN_10_05 = {"tbeg=10:05:00 02.03.2004", "nsec=600", "/NOPREVIEW",
                                            "/JSON"};

TEST_P(Sds, ListedStationsDrawTheSamePictureAsTheSegmentArchiveWithoutFill) {
    // The catalogue's picks are left out (no phase Q), as the SDS run has no QuakeML.
    const std::string rows = "[STA0]\nSTA=ABEL\n[STA1]\nSTA=BORA\n[STA2]\nSTA=CEDA\nCH=BHN\n";
    folder->WriteWaveIni("[WAVEFORMS]\nN#=3\nPHASES=Q\nFILL=0\nFILE=segments.gif\n" + rows);
    const ProcessResult segments = folder->Run(RUN_10_05);
    ASSERT_EQ(segments.status, SHELL_OK) << segments.output << segments.errors;
    WriteSdsIni("[WAVEFORMS]\nN#=3\nPHASES=Q\nFILE=sds.gif\n" + rows);
    const ProcessResult sds = folder->Run(RUN_10_05);
    ASSERT_EQ(sds.status, SHELL_OK) << sds.output << sds.errors;
    EXPECT_EQ(sds.errors, "");
    EXPECT_TRUE(ReadFileBytes(folder->WorkFile("sds.gif")) ==
                ReadFileBytes(folder->WorkFile("segments.gif")));
}

TEST_P(Sds, DrumDrawsTheSamePictureAsTheSegmentArchiveWithoutFill) {
    const std::vector<std::string> drum = {"tbeg=10:00:00 02.03.2004", "nsec=1200:300",
                                           "/NOPREVIEW"};
    const std::string waveforms = "N#=1\nPHASES=Q\nfilter=1,5\nPREROLL=60\n";
    folder->WriteWaveIni("[WAVEFORMS]\n" + waveforms +
                         "FILL=0\nFILE=segments.gif\n[STA0]\nSTA=BORA\n");
    const ProcessResult segments = folder->Run(drum);
    ASSERT_EQ(segments.status, SHELL_OK) << segments.output << segments.errors;
    WriteSdsIni("[WAVEFORMS]\n" + waveforms + "FILE=sds.gif\n[STA0]\nSTA=BORA\n");
    const ProcessResult sds = folder->Run(drum);
    ASSERT_EQ(sds.status, SHELL_OK) << sds.output << sds.errors;
    EXPECT_TRUE(ReadFileBytes(folder->WorkFile("sds.gif")) ==
                ReadFileBytes(folder->WorkFile("segments.gif")));
}

// Sums the bytes a run read from files whose path ends in name, as strace -f writes its openat
// and pread64 calls (a call another thread interrupts is finished on a line of its own).
long long BytesReadFrom(const std::string& trace, const std::string& name) {
    std::istringstream lines(trace);
    std::string line;
    std::map<long long, bool> named;        // descriptor: opened on such a file
    std::map<std::string, long long> open;  // thread: descriptor of its unfinished pread64
    long long bytes = 0;
    const auto result = [](const std::string& text) {
        return std::atoll(text.substr(text.rfind("= ") + 2).c_str());
    };
    while (std::getline(lines, line)) {
        const std::string thread = line.substr(0, line.find(' '));
        if (line.find("openat(") != std::string::npos && line.find("= ") != std::string::npos) {
            named[result(line)] = line.find(name + "\"") != std::string::npos;
            continue;
        }
        long long descriptor = -1;
        const std::size_t call = line.find("pread64(");
        if (call != std::string::npos) {
            descriptor = std::atoll(line.c_str() + call + 8);
            if (line.find("<unfinished") != std::string::npos) {
                open[thread] = descriptor;
                continue;
            }
        } else if (line.find("<... pread64 resumed>") != std::string::npos) {
            descriptor = open[thread];
        } else {
            continue;
        }
        if (named[descriptor])
            bytes += std::max(0LL, result(line));
    }
    return bytes;
}

TEST_P(Sds, ReadsTheHeadersOfADayFileOnceARun) {
    // strace's ptrace and LeakSanitizer's do not go together.
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "LeakSanitizer cannot run under strace";
#endif
    const std::string day = "XX.BORA..BHZ.D.2004.062";
    const auto size = static_cast<long long>(
        fs::file_size(fs::path(Root()) / "2004" / "XX" / "BORA" / "BHZ.D" / day));
    // Returns the bytes a run read from BORA's day file of 20 minutes.
    const auto bytesRead = [&](const std::string& waveforms,
                               const std::vector<std::string>& arguments) {
        WriteSdsIni("[WAVEFORMS]\nN#=1\nfilter=1,5\nFILE=sds.gif\n" + waveforms +
                    "[STA0]\nSTA=BORA\n[CSS30OUTPUT]\nFILE=.\\css\\w.wfd\n");
        folder->WriteWorkFile("css/keep.txt", "");
        const std::string calls = folder->WorkFile("run.strace");
        const ProcessResult result = folder->RunUnder(
            "/usr/bin/strace", {"-f", "-e", "trace=openat,pread64", "-o", calls}, arguments);
        EXPECT_EQ(result.status, SHELL_OK) << result.output << result.errors;
        return BytesReadFrom(ReadFileBytes(calls), day);
    };
    // A drum of four rows reads the day file's headers with its first row and each row's
    // records once more (the whole file at most); row by row, each would read it all again.
    const long long drum =
        bytesRead("", {"tbeg=10:00:00 02.03.2004", "nsec=1200:300", "/NOPREVIEW"});
    EXPECT_GE(drum, size);
    EXPECT_LE(drum, 2 * size);
    // A row of ten minutes exported with a pre-roll reads the headers once, and the records
    // of its window twice: with the pre-roll for the picture, without it for the exports (each
    // about half of the file).
    const long long exported =
        bytesRead("PREROLL=60\n", {"tbeg=10:05:00 02.03.2004", "nsec=600", "css", "/NOPREVIEW"});
    EXPECT_GE(exported, 2 * size);
    EXPECT_LE(exported, 5 * size / 2);
}

TEST_P(Sds, NetworkAndLocationLookUpIsToldOnStandardError) {
    CopyStream("ABEL", "YY", "");
    CopyStream("BORA", "XX", "00");
    WriteSdsIni(
        "[WAVEFORMS]\nN#=3\nFILE=codes.gif\n[STA0]\nSTA=ABEL\n[STA1]\nSTA=BORA\n[STA2]\n"
        "STA=BORA\nNET=XX\nLOC=00\n");
    const ProcessResult result = folder->Run(RUN_10_05);
    ASSERT_EQ(result.status, SHELL_OK) << result.output << result.errors;
    EXPECT_EQ(result.errors,
              "Station ABEL is in networks XX, YY; using XX\n"
              "Station XX.BORA channel BHZ has locations \"\", \"00\"; using \"\"\n");
}

TEST_P(Sds, ArchiveThatCannotBeOpenedEndsTheRunBeforeAnythingIsDrawn) {
    folder->WriteWorkFile("wave.ini", "[DATA]\nSDS=" + folder->WorkFile("nowhere") +
                                          "\n[WAVEFORMS]\nN#=1\nFILE=none.gif\n[STA0]\nSTA=ABEL\n");
    const ProcessResult result = folder->Run(RUN_10_05);
    EXPECT_EQ(result.status, SHELL_DATABASE_OPEN);
    EXPECT_EQ(result.output, "Cannot open archive " + folder->WorkFile("nowhere") + "!\n");
    EXPECT_FALSE(fs::exists(folder->WorkFile("none.gif")));
}

TEST_P(Sds, DescriptionAndMiniSeedKeepTheArchivesCodes) {
    CopyStream("BORA", "YY", "00");
    const std::string rows =
        "[STA0]\nSTA=ABEL\n[STA1]\nSTA=BORA\nNET=YY\nLOC=00\n[MSEEDOUTPUT]\nFILE=out.mseed\n";
    WriteSdsIni("[WAVEFORMS]\nN#=2\nFILE=codes.gif\n" + rows);
    std::vector<std::string> arguments = RUN_10_05;
    arguments.push_back("MSEED");
    const ProcessResult result = folder->Run(arguments);
    ASSERT_EQ(result.status, SHELL_OK) << result.output << result.errors;
    const Json description = Json::parse(ReadFileBytes(folder->WorkFile("codes.json")));
    EXPECT_EQ(description["rows"][0]["network"], "XX");
    EXPECT_EQ(description["rows"][0]["location"], "");
    EXPECT_EQ(description["rows"][1]["network"], "YY");
    EXPECT_EQ(description["rows"][1]["location"], "00");
    std::set<std::string> streams;
    for (const MseedRecord& record : ReadMseedRecords(folder->WorkFile("out.mseed")))
        streams.insert(record.network + "." + record.station + "." + record.location);
    EXPECT_EQ(streams, (std::set<std::string>{"XX.ABEL.", "YY.BORA.00"}));

    // Codes the INI file sets replace the archive's.
    WriteSdsIni("[WAVEFORMS]\nN#=2\nFILE=codes.gif\n" + rows + "NET=ZZ\nLOC=11\n");
    ASSERT_EQ(folder->Run(arguments).status, SHELL_OK);
    streams.clear();
    for (const MseedRecord& record : ReadMseedRecords(folder->WorkFile("out.mseed")))
        streams.insert(record.network + "." + record.station + "." + record.location);
    EXPECT_EQ(streams, (std::set<std::string>{"ZZ.ABEL.11", "ZZ.BORA.11"}));
}

TEST_P(Sds, SegmentArchiveRowsDescribeNoNetworkOrLocation) {
    folder->WriteWaveIni("[WAVEFORMS]\nN#=1\nFILE=segments.gif\n[STA0]\nSTA=ABEL\n");
    ASSERT_EQ(folder->Run(RUN_10_05).status, SHELL_OK);
    const Json description = Json::parse(ReadFileBytes(folder->WorkFile("segments.json")));
    EXPECT_TRUE(description["rows"][0]["network"].is_null());
    EXPECT_TRUE(description["rows"][0]["location"].is_null());
}

struct XmlCase {
    const char* name;
    const char* section;  // the section and key that name the file
    const char* text;     // the file's text; null: no file
};

TEST_P(Sds, MetadataFileThatCannotBeReadEndsTheRun) {
    const XmlCase cases[] = {
        {"missing QuakeML", "[EVENTS]\nQUAKEML=", nullptr},
        {"broken QuakeML", "[EVENTS]\nQUAKEML=", "<q:quakeml><eventParameters>"},
        {"missing StationXML", "[STATIONS]\nSTATIONXML=", nullptr},
        {"broken StationXML", "[STATIONS]\nSTATIONXML=", "<FDSNStationXML>"},
    };
    for (const XmlCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = folder->WorkFile("meta.xml");
        fs::remove(file);
        if (c.text != nullptr)
            folder->WriteWorkFile("meta.xml", c.text);
        WriteSdsIni(std::string(c.section) + file +
                    "\n[WAVEFORMS]\nN#=1\nFILE=none.gif\n[STA0]\nSTA=ABEL\n");
        const ProcessResult result = folder->Run(RUN_10_05);
        EXPECT_EQ(result.status, SHELL_DATABASE_OPEN);
        EXPECT_EQ(result.output, "Cannot read " + file + "!\n");
        EXPECT_FALSE(fs::exists(folder->WorkFile("none.gif")));
    }
}

// An event at 10:06 with P picks of XX.BORA (10:06:20, 1.5 degrees), XX.ABEL (10:06:10) and
// XX.CEDA (10:06:30, no arrival), and an S of ABEL on BHN (10:06:25); ABEL has a position.
constexpr double EPI_LAT = 47.0;
constexpr double EPI_LON = 15.0;
constexpr double ABEL_LAT = 47.5;
constexpr double ABEL_LON = 15.2;

std::string QuakeMl() {
    const auto pick = [](const char* id, const char* time, const char* station, const char* channel,
                         const char* phase) {
        return std::string("<pick publicID=\"smi:t/pick/") + id + "\"><time><value>" + time +
               "</value></time><waveformID networkCode=\"XX\" stationCode=\"" + station +
               "\" locationCode=\"\" channelCode=\"" + channel + "\"/><phaseHint>" + phase +
               "</phaseHint></pick>\n";
    };
    const auto arrival = [](const char* id, const char* phase, const char* distance) {
        return std::string("<arrival publicID=\"smi:t/arrival/") + id + "\"><pickID>smi:t/pick/" +
               id + "</pickID><phase>" + phase + "</phase><distance>" + distance +
               "</distance></arrival>\n";
    };
    return std::string(
               "<?xml version=\"1.0\"?>\n<q:quakeml "
               "xmlns:q=\"http://quakeml.org/xmlns/quakeml/1.2\" "
               "xmlns=\"http://quakeml.org/xmlns/bed/1.2\"><eventParameters publicID=\"smi:t/c\">\n"
               "<event publicID=\"smi:t/event/2004abcd\"><preferredOriginID>smi:t/origin/1"
               "</preferredOriginID>\n<origin publicID=\"smi:t/origin/1\"><time><value>"
               "2004-03-02T10:06:00Z</value></time><latitude><value>47.0</value></latitude>"
               "<longitude><value>15.0</value></longitude>\n") +
           arrival("b", "P", "1.5") + arrival("a", "P", "0.4") + arrival("s", "S", "0.4") +
           "</origin>\n" + pick("b", "2004-03-02T10:06:20Z", "BORA", "BHZ", "P") +
           pick("a", "2004-03-02T10:06:10Z", "ABEL", "BHZ", "P") +
           pick("s", "2004-03-02T10:06:25Z", "ABEL", "BHN", "S") +
           pick("c", "2004-03-02T10:06:30Z", "CEDA", "BHZ", "P") +
           "</event>\n</eventParameters></q:quakeml>\n";
}

std::string StationXml() {
    const auto station = [](const char* code, double lat, double lon) {
        return std::string("<Station code=\"") + code + "\" startDate=\"2000-01-01T00:00:00\">" +
               "<Latitude>" + std::to_string(lat) + "</Latitude><Longitude>" + std::to_string(lon) +
               "</Longitude><Elevation>0</Elevation></Station>";
    };
    return "<?xml version=\"1.0\"?>\n<FDSNStationXML xmlns=\"http://www.fdsn.org/xml/station/1\" "
           "schemaVersion=\"1.2\"><Source>t</Source><Created>2004-01-01T00:00:00</Created>"
           "<Network code=\"XX\">" +
           station("ABEL", ABEL_LAT, ABEL_LON) + "</Network></FDSNStationXML>\n";
}

double SphereKm(double lat1, double lon1, double lat2, double lon2) {
    const double r = PI / 180.0;
    const double a =
        std::pow(std::sin((lat2 - lat1) * r / 2), 2) +
        std::cos(lat1 * r) * std::cos(lat2 * r) * std::pow(std::sin((lon2 - lon1) * r / 2), 2);
    return 2.0 * 6371.0 * std::asin(std::sqrt(a));
}

TEST_P(Sds, EventFromQuakeMlListsItsStationsWithPicksAndDistances) {
    folder->WriteWorkFile("event.xml", QuakeMl());
    folder->WriteWorkFile("stations.xml", StationXml());
    WriteSdsIni("[EVENTS]\nQUAKEML=" + folder->WorkFile("event.xml") + "\n[STATIONS]\nSTATIONXML=" +
                folder->WorkFile("stations.xml") + "\n[WAVEFORMS]\nN#=ALL\nFILE=event.gif\n");
    const ProcessResult result =
        folder->Run({"eventid=2004ABCD", "nsec=300", "/NOPREVIEW", "/JSON", "/SHOWEVENT"});
    ASSERT_EQ(result.status, SHELL_OK) << result.output << result.errors;
    const Json description = Json::parse(ReadFileBytes(folder->WorkFile("event.json")));
    // The first pick 10:06:10 less a minute, down to the minute.
    EXPECT_EQ(description["window"]["start"].get<std::string>(), "2004-03-02T10:05:00.000Z");
    EXPECT_EQ(description["event"]["id"].get<std::string>(), "smi:t/event/2004abcd");
    const Json& rows = description["rows"];
    // CEDA's pick belongs to no arrival of the preferred origin: it does not count.
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["station"], "ABEL");
    EXPECT_EQ(rows[1]["station"], "BORA");
    ASSERT_EQ(rows[0]["picks"].size(), 2u);
    EXPECT_EQ(rows[0]["picks"][0]["phase"], "P");
    EXPECT_EQ(rows[0]["picks"][1]["phase"], "S");
    EXPECT_NEAR(rows[0]["distanceKm"].get<double>(), SphereKm(EPI_LAT, EPI_LON, ABEL_LAT, ABEL_LON),
                1e-6);
    // BORA has no position: its arrival's distance in degrees gives the label.
    EXPECT_NEAR(rows[1]["distanceKm"].get<double>(), 1.5 * 111.19, 1e-6);
    EXPECT_EQ(description["event"]["orid"].get<std::string>(), "smi:t/origin/1");
}

TEST_P(Sds, UnknownEventEndsTheRunNamingTheQuakeMlFile) {
    folder->WriteWorkFile("event.xml", QuakeMl());
    WriteSdsIni("[EVENTS]\nQUAKEML=" + folder->WorkFile("event.xml") +
                "\n[WAVEFORMS]\nN#=ALL\nFILE=event.gif\n");
    const ProcessResult result = folder->Run({"eventid=2004zzzz", "nsec=300", "/NOPREVIEW"});
    EXPECT_EQ(result.status, SHELL_EVENT_NOT_FOUND);
    EXPECT_EQ(result.output,
              "Not found ID=2004ZZZZ in database " + folder->WorkFile("event.xml") + "!\n");
}

INSTANTIATE_TEST_SUITE_P(Backends, Sds, testing::Values(Backend::Sqlite), BackendParamName);

// The demo's archive (ten stations, 30 minutes at 100 samples per second, one event), with a
// gap, an overlap, a missing file and a file cut short, and its SDS copy with StationXML and
// QuakeML and the defects of real day files (records out of order, one written twice, a file
// still being written, a second location code whose rate changes).
class SdsDemo : public BackendRun {
protected:
    void SetUp() override {
        BackendRun::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(folder->Generate({"--stations", "10", "--span", "1800", "--segment", "300",
                                      "--sps", "100", "--events", "1", "--seed", "7", "--defects",
                                      "--sds", folder->WorkFile("sds")}));
    }
};

constexpr const char* DEMO_WAVEFORMS =
    "[WAVEFORMS]\nNSEC=900\nN#=ALL\nfilter=1,10\nPHASES=P,S\nCOLORBG=255,255,255\n"
    "COLORWF=0,0,128\nCOLORTXT=200,0,0\nPREROLL=60\n";

// The distance label's text, as the row draws it.
std::string LabelText(const Json& row) {
    char text[32];
    std::snprintf(text, sizeof text, "%5.0f km", row["distanceKm"].get<double>());
    return text;
}

TEST_P(SdsDemo, EventDrawsAsFromTheSegmentArchiveWithoutFillButForTheDistanceLabels) {
    folder->WriteWaveIni(std::string(DEMO_WAVEFORMS) + "FILL=0\nFILE=segments.gif\n");
    const std::vector<std::string> arguments = {"EVENTID=LAST", "/SHOWEVENT", "/GAPS", "/JSON",
                                                "/NOPREVIEW"};
    const ProcessResult segments = folder->Run(arguments);
    ASSERT_EQ(segments.status, SHELL_OK) << segments.output << segments.errors;
    const std::string sds = folder->WorkFile("sds");
    folder->WriteWorkFile("wave.ini", "[DATA]\nSDS=" + sds + "\n[EVENTS]\nQUAKEML=" + sds +
                                          "/events.xml\n[STATIONS]\nSTATIONXML=" + sds +
                                          "/stations.xml\n" + DEMO_WAVEFORMS + "FILE=sds.gif\n");
    const ProcessResult fromSds = folder->Run(arguments);
    ASSERT_EQ(fromSds.status, SHELL_OK) << fromSds.output << fromSds.errors;

    const Json a = Json::parse(ReadFileBytes(folder->WorkFile("segments.json")));
    const Json b = Json::parse(ReadFileBytes(folder->WorkFile("sds.json")));
    ASSERT_EQ(a["rows"].size(), 10u);
    ASSERT_EQ(b["rows"].size(), 10u);
    EXPECT_EQ(a["window"], b["window"]);
    // The labels differ where the station's position on the sphere and the catalogue's
    // degrees times 111 round to different kilometres.
    std::vector<bool> labelDiffers;
    for (std::size_t i = 0; i < 10; ++i) {
        const Json& rowA = a["rows"][i];
        const Json& rowB = b["rows"][i];
        SCOPED_TRACE(rowA["station"].get<std::string>());
        for (const char* field : {"station", "channel", "band", "start", "end", "filter", "scale",
                                  "sampleRates", "completeness", "gaps", "picks"})
            EXPECT_EQ(rowA[field], rowB[field]) << field;
        EXPECT_NEAR(rowA["distanceKm"].get<double>(), rowB["distanceKm"].get<double>(), 1.0);
        labelDiffers.push_back(LabelText(rowA) != LabelText(rowB));
    }
    const GifPicture pictureA(folder->WorkFile("segments.gif"));
    const GifPicture pictureB(folder->WorkFile("sds.gif"));
    ASSERT_TRUE(pictureA.IsLoaded() && pictureB.IsLoaded());
    ASSERT_EQ(pictureA.Width(), pictureB.Width());
    ASSERT_EQ(pictureA.Height(), pictureB.Height());
    int differing = 0;
    for (int y = 0; y < pictureA.Height(); ++y) {
        for (int x = 0; x < pictureA.Width(); ++x) {
            if (pictureA.At(x, y) == pictureB.At(x, y))
                continue;
            // Only inside the label of a row whose label text differs.
            bool inLabel = false;
            for (std::size_t i = 0; i < 10; ++i) {
                const int top = a["rows"][i]["band"]["top"].get<int>();
                const int height = a["rows"][i]["band"]["height"].get<int>();
                inLabel = inLabel || (labelDiffers[i] && x >= pictureA.Width() - 81 && y >= top &&
                                      y < top + height);
            }
            if (!inLabel && ++differing <= 5)
                ADD_FAILURE() << "pixel " << x << "," << y << " differs";
        }
    }
    EXPECT_EQ(differing, 0);
    // Where every label agrees, the files are the same.
    if (std::find(labelDiffers.begin(), labelDiffers.end(), true) == labelDiffers.end()) {
        EXPECT_TRUE(ReadFileBytes(folder->WorkFile("segments.gif")) ==
                    ReadFileBytes(folder->WorkFile("sds.gif")));
    }
}

TEST_P(SdsDemo, ReadsTwoRowsAtATime) {
    // strace's ptrace and LeakSanitizer's do not go together.
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "LeakSanitizer cannot run under strace";
#endif
    // Returns the threads a filtered drum of BORA's started, its rows of five minutes.
    const auto threads = [&](const std::string& nsec) {
        const std::string sds = folder->WorkFile("sds");
        folder->WriteWorkFile("wave.ini", "[DATA]\nSDS=" + sds +
                                              "\n[WAVEFORMS]\nN#=1\nfilter=1,10\nFILE=drum.gif\n"
                                              "[STA0]\nSTA=BORA\n");
        return folder->ThreadsStarted({"tbeg=10:00:00 02.03.2004", "nsec=" + nsec, "/NOPREVIEW"});
    };
    // Two readers of two threads each, a row each at a time, and the filter thread, however
    // many rows (one reader whose two threads share each row starts three).
    EXPECT_EQ(threads("1800:300"), 5);
    EXPECT_EQ(threads("900:300"), 5);
    // Rows of three stations: the two readers, no filter thread.
    folder->WriteWorkFile("wave.ini", "[DATA]\nSDS=" + folder->WorkFile("sds") +
                                          "\n[WAVEFORMS]\nN#=3\nFILE=rows.gif\n[STA0]\nSTA=BORA\n"
                                          "[STA1]\nSTA=CEDA\n[STA2]\nSTA=DUNK\n");
    EXPECT_EQ(folder->ThreadsStarted({"tbeg=10:05:00 02.03.2004", "nsec=600", "/NOPREVIEW"}), 4);
}

INSTANTIATE_TEST_SUITE_P(Backends, SdsDemo, testing::Values(Backend::Sqlite), BackendParamName);

}  // namespace
