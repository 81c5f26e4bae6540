#include <gd.h>
#include <gdfontg.h>
#include <gdfontl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "plot/annotations.h"
#include "plot/fonts.h"
#include "plot/plot_layout.h"
#include "tests/support/sample_fixture.h"

namespace {

// 2004-03-02 10:20:00 UTC.
constexpr double START = 1078222800.0;

struct Canvas {
    PlotLayout layout;
    PlotPalette palette;
    GdImage image;
};

Canvas MakeCanvas(int width, int requestedHeight, int rowCount, bool labelsOn) {
    Canvas canvas;
    canvas.layout = ComputePlotLayout(width, requestedHeight, rowCount, labelsOn, false);
    canvas.image =
        CreatePlotImage(canvas.layout, {255, 255, 255}, {0, 0, 128}, {255, 255, 0}, canvas.palette);
    return canvas;
}

// The five-row plot of 700 x 501 pixels with rows of 93 pixels and a margin of 16.
Canvas FiveRows() { return MakeCanvas(700, 500, 5, true); }

void DrawString(const Canvas& canvas, gdFontPtr font, int x, int y, const std::string& text,
                int color) {
    std::string copy = text;
    gdImageString(canvas.image.get(), font, x, y, reinterpret_cast<unsigned char*>(&copy[0]),
                  color);
}

// Counts the pixels whose palette index differs between two images of one size.
int DifferentPixels(const Canvas& a, const Canvas& b) {
    int different = 0;
    for (int y = 0; y < gdImageSY(a.image.get()); ++y)
        for (int x = 0; x < gdImageSX(a.image.get()); ++x)
            different +=
                gdImageGetPixel(a.image.get(), x, y) != gdImageGetPixel(b.image.get(), x, y);
    return different;
}

int LitPixels(const Canvas& canvas) {
    int lit = 0;
    for (int y = 0; y < gdImageSY(canvas.image.get()); ++y)
        for (int x = 0; x < gdImageSX(canvas.image.get()); ++x)
            lit += gdImageGetPixel(canvas.image.get(), x, y) != canvas.palette.background;
    return lit;
}

Pick MakePick(const char* phase, double time, double distance) {
    Pick pick;
    pick.phase = phase;
    pick.time = time;
    pick.distance = distance;
    return pick;
}

TEST(DrawMinMaxLabel, StandsAtTheTopOfItsOwnBand) {
    struct Case {
        const char* name;
        int requestedHeight, rowCount;
        bool labelsOn;
        int row, y;
    };
    const Case cases[] = {
        {"margin 16: the row above the band", 500, 5, true, 2, 204 - 1},
        {"margin 13: four rows above the band", 500, 20, true, 3, 16 + 3 * 23 - 4},
        {"labels off", 500, 3, false, 1, 167 - 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas actual = MakeCanvas(700, c.requestedHeight, c.rowCount, c.labelsOn);
        Canvas expected = MakeCanvas(700, c.requestedHeight, c.rowCount, c.labelsOn);
        DrawMinMaxLabel(actual.image.get(), actual.palette, actual.layout, c.row,
                        {1200.0f, -1200.0f});
        DrawString(expected, PlotFont(FontCell::SMALL_6X12), 50, c.y, "min/max: -1200/1200",
                   expected.palette.green);
        EXPECT_GT(LitPixels(expected), 50);
        EXPECT_EQ(DifferentPixels(actual, expected), 0);
    }
}

TEST(DrawPhaseMarks, MarksPicksOfTheWindowAndWritesTheLatestDistance) {
    struct Mark {
        int x;
        const char* name;
    };
    struct Case {
        const char* name;
        int row;
        PickList picks;
        std::vector<Mark> marks;
        const char* label;  // nullptr: no distance label
    };
    const Case cases[] = {
        // x = trunc(1 + 698 * 60 / 1800) and trunc(1 + 698 * 150 / 1800).
        {"two picks",
         1,
         {MakePick("P", START + 60, 4.0), MakePick("S", START + 150, 4.0)},
         {{24, "P"}, {59, "S"}},
         "  444 km"},
        {"both window ends included, nothing beyond",
         0,
         {MakePick("A", START - 0.001, 1.0), MakePick("B", START, 2.0),
          MakePick("C", START + 1800, 3.0), MakePick("D", START + 1800.001, 9.0)},
         {{1, "B"}, {699, "C"}},
         "  333 km"},
        {"first of equal times wins",
         4,
         {MakePick("P", START + 10, 1.0), MakePick("S", START + 20, 2.0),
          MakePick("T", START + 20, 3.0), MakePick("X", START + 2000, 5.0)},
         {{4, "P"}, {8, "S"}, {8, "T"}},
         "  222 km"},
        {"no pick in the window", 2, {MakePick("X", START + 2000, 5.0)}, {}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas actual = FiveRows();
        Canvas expected = FiveRows();
        DrawPhaseMarks(actual.image.get(), actual.palette.text, actual.layout, c.row, START,
                       START + 1800, c.picks);
        const int entry = gdImageColorAllocate(expected.image.get(), 0, 0, 0);
        const int text = expected.palette.text;
        const int top = expected.layout.RowTop(c.row);
        for (const Mark& m : c.marks) {
            gdImageLine(expected.image.get(), m.x, top + 91, m.x, top + 2, text);
            DrawString(expected, gdFontGetLarge(), m.x + 2, top + 4, m.name, text);
        }
        if (c.label != nullptr)
            DrawString(expected, gdFontGetGiant(), 619, top, c.label, entry);
        // One more palette entry, black, whether a label is written or not.
        ASSERT_EQ(gdImageColorsTotal(actual.image.get()), 7);
        EXPECT_EQ(gdImageRed(actual.image.get(), 6) + gdImageGreen(actual.image.get(), 6) +
                      gdImageBlue(actual.image.get(), 6),
                  0);
        EXPECT_EQ(DifferentPixels(actual, expected), 0);
    }
}

TEST(DrawPhaseMarks, UsesTheBlackEntryOnceThePaletteIsFull) {
    Canvas actual = FiveRows();
    Canvas expected = FiveRows();
    for (int row = 0; row < 250; ++row)
        DrawPhaseMarks(actual.image.get(), actual.palette.text, actual.layout, 0, START,
                       START + 1800, {});
    ASSERT_EQ(gdImageColorsTotal(actual.image.get()), 256);
    DrawPhaseMarks(actual.image.get(), actual.palette.text, actual.layout, 2, START, START + 1800,
                   {MakePick("P", START + 900, 0.5)});
    EXPECT_EQ(gdImageColorsTotal(actual.image.get()), 256);

    const int text = expected.palette.text;
    gdImageLine(expected.image.get(), 350, 295, 350, 206, text);
    DrawString(expected, gdFontGetLarge(), 352, 208, "P", text);
    DrawString(expected, gdFontGetGiant(), 619, 204, "   56 km", expected.palette.black);
    EXPECT_EQ(DifferentPixels(actual, expected), 0);
}

TEST(DrawRowLabels, LabelsStationChannelAndFilter) {
    struct Case {
        const char* name;
        int requestedHeight, rowCount, row, rowHeight;
        bool filterOn;
        FontCell station, channel;
    };
    const Case cases[] = {
        {"rows of 93", 500, 5, 2, 93, true, FontCell::GIANT_9X16, FontCell::SMALL_6X12},
        {"rows of 22", 500, 20, 7, 22, true, FontCell::SMALL_6X12, FontCell::TINY_5X8},
        {"rows of 35, filter off", 172, 4, 3, 35, false, FontCell::GIANT_9X15,
         FontCell::SMALL_6X12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas actual = MakeCanvas(700, c.requestedHeight, c.rowCount, true);
        Canvas expected = MakeCanvas(700, c.requestedHeight, c.rowCount, true);
        ASSERT_EQ(actual.layout.rowHeight, c.rowHeight);
        DrawRowLabels(actual.image.get(), actual.palette, actual.layout, c.row, "ABC", "BHZ",
                      Band(0.5f, 5.0f, c.filterOn));
        const int top = expected.layout.RowTop(c.row);
        const int h = expected.layout.rowHeight;
        DrawString(expected, PlotFont(c.station), 3, top + 1, "ABC", expected.palette.text);
        DrawString(expected, PlotFont(c.channel), 3, top + h - 11, "BHZ", expected.palette.text);
        if (c.filterOn)
            DrawString(expected, PlotFont(FontCell::SMALL_6X12), 610, top + h - 11,
                       "Flt: 0.5-5.0/3", expected.palette.green);
        EXPECT_EQ(DifferentPixels(actual, expected), 0);
    }
}

TEST(DrawPlotHeader, ShowsTheWindowTheSegmentRowAndTheEvent) {
    EventInfo event;
    event.lat = 45.5f;
    event.lon = 13.25f;
    event.originTime = START - 113.0 + 0.25;  // 10:18:07.25
    const char* const eventLine = "lat=45.50 lon=13.25 (2004/03/02 10:18:7.25)";
    struct Case {
        const char* name;
        int width, rows;
        double start;
        int seconds;
        bool segmentMode, filterOn, withEvent;
        std::string left, right;  // empty right: none
        bool eventShown;
    };
    const Case cases[] = {
        {"normal mode", 700, 5, START, 1800, false, true, false, "02/03/2004 10:20:00", "10:50:00",
         false},
        {"segment mode", 700, 5, START, 3000, true, true, false,
         "02/03/2004 10:20:00     ABC::BHZ     Flt: 0.5-5.0/3", "02/03/2004 11:10:00", false},
        // Rows of 22 pixels take the 6-pixel font; the right text still ends 9 per character
        // before the edge.
        {"small font", 700, 20, START + 59.75, 1800, false, true, false, "02/03/2004 10:20:59",
         "10:50:59", false},
        {"event at 401 pixels", 401, 5, START, 1800, false, true, true, "02/03/2004 10:20:00",
         "10:50:00", true},
        {"no event at 400 pixels", 400, 5, START, 1800, false, true, true, "02/03/2004 10:20:00",
         "10:50:00", false},
        {"no end at 200 pixels", 200, 5, START, 1800, false, true, true, "02/03/2004 10:20:00", "",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas actual = MakeCanvas(c.width, 500, c.rows, true);
        Canvas expected = MakeCanvas(c.width, 500, c.rows, true);
        DrawPlotHeader(actual.image.get(), actual.palette, actual.layout, c.start, c.seconds,
                       c.segmentMode, "ABC", "BHZ", Band(0.5f, 5.0f, c.filterOn),
                       c.withEvent ? &event : nullptr);
        const gdFontPtr font = c.rows == 20 ? PlotFont(FontCell::SMALL_6X12) : gdFontGetGiant();
        const int text = expected.palette.text;
        DrawString(expected, font, 3, 1, c.left, text);
        if (!c.right.empty())
            DrawString(expected, font, c.width - 9 * static_cast<int>(c.right.size()) - 2, 1,
                       c.right, text);
        if (c.eventShown)
            DrawString(expected, font, c.width / 2 - 160, 1, eventLine, expected.palette.blue);
        EXPECT_EQ(DifferentPixels(actual, expected), 0);
    }
    // Nothing with labels off.
    Canvas canvas = MakeCanvas(700, 500, 3, false);
    DrawPlotHeader(canvas.image.get(), canvas.palette, canvas.layout, START, 1800, true, "ABC",
                   "BHZ", Band(0.5f, 5.0f), &event);
    EXPECT_EQ(LitPixels(canvas), 0);
}

TEST(TickStepMinutes, GrowsWithTheWindow) {
    struct Case {
        double seconds;
        int step;
    };
    const Case cases[] = {{121 * 60, 60}, {120 * 60, 10}, {41 * 60, 10},
                          {40 * 60, 5},   {11 * 60, 5},   {10 * 60, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(TickStepMinutes(START, START + c.seconds), c.step);
    }
}

TEST(DrawTimeAxis, NumbersMinutesAndTicksEveryNumberAfterTheStart) {
    struct Case {
        const char* name;
        double start, seconds;
        std::vector<int> xs;
        int step;
    };
    const Case cases[] = {
        {"30 minutes", START, 1800, {0, 116, 233, 350, 466, 583}, 5},
        {"3 hours", START, 3 * 3600, {0, 233, 466}, 60},
        // 1e9 / 3600 * 3600 is 999999999.99999988: the numbers count from a second early,
        // which leaves room for a seventh number one second before the end.
        {"first second lost", 1e9, 1800, {0, 116, 232, 349, 466, 582, 699}, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas actual = FiveRows();
        Canvas expected = FiveRows();
        const int black = actual.palette.black;
        DrawTimeAxis(actual.image.get(), black, c.start, c.start + c.seconds, 0, 700, 486);
        for (size_t i = 0; i < c.xs.size(); ++i) {
            const int x = c.xs[i];
            DrawString(expected, gdFontGetGiant(), x, 486,
                       std::to_string(c.step * static_cast<int>(i)), black);
            if (i > 0) {
                gdImageLine(expected.image.get(), x, 484, x, 488, black);
                gdImageLine(expected.image.get(), x + 1, 484, x + 1, 488, black);
            }
        }
        EXPECT_EQ(DifferentPixels(actual, expected), 0);
    }
}

TEST(DrawTimeAxis, EndsForEveryWindowAndDrawsNothingForEmptyOnes) {
    struct Case {
        const char* name;
        double start, end;
        bool drawn;
    };
    const Case cases[] = {{"empty", START, START, false},
                          {"endless", START, INFINITY, false},
                          {"NaN", NAN, START, false},
                          // Adding a minute no longer changes a time of 1e20 seconds.
                          {"far from the present", 1e20, 2e20, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas canvas = FiveRows();
        DrawTimeAxis(canvas.image.get(), canvas.palette.black, c.start, c.end, 0, 700, 486);
        EXPECT_EQ(LitPixels(canvas) > 0, c.drawn);
    }
}

TEST(PlotDrawing, DrawsEverythingOnTinyImagesWithinTheirBounds) {
    for (int width : {1, 2, 3}) {
        SCOPED_TRACE(width);
        Canvas canvas = MakeCanvas(width, 1, 1, true);
        ASSERT_TRUE(canvas.image);
        gdImagePtr image = canvas.image.get();
        SampleVector segment;
        ASSERT_TRUE(segment.AllocateZeros(50));
        segment.sampleRate = 1.0;
        segment.startTime = START;
        for (int j = 0; j < 50; ++j) segment.samples[j] = static_cast<float>(j % 7);
        const AmplitudeRange range{7.0f, 0.0f};
        DrawRowSeparators(image, canvas.palette, canvas.layout, 0);
        DrawMinMaxLabel(image, canvas.palette, canvas.layout, 0, range);
        DrawTracePiece(image, canvas.palette.waveform, canvas.layout, 0, range, START, START + 60,
                       segment);
        DrawPhaseMarks(image, canvas.palette.text, canvas.layout, 0, START, START + 60,
                       {MakePick("P", START + 30, 1.0)});
        DrawRowLabels(image, canvas.palette, canvas.layout, 0, "ABC", "BHZ", Band(1.0f, 2.0f));
        EventInfo event;
        DrawPlotHeader(image, canvas.palette, canvas.layout, START, 60, true, "ABC", "BHZ",
                       Band(1.0f, 2.0f), &event);
        DrawTimeAxis(image, canvas.palette.black, START, START + 60, 0, width,
                     canvas.layout.height - 15);
        DrawPlotBorder(image, canvas.palette, canvas.layout);
        EXPECT_EQ(gdImageSX(image), width);
        EXPECT_EQ(gdImageColorsTotal(image), 7);
        EXPECT_GT(LitPixels(canvas), 0);
    }
}

}  // namespace
