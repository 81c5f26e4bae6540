#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "css/wfdisc_writer.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string MESSAGE = "Ошибка записи файла wfdisc\n";

// 2001-03-05 10:25:00 UTC.
const double MARCH_5_2001 = 983787900.0;

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

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos)
            end = text.size();
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

// Runs the writer with standard error captured and returns what it printed there.
std::string WriteCapturingStderr(const std::string& wfdiscPath,
                                 const std::vector<const Trace*>& traces, int selector) {
    testing::internal::CaptureStderr();
    WriteWfdisc(wfdiscPath, traces, selector);
    return testing::internal::GetCapturedStderr();
}

// --- A wfdisc reader written from the CSS 3.0 column layout --------------------------------

// 1-based first character and width of each column of a CSS 3.0 wfdisc line.
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

struct WfdiscRow {
    std::string sta, chan, datatype, dir, dfile;
    double time = 0, endtime = 0, samprate = 0, calib = 0, calper = 0;
    long jdate = 0, nsamp = 0, foff = 0;
    std::vector<double> samples;
};

std::uint32_t Word(const std::string& bytes, std::size_t at, bool bigEndian) {
    std::uint32_t word = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        const std::size_t index = bigEndian ? at + k : at + 3 - k;
        word = (word << 8) | static_cast<unsigned char>(bytes[index]);
    }
    return word;
}

// Parses every line of a wfdisc file and the samples its dir and dfile columns point to,
// relative to the wfdisc file's folder.
std::vector<WfdiscRow> ReadWfdisc(const std::string& wfdiscPath) {
    const std::string folder = std::filesystem::path(wfdiscPath).parent_path().string();
    std::vector<WfdiscRow> rows;
    for (const std::string& line : Lines(ReadFileBytes(wfdiscPath))) {
        EXPECT_EQ(line.size(), WFDISC_LINE) << line;
        if (line.size() != WFDISC_LINE)
            continue;
        WfdiscRow row;
        row.sta = Slice(line, STA);
        row.chan = Slice(line, CHAN);
        row.time = std::strtod(Slice(line, TIME).c_str(), nullptr);
        row.jdate = std::strtol(Slice(line, JDATE).c_str(), nullptr, 10);
        row.endtime = std::strtod(Slice(line, ENDTIME).c_str(), nullptr);
        row.nsamp = std::strtol(Slice(line, NSAMP).c_str(), nullptr, 10);
        row.samprate = std::strtod(Slice(line, SAMPRATE).c_str(), nullptr);
        row.calib = std::strtod(Slice(line, CALIB).c_str(), nullptr);
        row.calper = std::strtod(Slice(line, CALPER).c_str(), nullptr);
        row.datatype = Slice(line, DATATYPE);
        row.dir = Slice(line, DIR);
        row.dfile = Slice(line, DFILE);
        row.foff = std::strtol(Slice(line, FOFF).c_str(), nullptr, 10);
        const std::string bytes = ReadFileBytes(folder + "/" + row.dir + "/" + row.dfile);
        for (std::size_t at = static_cast<std::size_t>(row.foff); at + 4 <= bytes.size(); at += 4) {
            if (row.datatype == "s4" || row.datatype == "i4") {
                const std::uint32_t word = Word(bytes, at, row.datatype == "s4");
                std::int32_t value = 0;
                std::memcpy(&value, &word, sizeof value);
                row.samples.push_back(value);
            } else if (row.datatype == "f4") {
                const std::uint32_t word = Word(bytes, at, false);
                float value = 0;
                std::memcpy(&value, &word, sizeof value);
                row.samples.push_back(value);
            }
        }
        rows.push_back(row);
    }
    return rows;
}

// Restores the working folder when a test that changes it ends.
class WorkingFolder {
public:
    explicit WorkingFolder(const std::string& path) {
        char buffer[4096];
        if (getcwd(buffer, sizeof buffer) != nullptr)
            previous = buffer;
        EXPECT_EQ(chdir(path.c_str()), 0);
    }
    ~WorkingFolder() {
        if (!previous.empty() && chdir(previous.c_str()) != 0)
            ADD_FAILURE() << "cannot return to " << previous;
    }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

private:
    std::string previous;
};

}  // namespace

