#pragma once

// Reading back the GIF files of end-to-end runs with gd. Header only: the programs that
// include it link gd themselves, the rest of the test support does not need it.

#include <gd.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "plot/plot_layout.h"
#include "tests/support/e2e_harness.h"

// A colour as three components 0 ... 255.
struct Rgb {
    int red = 0;
    int green = 0;
    int blue = 0;
};

inline bool operator==(const Rgb& a, const Rgb& b) {
    return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

inline std::ostream& operator<<(std::ostream& out, const Rgb& colour) {
    return out << colour.red << ',' << colour.green << ',' << colour.blue;
}

// The fixed colours of every plot with the default INI colours.
constexpr Rgb BACKGROUND_COLOUR = {255, 255, 255};
constexpr Rgb WAVEFORM_COLOUR = {0, 0, 128};
constexpr Rgb TEXT_COLOUR = {255, 255, 0};
constexpr Rgb BLACK_COLOUR = {0, 0, 0};
constexpr Rgb GREEN_COLOUR = {0, 255, 64};
constexpr Rgb BLUE_COLOUR = {0, 0, 255};

// The geometry a plot of 700 x 500 requested pixels with labels on must have: rowHeight
// pixels per band, bands every rowHeight + 1 pixel rows below a 16-row header, and a bottom
// margin of 16 rows (13 for low rows) under the last band.
struct PlotGeometry {
    int rowCount = 0;
    int rowHeight = 0;
    int height = 0;

    int RowTop(int row) const { return 16 + row * (rowHeight + 1); }
};

inline PlotGeometry GeometryFor(int rowCount, bool catalogueList) {
    PlotGeometry geometry;
    geometry.rowCount = rowCount;
    geometry.rowHeight = std::max((500 - rowCount - 28) / rowCount, catalogueList ? 30 : 20);
    const int bottomMargin = geometry.rowHeight > 22 ? 16 : 13;
    geometry.height = rowCount * (geometry.rowHeight + 1) + bottomMargin + 15;
    return geometry;
}

// Returns the number of entries of a GIF file's global colour table (0 without one).
inline int GifColourTableSize(const std::string& bytes) {
    if (bytes.size() < 13 || (static_cast<unsigned char>(bytes[10]) & 0x80) == 0)
        return 0;
    return 2 << (static_cast<unsigned char>(bytes[10]) & 0x07);
}

// Returns true when the first image of a GIF file with a global colour table is interlaced.
inline bool GifIsInterlaced(const std::string& bytes) {
    const std::size_t descriptor = 13 + 3 * static_cast<std::size_t>(GifColourTableSize(bytes));
    return bytes.size() > descriptor + 9 && bytes[descriptor] == ',' &&
           (static_cast<unsigned char>(bytes[descriptor + 9]) & 0x40) != 0;
}

struct GdPictureDeleter {
    void operator()(gdImagePtr picture) const { gdImageDestroy(picture); }
};
using GdPicture = std::unique_ptr<gdImage, GdPictureDeleter>;

// Reads a GIF or a PNG file (told apart by their first bytes) with gd; null when it cannot
// be read.
inline GdPicture ReadPicture(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return nullptr;
    const bool png = std::fgetc(file) == 0x89;
    std::rewind(file);
    GdPicture picture(png ? gdImageCreateFromPng(file) : gdImageCreateFromGif(file));
    std::fclose(file);
    return picture;
}

// A GIF file read back with gdImageCreateFromGif.
class GifPicture {
public:
    explicit GifPicture(const std::string& path) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (file == nullptr)
            return;
        image.reset(gdImageCreateFromGif(file));
        std::fclose(file);
    }

    bool IsLoaded() const { return image != nullptr; }
    int Width() const { return gdImageSX(image.get()); }
    int Height() const { return gdImageSY(image.get()); }
    int ColorsTotal() const { return gdImageColorsTotal(image.get()); }

    // Returns the colour of a pixel; -1,-1,-1 outside the picture.
    Rgb At(int x, int y) const {
        if (!gdImageBoundsSafe(image.get(), x, y))
            return Rgb{-1, -1, -1};
        const int index = gdImageGetPixel(image.get(), x, y);
        return Rgb{gdImageRed(image.get(), index), gdImageGreen(image.get(), index),
                   gdImageBlue(image.get(), index)};
    }

    // Counts the pixels of colour in the rectangle left ... right, top ... bottom (both
    // ends included), clipped to the picture.
    int CountColour(const Rgb& colour, int left, int top, int right, int bottom) const {
        int count = 0;
        for (int y = top; y <= bottom; ++y) {
            for (int x = left; x <= right; ++x) count += At(x, y) == colour;
        }
        return count;
    }

    // Counts the pixels of colour inside the border across one band of the geometry.
    int CountInRow(const Rgb& colour, const PlotGeometry& geometry, int row) const {
        const int top = geometry.RowTop(row);
        return CountColour(colour, 1, top, Width() - 2, top + geometry.rowHeight);
    }

    // Compares the picture with text as gdImageString draws it in font with the top-left
    // corner of its first cell at x, y: returns the number of pixels of the text's cells
    // where a glyph pixel is not in colour or a pixel outside the glyphs is. 0 means the text
    // stands there and nothing else of that colour touches it. Only the first rowsCompared
    // pixel rows of the cells are compared (all when it is negative), for text that later
    // drawing crosses; cells outside the picture are not compared.
    int TextMismatches(gdFontPtr font, int x, int y, const std::string& text, const Rgb& colour,
                       int rowsCompared = -1) const {
        const int width = font->w * static_cast<int>(text.size());
        if (width == 0)
            return 0;
        std::unique_ptr<gdImage, ImageDeleter> expected(gdImageCreate(width, font->h));
        const int blank = gdImageColorAllocate(expected.get(), 0, 0, 0);
        const int ink = gdImageColorAllocate(expected.get(), 255, 255, 255);
        gdImageFilledRectangle(expected.get(), 0, 0, width - 1, font->h - 1, blank);
        std::string copy = text;
        gdImageString(expected.get(), font, 0, 0, reinterpret_cast<unsigned char*>(copy.data()),
                      ink);
        int mismatches = 0;
        const int rows = rowsCompared < 0 ? font->h : std::min(rowsCompared, font->h);
        for (int dy = 0; dy < rows; ++dy) {
            for (int dx = 0; dx < width; ++dx) {
                if (!gdImageBoundsSafe(image.get(), x + dx, y + dy))
                    continue;
                const bool glyph = gdImageGetPixel(expected.get(), dx, dy) == ink;
                mismatches += glyph != (At(x + dx, y + dy) == colour);
            }
        }
        return mismatches;
    }

private:
    struct ImageDeleter {
        void operator()(gdImagePtr picture) const { gdImageDestroy(picture); }
    };
    std::unique_ptr<gdImage, ImageDeleter> image;
};

