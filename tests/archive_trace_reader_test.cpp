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

// Writes a segment file whose sample i holds the value first + i, after a header of
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

SegmentRow Row(double tbegin, double tqty, double sps, const std::string& cpath, int datatype,
               long long foff) {
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

TEST(ReadSegment, CutsTheSegmentToTheWindow) {
    // Each file holds its sample indices as values, so the first value read is k.
    struct Case {
        const char* name;
        double t1, t2;
        double tbegin, tqty, sps;
        int datatype, foff;
        double start;
        int count;
        float firstSample;  // k
    };
    const Case cases[] = {
        {"window begins inside", 1000, 1060, 990, 60, 100, 2, 64, 1000.0, 5000, 1000},
        {"segment begins inside", 1000, 1060, 1030, 60, 100, 2, 64, 1030.0, 3000, 0},
        {"window begins between samples", 1000.03, 1060, 990, 60, 20, 2, 64, 1000.0, 1000, 200},
        {"start a fraction before t1", 1000, 1060, 990.004, 60, 100, 2, 64, 999.994, 5000, 999},
        {"header of 512 bytes, 16-bit samples from byte 712", 1000, 1060, 999, 60, 100, 1, 512,
         1000.0, 5900, 100},
        {"segment covers the whole window", 1000, 1060, 900, 600, 100, 2, 0, 1000.0, 6000, 10000},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int fileSamples = static_cast<int>(c.tqty * c.sps);
        dir.Write("seg.dat", IndexedSamples(c.datatype, fileSamples, c.foff));
        const SampleVector segment = ReadSegment(
            Row(c.tbegin, c.tqty, c.sps, "seg.dat", c.datatype, c.foff), dir.Path(), c.t1, c.t2);
        EXPECT_EQ(segment.sampleRate, c.sps);
        EXPECT_NEAR(segment.startTime, c.start, 1e-9);
        ASSERT_EQ(segment.sampleCount, c.count);
        ASSERT_NE(segment.samples, nullptr);
        // Consecutive samples: one read of the right run, not a scattered or shifted one.
        EXPECT_EQ(segment.samples[0], c.firstSample);
        EXPECT_EQ(segment.samples[c.count - 1], c.firstSample + static_cast<float>(c.count - 1));
        EXPECT_EQ(segment.calib, 1.0);
        EXPECT_EQ(segment.calper, 1.0);
    }
}

TEST(ReadSegment, KeepsTheExactArithmeticOfTheCut) {
    // (1050.004 - 999.994) * 100 evaluates to just below 5001 and truncates to 5000.
    TempDir dir;
    const SampleVector segment =
        ReadSegment(Row(990.004, 60, 100, "none.dat", 2, 0), dir.Path(), 1000, 1060);
    EXPECT_EQ(segment.startTime, 999.0 / 100 + 990.004);
    EXPECT_EQ(segment.sampleCount, 5000);
}

TEST(ReadSegment, GivesNoSamplesWhereNoneBelong) {
    struct Case {
        const char* name;
        SegmentRow row;
        double start;
        double sampleRate;
    };
    const Case cases[] = {
        {"segment begins at t2", Row(1060, 60, 100, "seg.dat", 2, 0), 1060.0, 100},
        {"segment ends at t1", Row(940, 60, 100, "seg.dat", 2, 0), 0.0, 100},
        {"negative tqty", Row(1010, -5, 100, "seg.dat", 2, 0), 1010.0, 100},
        {"zero sps", Row(1010, 60, 0, "seg.dat", 2, 0), 1010.0, 0},
        {"negative sps", Row(990, 60, -100, "seg.dat", 2, 0), 990.0, -100},
        {"sps not a number", Row(990, 60, std::nan(""), "seg.dat", 2, 0), 990.0, std::nan("")},
        {"more samples than an int holds", Row(1010, 60, 1e9, "seg.dat", 2, 0), 1010.0, 1e9},
        {"infinite rate", Row(1010, 60, INFINITY, "seg.dat", 2, 0), 1010.0, INFINITY},
        {"tbegin not a number", Row(std::nan(""), 60, 100, "seg.dat", 2, 0), 0.0, 100},
    };
    TempDir dir;
    dir.Write("seg.dat", IndexedSamples(2, 6000, 0));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SampleVector segment = ReadSegment(c.row, dir.Path(), 1000, 1060);
        EXPECT_EQ(segment.sampleCount, 0);
        EXPECT_EQ(segment.startTime, c.start);
        if (std::isnan(c.sampleRate))
            EXPECT_TRUE(std::isnan(segment.sampleRate));
        else
            EXPECT_EQ(segment.sampleRate, c.sampleRate);
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
        {"missing file", Row(1000, 10, 100, "abc\\missing.dat", 1, 0), 1000, 0},
        {"cpath names a folder", Row(1000, 10, 100, "abc\\folder", 1, 0), 1000, 0},
        {"short file", Row(1000, 10, 100, "ABC\\SHORT.DAT", 1, 0), 1000, 100},
        {"offset beyond the file", Row(0, 1e12, 100, "abc\\short.dat", 1, 0), 6000, 0},
        {"negative foff", Row(1000, 10, 100, "abc\\short.dat", 1, -2), 1000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SampleVector segment = ReadSegment(c.row, dir.Path() + "\\", 1000, 1060);
        ASSERT_EQ(segment.sampleCount, c.count);
        for (int i = 0; i < c.count; ++i) {
            const float expected = i < c.readable ? static_cast<float>(i + 1) : 0.0f;
            ASSERT_EQ(segment.samples[i], expected) << "sample " << i;
        }
    }
}

class TraceReaderTest : public testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        source = std::make_unique<TestDataSource>(GetParam());
        ASSERT_TRUE(source->IsReady()) << source->Error();
    }

    void Open(const std::string& sql) {
        ASSERT_TRUE(source->ExecuteSql(sql));
        ASSERT_EQ(catalogue.OpenCatalogue(source->Dsn(), source->User(), source->Password()), 1);
    }

    static std::string Insert(double tbegin, double tqty, double sps, const std::string& cpath,
                              int datatype, int foff) {
        char text[512];
        std::snprintf(text, sizeof text,
                      "insert into filelist (sta, ch, tbegin, tqty, sps, cpath, datatype, foff) "
                      "values ('ABC', 'BHZ', %.6f, %.6f, %.6f, '%s', %d, %d);\n",
                      tbegin, tqty, sps, cpath.c_str(), datatype, foff);
        return text;
    }

    TempDir data;
    std::unique_ptr<TestDataSource> source;
    Catalogue catalogue;
};

