#include <gd.h>
#include <gdfontg.h>
#include <gdfontl.h>
#include <gdfontt.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "plot/annotations.h"
#include "plot/fonts.h"
#include "plot/plot_layout.h"

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

FilterBand Band(float low, float high) {
    FilterBand band;
    band.low = low;
    band.high = high;
    band.order = 3;
    band.enabled = true;
    return band;
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
    const AmplitudeRange range{1200.0f, -1200.0f};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas actual = MakeCanvas(700, c.requestedHeight, c.rowCount, c.labelsOn);
        Canvas expected = MakeCanvas(700, c.requestedHeight, c.rowCount, c.labelsOn);
        DrawMinMaxLabel(actual.image.get(), actual.palette, actual.layout, c.row, range);
        DrawString(expected, PlotFont(FontCell::SMALL_6X12), 50, c.y, "min/max: -1200/1200",
                   expected.palette.green);
        EXPECT_GT(LitPixels(expected), 50);
        EXPECT_EQ(DifferentPixels(actual, expected), 0);
    }
}

TEST(DrawPhaseMarks, MarksPicksWithNamesAndTheDistance) {
    Canvas actual = FiveRows();
    Canvas expected = FiveRows();
    // Row 1: top 110, height 93; 10:21:00 and 10:22:30 in the window 10:20 .. 10:50.
    const PickList picks = {MakePick("P", START + 60, 4.0), MakePick("S", START + 150, 4.0)};
    DrawPhaseMarks(actual.image.get(), actual.palette.text, actual.layout, 1, START, START + 1800,
                   picks);

    const int entry = gdImageColorAllocate(expected.image.get(), 0, 0, 0);
    const int text = expected.palette.text;
    gdImageLine(expected.image.get(), 24, 201, 24, 112, text);  // trunc(1 + 698 * 60 / 1800)
    DrawString(expected, gdFontGetLarge(), 26, 114, "P", text);
    gdImageLine(expected.image.get(), 59, 201, 59, 112, text);  // trunc(1 + 698 * 150 / 1800)
    DrawString(expected, gdFontGetLarge(), 61, 114, "S", text);
    DrawString(expected, gdFontGetGiant(), 619, 110, "  444 km", entry);

    ASSERT_EQ(gdImageColorsTotal(actual.image.get()), 7);
    EXPECT_EQ(gdImageRed(actual.image.get(), 6), 0);
    EXPECT_EQ(gdImageGreen(actual.image.get(), 6), 0);
    EXPECT_EQ(gdImageBlue(actual.image.get(), 6), 0);
    EXPECT_EQ(gdImageGetPixel(actual.image.get(), 24, 150), text);
    EXPECT_EQ(DifferentPixels(actual, expected), 0);
}

TEST(DrawPhaseMarks, MarksPicksAtBothWindowEndsOnly) {
    Canvas actual = FiveRows();
    Canvas expected = FiveRows();
    const PickList picks = {MakePick("A", START - 0.001, 1.0), MakePick("B", START, 2.0),
                            MakePick("C", START + 1800, 3.0), MakePick("D", START + 1800.001, 9.0)};
    DrawPhaseMarks(actual.image.get(), actual.palette.text, actual.layout, 0, START, START + 1800,
                   picks);

    const int entry = gdImageColorAllocate(expected.image.get(), 0, 0, 0);
    const int text = expected.palette.text;
    gdImageLine(expected.image.get(), 1, 107, 1, 18, text);
    DrawString(expected, gdFontGetLarge(), 3, 20, "B", text);
    gdImageLine(expected.image.get(), 699, 107, 699, 18, text);
    DrawString(expected, gdFontGetLarge(), 701, 20, "C", text);
    DrawString(expected, gdFontGetGiant(), 619, 16, "  333 km", entry);
    EXPECT_EQ(DifferentPixels(actual, expected), 0);
}