// Runs trazplot in folder, which must succeed without a word on standard output, and reads
// back the picture written to work/file. The picture is not loaded unless the run succeeded
// and the picture has the geometry's height (each failure is recorded).
inline GifPicture RunForPicture(const RunFolder& folder, const std::vector<std::string>& arguments,
                                const PlotGeometry& geometry, const std::string& file = "OUT.GIF") {
    const ProcessResult result = folder.Run(arguments);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.status, 0);
    GifPicture picture(folder.WorkFile(file));
    EXPECT_TRUE(picture.IsLoaded()) << file;
    if (result.status != 0 || !picture.IsLoaded())
        return GifPicture("");
    EXPECT_EQ(picture.Height(), geometry.height) << geometry.rowCount << " rows";
    return picture.Height() == geometry.height ? std::move(picture) : GifPicture("");
}

// Checks the header line of a plot: left at (3, 1) with nothing after it for five cells,
// right ending 2 pixels plus 9 per character before the right edge, both in the header font
// of the row height and the text colour.
inline void ExpectHeader(const GifPicture& picture, const PlotGeometry& geometry,
                         const std::string& left, const std::string& right) {
    gdFontPtr font = FontForRole(FontRole::HEADER, geometry.rowHeight);
    EXPECT_EQ(picture.TextMismatches(font, 3, 1, left, TEXT_COLOUR), 0) << "left: " << left;
    const int leftEnd = 3 + font->w * static_cast<int>(left.size());
    EXPECT_EQ(picture.CountColour(TEXT_COLOUR, leftEnd, 1, leftEnd + 5 * font->w - 1, 14), 0)
        << "nothing follows " << left;
    const int rightX = picture.Width() - 9 * static_cast<int>(right.size()) - 2;
    EXPECT_EQ(picture.TextMismatches(font, rightX, 1, right, TEXT_COLOUR), 0) << "right: " << right;
}

// Checks the station label at the top left of every row, in row order.
inline void ExpectStationLabels(const GifPicture& picture, const PlotGeometry& geometry,
                                const std::vector<std::string>& stations) {
    gdFontPtr font = FontForRole(FontRole::STATION_LABEL, geometry.rowHeight);
    for (std::size_t row = 0; row < stations.size(); ++row) {
        EXPECT_EQ(picture.TextMismatches(font, 3, geometry.RowTop(static_cast<int>(row)) + 1,
                                         stations[row], TEXT_COLOUR),
                  0)
            << "row " << row << " shows " << stations[row];
    }
}