TEST(WriteWfdisc, WritesTheWorkedRecordByteForByte) {
    TempDir dir;
    Trace trace;
    trace.station = "ABC";
    trace.channel = "BHZ";
    trace.AppendSegment(MakeSegment(MARCH_5_2001, 100.0, Ramp(3000)));
    const std::string wfdisc = dir.File("out.wfd");

    EXPECT_EQ(WriteCapturingStderr(wfdisc, {&trace}, 2), "");

    const std::string expected = "ABC    bhz      " + std::string("  983787900.00000") +
                                 "       -1       -1  2001064" + "   983787930.00000" +
                                 "     3000" + " 100.0000000" + "         1.000000" +
                                 "         1.000000" + " -     " + " -" + " s4" + " -" + " ." +
                                 std::string(63, ' ') + " 0-10250005032001-ABC-bhz.w      " +
                                 "          0" + "       -1" + " 10:25:00 05.03.20" + "\n";
    ASSERT_EQ(expected.size(), WFDISC_LINE + 1);
    EXPECT_EQ(ReadFileBytes(wfdisc), expected);

    const std::string samples = ReadFileBytes(dir.File("0-10250005032001-ABC-bhz.w"));
    ASSERT_EQ(samples.size(), 12000u);
    EXPECT_EQ(samples.substr(0, 12), Bytes({0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 2}));
    EXPECT_EQ(samples.substr(11996), Bytes({0, 0, 0x0B, 0xB7}));  // 2999
}

TEST(WriteWfdisc, WritesEachSampleFormatInItsByteOrder) {
    struct Case {
        int selector;
        const char* datatype;
        std::vector<int> bytes;
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
        trace.station = "ABC";
        trace.channel = "BHZ";
        trace.AppendSegment(MakeSegment(MARCH_5_2001, 100.0, {1.0f, -1.7f, 258.9f}));
        WriteWfdisc(dir.File("out.wfd"), {&trace}, c.selector);

        const std::vector<std::string> lines = Lines(ReadFileBytes(dir.File("out.wfd")));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(Slice(lines[0], DATATYPE), c.datatype);
        const std::string path = dir.File("0-10250005032001-ABC-bhz.w");
        EXPECT_TRUE(Exists(path));
        EXPECT_EQ(ReadFileBytes(path), Bytes(c.bytes));
    }
}

TEST(WriteWfdisc, SaturatesIntegersAndWritesNanAsZero) {
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> values = {3e9f,
                                       -3e9f,
                                       std::numeric_limits<float>::quiet_NaN(),
                                       inf,
                                       -inf,
                                       2147483520.0f,  // the largest float below 2^31
                                       -2147483648.0f,
                                       -0.9f,
                                       0.9f};
    const std::vector<double> expected = {INT32_MAX,  INT32_MIN, 0, INT32_MAX, INT32_MIN,
                                          2147483520, INT32_MIN, 0, 0};
    for (int selector : {0, 2}) {
        SCOPED_TRACE(testing::Message() << "selector " << selector);
        TempDir dir;
        Trace trace;
        trace.station = "ABC";
        trace.channel = "BHZ";
        trace.AppendSegment(MakeSegment(MARCH_5_2001, 100.0, values));
        WriteWfdisc(dir.File("out.wfd"), {&trace}, selector);
        const std::vector<WfdiscRow> rows = ReadWfdisc(dir.File("out.wfd"));
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].samples, expected);
    }
}

TEST(WriteWfdisc, NumbersRecordsAcrossSegmentsAndTracesOfOneCall) {
    TempDir dir;
    Trace first;
    first.station = "ABC";
    first.channel = "BHZ";
    first.AppendSegment(MakeSegment(MARCH_5_2001, 100.0, Ramp(10)));
    first.AppendSegment(MakeSegment(MARCH_5_2001 + 60.0, 100.0, Ramp(20)));
    first.AppendSegment(MakeSegment(MARCH_5_2001 + 125.5, 50.0, Ramp(30)));
    Trace second;
    second.station = "XYZ";
    second.channel = "SHN";
    second.AppendSegment(MakeSegment(MARCH_5_2001, 20.0, Ramp(5)));
    WriteWfdisc(dir.File("out.wfd"), {&first, nullptr, &second}, 2);

    const struct {
        const char* dfile;
        std::size_t bytes;
    } expected[] = {
        {"0-10250005032001-ABC-bhz.w", 40},
        {"1-10260005032001-ABC-bhz.w", 80},
        {"2-10270505032001-ABC-bhz.w", 120},
        {"3-10250005032001-XYZ-shn.w", 20},
    };
    const std::vector<std::string> lines = Lines(ReadFileBytes(dir.File("out.wfd")));
    ASSERT_EQ(lines.size(), 4u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "record " << i);
        EXPECT_EQ(Slice(lines[i], DFILE), expected[i].dfile);
        EXPECT_EQ(ReadFileBytes(dir.File(expected[i].dfile)).size(), expected[i].bytes);
    }
}

