#include <gd.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "plot/plot_layout.h"
#include "plot/trace_drawing.h"
#include "tests/support/sample_fixture.h"

namespace {

const float NOT_A_NUMBER = std::numeric_limits<float>::quiet_NaN();
const float INF = std::numeric_limits<float>::infinity();

void AppendValues(Trace& trace, const std::vector<float>& values) {
    trace.AppendSegment(MakeSegment(values, 1.0, 0.0));
}

struct Canvas {
    PlotLayout layout;
    PlotPalette palette;
    GdImage image;
};

Canvas MakeCanvas(const PlotLayout& layout) {
    Canvas canvas;
    canvas.layout = layout;
    canvas.image =
        CreatePlotImage(layout, {255, 255, 255}, {0, 0, 128}, {255, 255, 0}, canvas.palette);
    return canvas;
}

// Counts the pixels whose palette index differs between two images of one size.
int DifferentPixels(gdImagePtr a, gdImagePtr b) {
    int different = 0;
    for (int y = 0; y < gdImageSY(a); ++y)
        for (int x = 0; x < gdImageSX(a); ++x)
            different += gdImageGetPixel(a, x, y) != gdImageGetPixel(b, x, y);
    return different;
}

int LitPixels(gdImagePtr image, int index) {
    int lit = 0;
    for (int y = 0; y < gdImageSY(image); ++y)
        for (int x = 0; x < gdImageSX(image); ++x) lit += gdImageGetPixel(image, x, y) == index;
    return lit;
}

TEST(ResolveAmplitudeRange, WidensFixedScalesWhateverTheSamples) {
    struct Case {
        const char* scale;
        float max, min;
    };
    const Case cases[] = {
        {"500;-500", 600.0f, -600.0f},
        {"-500;500", 600.0f, -600.0f},      // the two values are ordered
        {"2000", 18000.0f, -18000.0f},      // no ";": +-15000 whatever the text says
        {";", 1.2f, -1.2f},                 // no numbers: 0 and 0, then the flat rule
        {"1000;-1000;5", 1099.5f, -94.5f},  // the last ";" splits: 1000 and 5
        {"nan;-5", 0.5f, -5.5f},            // NaN counts as no number
    };
    Trace trace;
    AppendValues(trace, {1e6f, -1e6f});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scale);
        const AmplitudeRange range = ResolveAmplitudeRange(c.scale, trace);
        EXPECT_FLOAT_EQ(range.max, c.max);
        EXPECT_FLOAT_EQ(range.min, c.min);
    }
}

