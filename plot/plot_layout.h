#pragma once

#include <gd.h>

#include "plot/fonts.h"
#include "plot/gd_image.h"
#include "plot/rgb_triple.h"

// The geometry of one plot, computed once per run. Rows are stacked from the top; every
// row's band of rowHeight + 1 pixel rows is followed by the next band.
struct PlotLayout {
    int width = 0;         // pixels, the requested image width, never changed
    int height = 0;        // pixels, the final image height
    int rowCount = 1;      // rows (traces, or segments in segment mode), at least 1
    int rowHeight = 0;     // pixels of one row's band, not counting its separator row
    int bottomMargin = 0;  // pixels, 13 or 16; only used when labelsOn
    bool labelsOn = true;  // header and time axis shown

    // Returns the first pixel row of row's band: below the 16-row header when labels are
    // on, below the top border otherwise.
    int RowTop(int row) const;
};

// Computes the layout for a requested image size and row count. The row height follows from
// the requested height and is then raised to 20 pixels (30 for a catalogue list), so the
// final height grows with the row count. A row count below 1 is laid out as one row
// (rowCount is then 1). When the final height would not fit in an int, height is 0, which
// CreatePlotImage refuses.
PlotLayout ComputePlotLayout(int width, int requestedHeight, int rowCount, bool labelsOn,
                             bool catalogueList);

// The palette indexes of a plot, allocated in this order by CreatePlotImage, so the
// background is index 0. Phase marks append one entry per row after these.
struct PlotPalette {
    int background = 0;
    int waveform = 1;
    int text = 2;
    int black = 3;
    int green = 4;
    int blue = 5;
};

// Creates the palette image of the layout's size, allocates the six palette entries
// (background, waveform, text, black, green 0,255,64, blue 0,0,255) into palette and fills
// the image with the background. Returns a null image when the size is not positive or
// gd cannot allocate the image.
GdImage CreatePlotImage(const PlotLayout& layout, const RgbTriple& background,
                        const RgbTriple& waveform, const RgbTriple& text, PlotPalette& palette);

// Draws the black separator line of row (and, for the last row, the second one) across the
// image. The lines sit where the drawing has always put them, which is not on the band
// edges: see the layout tests.
void DrawRowSeparators(gdImagePtr image, const PlotPalette& palette, const PlotLayout& layout,
                       int row);

// Draws the black top, left and right edges of the plot; there is no bottom edge.
void DrawPlotBorder(gdImagePtr image, const PlotPalette& palette, const PlotLayout& layout);

// The texts of the plot, for the choice of their font.
enum class FontRole {
    STATION_LABEL,
    CHANNEL_LABEL,
    HEADER,
    FILTER_LABEL,
    MIN_MAX_LABEL,
    PHASE_NAME,
    DISTANCE_LABEL,
    TIME_AXIS,
};

// Returns the font cell of a text role for a row height in pixels: station and channel
// labels and the header grow with the row height, the other roles have fixed cells.
FontCell FontCellForRole(FontRole role, int rowHeight);

// Returns the font of a text role for a row height in pixels.
gdFontPtr FontForRole(FontRole role, int rowHeight);