TEST(WriteWfdisc, HasNoLimitOnTheRecordsOfOneCall) {
    TempDir dir;
    Trace trace;
    trace.station = "ABC";
    trace.channel = "BHZ";
    const int segments = 200;  // 200 records of 284 bytes are well beyond 32 768 bytes
    for (int i = 0; i < segments; ++i)
        trace.AppendSegment(MakeSegment(MARCH_5_2001 + i, 100.0, Ramp(1)));
    WriteWfdisc(dir.File("out.wfd"), {&trace}, 2);

    const std::string text = ReadFileBytes(dir.File("out.wfd"));
    EXPECT_EQ(text.size(), static_cast<std::size_t>(segments) * (WFDISC_LINE + 1));
    const std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(segments));
    EXPECT_EQ(Slice(lines.back(), DFILE), "199-10281905032001-ABC-bhz.w");
    EXPECT_TRUE(Exists(dir.File("199-10281905032001-ABC-bhz.w")));
}

TEST(DirectoryOfPath, GivesTheFolderBeforeTheLastSeparator) {
    struct Case {
        const char* path;
        const char* expected;
    };
    const Case cases[] = {
        {"out.wfd", "."},
        {"", "."},
        {"css\\out.wfd", "css"},
        {"C:\\css\\out.wfd", "C:\\css"},
        {"C:\\out.wfd", "C:"},
        {"\\out.wfd", "\\"},  // root: the sample files go beside the wfdisc file
        {"/out.wfd", "/"},
        {"/data/css/out.wfd", "/data/css"},
        {"data/css\\out.wfd", "data/css"},
        {"data\\css/out.wfd", "data\\css"},
        {"css/", "css"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(DirectoryOfPath(c.path), c.expected);
    }
}

TEST(WriteWfdisc, PutsSampleFilesBesideTheWfdiscFile) {
    struct Case {
        const char* wfdiscName;  // below the temporary folder, or relative to it
        bool relative;
        const char* expected;  // the wfdisc file below the temporary folder
    };
    const Case cases[] = {
        {"/css/out.wfd", false, "css/out.wfd"},
        {"\\css\\out.wfd", false, "css/out.wfd"},
        // The existing folder is matched without case; the new file keeps its name.
        {"\\CSS\\Out.WFD", false, "css/Out.WFD"},
        {"/css\\deep/out.wfd", false, "css/deep/out.wfd"},
        {"out.wfd", true, "out.wfd"},
        {"css\\out.wfd", true, "css/out.wfd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wfdiscName);
        TempDir dir;
        std::filesystem::create_directories(dir.File("css/deep"));
        Trace trace;
        trace.station = "ABC";
        trace.channel = "BHZ";
        trace.AppendSegment(MakeSegment(MARCH_5_2001, 100.0, Ramp(3)));
        {
            std::string path = c.wfdiscName;
            std::unique_ptr<WorkingFolder> working;
            if (c.relative)
                working = std::make_unique<WorkingFolder>(dir.Path());
            else
                path = dir.Path() + path;
            EXPECT_EQ(WriteCapturingStderr(path, {&trace}, 2), "");
        }
        const std::string expected = dir.File(c.expected);
        const std::vector<WfdiscRow> rows = ReadWfdisc(expected);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].dir, ".");
        EXPECT_EQ(rows[0].samples, (std::vector<double>{0, 1, 2}));
        const std::string folder = std::filesystem::path(expected).parent_path().string();
        EXPECT_TRUE(Exists(folder + "/0-10250005032001-ABC-bhz.w"));
    }
}

