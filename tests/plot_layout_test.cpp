#include "plot/plot_layout.h"

#include <gd.h>
#include <gdfontg.h>
#include <gdfonts.h>
#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <vector>

#include "plot/fonts.h"

namespace {

const RgbTriple BACKGROUND{255, 255, 255};
const RgbTriple WAVEFORM{0, 0, 128};
const RgbTriple TEXT{255, 255, 0};

GdImage MakeImage(const PlotLayout& layout, PlotPalette& palette) {
    return CreatePlotImage(layout, BACKGROUND, WAVEFORM, TEXT, palette);
}

// The pixel rows in which column x has the given palette index.
std::set<int> RowsWithIndex(gdImagePtr image, int x, int index) {
    std::set<int> rows;
    for (int y = 0; y < gdImageSY(image); ++y) {
        if (gdImageGetPixel(image, x, y) == index)
            rows.insert(y);
    }
    return rows;
}

TEST(ComputePlotLayout, SettlesRowHeightMarginAndImageHeight) {
    struct Case {
        const char* name;
        int requestedHeight, rowCount;
        bool labelsOn, catalogueList;
        int rowHeight, bottomMargin, height;
        std::vector<int> rowTops;
    };
    const Case cases[] = {
        {"5 rows", 500, 5, true, false, 93, 16, 501, {16, 110, 204, 298, 392}},
        {"20 configured rows", 500, 20, true, false, 22, 13, 488, {16, 39}},
        {"20 catalogue rows raised to 30", 500, 20, true, true, 30, 16, 651, {16, 47}},
        {"catalogue rows above 30 kept", 2000, 5, true, true, 393, 16, 2001, {16, 410}},
        {"labels off", 500, 3, false, false, 165, 16, 498, {1, 167, 333}},
        {"raised to 20", 300, 20, true, false, 20, 13, 448, {16, 37}},
        {"negative request", -100, 4, true, false, 20, 13, 112, {16, 37}},
        {"labels off raised", 10, 2, false, false, 20, 13, 42, {1, 22}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PlotLayout layout =
            ComputePlotLayout(700, c.requestedHeight, c.rowCount, c.labelsOn, c.catalogueList);
        EXPECT_EQ(layout.width, 700);
        EXPECT_EQ(layout.rowCount, c.rowCount);
        EXPECT_EQ(layout.rowHeight, c.rowHeight);
        EXPECT_EQ(layout.height, c.height);
        if (c.labelsOn) {
            EXPECT_EQ(layout.bottomMargin, c.bottomMargin);
        }
        for (size_t i = 0; i < c.rowTops.size(); ++i)
            EXPECT_EQ(layout.RowTop(static_cast<int>(i)), c.rowTops[i]) << "row " << i;
    }
}

TEST(ComputePlotLayout, LaysOutNoRowsAsOneAndRefusesHeightsBeyondInt) {
    const PlotLayout one = ComputePlotLayout(700, 500, 1, true, false);
    for (int rowCount : {0, INT_MIN}) {
        SCOPED_TRACE(rowCount);
        const PlotLayout layout = ComputePlotLayout(700, 500, rowCount, true, false);
        EXPECT_EQ(layout.rowCount, 1);
        EXPECT_EQ(layout.rowHeight, one.rowHeight);
        EXPECT_EQ(layout.height, one.height);
    }
    // 100 million catalogue rows of 31 pixels: 3.1e9 pixel rows.
    EXPECT_EQ(ComputePlotLayout(700, 500, 100000000, true, true).height, 0);
    EXPECT_EQ(ComputePlotLayout(700, INT_MAX, 1, true, false).height, 0);
}

TEST(CreatePlotImage, RefusesSizesGdCannotHold) {
    struct Case {
        int width, height;
    };
    const Case cases[] = {{0, 100}, {-700, 100}, {700, -5}, {100000, 100000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        PlotLayout layout;
        layout.width = c.width;
        layout.height = c.height;
        PlotPalette palette;
        EXPECT_FALSE(MakeImage(layout, palette));
    }
}

TEST(CreatePlotImage, AllocatesTheSixEntriesInOrderEvenWhenColoursRepeat) {
    struct Case {
        RgbTriple background, waveform, text;
    };
    const Case cases[] = {{{10, 20, 30}, {40, 50, 60}, {70, 80, 90}},
                          {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.background.red);
        const PlotLayout layout = ComputePlotLayout(700, 500, 5, true, false);
        PlotPalette palette;
        palette.background = palette.waveform = palette.text = -1;
        palette.black = palette.green = palette.blue = -1;
        GdImage image = CreatePlotImage(layout, c.background, c.waveform, c.text, palette);
        ASSERT_TRUE(image);
        EXPECT_EQ(gdImageSX(image.get()), 700);
        EXPECT_EQ(gdImageSY(image.get()), 501);
        ASSERT_EQ(gdImageColorsTotal(image.get()), 6);
        const RgbTriple fixed[] = {{0, 0, 0}, {0, 255, 64}, {0, 0, 255}};
        const struct {
            int index;
            RgbTriple rgb;
        } entries[] = {{palette.background, c.background},
                       {palette.waveform, c.waveform},
                       {palette.text, c.text},
                       {palette.black, fixed[0]},
                       {palette.green, fixed[1]},
                       {palette.blue, fixed[2]}};
        for (int i = 0; i < 6; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(entries[i].index, i);
            EXPECT_EQ(gdImageRed(image.get(), i), entries[i].rgb.red);
            EXPECT_EQ(gdImageGreen(image.get(), i), entries[i].rgb.green);
            EXPECT_EQ(gdImageBlue(image.get(), i), entries[i].rgb.blue);
        }
    }
}

TEST(DrawRowSeparators, DrawsLinesWhereThePlotHasAlwaysHadThem) {
    struct Case {
        const char* name;
        int requestedHeight, rowCount;
        bool labelsOn;
        std::set<int> lines;
    };
    std::set<int> twentyRows = {12};
    for (int k = 1; k <= 20; ++k) twentyRows.insert(11 + 23 * k);
    const Case cases[] = {
        {"5 rows, margin 16", 500, 5, true, {15, 108, 202, 296, 390, 484}},
        {"20 rows, margin 13", 500, 20, true, twentyRows},
        {"labels off", 500, 3, false, {164, 330, 496}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PlotLayout layout =
            ComputePlotLayout(700, c.requestedHeight, c.rowCount, c.labelsOn, false);
        PlotPalette palette;
        GdImage image = MakeImage(layout, palette);
        ASSERT_TRUE(image);
        for (int row = 0; row < layout.rowCount; ++row)
            DrawRowSeparators(image.get(), palette, layout, row);
        for (int x : {0, 350, 699})
            EXPECT_EQ(RowsWithIndex(image.get(), x, palette.black), c.lines) << "x " << x;
    }
}

TEST(DrawPlotBorder, DrawsTopAndSidesButNoBottom) {
    struct Case {
        const char* name;
        int rowCount;
        bool labelsOn;
        int sideEnd;  // last pixel row of the side edges
    };
    const Case cases[] = {
        {"labels on", 5, true, 487},  // H = 501: y_b + 1 = H - 14
        {"labels off", 3, false, 497},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PlotLayout layout = ComputePlotLayout(700, 500, c.rowCount, c.labelsOn, false);
        PlotPalette palette;
        GdImage image = MakeImage(layout, palette);
        ASSERT_TRUE(image);
        DrawPlotBorder(image.get(), palette, layout);
        std::set<int> side;
        for (int y = 0; y <= std::min(c.sideEnd, layout.height - 1); ++y) side.insert(y);
        EXPECT_EQ(RowsWithIndex(image.get(), 0, palette.black), side);
        EXPECT_EQ(RowsWithIndex(image.get(), 699, palette.black), side);
        EXPECT_EQ(RowsWithIndex(image.get(), 350, palette.black), std::set<int>{0});
        EXPECT_EQ(RowsWithIndex(image.get(), 1, palette.black), std::set<int>{0});
        EXPECT_EQ(RowsWithIndex(image.get(), 698, palette.black), std::set<int>{0});
    }
}

TEST(FontCellForRole, FollowsTheRowHeight) {
    struct Case {
        int rowHeight;
        FontCell station, channel, header;
    };
    const Case cases[] = {
        {21, FontCell::TINY_5X8, FontCell::TINY_5X8, FontCell::SMALL_6X12},
        {22, FontCell::SMALL_6X12, FontCell::TINY_5X8, FontCell::SMALL_6X12},
        {23, FontCell::SMALL_6X12, FontCell::SMALL_6X12, FontCell::GIANT_9X15},
        {24, FontCell::SMALL_6X12, FontCell::SMALL_6X12, FontCell::GIANT_9X15},
        {25, FontCell::MEDIUM_BOLD_7X13, FontCell::SMALL_6X12, FontCell::GIANT_9X15},
        {29, FontCell::MEDIUM_BOLD_7X13, FontCell::SMALL_6X12, FontCell::GIANT_9X15},
        {30, FontCell::GIANT_9X15, FontCell::SMALL_6X12, FontCell::GIANT_9X15},
        {39, FontCell::GIANT_9X15, FontCell::SMALL_6X12, FontCell::GIANT_9X15},
        {40, FontCell::GIANT_9X16, FontCell::SMALL_6X12, FontCell::GIANT_9X15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rowHeight);
        EXPECT_EQ(FontCellForRole(FontRole::STATION_LABEL, c.rowHeight), c.station);
        EXPECT_EQ(FontCellForRole(FontRole::CHANNEL_LABEL, c.rowHeight), c.channel);
        EXPECT_EQ(FontCellForRole(FontRole::HEADER, c.rowHeight), c.header);
        EXPECT_EQ(FontCellForRole(FontRole::FILTER_LABEL, c.rowHeight), FontCell::SMALL_6X12);
        EXPECT_EQ(FontCellForRole(FontRole::MIN_MAX_LABEL, c.rowHeight), FontCell::SMALL_6X12);
        EXPECT_EQ(FontCellForRole(FontRole::PHASE_NAME, c.rowHeight), FontCell::LARGE_8X16);
        EXPECT_EQ(FontCellForRole(FontRole::DISTANCE_LABEL, c.rowHeight), FontCell::GIANT_9X15);
        EXPECT_EQ(FontCellForRole(FontRole::TIME_AXIS, c.rowHeight), FontCell::GIANT_9X15);
        EXPECT_EQ(FontForRole(FontRole::STATION_LABEL, c.rowHeight), PlotFont(c.station));
    }
}

TEST(PlotFont, CellsHaveTheirSizesAndDrawOnlyTheirCharacterRange) {
    struct Case {
        FontCell cell;
        int w, h;
        int first, count;  // the character range
    };
    const Case cases[] = {
        {FontCell::TINY_5X8, 5, 8, 0, 128},          {FontCell::SMALL_6X12, 6, 12, 32, 96},
        {FontCell::MEDIUM_BOLD_7X13, 7, 13, 0, 128}, {FontCell::LARGE_8X16, 8, 16, 32, 96},
        {FontCell::GIANT_9X15, 9, 15, 0, 128},       {FontCell::GIANT_9X16, 9, 16, 0, 128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.w * 100 + c.h);
        const gdFontPtr font = PlotFont(c.cell);
        ASSERT_NE(font, nullptr);
        EXPECT_EQ(font->w, c.w);
        EXPECT_EQ(font->h, c.h);
        // Each code drawn alone on a clean image: outside the range nothing at all, inside
        // it the glyph, which for 'A' has pixels.
        for (int code = 0; code < 256; ++code) {
            GdImage image(gdImageCreate(12, 20));
            ASSERT_TRUE(image);
            gdImageColorAllocate(image.get(), 255, 255, 255);
            const int ink = gdImageColorAllocate(image.get(), 0, 0, 0);
            gdImageChar(image.get(), font, 1, 1, code, ink);
            int lit = 0;
            for (int y = 0; y < 20; ++y)
                for (int x = 0; x < 12; ++x) lit += gdImageGetPixel(image.get(), x, y) == ink;
            if (code < c.first || code >= c.first + c.count) {
                EXPECT_EQ(lit, 0) << "code " << code;
            } else if (code == 'A') {
                EXPECT_GT(lit, 8);
            }
        }
    }
}

// Returns pixel (x, y) of character c of a gd font as drawn, or 0 outside its range.
int GlyphPixel(const gdFont& font, int c, int x, int y) {
    if (c < font.offset || c >= font.offset + font.nchars || y < 0 || y >= font.h)
        return 0;
    return font.data[((c - font.offset) * font.h + y) * font.w + x] != 0;
}

TEST(PlotFont, DerivesOwnCellsFromGdGlyphs) {
    const gdFont& small = *gdFontGetSmall();
    const gdFont& giant = *gdFontGetGiant();
    const gdFont& small12 = *PlotFont(FontCell::SMALL_6X12);
    const gdFont& giant16 = *PlotFont(FontCell::GIANT_9X16);
    for (int c = 32; c < 128; ++c) {
        SCOPED_TRACE(c);
        for (int x = 0; x < 6; ++x) {
            // The dropped top row of the 13-row font carries no pixel.
            EXPECT_EQ(GlyphPixel(small, c, x, 0), 0);
            for (int y = 0; y < 12; ++y)
                ASSERT_EQ(GlyphPixel(small12, c, x, y), GlyphPixel(small, c, x, y + 1));
        }
    }
    for (int c = 0; c < 128; ++c) {
        SCOPED_TRACE(c);
        for (int x = 0; x < 9; ++x) {
            EXPECT_EQ(GlyphPixel(giant16, c, x, 0), 0);
            for (int y = 1; y < 16; ++y)
                ASSERT_EQ(GlyphPixel(giant16, c, x, y), GlyphPixel(giant, c, x, y - 1));
        }
    }
    // Not every glyph is blank.
    int lit = 0;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 6; ++x) lit += GlyphPixel(small12, 'A', x, y);
    EXPECT_GT(lit, 10);
}

}  // namespace
