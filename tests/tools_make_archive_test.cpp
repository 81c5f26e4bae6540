#include <gtest/gtest.h>
#include <libmseed.h>
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
#include <set>
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

// Every sample of a trace as (sample index from start at sps, value), in order, each pair once:
// where two segments overlap they hold the same samples.
std::vector<std::pair<long long, float>> IndexedSamples(const Trace& trace, double start = START,
                                                        double sps = SPS) {
    std::vector<std::pair<long long, float>> samples;
    for (int s = 0; s < trace.SegmentCount(); ++s) {
        const SampleVector& segment = trace.SegmentAt(s);
        const long long first = std::llround((segment.startTime - start) * sps);
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
    // 8 stations x 3 channels, and ABEL's 3 channels again under location 10.
    EXPECT_NE(run.output.find("SDS day files: 27 under"), std::string::npos) << run.output;

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

// One record of a day file, as libmseed parses it from the file's bytes.
struct DayRecord {
    std::string bytes;
    double start = 0.0;  // epoch seconds of the first sample
    double rate = 0.0;
    std::vector<float> samples;

    double End() const { return start + static_cast<double>(samples.size()) / rate; }
};

// A day file of the SDS copy: its whole 512-byte records and the bytes after them.
struct DayFile {
    std::vector<DayRecord> records;
    std::string tail;
};

DayFile ParseDayFile(const std::string& path) {
    DayFile file;
    std::string bytes = ReadFileBytes(path);
    MSRecord* record = nullptr;
    std::size_t offset = 0;
    while (bytes.size() - offset >= 512 &&
           msr_parse(&bytes[offset], 512, &record, 512, 1, 0) == MS_NOERROR) {
        DayRecord read;
        read.bytes = bytes.substr(offset, 512);
        read.start = static_cast<double>(record->starttime) / HPTMODULUS;
        read.rate = msr_samprate(record);
        for (std::int64_t i = 0; i < record->numsamples; ++i) {
            if (record->sampletype == 'f')
                read.samples.push_back(static_cast<float*>(record->datasamples)[i]);
            else
                read.samples.push_back(
                    static_cast<float>(static_cast<std::int32_t*>(record->datasamples)[i]));
        }
        file.records.push_back(read);
        offset += 512;
    }
    msr_free(&record);
    file.tail = bytes.substr(offset);
    return file;
}

// The 8-station archive from 2004-03-02 23:50 over two midnights to 2004-03-04 00:10, at 10
// samples per second in files of an hour, with defects and its SDS copy.
constexpr double LONG_START = 1078271400.0;  // 2004-03-02 23:50:00 UTC
constexpr double LONG_SPAN = 87600.0;
constexpr double LONG_SPS = 10.0;
const double MIDNIGHTS[] = {1078272000.0, 1078358400.0};
const char* const LONG_CHANNELS[] = {"BHZ", "BHN"};
const char* const DAYS[] = {"2004.062", "2004.063", "2004.064"};

class MakeSdsWithDefectsTest : public MakeArchiveTest {
protected:
    void SetUp() override {
        MakeArchiveTest::SetUp();
        if (HasFatalFailure())
            return;
        const GeneratorRun run = RunGenerator(
            "--dsn " + source->Dsn() + " --user " + source->User() + " --password " +
            source->Password() + " --data " + Quoted(folder.File("data")) +
            " --drop --stations 8 --start 1078271400 --span 87600 --segment 3600 --sps 10" +
            " --channels BHZ,BHN --events 1 --defects --sds " + Quoted(folder.File("sds")));
        ASSERT_EQ(run.status, 0) << run.output;
    }

    std::string DayPath(const std::string& station, const std::string& location,
                        const std::string& channel, const std::string& day) const {
        return folder.File("sds") + "/2004/XX/" + station + "/" + channel + ".D/XX." + station +
               "." + location + "." + channel + ".D." + day;
    }

    // The day files of a stream, one per day (empty where there is no file).
    std::vector<DayFile> Stream(const std::string& station, const std::string& location,
                                const std::string& channel) const {
        std::vector<DayFile> files;
        for (const char* day : DAYS)
            files.push_back(ParseDayFile(DayPath(station, location, channel, day)));
        return files;
    }
};

// Every sample of a stream's records as (sample index of the span, value), each pair once.
std::vector<std::pair<long long, float>> IndexedSamples(const std::vector<DayFile>& files) {
    std::vector<std::pair<long long, float>> samples;
    for (const DayFile& file : files) {
        for (const DayRecord& record : file.records) {
            for (std::size_t i = 0; i < record.samples.size(); ++i)
                samples.emplace_back(
                    std::llround(
                        (record.start + static_cast<double>(i) / record.rate - LONG_START) *
                        LONG_SPS),
                    record.samples[i]);
        }
    }
    std::sort(samples.begin(), samples.end());
    samples.erase(std::unique(samples.begin(), samples.end()), samples.end());
    return samples;
}

TEST_P(MakeSdsWithDefectsTest, KeepsTheSegmentFilesSamplesInRecordsThatCrossMidnight) {
    Catalogue catalogue;
    ASSERT_EQ(catalogue.OpenCatalogue(source->Dsn(), source->User(), source->Password()), 1);
    for (const char* station : STATIONS) {
        for (const char* channel : LONG_CHANNELS) {
            SCOPED_TRACE(std::string(station) + "/" + channel);
            Trace segments;
            ReadTrace(catalogue, folder.File("data") + "\\", station, channel, LONG_START,
                      LONG_START + LONG_SPAN, segments);
            segments.KeepPresentSamples();
            const std::vector<DayFile> files = Stream(station, "", channel);
            EXPECT_TRUE(IndexedSamples(files) == IndexedSamples(segments, LONG_START, LONG_SPS));

            // At each midnight, the record that starts before it holds samples after it and
            // lies in the earlier day's file.
            for (std::size_t m = 0; m < std::size(MIDNIGHTS); ++m) {
                int crossing = 0;
                for (std::size_t f = 0; f < files.size(); ++f) {
                    for (const DayRecord& record : files[f].records) {
                        if (record.start < MIDNIGHTS[m] && record.End() > MIDNIGHTS[m] + 0.05) {
                            ++crossing;
                            EXPECT_EQ(f, m) << "midnight " << m;
                        }
                    }
                }
                EXPECT_EQ(crossing, 1) << "midnight " << m;
            }
        }
    }
}

TEST_P(MakeSdsWithDefectsTest, LaysOutDayFilesAsRealArchivesHaveThem) {
    struct Case {
        const char* station;
        bool outOfOrder;   // a block of records in reverse order of time
        int repeats;       // records written twice in a row
        std::size_t tail;  // bytes of a partial record at the end of the last day file
    };
    const Case cases[] = {
        {"ABEL", false, 0, 0},
        {"FARO", true, 0, 0},
        {"GIRO", false, 1, 0},
        {"HALE", false, 0, 200},
    };
    for (const Case& c : cases) {
        for (const char* channel : LONG_CHANNELS) {
            SCOPED_TRACE(std::string(c.station) + "/" + channel);
            const std::vector<DayFile> files = Stream(c.station, "", channel);
            int backwards = 0;
            int repeats = 0;
            for (const DayFile& file : files) {
                for (std::size_t r = 1; r < file.records.size(); ++r) {
                    backwards += file.records[r].start < file.records[r - 1].start ? 1 : 0;
                    repeats += file.records[r].bytes == file.records[r - 1].bytes ? 1 : 0;
                }
            }
            // The reversed third of a day of records goes back in time at each record.
            if (c.outOfOrder)
                EXPECT_GT(backwards, 100);
            else
                EXPECT_EQ(backwards, 0);
            EXPECT_EQ(repeats, c.repeats);
            EXPECT_EQ(files[0].tail.size(), 0u);
            EXPECT_EQ(files[1].tail.size(), 0u);
            ASSERT_EQ(files[2].tail.size(), c.tail);
            if (c.tail > 0) {
                // The record being written starts where the last whole one ends.
                std::string partial = files[2].tail;
                partial.resize(512, '\0');
                MSRecord* record = nullptr;
                ASSERT_EQ(msr_parse(&partial[0], 512, &record, 512, 0, 0), MS_NOERROR);
                EXPECT_NEAR(static_cast<double>(record->starttime) / HPTMODULUS,
                            files[2].records.back().End(), 1e-4);
                msr_free(&record);
            }
        }
    }
}

TEST_P(MakeSdsWithDefectsTest, FirstStationHasALocationWhoseRateHalvesAndWhoseMiddleDayIsMissing) {
    const long long total = static_cast<long long>(LONG_SPAN * LONG_SPS);
    const long long half = total / 2;
    const double change = LONG_START + static_cast<double>(half) / LONG_SPS;
    for (const char* channel : LONG_CHANNELS) {
        SCOPED_TRACE(channel);
        EXPECT_TRUE(std::filesystem::exists(DayPath("ABEL", "10", channel, DAYS[0])));
        EXPECT_FALSE(std::filesystem::exists(DayPath("ABEL", "10", channel, DAYS[1])));
        EXPECT_TRUE(std::filesystem::exists(DayPath("ABEL", "10", channel, DAYS[2])));
        std::map<long long, float> plain;
        for (const auto& sample : IndexedSamples(Stream("ABEL", "", channel)))
            plain[sample.first] = sample.second;
        ASSERT_EQ(plain.size(), static_cast<std::size_t>(total));

        std::set<double> rates;
        long long samples = 0;
        for (const DayFile& file : Stream("ABEL", "10", channel)) {
            for (const DayRecord& record : file.records) {
                rates.insert(record.rate);
                // Full rate before the change, every second sample from it on.
                EXPECT_EQ(record.rate, record.start < change ? LONG_SPS : LONG_SPS / 2);
                for (std::size_t i = 0; i < record.samples.size(); ++i) {
                    const long long n = std::llround(
                        (record.start + static_cast<double>(i) / record.rate - LONG_START) *
                        LONG_SPS);
                    ASSERT_EQ(record.samples[i], plain[n]) << "sample " << n;
                    EXPECT_TRUE(n < half || (n - half) % 2 == 0) << "sample " << n;
                    ++samples;
                }
            }
        }
        EXPECT_EQ(rates, (std::set<double>{LONG_SPS, LONG_SPS / 2}));
        // The missing day held most of the span.
        EXPECT_GT(samples, 2000);
        EXPECT_LT(samples, 20000);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, MakeSdsWithDefectsTest, testing::ValuesIn(ALL_BACKENDS),
                         BackendParamName);

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
