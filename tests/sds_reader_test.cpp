#include "sds/sds_reader.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <libmseed.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "archive/trace_reader.h"
#include "sds/sds_stream.h"
#include "tests/support/temp_dir.h"
#include "timeutil/calendar.h"

std::atomic<int> unpackCalls{0};

// Stands in front of libmseed's msr_unpack to count the records whose header libmseed reads
// again: the reader decodes those whose header it read itself without it.
extern "C" int msr_unpack(char* record, int reclen, MSRecord** ppmsr, flag dataflag, flag verbose) {
    ++unpackCalls;
    using Unpack = int (*)(char*, int, MSRecord**, flag, flag);
    static const auto libmseed = reinterpret_cast<Unpack>(dlsym(RTLD_NEXT, "msr_unpack"));
    return libmseed(record, reclen, ppmsr, dataflag, verbose);
}

// The offsets files were read at, while a test records them.
std::mutex readsMutex;
bool recordingReads = false;
std::vector<long long> reads;

// Stands in front of the C library's pread to record the reads.
extern "C" ssize_t pread(int descriptor, void* bytes, size_t size, off_t offset) {
    {
        std::lock_guard<std::mutex> lock(readsMutex);
        if (recordingReads)
            reads.push_back(static_cast<long long>(offset));
    }
    using Pread = ssize_t (*)(int, void*, size_t, off_t);
    static const auto c = reinterpret_cast<Pread>(dlsym(RTLD_NEXT, "pread"));
    return c(descriptor, bytes, size, offset);
}