TEST(ResolveAmplitudeRange, AutoScalesToFiniteSamplesOfAllSegments) {
    struct Case {
        const char* name;
        const char* scale;
        std::vector<std::vector<float>> segments;
        float max, min;
    };
    const Case cases[] = {
        {"10 to 30", "AUTO", {{20, 10, 30, 15}}, 32.0f, 8.0f},
        {"over segments", "auto", {{20, 10}, {}, {30}}, 32.0f, 8.0f},
        {"flat", "AUTO", {{5, 5, 5}}, 6.2f, 3.8f},
        {"NaN and infinities left out", "AUTO", {{NOT_A_NUMBER, 10, INF, 30, -INF}}, 32.0f, 8.0f},
        {"only NaN and infinities", "AUTO", {{NOT_A_NUMBER, INF, -INF}}, 1.2f, -1.2f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Trace trace;
        for (const std::vector<float>& values : c.segments) AppendValues(trace, values);
        const AmplitudeRange range = ResolveAmplitudeRange(c.scale, trace);
        EXPECT_FLOAT_EQ(range.max, c.max);
        EXPECT_FLOAT_EQ(range.min, c.min);
    }
    // The extremes count wherever they lie in a segment longer than one vector step.
    for (int position = 0; position < 19; ++position) {
        SCOPED_TRACE(position);
        std::vector<float> values(19, 0.0f);
        values[static_cast<size_t>(position)] = 100.0f;
        values[static_cast<size_t>((position + 7) % 19)] = -100.0f;
        Trace trace;
        AppendValues(trace, values);
        const AmplitudeRange range = ResolveAmplitudeRange("AUTO", trace);
        EXPECT_FLOAT_EQ(range.max, 120.0f);
        EXPECT_FLOAT_EQ(range.min, -120.0f);
    }
}

TEST(ResolveAmplitudeRange, KeepsEveryRangeFiniteAndOpen) {
    struct Case {
        const char* name;
        const char* scale;
        std::vector<float> values;
    };
    const Case cases[] = {
        {"flat beyond float steps of 1", "AUTO", {33554432.0f, 33554432.0f}},
        {"float limits", "AUTO", {FLT_MAX, -FLT_MAX}},
        {"huge fixed scale", "1e39;-1e39", {}},
        {"infinite fixed scale", "inf;-inf", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Trace trace;
        AppendValues(trace, c.values);
        const AmplitudeRange range = ResolveAmplitudeRange(c.scale, trace);
        EXPECT_TRUE(std::isfinite(range.max));
        EXPECT_TRUE(std::isfinite(range.min));
        EXPECT_GT(range.max, range.min);
        for (float v : c.values) {
            EXPECT_LE(v, range.max);
            EXPECT_GE(v, range.min);
        }
    }
}

// A plot of one band of 20 pixels on rows 1 .. 21 of a 12 x 21 image, labels off. With the
// window [0, 10] s, x = trunc(1 + t); with the range [0, 20], y = 21 - trunc(20 - s), which
// is 1 + s for whole values.
PlotLayout SmallLayout() { return ComputePlotLayout(12, 21, 1, false, false); }

const AmplitudeRange SMALL_RANGE{20.0f, 0.0f};

// Draws the segment into the small layout; returns the image.
Canvas DrawSmall(const std::vector<float>& values, double sampleRate, double startTime,
                 const AmplitudeRange& range = SMALL_RANGE, double windowStart = 0.0,
                 double windowEnd = 10.0) {
    Canvas canvas = MakeCanvas(SmallLayout());
    DrawTracePiece(canvas.image.get(), canvas.palette.waveform, canvas.layout, 0, range,
                   windowStart, windowEnd, MakeSegment(values, sampleRate, startTime));
    return canvas;
}

struct Line {
    int x1, y1, x2, y2;
};

TEST(DrawTracePiece, JoinsColumnRunsFromTheirTopmostPixel) {
    struct Case {
        const char* name;
        std::vector<float> values;
        double sampleRate, startTime;
        std::vector<Line> lines;
    };
    const Case cases[] = {
        {"two samples per column, NaN left out as if absent",
         {3, 7, 5, 5, 10, 2, 8, NOT_A_NUMBER, NOT_A_NUMBER, 4},
         2.0,
         0.0,
         {
             {1, 4, 2, 6},   // column 1 (4..8) to the first sample of column 2
             {1, 4, 1, 8},   // column 1's run
             {2, 6, 3, 11},  // column 2 is one pixel: no run
             {3, 3, 4, 9},   // from column 3's top (y 3), not its last sample
             {3, 3, 3, 11},  // column 3's run
             {4, 9, 5, 5},   // across the NaN samples to column 5
         }},
        // t = -2.5 .. 0.5: x = trunc(1 + t) is -1, -1, 0, 0, 0, 1, 1 (trunc(-0.5) = 0).
        {"columns truncated toward zero before the window",
         {1, 2, 3, 4, 5, 6, 7},
         2.0,
         -2.5,
         {{-1, 2, 0, 4}, {-1, 2, -1, 3}, {0, 4, 1, 7}, {0, 4, 0, 6}, {1, 7, 1, 8}}},
        // 25 and -5 lie outside [0, 20]: below and above the band, clipped by gd.
        {"values outside the range",
         {10, 25, -5, 10},
         1.0,
         0.0,
         {{1, 11, 2, 26}, {2, 26, 3, -4}, {3, -4, 4, 11}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas actual = DrawSmall(c.values, c.sampleRate, c.startTime);
        ASSERT_EQ(actual.layout.rowHeight, 20);
        ASSERT_EQ(actual.layout.height, 21);
        Canvas expected = MakeCanvas(SmallLayout());
        for (const Line& l : c.lines)
            gdImageLine(expected.image.get(), l.x1, l.y1, l.x2, l.y2, expected.palette.waveform);
        EXPECT_GT(LitPixels(actual.image.get(), actual.palette.waveform), 0);
        EXPECT_EQ(DifferentPixels(actual.image.get(), expected.image.get()), 0);
    }
}

TEST(DrawTracePiece, DrawsNothingWithoutTwoSamplesARateOrAnOpenRange) {
    struct Case {
        const char* name;
        std::vector<float> values;
        double sampleRate;
        AmplitudeRange range;
    };
    const Case cases[] = {
        {"one sample", {5}, 1.0, SMALL_RANGE},
        {"zero rate", {5, 10, 15}, 0.0, SMALL_RANGE},
        {"NaN rate", {5, 10, 15}, std::nan(""), SMALL_RANGE},
        {"one number among NaN", {NOT_A_NUMBER, 5, NOT_A_NUMBER}, 1.0, SMALL_RANGE},
        {"closed range", {1, 19, 1, 19}, 1.0, {5.0f, 5.0f}},
        {"NaN range", {1, 19, 1, 19}, 1.0, {NOT_A_NUMBER, 0.0f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas canvas = DrawSmall(c.values, c.sampleRate, 0.0, c.range);
        EXPECT_EQ(LitPixels(canvas.image.get(), canvas.palette.waveform), 0);
    }
}

TEST(DrawTracePiece, DrawsHugeValuesFarOffTheImageAndLeavesInfinitiesOut) {
    // Under the range [0, 20] 1e30 lies far beyond the image: the lines toward it must look
    // like lines toward any point far below. An infinity is no measurement: it is left out
    // like NaN, so it cannot draw a line across the neighbouring rows.
    {
        Canvas actual = DrawSmall({5, 1e30f, 5, 7}, 1.0, 0.0);
        Canvas expected = MakeCanvas(SmallLayout());
        const int w = expected.palette.waveform;
        gdImageLine(expected.image.get(), 1, 6, 2, 100000, w);
        gdImageLine(expected.image.get(), 2, 100000, 3, 6, w);
        gdImageLine(expected.image.get(), 3, 6, 4, 8, w);
        EXPECT_EQ(DifferentPixels(actual.image.get(), expected.image.get()), 0);
    }
    for (float infinity : {INF, -INF}) {
        SCOPED_TRACE(infinity);
        Canvas actual = DrawSmall({5, infinity, 5, 7}, 1.0, 0.0);
        Canvas expected = MakeCanvas(SmallLayout());
        const int w = expected.palette.waveform;
        gdImageLine(expected.image.get(), 1, 6, 3, 6, w);
        gdImageLine(expected.image.get(), 3, 6, 4, 8, w);
        EXPECT_EQ(DifferentPixels(actual.image.get(), expected.image.get()), 0);
        EXPECT_GT(LitPixels(actual.image.get(), w), 3);
    }
}

TEST(DrawTracePiece, DrawsSegmentsFarOutsideTheWindowWithoutHarm) {
    struct Case {
        const char* name;
        double startTime, windowStart, windowEnd;
    };
    const Case cases[] = {
        {"long ago", -1e300, 0.0, 10.0},
        {"reversed window", 0.0, 10.0, 0.0},
        {"infinite window", 0.0, -INFINITY, INFINITY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas canvas = DrawSmall({1, 19, 1, 19, 1, 19}, 1.0, c.startTime, SMALL_RANGE,
                                  c.windowStart, c.windowEnd);
        EXPECT_LE(LitPixels(canvas.image.get(), canvas.palette.waveform), 12 * 21);
    }
}

// The column-run rule sample by sample, exactly as the plot defines it, for inputs whose
// pixel coordinates stay well inside the int range.
void ReferenceDraw(gdImagePtr image, int color, const PlotLayout& layout, int row,
                   const AmplitudeRange& range, double windowStart, double windowEnd,
                   const SampleVector& segment) {
    const int x0 = 1;
    const int x1 = layout.width - 1;
    const double xscale = (x1 - x0) / (windowEnd - windowStart);
    const double yscale =
        -layout.rowHeight / (static_cast<double>(range.max) - static_cast<double>(range.min));
    const int h = layout.height;
    const int r = layout.RowTop(row);
    bool open = false;
    int c = 0, lo = 0, hi = 0;
    for (int j = 0; j < segment.sampleCount; ++j) {
        const float s = segment.samples[j];
        if (std::isnan(s))
            continue;
        const double t = segment.startTime + j / segment.sampleRate;
        const int x = static_cast<int>(x0 + (t - windowStart) * xscale);
        const int y = h - static_cast<int>((h - r) + (s - static_cast<double>(range.min)) * yscale);
        if (!open) {
            open = true;
            c = x;
            lo = hi = y;
        } else if (x == c) {
            lo = std::min(lo, y);
            hi = std::max(hi, y);
        } else {
            gdImageLine(image, c, lo, x, y, color);
            if (lo != hi)
                gdImageLine(image, c, lo, c, hi, color);
            c = x;
            lo = hi = y;
        }
    }
    if (open && lo != hi)
        gdImageLine(image, c, lo, c, hi, color);
}

TEST(DrawTracePiece, LightsExactlyThePixelsOfTheColumnRunRule) {
    std::mt19937 random(20040302);
    const double rates[] = {0.5, 1.0, 2.5, 7.3, 20.0, 100.0, 250.0};
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        const int width = std::uniform_int_distribution<int>(3, 90)(random);
        const int rows = std::uniform_int_distribution<int>(1, 3)(random);
        const bool labels = round % 2 == 0;
        PlotLayout layout = ComputePlotLayout(
            width, std::uniform_int_distribution<int>(40, 200)(random), rows, labels, false);
        if (round % 10 == 9)
            layout.rowHeight = 0;  // a hand-made layout without a band
        const int row = std::uniform_int_distribution<int>(0, rows - 1)(random);
        const double windowStart =
            1078222800.0 + std::uniform_real_distribution<double>(0, 1000)(random);
        const double span = std::uniform_real_distribution<double>(0.5, 120.0)(random);
        const double rate = rates[std::uniform_int_distribution<int>(0, 6)(random)];
        const double startTime =
            windowStart + std::uniform_real_distribution<double>(-30.0, span + 10.0)(random);
        const int count = std::uniform_int_distribution<int>(0, 4000)(random);
        std::normal_distribution<float> value(0.0f, 400.0f);
        std::vector<float> values(static_cast<size_t>(count));
        for (float& v : values) {
            const int kind = std::uniform_int_distribution<int>(0, 99)(random);
            v = kind == 0 ? NOT_A_NUMBER : kind == 1 ? value(random) * 1000.0f : value(random);
        }
        if (round % 7 == 3)
            for (size_t i = 0; i < values.size(); i += 3) values[i] = NOT_A_NUMBER;
        const SampleVector segment = MakeSegment(values, rate, startTime);
        AmplitudeRange range;
        if (round % 3 == 0) {
            range.max = 1200.0f;
            range.min = -1200.0f;
        } else {
            Trace trace;
            trace.AppendSegmentCopy(segment);
            range = ResolveAmplitudeRange("AUTO", trace);
        }

        Canvas actual = MakeCanvas(layout);
        Canvas expected = MakeCanvas(layout);
        ASSERT_TRUE(actual.image);
        DrawTracePiece(actual.image.get(), actual.palette.waveform, layout, row, range, windowStart,
                       windowStart + span, segment);
        ReferenceDraw(expected.image.get(), expected.palette.waveform, layout, row, range,
                      windowStart, windowStart + span, segment);
        ASSERT_EQ(DifferentPixels(actual.image.get(), expected.image.get()), 0)
            << width << " px, rate " << rate << ", " << count << " samples";
    }
}

}  // namespace