TEST(WriteWfdisc, CutsCodesToTheirColumnsButNotInFileNames) {
    struct Case {
        const char* station;
        const char* channel;
        const char* sta;
        const char* chan;
        const char* dfile;
    };
    const Case cases[] = {
        {"ABCDEFG", "BHZ", "ABCDEF", "bhz", "0-10250005032001-ABCDEFG-bhz.w"},
        {"AB", "BHZ12345X", "AB", "bhz12345", "0-10250005032001-AB-bhz12345x.w"},
        {"abcdef", "bHz", "abcdef", "bhz", "0-10250005032001-abcdef-bhz.w"},
        // Separators in a code stay in the column but never lead out of the folder.
        {"X/../Y", "B\\Z", "X/../Y", "b\\z", "0-10250005032001-X_.._Y-b_z.w"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.station << ' ' << c.channel);
        TempDir dir;
        Trace trace;
        trace.station = c.station;
        trace.channel = c.channel;
        trace.AppendSegment(MakeSegment(MARCH_5_2001, 100.0, Ramp(2)));
        WriteWfdisc(dir.File("out.wfd"), {&trace}, 2);
        const std::vector<std::string> lines = Lines(ReadFileBytes(dir.File("out.wfd")));
        ASSERT_EQ(lines.size(), 1u);
        ASSERT_EQ(lines[0].size(), WFDISC_LINE);
        EXPECT_EQ(Slice(lines[0], STA), c.sta);
        EXPECT_EQ(Slice(lines[0], CHAN), c.chan);
        EXPECT_EQ(Slice(lines[0], DFILE), c.dfile);
        EXPECT_EQ(ReadFileBytes(dir.File(c.dfile)).size(), 8u);
    }
}

TEST(WriteWfdisc, WritesAnEmptySegmentAsARecordWithoutDuration) {
    struct Case {
        double sampleRate;
    };
    const Case cases[] = {{100.0}, {0.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "rate " << c.sampleRate);
        TempDir dir;
        Trace trace;
        trace.station = "ABC";
        trace.channel = "BHZ";
        trace.AppendSegment(MakeSegment(MARCH_5_2001, c.sampleRate, {}));
        WriteWfdisc(dir.File("out.wfd"), {&trace}, 2);
        const std::vector<std::string> lines = Lines(ReadFileBytes(dir.File("out.wfd")));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(Slice(lines[0], NSAMP), "0");
        EXPECT_EQ(Slice(lines[0], ENDTIME), "983787900.00000");
        const std::string path = dir.File("0-10250005032001-ABC-bhz.w");
        EXPECT_TRUE(Exists(path));
        EXPECT_EQ(ReadFileBytes(path), "");
    }
}

TEST(WriteWfdisc, AppendsToAnExistingFile) {
    TempDir dir;
    const std::string previous = "an earlier record\n";
    const std::string wfdisc = dir.Write("out.wfd", previous);
    Trace trace;
    trace.station = "ABC";
    trace.channel = "BHZ";
    trace.AppendSegment(MakeSegment(MARCH_5_2001, 100.0, Ramp(4)));
    WriteWfdisc(wfdisc, {&trace}, 2);
    trace.ClearSegments();
    trace.AppendSegment(MakeSegment(MARCH_5_2001 + 3600.0, 100.0, Ramp(4)));
    WriteWfdisc(wfdisc, {&trace}, 2);

    const std::vector<std::string> lines = Lines(ReadFileBytes(wfdisc));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0] + "\n", previous);
    // Every call numbers its records from 0 again; the start time keeps the names apart.
    EXPECT_EQ(Slice(lines[1], DFILE), "0-10250005032001-ABC-bhz.w");
    EXPECT_EQ(Slice(lines[2], DFILE), "0-11250005032001-ABC-bhz.w");
}

TEST(WriteWfdisc, WritesNothingWhenTheWfdiscFileCannotBeOpened) {
    TempDir dir;
    std::filesystem::create_directories(dir.File("folder"));
    Trace trace;
    trace.station = "ABC";
    trace.channel = "BHZ";
    trace.AppendSegment(MakeSegment(MARCH_5_2001, 100.0, Ramp(4)));

    // In a missing folder.
    EXPECT_EQ(WriteCapturingStderr(dir.File("missing/out.wfd"), {&trace}, 2), MESSAGE);
    EXPECT_FALSE(Exists(dir.File("missing")));
    // A folder stands where the file should be; its sample files would land in dir.
    EXPECT_EQ(WriteCapturingStderr(dir.File("folder"), {&trace}, 2), MESSAGE);
    EXPECT_FALSE(Exists(dir.File("0-10250005032001-ABC-bhz.w")));
}