namespace {

namespace fs = std::filesystem;

// 2024-03-10, day 070 of a leap year.
const double DAY = EpochFromCalendar(2024, 3, 10, 0, 0, 0.0f);

void CollectRecord(char* record, int length, void* records) {
    static_cast<std::vector<std::string>*>(records)->emplace_back(record, length);
}

// Returns the records libmseed packs of XX.ABC.<location>.HHZ samples first, first + 1, ...
// (scaled by step for the float encodings), starting at start (epoch seconds, whole
// milliseconds) at rate sps, in records of reclen bytes.
std::vector<std::string> PackRecords(double start, double rate, int count, int first,
                                     int encoding = DE_STEIM2, int reclen = 512,
                                     const std::string& location = "", double step = 1.0) {
    std::vector<std::int32_t> integers;
    std::vector<float> floats;
    std::vector<double> doubles;
    MSRecord* record = msr_init(nullptr);
    std::snprintf(record->network, sizeof record->network, "XX");
    std::snprintf(record->station, sizeof record->station, "ABC");
    std::snprintf(record->location, sizeof record->location, "%s", location.c_str());
    std::snprintf(record->channel, sizeof record->channel, "HHZ");
    record->dataquality = 'D';
    record->starttime = static_cast<hptime_t>(std::llround(start * HPTMODULUS));
    record->samprate = rate;
    record->reclen = reclen;
    record->byteorder = 1;
    record->encoding = static_cast<std::int8_t>(encoding);
    record->numsamples = count;
    for (int k = 0; k < count; ++k) {
        integers.push_back(first + k);
        floats.push_back(static_cast<float>((first + k) * step));
        doubles.push_back((first + k) * step);
    }
    if (encoding == DE_FLOAT32) {
        record->datasamples = floats.data();
        record->sampletype = 'f';
    } else if (encoding == DE_FLOAT64) {
        record->datasamples = doubles.data();
        record->sampletype = 'd';
    } else {
        record->datasamples = integers.data();
        record->sampletype = 'i';
    }
    std::vector<std::string> records;
    std::int64_t packed = 0;
    const int made = msr_pack(record, CollectRecord, &records, &packed, 1, 0);
    record->datasamples = nullptr;
    msr_free(&record);
    EXPECT_GT(made, 0);
    EXPECT_EQ(packed, count);
    return records;
}

std::string Join(const std::vector<std::string>& records) {
    std::string bytes;
    for (const std::string& record : records) bytes += record;
    return bytes;
}

// The name of a day file of XX.ABC.<location>.HHZ under the archive's root.
std::string DayFile(int year, int dayOfYear, const std::string& location = "",
                    const std::string& network = "XX", const std::string& station = "ABC") {
    char name[160];
    std::snprintf(name, sizeof name, "%04d/%s/%s/HHZ.D/%s.%s.%s.HHZ.D.%04d.%03d", year,
                  network.c_str(), station.c_str(), network.c_str(), station.c_str(),
                  location.c_str(), year, dayOfYear);
    return name;
}

SdsStream Stream(const std::string& location = "") {
    return SdsStream{"XX", "ABC", location, "HHZ"};
}

// Checks that a segment starts at start and holds count samples first, first + 1, ...
void ExpectRun(const SampleVector& segment, double start, int count, double first,
               double step = 1.0) {
    EXPECT_NEAR(segment.startTime, start, 1e-6);
    ASSERT_EQ(segment.sampleCount, count);
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(segment.samples[i], static_cast<float>((first + i) * step)) << "sample " << i;
}

TEST(SdsDayPaths, NamesTheDaysOfTheWindowAndTheDayBefore) {
    struct Case {
        const char* name;
        double t1, t2;
        std::string location;
        std::vector<std::string> expected;
    };
    const std::string tail = "/XX/ABC/HHZ.D/XX.ABC.";
    const Case cases[] = {
        {"inside one day",
         DAY + 3600,
         DAY + 7200,
         "",
         {"/r/2024" + tail + ".HHZ.D.2024.069", "/r/2024" + tail + ".HHZ.D.2024.070"}},
        {"across midnight, location 00",
         DAY + 86000,
         DAY + 87000,
         "00",
         {"/r/2024" + tail + "00.HHZ.D.2024.069", "/r/2024" + tail + "00.HHZ.D.2024.070",
          "/r/2024" + tail + "00.HHZ.D.2024.071"}},
        {"ending at midnight",
         DAY + 3600,
         DAY + 86400,
         "",
         {"/r/2024" + tail + ".HHZ.D.2024.069", "/r/2024" + tail + ".HHZ.D.2024.070"}},
        {"across the year's end",
         EpochFromCalendar(2023, 12, 31, 23, 0, 0.0f),
         EpochFromCalendar(2024, 1, 1, 1, 0, 0.0f),
         "",
         {"/r/2023" + tail + ".HHZ.D.2023.364", "/r/2023" + tail + ".HHZ.D.2023.365",
          "/r/2024" + tail + ".HHZ.D.2024.001"}},
        {"last day of a leap year",
         EpochFromCalendar(2024, 12, 31, 1, 0, 0.0f),
         EpochFromCalendar(2024, 12, 31, 2, 0, 0.0f),
         "",
         {"/r/2024" + tail + ".HHZ.D.2024.365", "/r/2024" + tail + ".HHZ.D.2024.366"}},
        {"window ending before it begins", DAY + 10, DAY, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SdsDayPaths("/r", Stream(c.location), c.t1, c.t2), c.expected);
        EXPECT_EQ(SdsDayPaths("/r/", Stream(c.location), c.t1, c.t2), c.expected);
    }
}

TEST(ReadSdsTrace, DecodesEveryEncoding) {
    struct Case {
        const char* name;
        int encoding;
        double step;
        int datatype;
    };
    const Case cases[] = {
        {"Steim-1", DE_STEIM1, 1.0, 2},   {"Steim-2", DE_STEIM2, 1.0, 2},
        {"INT16", DE_INT16, 1.0, 1},      {"INT32", DE_INT32, 1.0, 2},
        {"FLOAT32", DE_FLOAT32, 0.25, 3}, {"FLOAT64", DE_FLOAT64, 0.125, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        root.Write(DayFile(2024, 70),
                   Join(PackRecords(DAY + 100, 10.0, 2000, -1000, c.encoding, 512, "", c.step)));
        Trace trace;
        std::vector<std::string> notes;
        unpackCalls = 0;
        ReadSdsTrace(root.Path(), Stream(), DAY + 50, DAY + 400, trace, notes);
        EXPECT_EQ(unpackCalls, 0);
        EXPECT_TRUE(notes.empty());
        EXPECT_EQ(trace.station, "ABC");
        EXPECT_EQ(trace.channel, "HHZ");
        ASSERT_EQ(trace.SegmentCount(), 1);
        EXPECT_EQ(trace.SegmentDatatype(0), c.datatype);
        EXPECT_EQ(trace.SegmentSamplesRead(0), 2000);
        EXPECT_EQ(trace.SegmentAt(0).sampleRate, 10.0);
        ExpectRun(trace.SegmentAt(0), DAY + 100, 2000, -1000, c.step);
    }
}

TEST(ReadSdsTrace, ReadsRecordLengthsMixedInOneFile) {
    TempDir root;
    const std::vector<std::string> first = PackRecords(DAY + 100, 10.0, 1000, 0, DE_STEIM2, 512);
    const std::vector<std::string> second =
        PackRecords(DAY + 200, 10.0, 8000, 1000, DE_STEIM2, 4096);
    const std::vector<std::string> third = PackRecords(DAY + 1000, 10.0, 1000, 9000, DE_INT32, 512);
    ASSERT_GT(first.size(), 1u);
    EXPECT_EQ(second.front().size(), 4096u);
    root.Write(DayFile(2024, 70), Join(first) + Join(second) + Join(third));
    Trace trace;
    std::vector<std::string> notes;
    ReadSdsTrace(root.Path(), Stream(), DAY, DAY + 3600, trace, notes);
    EXPECT_TRUE(notes.empty());
    ASSERT_EQ(trace.SegmentCount(), 1);
    ExpectRun(trace.SegmentAt(0), DAY + 100, 10000, 0);
}

TEST(ReadSdsTrace, JoinsARecordThatCrossesMidnightWithTheNextDay) {
    TempDir root;
    // The first record starts 30 s before midnight and holds 40 s: it stays in the earlier
    // day's file.
    const std::vector<std::string> before = PackRecords(DAY - 30, 10.0, 400, 0);
    ASSERT_EQ(before.size(), 1u);
    root.Write(DayFile(2024, 69), Join(before));
    root.Write(DayFile(2024, 70), Join(PackRecords(DAY + 10, 10.0, 400, 400)));
    Trace trace;
    std::vector<std::string> notes;
    ReadSdsTrace(root.Path(), Stream(), DAY + 5.05, DAY + 20, trace, notes);
    ASSERT_EQ(trace.SegmentCount(), 1);
    // The last sample at or before the window's start, then every sample before its end.
    ExpectRun(trace.SegmentAt(0), DAY + 5.0, 150, 350);
}

TEST(ReadSdsTrace, PutsRecordsInTimeOrderAndCountsARepeatedRecordOnce) {
    struct Case {
        const char* name;
        std::vector<int> order;  // indices of the packed records, as the file holds them
        bool renumber;           // the repeated record gets another sequence number
    };
    const Case cases[] = {
        {"out of order", {3, 1, 0, 4, 2}, false},
        {"a record twice", {0, 1, 2, 2, 3, 4}, false},
        {"a record twice, out of order, renumbered", {2, 0, 1, 4, 2, 3}, true},
    };
    const std::vector<std::string> records = PackRecords(DAY + 100, 10.0, 3000, 0);
    ASSERT_EQ(records.size(), 5u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        std::string bytes;
        std::vector<bool> seen(records.size(), false);
        for (int index : c.order) {
            std::string record = records[static_cast<std::size_t>(index)];
            if (seen[static_cast<std::size_t>(index)] && c.renumber)
                record.replace(0, 6, "000999");
            seen[static_cast<std::size_t>(index)] = true;
            bytes += record;
        }
        root.Write(DayFile(2024, 70), bytes);
        Trace trace;
        std::vector<std::string> notes;
        ReadSdsTrace(root.Path(), Stream(), DAY, DAY + 3600, trace, notes);
        EXPECT_TRUE(notes.empty());
        ASSERT_EQ(trace.SegmentCount(), 1);
        ExpectRun(trace.SegmentAt(0), DAY + 100, 3000, 0);
    }
}

TEST(ReadSdsTrace, KeepsTheWholeRecordsOfAFileStillBeingWritten) {
    const std::vector<std::string> records = PackRecords(DAY + 100, 10.0, 3000, 0);
    ASSERT_EQ(records.size(), 5u);
    TempDir whole;
    whole.Write(DayFile(2024, 70), records[0] + records[1] + records[2]);
    Trace expected;
    std::vector<std::string> notes;
    ReadSdsTrace(whole.Path(), Stream(), DAY, DAY + 3600, expected, notes);
    ASSERT_EQ(expected.SegmentCount(), 1);
    const int count = expected.SegmentAt(0).sampleCount;
    EXPECT_GT(count, 1000);
    const std::size_t cuts[] = {60, 300, 511};
    for (std::size_t cut : cuts) {
        SCOPED_TRACE(cut);
        TempDir root;
        root.Write(DayFile(2024, 70),
                   records[0] + records[1] + records[2] + records[3].substr(0, cut));
        Trace trace;
        ReadSdsTrace(root.Path(), Stream(), DAY, DAY + 3600, trace, notes);
        EXPECT_TRUE(notes.empty());
        ASSERT_EQ(trace.SegmentCount(), 1);
        ExpectRun(trace.SegmentAt(0), DAY + 100, count, 0);
    }
}

TEST(ReadSdsTrace, ReadsAsWellThroughTheIndexAndAFileCutSinceAsFarAsItGoes) {
    // More records than one piece of the file's scan holds, in lengths of 512 and 4096.
    const std::vector<std::string> shortRecords = PackRecords(DAY + 100, 10.0, 150000, 0);
    const std::vector<std::string> longRecords =
        PackRecords(DAY + 15100, 10.0, 150000, 150000, DE_STEIM2, 4096);
    TempDir root;
    const std::string day = root.Write(DayFile(2024, 70), Join(shortRecords) + Join(longRecords));
    ASSERT_GT(fs::file_size(day), 128u * 1024u);
    SdsDayIndex index;
    std::vector<std::string> notes;
    // Rows of a drum, each read through the index and without it.
    for (double start = DAY; start < DAY + 30000; start += 3600) {
        SCOPED_TRACE(start - DAY);
        Trace direct;
        Trace indexed;
        ReadSdsTrace(root.Path(), Stream(), start, start + 3600, direct, notes);
        ReadSdsTrace(root.Path(), Stream(), start, start + 3600, indexed, notes, true, &index);
        ASSERT_EQ(indexed.SegmentCount(), direct.SegmentCount());
        for (int i = 0; i < direct.SegmentCount(); ++i) {
            const SampleVector& segment = direct.SegmentAt(i);
            ExpectRun(indexed.SegmentAt(i), segment.startTime, segment.sampleCount,
                      segment.samples[0]);
        }
    }
    EXPECT_TRUE(notes.empty());
    // Cut in the middle of a long record after it was listed: the records before the cut are
    // read, the rest are unreadable.
    const std::size_t whole = Join(shortRecords).size() + 4096 * 3;
    fs::resize_file(day, whole + 1000);
    Trace cut;
    ReadSdsTrace(root.Path(), Stream(), DAY + 14000, DAY + 17600, cut, notes, false, &index);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "Skipping unreadable data in " + day + " at byte " + std::to_string(whole));
    int longCount = 0;
    for (int i = 0; i < 3; ++i) {
        MSRecord* record = nullptr;
        std::string bytes = longRecords[static_cast<std::size_t>(i)];
        ASSERT_EQ(msr_parse(bytes.data(), 4096, &record, 0, 0, 0), MS_NOERROR);
        longCount += static_cast<int>(record->samplecnt);
        msr_free(&record);
    }
    ASSERT_EQ(cut.SegmentCount(), 1);
    ExpectRun(cut.SegmentAt(0), DAY + 14000, 150000 - 139000 + longCount, 139000);
    // Gone since it was listed: nothing.
    fs::remove(day);
    Trace gone;
    ReadSdsTrace(root.Path(), Stream(), DAY, DAY + 3600, gone, notes, true, &index);
    EXPECT_EQ(gone.SegmentCount(), 0);
}

TEST(ReadSdsTrace, ListsALongDayFileByHalvesAsWhole) {
    // Over a megabyte: two threads list the file, from its start and from its middle.
    const std::vector<std::string> records = PackRecords(DAY + 100, 10.0, 300000, 0, DE_INT32);
    const std::string stream = Join(records);
    const std::string longRecords = Join(PackRecords(DAY + 100, 10.0, 300000, 0, DE_INT32, 4096));
    const std::size_t half = stream.size() / 2;
    std::string garbled = stream;
    garbled.replace(half - 1000, 3000, 3000, 'x');
    std::string garbledAfter = stream;
    garbledAfter.replace(half + 1000, 3000, 3000, 'x');
    const std::size_t quarter = records.size() / 4 * 512;
    // The second half's scan starts at the middle's multiple of 4096, here inside a record of
    // 4096 bytes whose samples look like the header of a record of 1024 there: that scan
    // steps over the next record's start.
    std::string misleading = records[0] + longRecords;
    const std::size_t middle = misleading.size() / 2 / 4096 * 4096;
    misleading.replace(middle, 64, PackRecords(DAY, 10.0, 10, 0, DE_INT32, 1024)[0].substr(0, 64));
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"records of 512 bytes", stream},
        // The middle is no record's start: the second half's scan finds the records on.
        {"one record of 512 bytes, then of 4096", records[0] + longRecords},
        {"a record's samples that look like a header in the middle", misleading},
        {"unreadable bytes across the middle", garbled},
        {"unreadable bytes after the middle", garbledAfter},
        {"the second half first",
         stream.substr(half / 512 * 512) + stream.substr(0, half / 512 * 512)},
        {"a record twice across the middle",
         stream.substr(0, quarter * 3) + stream.substr(quarter, 512) + stream.substr(quarter * 3)},
        {"a partial record at the end", stream + records[1].substr(0, 300)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        ASSERT_GT(c.bytes.size(), 1024u * 1024u);
        root.Write(DayFile(2024, 70), c.bytes);
        Trace whole;
        std::vector<std::string> wholeNotes;
        ReadSdsTrace(root.Path(), Stream(), DAY, DAY + 86400, whole, wholeNotes, false);
        Trace halves;
        std::vector<std::string> halvesNotes;
        ReadSdsTrace(root.Path(), Stream(), DAY, DAY + 86400, halves, halvesNotes, true);
        EXPECT_EQ(halvesNotes, wholeNotes);
        ASSERT_EQ(halves.SegmentCount(), whole.SegmentCount());
        for (int i = 0; i < whole.SegmentCount(); ++i) {
            const SampleVector& expected = whole.SegmentAt(i);
            const SampleVector& segment = halves.SegmentAt(i);
            EXPECT_EQ(segment.startTime, expected.startTime);
            ASSERT_EQ(segment.sampleCount, expected.sampleCount);
            EXPECT_TRUE(std::equal(segment.samples, segment.samples + segment.sampleCount,
                                   expected.samples));
        }
    }
}

