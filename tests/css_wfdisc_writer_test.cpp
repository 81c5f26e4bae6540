#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "css/wfdisc_writer.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string MESSAGE = "Ошибка записи файла wfdisc\n";
const std::string PREVIOUS = "an earlier record\n";
// 2001-03-05 10:25:00 UTC, and the sample file name of a record 0 of ABC/BHZ at that time.
const double MARCH_5_2001 = 983787900.0;
const char* const FIRST_FILE = "0-10250005032001-ABC-bhz.w";

SampleVector MakeSegment(double startTime, double sampleRate, const std::vector<float>& values) {
    SampleVector segment;
    EXPECT_TRUE(segment.AllocateZeros(static_cast<int>(values.size())));
    for (std::size_t i = 0; i < values.size(); ++i) segment.samples[i] = values[i];
    segment.startTime = startTime;
    segment.sampleRate = sampleRate;
    return segment;
}

std::vector<float> Ramp(int count) {
    std::vector<float> values;
    for (int i = 0; i < count; ++i) values.push_back(static_cast<float>(i));
    return values;
}

// Names the trace ABC/BHZ and appends a ramp of count samples at rate for every start.
void FillAbc(Trace& trace, const std::vector<double>& starts, int count, double rate = 100.0) {
    trace.station = "ABC";
    trace.channel = "BHZ";
    for (double start : starts) trace.AppendSegment(MakeSegment(start, rate, Ramp(count)));
}

