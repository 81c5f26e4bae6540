#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "archive/segment_reader.h"
#include "archive/trace_reader.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

// Returns a segment file whose sample i holds the value first + i, after a header of
// headerBytes, in a datatype that holds such values exactly (1 or 2).
std::string IndexedSamples(int datatype, int count, int headerBytes, int first = 0) {
    std::string bytes(static_cast<size_t>(headerBytes), '\x7F');
    const int width = SampleWidth(datatype);
    for (int i = 0; i < count; ++i) {
        const auto value = static_cast<std::uint32_t>(first + i);
        for (int b = 0; b < width; ++b) bytes += static_cast<char>((value >> (8 * b)) & 0xFF);
    }
    return bytes;
}

SegmentRow Row(double tbegin, double tqty, double sps, const std::string& cpath = "seg.dat",
               int datatype = 2, long long foff = 0) {
    SegmentRow row;
    row.station = "ABC";
    row.tbegin = tbegin;
    row.tqty = tqty;
    row.sps = sps;
    row.cpath = cpath;
    row.datatype = datatype;
    row.foff = foff;
    return row;
}

// Checks that segment starts at start with count samples first, first + 1, ... (or zeros).
void ExpectRun(const SampleVector& segment, double start, int count, float first, bool zeros) {
    EXPECT_EQ(segment.startTime, start);
    ASSERT_EQ(segment.sampleCount, count);
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(segment.samples[i], zeros ? 0.0f : first + static_cast<float>(i))
            << "sample " << i;
}

TEST(ReadSegment, CutsTheSegmentToTheWindow) {
    // Each file holds its sample indices as values, so the first value read is k.
    struct Case {
        const char* name;
        double t1, t2, tbegin, tqty, sps;
        int datatype, foff;
        double start;
        int count;
        float k;
    };
    const Case cases[] = {
        {"window begins inside", 1000, 1060, 990, 60, 100, 2, 64, 1000.0, 5000, 1000},
        {"segment begins inside", 1000, 1060, 1030, 60, 100, 2, 64, 1030.0, 3000, 0},
        {"window begins between samples", 1000.03, 1060, 990, 60, 20, 2, 64, 1000.0, 1000, 200},
        // (1050.004 - 999.994) * 100 evaluates to a sliver below 5001: samples 999 to 5999.
        {"start a fraction before t1", 1000, 1060, 990.004, 60, 100, 2, 64, 999.0 / 100 + 990.004,
         5001, 999},
        {"header of 512 bytes, 16-bit samples from byte 712", 1000, 1060, 999, 60, 100, 1, 512,
         1000.0, 5900, 100},
        {"segment covers the whole window", 1000, 1060, 900, 600, 100, 2, 0, 1000.0, 6000, 10000},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dir.Write("seg.dat", IndexedSamples(c.datatype, static_cast<int>(c.tqty * c.sps), c.foff));
        const SampleVector segment = ReadSegment(
            Row(c.tbegin, c.tqty, c.sps, "seg.dat", c.datatype, c.foff), dir.Path(), c.t1, c.t2);
        EXPECT_EQ(segment.sampleRate, c.sps);
        EXPECT_EQ(segment.calib, 1.0);
        EXPECT_EQ(segment.calper, 1.0);
        ExpectRun(segment, c.start, c.count, c.k, false);
    }
}

TEST(ReadSegment, CountsTheSamplesThatTheTimesMissByTheirRounding) {
    // Files of 10 000 samples at 33.333 sps last 300.003 s, a time no double holds exactly;
    // near 10^9 s the rounding of tbegin + tqty - tbegin and of t1 - tbegin costs a sliver of
    // a sample, which is still a sample of the file.
    constexpr double START = 1078221600.0;  // 2004-03-02 10:00:00 UTC
    constexpr double SPS = 33.333;
    const double fileSeconds = 10000 / SPS;
    struct Case {
        const char* name;
        double t1, tbegin, tqty;
        int k, count;
    };
    const Case cases[] = {
        {"the third file, whole", START, START + 2 * fileSeconds, fileSeconds, 0, 10000},
        {"three milliseconds late, cut", START + 100, START + 0.003, fileSeconds, 3333, 6667},
        {"cut at the instant of a sample", START + 700, START + 0.003 + 2 * fileSeconds,
         fileSeconds, 3333, 6667},
        {"half a sample more is no sample", START, START + 2 * fileSeconds, 10000.5 / SPS, 0,
         10000},
    };
    TempDir dir;
    dir.Write("seg.dat", IndexedSamples(1, 10001, 0));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SampleVector segment =
            ReadSegment(Row(c.tbegin, c.tqty, SPS, "seg.dat", 1), dir.Path(), c.t1, START + 1800);
        ExpectRun(segment, c.k / SPS + c.tbegin, c.count, static_cast<float>(c.k), false);
    }
}