TEST(ReadSdsTrace, ListsTheSecondHalfOfALongDayFileApartForASecondThread) {
    TempDir root;
    const std::string bytes = Join(PackRecords(DAY + 100, 10.0, 300000, 0, DE_INT32));
    ASSERT_GT(bytes.size(), 1024u * 1024u);
    root.Write(DayFile(2024, 70), bytes);
    // The second half's scan starts at the middle's multiple of 4096; the scan from the start
    // reads pieces of 128 KiB, none of which starts there.
    const auto middle = static_cast<long long>(bytes.size() / 2 / 4096 * 4096);
    ASSERT_NE(middle % (128 * 1024), 0);
    const auto readAt = [&](bool share) {
        {
            std::lock_guard<std::mutex> lock(readsMutex);
            reads.clear();
            recordingReads = true;
        }
        Trace trace;
        std::vector<std::string> notes;
        // The window's records lie in the first tenth of the file: only the listing reads
        // the middle.
        ReadSdsTrace(root.Path(), Stream(), DAY, DAY + 3000, trace, notes, share);
        std::lock_guard<std::mutex> lock(readsMutex);
        recordingReads = false;
        EXPECT_EQ(trace.SegmentCount(), 1);
        return std::set<long long>(reads.begin(), reads.end());
    };
    EXPECT_EQ(readAt(true).count(middle), 1u);
    // One thread lists the file from its start alone.
    EXPECT_EQ(readAt(false).count(middle), 0u);
}