TEST(WriteWfdisc, StopsAndKeepsTheWfdiscFileWhenASampleFileFails) {
    const std::string previous = "an earlier record\n";
    struct Case {
        const char* what;
        bool folderInTheWay;  // otherwise the sample file is a link to a full device
    };
    const Case cases[] = {{"not creatable", true}, {"not writable", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string wfdisc = dir.Write("out.wfd", previous);
        const std::string blocked = dir.File("1-10260005032001-ABC-bhz.w");
        if (c.folderInTheWay)
            std::filesystem::create_directories(blocked);
        else
            std::filesystem::create_symlink("/dev/full", blocked);
        Trace trace;
        trace.station = "ABC";
        trace.channel = "BHZ";
        trace.AppendSegment(MakeSegment(MARCH_5_2001, 100.0, Ramp(4)));
        trace.AppendSegment(MakeSegment(MARCH_5_2001 + 60.0, 100.0, Ramp(8192)));
        trace.AppendSegment(MakeSegment(MARCH_5_2001 + 120.0, 100.0, Ramp(4)));

        const std::string errors = WriteCapturingStderr(wfdisc, {&trace}, 2);
        EXPECT_EQ(errors, MESSAGE);
        EXPECT_EQ(ReadFileBytes(wfdisc), previous);
        EXPECT_EQ(ReadFileBytes(dir.File("0-10250005032001-ABC-bhz.w")).size(), 16u);
        EXPECT_FALSE(Exists(dir.File("2-10270005032001-ABC-bhz.w")));
    }
}

TEST(WriteWfdisc, ReportsRecordsThatCannotBeWritten) {
    TempDir dir;
    const std::string wfdisc = dir.File("out.wfd");
    std::filesystem::create_symlink("/dev/full", wfdisc);
    Trace trace;
    trace.station = "ABC";
    trace.channel = "BHZ";
    trace.AppendSegment(MakeSegment(MARCH_5_2001, 100.0, Ramp(4)));
    EXPECT_EQ(WriteCapturingStderr(wfdisc, {&trace}, 2), MESSAGE);
}

TEST(WriteWfdisc, RefusesASegmentTooLongForTheNsampColumn) {
    TempDir dir;
    const std::string previous = "an earlier record\n";
    const std::string wfdisc = dir.Write("out.wfd", previous);
    Trace trace;
    trace.station = "ABC";
    trace.channel = "BHZ";
    trace.AppendSegment(MakeSegment(MARCH_5_2001, 100.0, Ramp(4)));
    trace.AppendSegment(MakeSegment(MARCH_5_2001 + 60.0, 100.0, Ramp(4)));
    // The writer must reject the count before it touches a sample, so the array can stay
    // short; the real count is restored before the segment is destroyed.
    SampleVector& longSegment = trace.SegmentAt(1);
    longSegment.sampleCount = 100000000;
    const std::string errors = WriteCapturingStderr(wfdisc, {&trace}, 2);
    longSegment.sampleCount = 4;

    EXPECT_EQ(errors, MESSAGE);
    EXPECT_EQ(ReadFileBytes(wfdisc), previous);
    EXPECT_FALSE(Exists(dir.File("1-10260005032001-ABC-bhz.w")));
}

TEST(WriteWfdisc, KeepsEveryColumnInPlaceForWideValues) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        double startTime, sampleRate, calib;
        int count;
        const char* samprate;  // expected column text
        const char* jdate;
        const char* dfile;
    };
    const Case cases[] = {
        {"1000 per second", MARCH_5_2001, 1000.0, 1.0, 3, "1000.000000", "2001064",
         "0-10250005032001-ABC-bhz.w"},
        {"20000 per second", MARCH_5_2001, 20000.0, 1.0, 3, "20000.00000", "2001064",
         "0-10250005032001-ABC-bhz.w"},
        {"fractional wide rate", MARCH_5_2001, 1000.5, 1.0, 3, "1000.500000", "2001064",
         "0-10250005032001-ABC-bhz.w"},
        {"absurd rate", MARCH_5_2001, 1e12, 1.0, 3, "1.00000e+12", "2001064",
         "0-10250005032001-ABC-bhz.w"},
        {"huge calib", MARCH_5_2001, 100.0, 1e30, 3, "100.0000000", "2001064",
         "0-10250005032001-ABC-bhz.w"},
        {"time beyond 17 digits", 1e11, 100.0, 1.0, 3, "100.0000000", "5138320",
         "0-09464016115138-ABC-bhz.w"},
        {"absurd time", 1e300, 100.0, 1.0, 3, "100.0000000", "-1", "0-00000000000000-ABC-bhz.w"},
        {"time before year 1", -1e12, 100.0, 1.0, 3, "100.0000000", "-1",
         "0-00000000000000-ABC-bhz.w"},
        {"unknown time", nan, 100.0, 1.0, 3, "100.0000000", "-1", "0-00000000000000-ABC-bhz.w"},
        {"unknown rate", MARCH_5_2001, 0.0, 1.0, 3, "0.0000000", "2001064",
         "0-10250005032001-ABC-bhz.w"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        Trace trace;
        trace.station = "ABC";
        trace.channel = "BHZ";
        trace.AppendSegment(MakeSegment(c.startTime, c.sampleRate, Ramp(c.count)));
        trace.SegmentAt(0).calib = c.calib;
        trace.AppendSegment(MakeSegment(MARCH_5_2001, 100.0, Ramp(c.count)));
        EXPECT_EQ(WriteCapturingStderr(dir.File("out.wfd"), {&trace}, 2), "");

        const std::vector<std::string> lines = Lines(ReadFileBytes(dir.File("out.wfd")));
        ASSERT_EQ(lines.size(), 2u);
        const std::string& line = lines[0];
        ASSERT_EQ(line.size(), WFDISC_LINE);
        EXPECT_EQ(Slice(line, SAMPRATE), c.samprate);
        EXPECT_EQ(Slice(line, JDATE), c.jdate);
        EXPECT_EQ(Slice(line, NSAMP), std::to_string(c.count));
        EXPECT_EQ(Slice(line, WFID), "-1");
        EXPECT_EQ(Slice(line, CHANID), "-1");
        EXPECT_EQ(Slice(line, INSTYPE), "-");
        EXPECT_EQ(Slice(line, SEGTYPE), "-");
        EXPECT_EQ(Slice(line, DATATYPE), "s4");
        EXPECT_EQ(Slice(line, CLIP), "-");
        EXPECT_EQ(Slice(line, DIR), ".");
        EXPECT_EQ(Slice(line, FOFF), "0");
        EXPECT_EQ(Slice(line, COMMID), "-1");
        // Every character between columns stays a blank.
        for (Column column :
             {CHAN, TIME, WFID, CHANID, JDATE, ENDTIME, NSAMP, SAMPRATE, CALIB, CALPER, INSTYPE,
              SEGTYPE, DATATYPE, CLIP, DIR, DFILE, FOFF, COMMID, LDDATE})
            EXPECT_EQ(line[static_cast<std::size_t>(column.first - 2)], ' ') << column.first;
        const double time = std::strtod(Slice(line, TIME).c_str(), nullptr);
        const double calib = std::strtod(Slice(line, CALIB).c_str(), nullptr);
        if (std::isnan(c.startTime))
            EXPECT_TRUE(std::isnan(time));
        else
            EXPECT_NEAR(time, c.startTime, std::fabs(c.startTime) * 1e-6);
        EXPECT_NEAR(calib, c.calib, c.calib * 1e-6);
        EXPECT_TRUE(Exists(dir.File(Slice(line, DFILE))));
        EXPECT_EQ(Slice(lines[1], DFILE), "1-10250005032001-ABC-bhz.w");
    }
}

