#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "archive/trace_reader.h"
#include "metadata/event_queries.h"
#include "sds/sds_reader.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr double START = 1078221600.0;  // 2004-03-02 10:00:00 UTC
constexpr double SPAN = 1800.0;
constexpr double SPS = 100.0;
const char* const STATIONS[] = {"ABEL", "BORA", "CEDA", "DUNK", "ELMO", "FARO", "GIRO", "HALE"};
const char* const CHANNELS[] = {"BHZ", "BHN", "BHE"};

struct GeneratorRun {
    int status = -1;
    std::string output;
};

// Runs the generator with arguments (already quoted for the shell where needed) and
// collects its standard output.
GeneratorRun RunGenerator(const std::string& arguments) {
    const std::string command = TRAZPLOT_BINARY_DIR "/make_archive " + arguments + " 2>&1";
    GeneratorRun run;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Reads a dump of little-endian floats (the only byte order of the machines we run on).
std::vector<float> ReadFloats(const std::string& path) {
    const std::string bytes = ReadFileBytes(path);
    std::vector<float> values(bytes.size() / 4);
    std::memcpy(values.data(), bytes.data(), values.size() * 4);
    return values;
}

// Every file under folder, by its path relative to folder, with its bytes.
std::map<std::string, std::string> FilesUnder(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            files[std::filesystem::relative(entry.path(), folder).string()] =
                ReadFileBytes(entry.path().string());
    }
    return files;
}

class MakeArchiveTest : public testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        source = std::make_unique<TestDataSource>(GetParam());
        ASSERT_TRUE(source->IsReady()) << source->Error();
    }

    // The common arguments: the 30-minute, 8-station archive with one event and defects.
    std::string Arguments(const std::string& dataDir, int seed) const {
        return "--dsn " + source->Dsn() + " --user " + source->User() + " --password " +
               source->Password() + " --data " + Quoted(dataDir) +
               " --drop --stations 8 --span 1800 --segment 300 --sps 100 --events 1 --defects" +
               " --seed " + std::to_string(seed);
    }

    std::vector<std::vector<std::string>> Rows(const std::string& table, const std::string& order) {
        return source->QueryRows("select * from " + table + " order by " + order);
    }

    TempDir folder;
    std::unique_ptr<TestDataSource> source;
};

TEST_P(MakeArchiveTest, ReadsBackExactlyTheSamplesItMeant) {
    const std::string dataDir = folder.File("data");
    std::string dumps;
    for (const char* station : STATIONS) {
        for (const char* channel : CHANNELS)
            dumps += " --dump " + std::string(station) + ":" + channel + ":" +
                     Quoted(folder.File(std::string(station) + "_" + channel + ".f32"));
    }
    const GeneratorRun run = RunGenerator(Arguments(dataDir, 7) + dumps);
    ASSERT_EQ(run.status, 0) << run.output;
    // Both drivers take the rows in one transaction.
    EXPECT_EQ(run.output.find("autocommit"), std::string::npos) << run.output;

    Catalogue catalogue;
    ASSERT_EQ(catalogue.OpenCatalogue(source->Dsn(), source->User(), source->Password()), 1);
    std::map<int, int> datatypes;
    for (const auto& row : source->QueryRows("select distinct datatype from filelist"))
        ++datatypes[std::atoi(row[0].c_str())];
    EXPECT_EQ(datatypes.size(), 5u) << "every encoding appears";

    for (const char* station : STATIONS) {
        for (const char* channel : CHANNELS) {
            SCOPED_TRACE(std::string(station) + "/" + channel);
            const std::vector<float> meant =
                ReadFloats(folder.File(std::string(station) + "_" + channel + ".f32"));
            ASSERT_EQ(meant.size(), static_cast<std::size_t>(SPAN * SPS));
            Trace trace;
            ReadTrace(catalogue, dataDir + "\\", station, channel, START, START + SPAN, trace);
            ASSERT_GE(trace.SegmentCount(), 6);
            const std::string code = station;
            const double gapBeforeFourth = code == "BORA" ? 10.0 : code == "CEDA" ? -10.0 : 0.0;

            double covered = 0.0;
            int zeros = 0;
            for (int s = 0; s < trace.SegmentCount(); ++s) {
                const SampleVector& segment = trace.SegmentAt(s);
                ASSERT_EQ(segment.sampleRate, SPS);
                const long long first = std::llround((segment.startTime - START) * SPS);
                ASSERT_GE(first, 0);
                ASSERT_LE(first + segment.sampleCount, static_cast<long long>(meant.size()));
                covered += segment.sampleCount / SPS;
                for (int i = 0; i < segment.sampleCount; ++i) {
                    const float value = segment.samples[i];
                    const float expected = meant[static_cast<std::size_t>(first + i)];
                    // A missing or short file reads as zeros; anything else is the sample meant.
                    if (value == 0.0f && expected != 0.0f) {
                        ++zeros;
                        continue;
                    }
                    ASSERT_EQ(value, expected) << "segment " << s << ", sample " << i;
                }
                // BORA has a gap of 10 s before its fourth file, CEDA an overlap of 10 s.
                if (s > 0) {
                    EXPECT_NEAR(segment.startTime - trace.SegmentAt(s - 1).EndTime(),
                                s == 3 ? gapBeforeFourth : 0.0, 1e-6)
                        << "before segment " << s;
                }
            }
            EXPECT_NEAR(covered, SPAN - gapBeforeFourth, 1e-6);
            // DUNK's middle file is missing, ELMO's holds half its samples; nothing else reads
            // as zeros where a sample was meant (a rare sample of value 0 aside).
            if (code == "DUNK")
                EXPECT_GT(zeros, 29000);
            else if (code == "ELMO")
                EXPECT_GT(zeros, 14000);
            else
                EXPECT_LT(zeros, 200);
        }
    }
}