TEST(SdsDayIndex, ListsADayFileOnceWhenTwoThreadsNeedItAtOnce) {
    // Nine megabytes: a scan takes long enough for the second thread to come while it runs.
    TempDir root;
    root.Write(DayFile(2024, 70), Join(PackRecords(DAY, 100.0, 2000000, 0, DE_INT32)));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        {
            std::lock_guard<std::mutex> lock(readsMutex);
            reads.clear();
            recordingReads = true;
        }
        SdsDayIndex index;
        // Windows far from the file's start: only a scan reads its first bytes.
        const auto readRow = [&](double start) {
            Trace trace;
            std::vector<std::string> notes;
            ReadSdsTrace(root.Path(), Stream(), start, start + 100, trace, notes, false, &index);
            EXPECT_EQ(trace.SegmentCount(), 1);
        };
        std::thread other(readRow, DAY + 15000);
        readRow(DAY + 16000);
        other.join();
        std::lock_guard<std::mutex> lock(readsMutex);
        recordingReads = false;
        EXPECT_EQ(std::count(reads.begin(), reads.end(), 0LL), 1);
    }
}

TEST(SdsWindowRate, IsTheHighestRateOfTheRecordsInTheWindow) {
    // 10 samples per second from 100 s after midnight for 40 s, then 20 for 20 s.
    TempDir root;
    root.Write(DayFile(2024, 70), Join(PackRecords(DAY + 100, 10.0, 400, 0)) +
                                      Join(PackRecords(DAY + 140, 20.0, 400, 400)));
    const struct {
        double from, to, rate;
    } cases[] = {{0, 120, 10}, {100, 200, 20}, {150, 160, 20}, {170, 3600, 0}, {-3600, 50, 0}};
    SdsDayIndex index;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        EXPECT_EQ(SdsWindowRate(root.Path(), Stream(), DAY + c.from, DAY + c.to, &index), c.rate);
    }
}