std::vector<std::string> Lines(const std::string& path) {
    const std::string text = ReadFileBytes(path);
    std::vector<std::string> lines;
    for (std::size_t begin = 0; begin < text.size();) {
        const std::size_t end = std::min(text.find('\n', begin), text.size());
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return lines;
}

std::string Bytes(const std::vector<int>& values) {
    std::string bytes;
    for (int v : values) bytes += static_cast<char>(v);
    return bytes;
}

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// Runs the writer and returns what it printed on standard error; the writer must report a
// failure exactly when it prints its message.
std::string WriteCapturingStderr(const std::string& wfdiscPath,
                                 const std::vector<const Trace*>& traces, int selector) {
    testing::internal::CaptureStderr();
    const bool written = WriteWfdisc(wfdiscPath, traces, selector);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(written, printed.empty()) << printed;
    return printed;
}

// A wfdisc reader written from the CSS 3.0 column layout: 1-based first character and
// width of each column.
struct Column {
    int first;
    int width;
};
const Column STA{1, 6}, CHAN{8, 8}, TIME{17, 17}, WFID{35, 8}, CHANID{44, 8}, JDATE{53, 8},
    ENDTIME{62, 17}, NSAMP{80, 8}, SAMPRATE{89, 11}, CALIB{101, 16}, CALPER{118, 16},
    INSTYPE{135, 6}, SEGTYPE{142, 1}, DATATYPE{144, 2}, CLIP{147, 1}, DIR{149, 64}, DFILE{214, 32},
    FOFF{247, 10}, COMMID{258, 8}, LDDATE{267, 17};
const std::size_t WFDISC_LINE = 283;

std::string Slice(const std::string& line, Column column) {
    std::string text = line.substr(static_cast<std::size_t>(column.first - 1),
                                   static_cast<std::size_t>(column.width));
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

double Number(const std::string& line, Column column) {
    return std::strtod(Slice(line, column).c_str(), nullptr);
}

struct WfdiscRow {
    std::string sta, chan, datatype, dir;
    double time = 0, endtime = 0, samprate = 0, calib = 0, calper = 0, jdate = 0, nsamp = 0;
    std::vector<double> samples;
};

std::uint32_t Word(const std::string& bytes, std::size_t at, bool bigEndian) {
    std::uint32_t word = 0;
    for (std::size_t k = 0; k < 4; ++k)
        word = (word << 8) | static_cast<unsigned char>(bytes[bigEndian ? at + k : at + 3 - k]);
    return word;
}

// Parses every line of a wfdisc file and the samples its dir and dfile columns point to,
// relative to the wfdisc file's folder.
std::vector<WfdiscRow> ReadWfdisc(const std::string& wfdiscPath) {
    const std::string folder = std::filesystem::path(wfdiscPath).parent_path().string();
    std::vector<WfdiscRow> rows;
    for (const std::string& line : Lines(wfdiscPath)) {
        EXPECT_EQ(line.size(), WFDISC_LINE) << line;
        if (line.size() != WFDISC_LINE)
            continue;
        WfdiscRow row;
        row.sta = Slice(line, STA);
        row.chan = Slice(line, CHAN);
        row.time = Number(line, TIME);
        row.jdate = Number(line, JDATE);
        row.endtime = Number(line, ENDTIME);
        row.nsamp = Number(line, NSAMP);
        row.samprate = Number(line, SAMPRATE);
        row.calib = Number(line, CALIB);
        row.calper = Number(line, CALPER);
        row.datatype = Slice(line, DATATYPE);
        row.dir = Slice(line, DIR);
        const std::string bytes = ReadFileBytes(folder + "/" + row.dir + "/" + Slice(line, DFILE));
        for (std::size_t at = static_cast<std::size_t>(Number(line, FOFF)); at + 4 <= bytes.size();
             at += 4) {
            const std::uint32_t word = Word(bytes, at, row.datatype == "s4");
            if (row.datatype == "f4") {
                float value = 0;
                std::memcpy(&value, &word, sizeof value);
                row.samples.push_back(value);
            } else {
                std::int32_t value = 0;
                std::memcpy(&value, &word, sizeof value);
                row.samples.push_back(value);
            }
        }
        rows.push_back(row);
    }
    return rows;
}

}  // namespace

TEST(WriteWfdisc, WritesTheWorkedRecordByteForByte) {
    TempDir dir;
    Trace trace;
    FillAbc(trace, {MARCH_5_2001}, 3000);
    EXPECT_EQ(WriteCapturingStderr(dir.File("out.wfd"), {&trace}, 2), "");

    const std::string expected = "ABC    bhz      " + std::string("  983787900.00000") +
                                 "       -1       -1  2001064" + "   983787930.00000" +
                                 "     3000" + " 100.0000000" + "         1.000000" +
                                 "         1.000000" + " -     " + " -" + " s4" + " -" + " ." +
                                 std::string(63, ' ') + " 0-10250005032001-ABC-bhz.w      " +
                                 "          0" + "       -1" + " 10:25:00 05.03.20" + "\n";
    ASSERT_EQ(expected.size(), WFDISC_LINE + 1);
    EXPECT_EQ(ReadFileBytes(dir.File("out.wfd")), expected);

    const std::string samples = ReadFileBytes(dir.File(FIRST_FILE));
    ASSERT_EQ(samples.size(), 12000u);
    EXPECT_EQ(samples.substr(0, 12), Bytes({0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 2}));
    EXPECT_EQ(samples.substr(11996), Bytes({0, 0, 0x0B, 0xB7}));  // 2999
}

TEST(WriteWfdisc, WritesEachSampleFormatInItsByteOrderSaturatingIntegers) {
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> values = {
        1.0f,           -1.7f, 258.9f, 3e9f, -3e9f, std::numeric_limits<float>::quiet_NaN(), inf,
        -inf,
        2147483520.0f,  // the largest float below 2^31
        2147483648.0f,  // 2^31 itself
        -2147483648.0f, -0.9f, 0.9f};
    const std::vector<double> integers = {1,         -1,        258,       INT32_MAX,  INT32_MIN,
                                          0,         INT32_MAX, INT32_MIN, 2147483520, INT32_MAX,
                                          INT32_MIN, 0,         0};
    struct Case {
        int selector;
        const char* datatype;
        std::vector<int> bytes;  // of the first three samples
    };
    const Case cases[] = {
        {0, "i4", {0x01, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x01, 0, 0}},
        {1, "f4", {0, 0, 0x80, 0x3F, 0x9A, 0x99, 0xD9, 0xBF, 0x33, 0x73, 0x81, 0x43}},
        {2, "s4", {0, 0, 0, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0x01, 0x02}},
        {7, "-", {}},
        {-1, "-", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "selector " << c.selector);
        TempDir dir;
        Trace trace;
        FillAbc(trace, {}, 0);
        trace.AppendSegment(MakeSegment(MARCH_5_2001, 100.0, values));
        WriteWfdisc(dir.File("out.wfd"), {&trace}, c.selector);
        const std::vector<std::string> lines = Lines(dir.File("out.wfd"));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(Slice(lines[0], DATATYPE), c.datatype);
        EXPECT_TRUE(Exists(dir.File(FIRST_FILE)));
        const std::string bytes = ReadFileBytes(dir.File(FIRST_FILE));
        EXPECT_EQ(bytes.substr(0, 12), Bytes(c.bytes));
        if (c.selector == 0 || c.selector == 2)
            EXPECT_EQ(ReadWfdisc(dir.File("out.wfd"))[0].samples, integers);
        else
            EXPECT_EQ(bytes.size(), c.bytes.empty() ? 0u : 4 * values.size());
    }
}

TEST(WriteWfdisc, AppendsRecordsNumberedFromZeroInEveryCallWithoutLimit) {
    TempDir dir;
    const std::string wfdisc = dir.Write("out.wfd", PREVIOUS);
    Trace first;
    FillAbc(first, {MARCH_5_2001, MARCH_5_2001 + 60.0}, 10);
    first.AppendSegment(MakeSegment(MARCH_5_2001 + 125.5, 50.0, Ramp(30)));
    Trace second;
    second.station = "XYZ";
    second.channel = "SHN";
    // 200 records of 284 bytes are well beyond 32 768 bytes.
    for (int i = 0; i < 200; ++i)
        second.AppendSegment(MakeSegment(MARCH_5_2001 + i, 20.0, Ramp(5)));
    WriteWfdisc(wfdisc, {&first, nullptr, &second}, 2);
    // The next call numbers from 0 again; the start time keeps the names apart.
    first.ClearSegments();
    FillAbc(first, {MARCH_5_2001 + 3600.0}, 4);
    WriteWfdisc(wfdisc, {&first}, 2);

    const std::vector<std::string> lines = Lines(wfdisc);
    ASSERT_EQ(lines.size(), 205u);
    EXPECT_EQ(lines[0] + "\n", PREVIOUS);
    EXPECT_EQ(ReadFileBytes(wfdisc).size(), PREVIOUS.size() + 204 * (WFDISC_LINE + 1));
    const struct {
        std::size_t line;
        const char* dfile;
        std::size_t bytes;
    } expected[] = {{1, FIRST_FILE, 40},
                    {2, "1-10260005032001-ABC-bhz.w", 40},
                    {3, "2-10270505032001-ABC-bhz.w", 120},
                    {203, "202-10281905032001-XYZ-shn.w", 20},
                    {204, "0-11250005032001-ABC-bhz.w", 16}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.dfile);
        EXPECT_EQ(Slice(lines[e.line], DFILE), e.dfile);
        EXPECT_EQ(ReadFileBytes(dir.File(e.dfile)).size(), e.bytes);
    }
}