TEST(ReadSegment, GivesNoSamplesWhereNoneBelong) {
    struct Case {
        const char* name;
        SegmentRow row;
        double start;
    };
    const Case cases[] = {
        {"segment begins at t2", Row(1060, 60, 100), 1060.0},
        {"segment ends at t1", Row(940, 60, 100), 0.0},
        {"negative tqty", Row(1010, -5, 100), 1010.0},
        {"zero sps", Row(1010, 60, 0), 1010.0},
        {"negative sps", Row(990, 60, -100), 990.0},
        {"sps not a number", Row(990, 60, std::nan("")), 990.0},
        {"more samples than an int holds", Row(1010, 60, 1e9), 1010.0},
        {"infinite rate", Row(1010, 60, INFINITY), 1010.0},
        {"tbegin not a number", Row(std::nan(""), 60, 100), 0.0},
    };
    TempDir dir;
    dir.Write("seg.dat", IndexedSamples(2, 6000, 0));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SampleVector segment = ReadSegment(c.row, dir.Path(), 1000, 1060);
        EXPECT_EQ(segment.sampleCount, 0);
        EXPECT_EQ(segment.startTime, c.start);
        if (std::isnan(c.row.sps))
            EXPECT_TRUE(std::isnan(segment.sampleRate));
        else
            EXPECT_EQ(segment.sampleRate, c.row.sps);
    }
}

TEST(ReadSegment, UnreadableFilesGiveZerosWithTheRightTimes) {
    struct Case {
        const char* name;
        SegmentRow row;
        int count;
        int readable;  // leading samples that come from the file
    };
    TempDir dir;
    dir.Write("abc/short.dat", IndexedSamples(1, 100, 0, 1));
    dir.Write("abc/folder/inner.dat", "x");
    const Case cases[] = {
        {"missing file", Row(1000, 10, 100, "abc\\missing.dat", 1), 1000, 0},
        {"cpath names a folder", Row(1000, 10, 100, "abc\\folder", 1), 1000, 0},
        {"short file", Row(1000, 10, 100, "ABC\\SHORT.DAT", 1), 1000, 100},
        {"offset beyond the file", Row(0, 1e12, 100, "abc\\short.dat", 1), 6000, 0},
        {"negative foff", Row(1000, 10, 100, "abc\\short.dat", 1, -2), 1000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SampleVector segment = ReadSegment(c.row, dir.Path() + "\\", 1000, 1060);
        ASSERT_EQ(segment.sampleCount, c.count);
        for (int i = 0; i < c.count; ++i)
            ASSERT_EQ(segment.samples[i], i < c.readable ? static_cast<float>(i + 1) : 0.0f) << i;
    }
}

class TraceReaderTest : public testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        source = std::make_unique<TestDataSource>(GetParam());
        ASSERT_TRUE(source->IsReady()) << source->Error();
        // 60 s at 10 sps in a.dat and in b.dat (values from 1000), 16-bit after 64 bytes.
        data.Write("abc/2004/a.dat", IndexedSamples(1, 600, 64, 0));
        data.Write("abc/2004/b.dat", IndexedSamples(1, 600, 64, 1000));
        ASSERT_TRUE(source->ExecuteSql(
            // A 10 s gap, then the second file twice, as after a restart of the recorder.
            Insert("GAP", 1000, 60, 10, "ABC\\2004\\A.dat") +
            Insert("GAP", 1070, 60, 10, "ABC\\2004\\B.dat") +
            Insert("GAP", 1070, 60, 10, "abc\\2004\\b.dat") +
            Insert("CUT", 1000, 60, 10, "abc\\2004\\a.dat") +
            Insert("CUT", 1060, 60, 10, "abc\\2004\\gone.dat") +
            Insert("CUT", 1120, 60, 10, "abc\\2004\\a.dat") +
            Insert("BAD", 1000, -60, 10, "abc\\2004\\a.dat") +
            Insert("BAD", 1010, 60, 1e12, "abc\\2004\\a.dat") +
            Insert("BAD", 1020, 60, 10, "abc\\2004\\a.dat")));
        ASSERT_EQ(catalogue.OpenCatalogue(source->Dsn(), source->User(), source->Password()), 1);
    }

    static std::string Insert(const char* station, double tbegin, double tqty, double sps,
                              const char* cpath) {
        char text[512];
        std::snprintf(text, sizeof text,
                      "insert into filelist (sta, ch, tbegin, tqty, sps, cpath, datatype, foff) "
                      "values ('%s', 'BHZ', %.6f, %.6f, %.6f, '%s', 1, 64);\n",
                      station, tbegin, tqty, sps, cpath);
        return text;
    }

    TempDir data;
    std::unique_ptr<TestDataSource> source;
    Catalogue catalogue;
};