// Every sample of a trace as (sample index from START, value), in order, each pair once: where
// two segments overlap they hold the same samples.
std::vector<std::pair<long long, float>> IndexedSamples(const Trace& trace) {
    std::vector<std::pair<long long, float>> samples;
    for (int s = 0; s < trace.SegmentCount(); ++s) {
        const SampleVector& segment = trace.SegmentAt(s);
        const long long first = std::llround((segment.startTime - START) * SPS);
        for (int i = 0; i < segment.sampleCount; ++i)
            samples.emplace_back(first + i, segment.samples[i]);
    }
    std::sort(samples.begin(), samples.end());
    samples.erase(std::unique(samples.begin(), samples.end()), samples.end());
    return samples;
}

TEST_P(MakeArchiveTest, WritesTheSegmentFilesSamplesAsAnSdsArchive) {
    const std::string dataDir = folder.File("data");
    const std::string sdsDir = folder.File("sds");
    const GeneratorRun run = RunGenerator(Arguments(dataDir, 7) + " --sds " + Quoted(sdsDir));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("SDS day files: 24 under"), std::string::npos) << run.output;

    Catalogue catalogue;
    ASSERT_EQ(catalogue.OpenCatalogue(source->Dsn(), source->User(), source->Password()), 1);
    for (const char* station : STATIONS) {
        for (const char* channel : CHANNELS) {
            SCOPED_TRACE(std::string(station) + "/" + channel);
            Trace files;
            ReadTrace(catalogue, dataDir + "\\", station, channel, START, START + SPAN, files);
            // A missing or short file's zeros are no recorded samples.
            files.KeepPresentSamples();
            Trace sds;
            std::vector<std::string> notes;
            ReadSdsTrace(sdsDir, SdsStream{"XX", station, "", channel}, START, START + SPAN, sds,
                         notes);
            EXPECT_TRUE(notes.empty());
            ASSERT_GT(sds.SegmentCount(), 0);
            EXPECT_EQ(IndexedSamples(sds), IndexedSamples(files));
            for (int s = 0; s < sds.SegmentCount(); ++s)
                EXPECT_EQ(sds.SegmentDatatype(s) == 3, files.SegmentDatatype(0) == 3);
        }
    }
}

TEST_P(MakeArchiveTest, WritesStationsAndEventsBesideTheSdsCopy) {
    const std::string sdsDir = folder.File("sds");
    ASSERT_EQ(RunGenerator(Arguments(folder.File("data"), 3) + " --sds " + Quoted(sdsDir)).status,
              0);
    EventCatalogue events;
    ASSERT_EQ(ReadQuakeMl(sdsDir + "/events.xml", events), 0);
    StationCoordinates stations;
    ASSERT_EQ(ReadStationXml(sdsDir + "/stations.xml", stations), 0);
    ASSERT_EQ(stations.epochs.size(), 8u);

    const auto origins = source->QueryRows("select eventid, lat, lon, origintime from origin");
    ASSERT_EQ(origins.size(), 1u);
    ASSERT_EQ(events.events.size(), 1u);
    const QuakeEvent& event = events.events[0];
    EXPECT_EQ(event.publicId, "smi:trazplot/event/" + origins[0][0]);
    ASSERT_TRUE(event.hasOrigin);
    EXPECT_NEAR(event.origin.latitude, std::atof(origins[0][1].c_str()), 1e-9);
    EXPECT_NEAR(event.origin.longitude, std::atof(origins[0][2].c_str()), 1e-9);
    EXPECT_NEAR(event.origin.time, std::atof(origins[0][3].c_str()), 0.0005);

    // Every arrival row is a pick of network XX with its arrival, at the same time and distance;
    // the station's position gives that distance again.
    const auto picks =
        source->QueryRows("select sta, chan, iphase, itime, dist from arrival order by itime");
    ASSERT_EQ(picks.size(), 16u);
    ASSERT_EQ(EventPicks(event).size(), 16u);
    for (const auto& row : picks) {
        SCOPED_TRACE(row[0] + " " + row[2]);
        PickList found;
        const double time = std::atof(row[3].c_str());
        QueryStationPicks(events, &event, "XX", row[0], time - 0.0005, time + 0.0005, row[2],
                          found);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_NEAR(found[0].distance, std::atof(row[4].c_str()), 1e-12);
        double km = 0.0;
        ASSERT_EQ(StationDistanceKm(event, stations, "XX", row[0], time, km), 0);
        EXPECT_NEAR(km, std::atof(row[4].c_str()) * KM_PER_DEGREE, 0.5);
    }
}