TEST(ReadSdsTrace, LeavesAMissingDayAHole) {
    TempDir root;
    root.Write(DayFile(2024, 69), Join(PackRecords(DAY - 1000, 10.0, 1000, 0)));
    root.Write(DayFile(2024, 71), Join(PackRecords(DAY + 86400 + 100, 10.0, 1000, 5000)));
    Trace trace;
    std::vector<std::string> notes;
    ReadSdsTrace(root.Path(), Stream(), DAY - 3600, DAY + 86400 + 3600, trace, notes);
    EXPECT_TRUE(notes.empty());
    ASSERT_EQ(trace.SegmentCount(), 2);
    ExpectRun(trace.SegmentAt(0), DAY - 1000, 1000, 0);
    ExpectRun(trace.SegmentAt(1), DAY + 86400 + 100, 1000, 5000);
}

TEST(ReadSdsTrace, StartsASegmentAtAGapAnOverlapOrARateChange) {
    struct Case {
        const char* name;
        double secondStart;  // seconds after the first record's start; it holds 40 s
        double secondRate;
        int segments;
    };
    const Case cases[] = {
        {"continues exactly", 40.0, 10.0, 1},
        {"continues within half a sample", 40.04, 10.0, 1},
        {"begins early within half a sample", 39.96, 10.0, 1},
        {"gap of more than half a sample", 40.06, 10.0, 2},
        {"gap", 41.0, 10.0, 2},
        {"overlap", 39.0, 10.0, 2},
        {"rate change", 40.0, 20.0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        const double second = DAY + 100 + c.secondStart;
        root.Write(DayFile(2024, 70), Join(PackRecords(DAY + 100, 10.0, 400, 0)) +
                                          Join(PackRecords(second, c.secondRate, 400, 400)));
        Trace trace;
        std::vector<std::string> notes;
        ReadSdsTrace(root.Path(), Stream(), DAY, DAY + 3600, trace, notes);
        ASSERT_EQ(trace.SegmentCount(), c.segments);
        if (c.segments == 1) {
            ExpectRun(trace.SegmentAt(0), DAY + 100, 800, 0);
        } else {
            ExpectRun(trace.SegmentAt(0), DAY + 100, 400, 0);
            ExpectRun(trace.SegmentAt(1), second, 400, 400);
            EXPECT_EQ(trace.SegmentAt(1).sampleRate, c.secondRate);
        }
    }
}

TEST(ReadSdsTrace, KeepsDataSentAgainApartFromTheStreamItOverlaps) {
    TempDir root;
    const std::vector<std::string> stream = PackRecords(DAY + 100, 10.0, 2000, 0);
    ASSERT_GT(stream.size(), 2u);
    // The samples in the first record (big-endian, as packed).
    const int first =
        static_cast<unsigned char>(stream[0][30]) << 8 | static_cast<unsigned char>(stream[0][31]);
    const double second = DAY + 100 + first / 10.0;
    // Sent again later: ten seconds that end where the stream's second record begins, and
    // ten that begin there.
    root.Write(DayFile(2024, 70), Join(stream) + Join(PackRecords(second - 10, 10.0, 100, 10000)) +
                                      Join(PackRecords(second, 10.0, 100, 10100)));
    Trace trace;
    std::vector<std::string> notes;
    ReadSdsTrace(root.Path(), Stream(), DAY, DAY + 3600, trace, notes);
    ASSERT_EQ(trace.SegmentCount(), 2);
    ExpectRun(trace.SegmentAt(0), DAY + 100, 2000, 0);
    ExpectRun(trace.SegmentAt(1), second - 10, 200, 10000);
}

TEST(ReadSdsTrace, CutsASegmentToTheWindowAsTheSegmentReaderDoes) {
    struct Case {
        const char* name;
        double t1, t2;  // seconds after the segment's start
    };
    const Case cases[] = {
        {"window around the segment", -50, 200},
        {"start on a sample", 10.0, 50.0},
        {"start between samples", 10.03, 50.05},
        {"start in the last sample's interval", 99.95, 120.0},
        {"end on a sample", -1.0, 30.0},
        {"after the segment", 100.0, 120.0},
        {"before the segment", -20.0, -10.0},
        {"window of one instant on a sample", 20.0, 20.0},
    };
    TempDir root;
    const double start = DAY + 100;
    root.Write(DayFile(2024, 70), Join(PackRecords(start, 40.0, 4000, 0)));
    SegmentRow row;
    row.tbegin = start;
    row.tqty = 100.0;
    row.sps = 40.0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const double t1 = start + c.t1;
        const double t2 = start + c.t2;
        Trace trace;
        std::vector<std::string> notes;
        ReadSdsTrace(root.Path(), Stream(), t1, t2, trace, notes);
        const SegmentCut cut = CutSegment(row, t1, t2);
        if (cut.count < 1.0) {
            EXPECT_EQ(trace.SegmentCount(), 0);
            continue;
        }
        ASSERT_EQ(trace.SegmentCount(), 1);
        EXPECT_EQ(trace.SegmentAt(0).startTime, cut.start);
        ExpectRun(trace.SegmentAt(0), cut.start, static_cast<int>(cut.count), cut.first);
    }
}