TEST(SwapBytes32, ReversesTheFourBytes) {
    struct Case {
        std::uint32_t value, expected;
    };
    const Case cases[] = {
        {0x01020304u, 0x04030201u}, {0x00000001u, 0x01000000u}, {0xFFFFFFFFu, 0xFFFFFFFFu},
        {0x80000000u, 0x00000080u}, {0x000000FEu, 0xFE000000u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.value);
        std::int32_t value = 0;
        std::memcpy(&value, &c.value, sizeof value);
        const std::int32_t swapped = SwapBytes32(value);
        std::uint32_t bits = 0;
        std::memcpy(&bits, &swapped, sizeof bits);
        EXPECT_EQ(bits, c.expected);
    }
}

TEST(WriteWfdisc, RoundTripsThroughAWfdiscReader) {
    struct Case {
        int selector;
        double sampleRate;
    };
    const Case cases[] = {{0, 100.0}, {1, 100.0}, {2, 100.0}, {2, 1000.0}, {1, 1000.0}};
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
            ASSERT_EQ(row.samples.size(), static_cast<std::size_t>(counts[s]));
            for (int i = 0; i < counts[s]; ++i) {
                const float value =
                    written[static_cast<std::size_t>(s)][static_cast<std::size_t>(i)];
                const double expected = c.selector == 1 ? value : std::trunc(value);
                if (row.samples[static_cast<std::size_t>(i)] != expected) {
                    ADD_FAILURE() << "sample " << i << ": "
                                  << row.samples[static_cast<std::size_t>(i)] << " instead of "
                                  << expected;
                    break;
                }
            }
        }
    }
}