TEST_P(MakeArchiveTest, PicksFollowTheVelocityModel) {
    ASSERT_EQ(RunGenerator(Arguments(folder.File("data"), 3)).status, 0);
    const auto origins =
        source->QueryRows("select orid, eventid, lat, lon, origintime from origin");
    ASSERT_EQ(origins.size(), 1u);
    EXPECT_EQ(origins[0][0], "1001");
    EXPECT_FALSE(origins[0][1].empty());
    const double originTime = std::atof(origins[0][4].c_str());
    EXPECT_GT(originTime, START);
    EXPECT_LT(originTime + 100, START + SPAN);

    const auto picks = source->QueryRows(
        "select sta, chan, iphase, itime, dist, eventid from arrival order by sta, iphase");
    ASSERT_EQ(picks.size(), 16u);
    for (std::size_t i = 0; i < picks.size(); i += 2) {
        const auto& p = picks[i];
        const auto& s = picks[i + 1];
        SCOPED_TRACE(p[0]);
        EXPECT_EQ(p[0], s[0]);
        EXPECT_EQ(p[1], "BHZ");
        EXPECT_EQ(p[2], "P");
        EXPECT_EQ(s[2], "S");
        EXPECT_EQ(p[5], origins[0][1]);
        const double distanceKm = std::atof(p[4].c_str()) * 111.19;
        EXPECT_GE(distanceKm, 19.0);
        EXPECT_LE(distanceKm, 301.0);
        // 6.0 km/s and 3.5 km/s from a focus 10 km deep; times kept to the millisecond.
        const double hypocentral = std::sqrt(distanceKm * distanceKm + 100.0);
        const double pTime = std::atof(p[3].c_str()) - originTime;
        const double sTime = std::atof(s[3].c_str()) - originTime;
        EXPECT_NEAR(pTime, hypocentral / 6.0, 0.01);
        EXPECT_NEAR(sTime - pTime, hypocentral * (1 / 3.5 - 1 / 6.0), 0.01);
    }
}

TEST_P(MakeArchiveTest, IsDeterministicForASeed) {
    ASSERT_EQ(RunGenerator(Arguments(folder.File("first"), 11)).status, 0);
    const auto filelist = Rows("filelist", "sta, ch, tbegin");
    const auto arrival = Rows("arrival", "sta, iphase");
    const auto origin = Rows("origin", "orid");
    ASSERT_EQ(RunGenerator(Arguments(folder.File("second"), 11)).status, 0);
    EXPECT_EQ(Rows("filelist", "sta, ch, tbegin"), filelist);
    EXPECT_EQ(Rows("arrival", "sta, iphase"), arrival);
    EXPECT_EQ(Rows("origin", "orid"), origin);
    const auto files = FilesUnder(folder.File("first"));
    EXPECT_EQ(files.size(), 8u * 3u * 6u - 3u);
    EXPECT_TRUE(FilesUnder(folder.File("second")) == files);

    // Another seed gives other samples and other picks.
    ASSERT_EQ(RunGenerator(Arguments(folder.File("third"), 12)).status, 0);
    EXPECT_NE(Rows("arrival", "sta, iphase"), arrival);
    const auto other = FilesUnder(folder.File("third"));
    ASSERT_FALSE(other.empty());
    EXPECT_NE(other.begin()->second, files.begin()->second);
}

TEST_P(MakeArchiveTest, RefusesBadArgumentsBeforeWritingAnything) {
    const std::string dataDir = folder.File("data");
    const std::string base = "--dsn " + source->Dsn() + " --data " + Quoted(dataDir);
    struct Case {
        const char* name;
        std::string arguments;
        int status;
    };
    const Case cases[] = {
        {"no data source", "--data " + Quoted(dataDir), 2},
        {"unknown datatype", base + " --datatype 4", 2},
        {"unknown data source", "--dsn NO_SUCH_SOURCE --data " + Quoted(dataDir), 1},
        {"dump of an unknown channel", base + " --dump ABEL:XYZ:" + Quoted(folder.File("x")), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const GeneratorRun run = RunGenerator(c.arguments);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_FALSE(std::filesystem::exists(dataDir));
    }
    EXPECT_TRUE(source->QueryRows("select * from filelist").empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, MakeArchiveTest, testing::ValuesIn(ALL_BACKENDS),
                         BackendParamName);

}  // namespace