TEST(ReadSdsTrace, ReadsAWindowAcrossTheYearsEnd) {
    TempDir root;
    const double newYear = EpochFromCalendar(2024, 1, 1, 0, 0, 0.0f);
    root.Write(DayFile(2023, 365), Join(PackRecords(newYear - 120, 10.0, 1200, 0)));
    root.Write(DayFile(2024, 1), Join(PackRecords(newYear, 10.0, 1200, 1200)));
    Trace trace;
    std::vector<std::string> notes;
    ReadSdsTrace(root.Path(), Stream(), newYear - 60, newYear + 60, trace, notes);
    ASSERT_EQ(trace.SegmentCount(), 1);
    ExpectRun(trace.SegmentAt(0), newYear - 60, 1200, 600);
}

TEST(ReadSdsTrace, ReadsOnlyItsOwnLocationCode) {
    TempDir root;
    root.Write(DayFile(2024, 70, ""), Join(PackRecords(DAY + 100, 10.0, 500, 0, DE_STEIM2, 512)));
    root.Write(DayFile(2024, 70, "00"),
               Join(PackRecords(DAY + 200, 10.0, 500, 7000, DE_STEIM2, 512, "00")));
    const std::string locations[] = {"", "00"};
    for (const std::string& location : locations) {
        SCOPED_TRACE(location);
        Trace trace;
        std::vector<std::string> notes;
        ReadSdsTrace(root.Path(), Stream(location), DAY, DAY + 3600, trace, notes);
        ASSERT_EQ(trace.SegmentCount(), 1);
        if (location.empty())
            ExpectRun(trace.SegmentAt(0), DAY + 100, 500, 0);
        else
            ExpectRun(trace.SegmentAt(0), DAY + 200, 500, 7000);
    }
}