TEST_P(TraceReaderTest, KeepsGapsAndOverlapsAsRecorded) {
    // 60 s at 10 sps, a 10 s gap, 60 s more; then a second row over the second file's
    // first minute, as after a restart of the recorder.
    data.Write("abc/2004/a.dat", IndexedSamples(1, 600, 64, 0));
    data.Write("abc/2004/b.dat", IndexedSamples(1, 600, 64, 1000));
    Open(Insert(1000, 60, 10, "ABC\\2004\\A.dat", 1, 64) +
         Insert(1070, 60, 10, "ABC\\2004\\B.dat", 1, 64) +
         Insert(1070, 60, 10, "abc\\2004\\b.dat", 1, 64));

    Trace trace;
    ReadTrace(catalogue, data.Path() + "\\", "ABC", "BHZ", 1000, 1200, trace);
    EXPECT_EQ(trace.station, "ABC");
    EXPECT_EQ(trace.channel, "BHZ");
    ASSERT_EQ(trace.SegmentCount(), 3);
    const double starts[] = {1000, 1070, 1070};
    const float firsts[] = {0, 1000, 1000};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(testing::Message() << "segment " << i);
        const SampleVector& segment = trace.SegmentAt(i);
        EXPECT_EQ(segment.startTime, starts[i]);
        EXPECT_EQ(segment.sampleRate, 10.0);
        ASSERT_EQ(segment.sampleCount, 600);
        EXPECT_EQ(segment.samples[0], firsts[i]);
        EXPECT_EQ(segment.samples[599], firsts[i] + 599);
    }
    // The gap stays: the first segment ends ten seconds before the second begins.
    EXPECT_EQ(trace.SegmentAt(1).startTime - trace.SegmentAt(0).EndTime(), 10.0);
}