TEST(DirectoryOfPath, GivesTheFolderBeforeTheLastSeparator) {
    struct Case {
        const char* path;
        const char* expected;
    };
    const Case cases[] = {
        {"out.wfd", "."},
        {"css\\out.wfd", "css"},
        {"C:\\css\\out.wfd", "C:\\css"},
        {"\\out.wfd", "\\"},  // root: the sample files go beside the wfdisc file
        {"/out.wfd", "/"},
        {"data\\css/out.wfd", "data\\css"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(DirectoryOfPath(c.path), c.expected);
    }
}

TEST(WriteWfdisc, PutsSampleFilesBesideTheWfdiscFileFoundWithoutCase) {
    TempDir dir;
    std::filesystem::create_directories(dir.File("css"));
    Trace trace;
    FillAbc(trace, {MARCH_5_2001}, 3);
    EXPECT_EQ(WriteCapturingStderr(dir.Path() + "\\CSS\\Out.WFD", {&trace}, 2), "");
    const std::vector<WfdiscRow> rows = ReadWfdisc(dir.File("css/Out.WFD"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].dir, ".");
    EXPECT_EQ(rows[0].samples, (std::vector<double>{0, 1, 2}));
}

TEST(WriteWfdisc, CutsCodesToTheirColumnsButNotInFileNames) {
    struct Case {
        const char *station, *channel, *sta, *chan, *dfile;
    };
    const Case cases[] = {
        {"ABCDEFG", "BHZ", "ABCDEF", "bhz", "0-10250005032001-ABCDEFG-bhz.w"},
        {"AB", "BHZ12345X", "AB", "bhz12345", "0-10250005032001-AB-bhz12345x.w"},
        // Separators in a code stay in the column but never lead out of the folder.
        {"X/../Y", "B\\Z", "X/../Y", "b\\z", "0-10250005032001-X_.._Y-b_z.w"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.station << ' ' << c.channel);
        TempDir dir;
        Trace trace;
        FillAbc(trace, {MARCH_5_2001}, 2);
        trace.station = c.station;
        trace.channel = c.channel;
        WriteWfdisc(dir.File("out.wfd"), {&trace}, 2);
        const std::vector<std::string> lines = Lines(dir.File("out.wfd"));
        ASSERT_EQ(lines.size(), 1u);
        ASSERT_EQ(lines[0].size(), WFDISC_LINE);
        EXPECT_EQ(Slice(lines[0], STA), c.sta);
        EXPECT_EQ(Slice(lines[0], CHAN), c.chan);
        EXPECT_EQ(Slice(lines[0], DFILE), c.dfile);
        EXPECT_EQ(ReadFileBytes(dir.File(c.dfile)).size(), 8u);
    }
}

TEST(WriteWfdisc, ReportsEveryFailureOnceAndAppendsNoRecord) {
    enum Obstacle { NOTHING, FOLDER, FULL_DEVICE };
    const std::string second = "1-10260005032001-ABC-bhz.w";
    const std::string third = "2-10270005032001-ABC-bhz.w";
    struct Case {
        const char* what;
        std::string wfdisc;
        Obstacle atWfdisc, atSecond;  // what stands where the wfdisc and 2nd sample file go
        bool tooLong;                 // the second segment claims more samples than nsamp can show
        bool previous;                // an earlier wfdisc file, which must stay as it was
        std::string absent;           // a file that must not be written
        bool firstWritten;            // the first sample file is complete
    };
    const Case cases[] = {
        {"wfdisc in a missing folder", "missing/out.wfd", NOTHING, NOTHING, false, false, "missing",
         false},
        {"a folder in the wfdisc file's place", "out.wfd", FOLDER, NOTHING, false, false,
         FIRST_FILE, false},
        {"records not writable", "out.wfd", FULL_DEVICE, NOTHING, false, false, "", false},
        {"sample file not creatable", "out.wfd", NOTHING, FOLDER, false, true, third, true},
        {"sample file not writable", "out.wfd", NOTHING, FULL_DEVICE, false, true, third, true},
        {"too many samples", "out.wfd", NOTHING, NOTHING, true, true, second, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string wfdisc = dir.File(c.wfdisc);
        for (const auto& [obstacle, path] :
             {std::make_pair(c.atWfdisc, wfdisc), std::make_pair(c.atSecond, dir.File(second))}) {
            if (obstacle == FOLDER)
                std::filesystem::create_directories(path);
            else if (obstacle == FULL_DEVICE)
                std::filesystem::create_symlink("/dev/full", path);
        }
        if (c.previous)
            dir.Write(c.wfdisc, PREVIOUS);
        Trace trace;
        FillAbc(trace, {MARCH_5_2001}, 4);
        // Enough samples to fill the stream's buffer, so that a full device shows.
        trace.AppendSegment(MakeSegment(MARCH_5_2001 + 60.0, 100.0, Ramp(8192)));
        FillAbc(trace, {MARCH_5_2001 + 120.0}, 4);
        // The count must be refused before a sample is touched, so the array can stay short;
        // the real count is restored before the segment is destroyed.
        if (c.tooLong)
            trace.SegmentAt(1).sampleCount = 100000000;
        const std::string errors = WriteCapturingStderr(wfdisc, {&trace}, 2);
        trace.SegmentAt(1).sampleCount = 8192;

        EXPECT_EQ(errors, MESSAGE);
        if (c.previous) {
            EXPECT_EQ(ReadFileBytes(wfdisc), PREVIOUS);
        }
        if (!c.absent.empty()) {
            EXPECT_FALSE(Exists(dir.File(c.absent)));
        }
        if (c.firstWritten) {
            EXPECT_EQ(ReadFileBytes(dir.File(FIRST_FILE)).size(), 16u);
        }
    }
}

TEST(WriteWfdisc, KeepsEveryColumnInPlaceForWideOrMissingValues) {
    struct Case {
        const char* what;
        double startTime, sampleRate, calib;
        int count;
        const char* samprate;  // expected column texts
        const char* jdate;
        const char* dfile;
    };
    const Case cases[] = {
        {"absurd rate", MARCH_5_2001, 1e12, 1.0, 3, "1.00000e+12", "2001064", FIRST_FILE},
        {"unknown time", std::nan(""), 100.0, 1.0, 3, "100.0000000", "-1",
         "0-00000000000000-ABC-bhz.w"},
        // An empty segment is a record without duration and an empty sample file.
        {"no samples", MARCH_5_2001, 100.0, 1.0, 0, "100.0000000", "2001064", FIRST_FILE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        Trace trace;
        FillAbc(trace, {c.startTime}, c.count, c.sampleRate);
        trace.SegmentAt(0).calib = c.calib;
        FillAbc(trace, {MARCH_5_2001}, 3);
        EXPECT_EQ(WriteCapturingStderr(dir.File("out.wfd"), {&trace}, 2), "");

        const std::vector<std::string> lines = Lines(dir.File("out.wfd"));
        ASSERT_EQ(lines.size(), 2u);
        const std::string& line = lines[0];
        ASSERT_EQ(line.size(), WFDISC_LINE);
        EXPECT_EQ(Slice(line, SAMPRATE), c.samprate);
        EXPECT_EQ(Slice(line, JDATE), c.jdate);
        EXPECT_EQ(Slice(line, DFILE), c.dfile);
        EXPECT_EQ(Slice(line, NSAMP), std::to_string(c.count));
        // Every character between columns stays a blank.
        for (Column column :
             {CHAN, TIME, WFID, CHANID, JDATE, ENDTIME, NSAMP, SAMPRATE, CALIB, CALPER, INSTYPE,
              SEGTYPE, DATATYPE, CLIP, DIR, DFILE, FOFF, COMMID, LDDATE})
            EXPECT_EQ(line[static_cast<std::size_t>(column.first - 2)], ' ') << column.first;
        if (std::isnan(c.startTime))
            EXPECT_TRUE(std::isnan(Number(line, TIME)));
        else
            EXPECT_NEAR(Number(line, TIME), c.startTime, std::fabs(c.startTime) * 1e-6);
        EXPECT_NEAR(Number(line, CALIB), c.calib, c.calib * 1e-6);
        EXPECT_TRUE(Exists(dir.File(c.dfile)));
        EXPECT_EQ(ReadFileBytes(dir.File(c.dfile)).size(), 4u * static_cast<unsigned>(c.count));
        if (c.count == 0) {
            EXPECT_EQ(Slice(line, ENDTIME), Slice(line, TIME));
        }
        EXPECT_EQ(Slice(lines[1], DFILE), "1-10250005032001-ABC-bhz.w");
    }
}

TEST(WriteWfdisc, RoundTripsThroughAWfdiscReader) {
    struct Case {
        int selector;
        double sampleRate;
    };
    const Case cases[] = {{0, 100.0}, {1, 100.0}, {2, 100.0}, {2, 1000.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "selector " << c.selector << ", " << c.sampleRate << " per second");
        TempDir dir;
        Trace trace;
        trace.station = "KVR";
        trace.channel = "SHZ";
        std::vector<std::vector<float>> written;
        const double starts[] = {MARCH_5_2001 + 0.25, MARCH_5_2001 + 70.5};
        const int counts[] = {static_cast<int>(60 * c.sampleRate), 1234};
        for (int s = 0; s < 2; ++s) {
            std::vector<float> values;
            for (int i = 0; i < counts[s]; ++i)
                values.push_back(static_cast<float>(5000.0 * std::sin(0.01 * i) + 0.37 * s));
            written.push_back(values);
            trace.AppendSegment(MakeSegment(starts[s], c.sampleRate, values));
        }
        trace.SegmentAt(1).calib = 0.25;
        trace.SegmentAt(1).calper = 2.0;
        WriteWfdisc(dir.File("kvr.wfd"), {&trace}, c.selector);

        const std::vector<WfdiscRow> rows = ReadWfdisc(dir.File("kvr.wfd"));
        ASSERT_EQ(rows.size(), 2u);
        for (int s = 0; s < 2; ++s) {
            SCOPED_TRACE(testing::Message() << "segment " << s);
            const WfdiscRow& row = rows[static_cast<std::size_t>(s)];
            EXPECT_EQ(row.sta, "KVR");
            EXPECT_EQ(row.chan, "shz");
            EXPECT_EQ(row.jdate, 2001064);
            EXPECT_NEAR(row.time, starts[s], 1e-6);
            EXPECT_NEAR(row.endtime, starts[s] + counts[s] / c.sampleRate, 1e-6);
            EXPECT_EQ(row.nsamp, counts[s]);
            EXPECT_DOUBLE_EQ(row.samprate, c.sampleRate);
            EXPECT_DOUBLE_EQ(row.calib, s == 0 ? 1.0 : 0.25);
            EXPECT_DOUBLE_EQ(row.calper, s == 0 ? 1.0 : 2.0);
            std::vector<double> expected;
            for (float value : written[static_cast<std::size_t>(s)])
                expected.push_back(c.selector == 1 ? value : std::trunc(value));
            EXPECT_TRUE(row.samples == expected) << "the samples differ";
        }
    }
}