TEST(ReadSdsTrace, SkipsUnreadableRecordsWithOneNotePerFile) {
    TempDir root;
    std::vector<std::string> records = PackRecords(DAY + 100, 10.0, 3000, 0);
    ASSERT_EQ(records.size(), 5u);
    // Record 3 names an encoding nobody decodes: its header reads, its samples do not. The
    // bytes before it are no record at all.
    records[3][52] = 99;
    const std::string garbage(512, 'x');
    const std::string before =
        root.Write(DayFile(2024, 69), Join(PackRecords(DAY - 100, 10.0, 100, 0)) + records[3]);
    const std::string day = root.Write(DayFile(2024, 70), records[0] + records[1] + garbage +
                                                              records[2] + records[3] + records[4]);
    Trace trace;
    std::vector<std::string> notes;
    ReadSdsTrace(root.Path(), Stream(), DAY, DAY + 3600, trace, notes);
    const std::vector<std::string> expected = {
        "Skipping unreadable data in " + before + " at byte 512",
        "Skipping unreadable data in " + day + " at byte 1024",
    };
    EXPECT_EQ(notes, expected);
    ASSERT_EQ(trace.SegmentCount(), 2);
    const int kept = trace.SegmentAt(0).sampleCount;
    ExpectRun(trace.SegmentAt(0), DAY + 100, kept, 0);
    EXPECT_GT(trace.SegmentAt(1).startTime, DAY + 100 + kept / 10.0);
    EXPECT_EQ(trace.SegmentAt(1).samples[trace.SegmentAt(1).sampleCount - 1], 2999.0f);
}