TEST_P(TraceReaderTest, CutsRowsToTheWindowAndReadsMissingFilesAsZeros) {
    data.Write("abc/a.dat", IndexedSamples(2, 600, 16, 0));
    Open(Insert(1000, 60, 10, "abc\\a.dat", 2, 16) + Insert(1060, 60, 10, "abc\\gone.dat", 2, 16) +
         Insert(1120, 60, 10, "abc\\a.dat", 2, 16));

    Trace trace;
    ReadTrace(catalogue, data.Path(), "ABC", "BHZ", 1030.05, 1090, trace);
    ASSERT_EQ(trace.SegmentCount(), 2);
    const SampleVector& first = trace.SegmentAt(0);
    EXPECT_NEAR(first.startTime, 1030.0, 1e-9);
    ASSERT_EQ(first.sampleCount, 300);
    EXPECT_EQ(first.samples[0], 300.0f);
    const SampleVector& missing = trace.SegmentAt(1);
    EXPECT_EQ(missing.startTime, 1060.0);
    ASSERT_EQ(missing.sampleCount, 300);
    for (int i = 0; i < missing.sampleCount; ++i)
        ASSERT_EQ(missing.samples[i], 0.0f) << "sample " << i;
}

TEST_P(TraceReaderTest, RowsWithImpossibleCountsGiveEmptySegments) {
    data.Write("abc/a.dat", IndexedSamples(2, 600, 0, 0));
    Open(Insert(1000, -60, 10, "abc\\a.dat", 2, 0) + Insert(1010, 60, 1e12, "abc\\a.dat", 2, 0) +
         Insert(1020, 60, 10, "abc\\a.dat", 2, 0));

    Trace trace;
    ReadTrace(catalogue, data.Path(), "ABC", "BHZ", 1000, 1060, trace);
    ASSERT_EQ(trace.SegmentCount(), 3);
    EXPECT_EQ(trace.SegmentAt(0).sampleCount, 0);
    EXPECT_EQ(trace.SegmentAt(1).sampleCount, 0);
    EXPECT_EQ(trace.SegmentAt(2).sampleCount, 400);
    EXPECT_EQ(trace.SegmentAt(2).samples[399], 399.0f);
}

TEST_P(TraceReaderTest, RefillsTheTraceOnEveryCall) {
    data.Write("abc/a.dat", IndexedSamples(2, 600, 0, 0));
    Open(Insert(1000, 60, 10, "abc\\a.dat", 2, 0));

    Trace trace;
    ReadTrace(catalogue, data.Path(), "ABC", "BHZ", 1000, 1060, trace);
    ASSERT_EQ(trace.SegmentCount(), 1);
    ReadTrace(catalogue, data.Path(), "ABC", "BHZ", 1010, 1020, trace);
    ASSERT_EQ(trace.SegmentCount(), 1);
    EXPECT_EQ(trace.SegmentAt(0).sampleCount, 100);

    // No rows: an empty trace that names what was asked for.
    ReadTrace(catalogue, data.Path(), "XYZ", "BHN", 1000, 1060, trace);
    EXPECT_EQ(trace.SegmentCount(), 0);
    EXPECT_EQ(trace.station, "XYZ");
    EXPECT_EQ(trace.channel, "BHN");
}

TEST_P(TraceReaderTest, FailedListingLeavesTheTraceEmptyWithItsCodes) {
    data.Write("abc/a.dat", IndexedSamples(2, 600, 0, 0));
    Open(Insert(1000, 60, 10, "abc\\a.dat", 2, 0));
    Trace trace;
    ReadTrace(catalogue, data.Path(), "ABC", "BHZ", 1000, 1060, trace);
    ASSERT_EQ(trace.SegmentCount(), 1);

    ASSERT_TRUE(source->ExecuteSql("drop table filelist"));
    ReadTrace(catalogue, data.Path(), "DEF", "BHN", 1000, 1060, trace);
    EXPECT_EQ(trace.SegmentCount(), 0);
    EXPECT_EQ(trace.station, "ABC");
    EXPECT_EQ(trace.channel, "BHZ");
}

INSTANTIATE_TEST_SUITE_P(Backends, TraceReaderTest, testing::ValuesIn(ALL_BACKENDS),
                         BackendParamName);

}  // namespace