TEST_P(TraceReaderTest, ReadsOneSegmentPerRowKeepingGapsAndOverlaps) {
    struct Segment {
        double start;
        int count;
        float first;
        bool zeros;
    };
    struct Case {
        const char* station;
        double t1, t2;
        std::vector<Segment> segments;
    };
    const Case cases[] = {
        {"GAP",
         1000,
         1200,
         {{1000, 600, 0, false}, {1070, 600, 1000, false}, {1070, 600, 1000, false}}},
        // A missing file reads as zeros over its part of the window.
        {"CUT", 1030.05, 1090, {{1030, 300, 300, false}, {1060, 300, 0, true}}},
        // Rows whose counts cannot be right give empty segments.
        {"BAD", 1000, 1060, {{1000, 0, 0, true}, {1010, 0, 0, true}, {1020, 400, 0, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.station);
        Trace trace;
        ReadTrace(catalogue, data.Path() + "\\", c.station, "BHZ", c.t1, c.t2, trace);
        EXPECT_EQ(trace.station, c.station);
        EXPECT_EQ(trace.channel, "BHZ");
        ASSERT_EQ(trace.SegmentCount(), static_cast<int>(c.segments.size()));
        for (int i = 0; i < trace.SegmentCount(); ++i) {
            SCOPED_TRACE(testing::Message() << "segment " << i);
            const Segment& s = c.segments[static_cast<std::size_t>(i)];
            ExpectRun(trace.SegmentAt(i), s.start, s.count, s.first, s.zeros);
        }
    }
}

TEST_P(TraceReaderTest, RefillsTheTraceOnEveryCallAndKeepsItsCodesOnAFailedListing) {
    Trace trace;
    ReadTrace(catalogue, data.Path(), "CUT", "BHZ", 1000, 1060, trace);
    ASSERT_EQ(trace.SegmentCount(), 2);
    ReadTrace(catalogue, data.Path(), "CUT", "BHZ", 1010, 1020, trace);
    ASSERT_EQ(trace.SegmentCount(), 1);
    EXPECT_EQ(trace.SegmentAt(0).sampleCount, 100);
    // No rows: an empty trace that names what was asked for.
    ReadTrace(catalogue, data.Path(), "XYZ", "BHN", 1000, 1060, trace);
    EXPECT_EQ(trace.SegmentCount(), 0);
    EXPECT_EQ(trace.station, "XYZ");
    EXPECT_EQ(trace.channel, "BHN");

    ReadTrace(catalogue, data.Path(), "CUT", "BHZ", 1000, 1060, trace);
    ASSERT_TRUE(source->ExecuteSql("drop table filelist"));
    ReadTrace(catalogue, data.Path(), "DEF", "BHN", 1000, 1060, trace);
    EXPECT_EQ(trace.SegmentCount(), 0);
    EXPECT_EQ(trace.station, "CUT");
    EXPECT_EQ(trace.channel, "BHZ");
}

INSTANTIATE_TEST_SUITE_P(Backends, TraceReaderTest, testing::ValuesIn(ALL_BACKENDS),
                         BackendParamName);

}  // namespace