TEST(DrawPhaseMarks, TakesTheDistanceOfTheLatestPick) {
    struct Case {
        const char* name;
        PickList picks;
        const char* label;  // nullptr: no distance label
    };
    const Case cases[] = {
        {"last in the window wins",
         {MakePick("P", START + 10, 1.0), MakePick("S", START + 20, 2.0),
          MakePick("X", START + 2000, 5.0)},
         "  222 km"},
        {"first of equal times wins",
         {MakePick("P", START + 10, 1.0), MakePick("S", START + 20, 2.0),
          MakePick("T", START + 20, 3.0)},
         "  222 km"},
        {"no pick in the window", {MakePick("X", START + 2000, 5.0)}, nullptr},
        {"no picks", {}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas actual = FiveRows();
        Canvas expected = FiveRows();
        DrawPhaseMarks(actual.image.get(), actual.palette.text, actual.layout, 4, START,
                       START + 1800, c.picks);
        const int entry = gdImageColorAllocate(expected.image.get(), 0, 0, 0);
        // Only the distance label is compared: blank out everything left of it.
        if (c.label != nullptr)
            DrawString(expected, gdFontGetGiant(), 619, 392, c.label, entry);
        for (const Canvas* canvas : {&actual, &expected})
            gdImageFilledRectangle(canvas->image.get(), 0, 0, 618, 500, 0);
        EXPECT_EQ(gdImageColorsTotal(actual.image.get()), 7);
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
        FilterBand band = Band(0.5f, 5.0f);
        band.enabled = c.filterOn;
        DrawRowLabels(actual.image.get(), actual.palette, actual.layout, c.row, "ABC", "BHZ", band);
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

TEST(DrawPlotHeader, ShowsStartAndEndInNormalMode) {
    Canvas actual = FiveRows();
    Canvas expected = FiveRows();
    DrawPlotHeader(actual.image.get(), actual.palette, actual.layout, START, 1800, false, "ABC",
                   "BHZ", Band(0.5f, 5.0f), nullptr);
    DrawString(expected, gdFontGetGiant(), 3, 1, "02/03/2004 10:20:00", expected.palette.text);
    DrawString(expected, gdFontGetGiant(), 626, 1, "10:50:00", expected.palette.text);
    EXPECT_EQ(DifferentPixels(actual, expected), 0);
}

TEST(DrawPlotHeader, ShowsStationChannelAndFilterInSegmentMode) {
    struct Case {
        const char* name;
        bool filterOn;
        const char* left;
    };
    const Case cases[] = {
        {"filter on", true, "02/03/2004 10:20:00     ABC::BHZ     Flt: 0.5-5.0/3"},
        {"filter off", false, "02/03/2004 10:20:00     ABC::BHZ"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas actual = FiveRows();
        Canvas expected = FiveRows();
        FilterBand band = Band(0.5f, 5.0f);
        band.enabled = c.filterOn;
        DrawPlotHeader(actual.image.get(), actual.palette, actual.layout, START, 3000, true, "ABC",
                       "BHZ", band, nullptr);
        DrawString(expected, gdFontGetGiant(), 3, 1, c.left, expected.palette.text);
        DrawString(expected, gdFontGetGiant(), 700 - 9 * 19 - 2, 1, "02/03/2004 11:10:00",
                   expected.palette.text);
        EXPECT_EQ(DifferentPixels(actual, expected), 0);
    }
}

TEST(DrawPlotHeader, PlacesTheSmallFontForNinePixelCells) {
    Canvas actual = MakeCanvas(700, 500, 20, true);  // rows of 22 pixels
    Canvas expected = MakeCanvas(700, 500, 20, true);
    DrawPlotHeader(actual.image.get(), actual.palette, actual.layout, START + 59.75, 1800, false,
                   "ABC", "BHZ", Band(0.5f, 5.0f), nullptr);
    const gdFontPtr small = PlotFont(FontCell::SMALL_6X12);
    DrawString(expected, small, 3, 1, "02/03/2004 10:20:59", expected.palette.text);
    DrawString(expected, small, 700 - 72 - 2, 1, "10:50:59", expected.palette.text);
    EXPECT_EQ(DifferentPixels(actual, expected), 0);
}

TEST(DrawPlotHeader, ShowsTheEventLineInBlueOnWideImages) {
    EventInfo event;
    event.lat = 45.5f;
    event.lon = 13.25f;
    event.originTime = START - 113.0 + 0.25;  // 10:18:07.25
    struct Case {
        int width;
        bool rightText, eventLine;
    };
    const Case cases[] = {{700, true, true},  {401, true, true},  {400, true, false},
                          {300, true, false}, {201, true, false}, {200, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        Canvas actual = MakeCanvas(c.width, 500, 5, true);
        Canvas expected = MakeCanvas(c.width, 500, 5, true);
        DrawPlotHeader(actual.image.get(), actual.palette, actual.layout, START, 1800, false, "ABC",
                       "BHZ", Band(0.5f, 5.0f), &event);
        DrawString(expected, gdFontGetGiant(), 3, 1, "02/03/2004 10:20:00", expected.palette.text);
        if (c.rightText)
            DrawString(expected, gdFontGetGiant(), c.width - 74, 1, "10:50:00",
                       expected.palette.text);
        if (c.eventLine)
            DrawString(expected, gdFontGetGiant(), c.width / 2 - 160, 1,
                       "lat=45.50 lon=13.25 (2004/03/02 10:18:7.25)", expected.palette.blue);
        EXPECT_EQ(DifferentPixels(actual, expected), 0);
    }
}

TEST(DrawPlotHeader, DrawsNothingWithLabelsOff) {
    Canvas canvas = MakeCanvas(700, 500, 3, false);
    EventInfo event;
    DrawPlotHeader(canvas.image.get(), canvas.palette, canvas.layout, START, 1800, true, "ABC",
                   "BHZ", Band(0.5f, 5.0f), &event);
    EXPECT_EQ(LitPixels(canvas), 0);
}

TEST(TickStepMinutes, GrowsWithTheWindow) {
    struct Case {
        double seconds;
        int step;
    };
    const Case cases[] = {{3 * 3600, 60}, {121 * 60, 60}, {120 * 60, 10}, {41 * 60, 10},
                          {40 * 60, 5},   {30 * 60, 5},   {11 * 60, 5},   {10 * 60, 1},
                          {60, 1},        {0, 1}};
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

TEST(DrawTimeAxis, DrawsNothingForEmptyOrEndlessWindows) {
    struct Case {
        const char* name;
        double start, end;
    };
    const Case cases[] = {{"empty", START, START},
                          {"reversed", START, START - 60},
                          {"endless", START, INFINITY},
                          {"NaN", NAN, START}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Canvas canvas = FiveRows();
        DrawTimeAxis(canvas.image.get(), canvas.palette.black, c.start, c.end, 0, 700, 486);
        EXPECT_EQ(LitPixels(canvas), 0);
    }
}

TEST(DrawTimeAxis, EndsForWindowsFarFromThePresent) {
    // Adding a minute no longer changes a time of 1e20 seconds.
    Canvas canvas = FiveRows();
    DrawTimeAxis(canvas.image.get(), canvas.palette.black, 1e20, 2e20, 0, 700, 486);
    EXPECT_GT(LitPixels(canvas), 0);
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