TEST(ReadSdsTrace, SkipsARecordThatAnnouncesMoreSamplesThanItHolds) {
    struct Case {
        const char* name;
        int encoding;  // as packed
        int relabel;   // the encoding its header names instead, or -1
    };
    const Case cases[] = {
        {"INT16", DE_INT16, -1},
        {"INT32", DE_INT32, -1},
        {"FLOAT64", DE_FLOAT64, -1},
        {"Steim-2", DE_STEIM2, -1},
        // An encoding that libmseed decodes whole, header and all.
        {"CDSN", DE_INT16, DE_CDSN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string record = PackRecords(DAY + 100, 10.0, 50, 0, c.encoding)[0];
        // 3000 samples, more than 512 bytes hold in any encoding.
        record[30] = static_cast<char>(3000 >> 8);
        record[31] = static_cast<char>(3000 & 0xff);
        if (c.relabel >= 0)
            record[52] = static_cast<char>(c.relabel);
        TempDir root;
        // Records after it hold what a read past its end would take for its samples.
        const std::string day = root.Write(
            DayFile(2024, 70), record + Join(PackRecords(DAY + 1000, 10.0, 20000, 0, DE_INT32)));
        Trace trace;
        std::vector<std::string> notes;
        ReadSdsTrace(root.Path(), Stream(), DAY, DAY + 200, trace, notes);
        EXPECT_EQ(notes,
                  std::vector<std::string>{"Skipping unreadable data in " + day + " at byte 0"});
        EXPECT_EQ(trace.SegmentCount(), 0);
    }
}

TEST(ResolveSdsStream, ChoosesNetworkAndLocationAndSaysWhenThereWasAChoice) {
    TempDir root;
    const std::string record = Join(PackRecords(DAY + 100, 10.0, 10, 0));
    root.Write(DayFile(2024, 70, "", "XX"), record);
    root.Write(DayFile(2024, 70, "00", "XX"), record);
    root.Write(DayFile(2024, 70, "10", "YY"), record);
    root.Write(DayFile(2024, 70, "30", "ZZ", "DEF"), record);
    root.Write(DayFile(2024, 71, "20", "ZZ", "DEF"), record);
    struct Case {
        const char* name;
        std::optional<std::string> network;
        std::string station;
        std::optional<std::string> location;
        int result;
        std::string network2, location2;
        std::vector<std::string> notes;
    };
    const Case cases[] = {
        {"both looked up",
         std::nullopt,
         "ABC",
         std::nullopt,
         1,
         "XX",
         "",
         {"Station ABC is in networks XX, YY; using XX",
          "Station XX.ABC channel HHZ has locations \"\", \"00\"; using \"\""}},
        {"network given", "YY", "ABC", std::nullopt, 1, "YY", "10", {}},
        {"location given",
         std::nullopt,
         "ABC",
         "00",
         1,
         "XX",
         "00",
         {"Station ABC is in networks XX, YY; using XX"}},
        {"no empty location code",
         std::nullopt,
         "DEF",
         std::nullopt,
         1,
         "ZZ",
         "20",
         {"Station ZZ.DEF channel HHZ has locations \"20\", \"30\"; using \"20\""}},
        {"no such station", std::nullopt, "GHI", std::nullopt, 0, "", "", {}},
        {"no such channel folder", "XX", "DEF", std::nullopt, 0, "XX", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SdsStream stream;
        std::vector<std::string> notes;
        EXPECT_EQ(ResolveSdsStream(root.Path(), c.network, c.station, c.location, "HHZ", DAY + 100,
                                   DAY + 200, stream, notes),
                  c.result);
        EXPECT_EQ(stream.network, c.network2);
        EXPECT_EQ(stream.station, c.station);
        EXPECT_EQ(stream.location, c.location2);
        EXPECT_EQ(stream.channel, "HHZ");
        EXPECT_EQ(notes, c.notes);
    }
}

}  // namespace
