#include "plot/plot_layout.h"

#include <algorithm>
#include <climits>

int PlotLayout::RowTop(int row) const { return (labelsOn ? 16 : 1) + row * (rowHeight + 1); }

PlotLayout ComputePlotLayout(int width, int requestedHeight, int rowCount, bool labelsOn,
                             bool catalogueList) {
    PlotLayout layout;
    layout.width = width;
    layout.labelsOn = labelsOn;
    layout.rowCount = std::max(rowCount, 1);

    // 64-bit arithmetic: a huge requested height or row count must not overflow on the way.
    const long long n = layout.rowCount;
    long long h = labelsOn ? (requestedHeight - n - 28) / n : (requestedHeight - n) / n;
    if (catalogueList && h < 30)
        h = 30;
    else if (h < 20)
        h = 20;
    layout.rowHeight = static_cast<int>(h);
    layout.bottomMargin = h > 22 ? 16 : 13;

    long long height = n * (h + 1);
    if (labelsOn)
        height += layout.bottomMargin + 15;
    layout.height = height <= INT_MAX ? static_cast<int>(height) : 0;
    return layout;
}

GdImage CreatePlotImage(const PlotLayout& layout, const RgbTriple& background,
                        const RgbTriple& waveform, const RgbTriple& text, PlotPalette& palette) {
    // gd refuses sizes whose pixel count overflows an int as well, but complains on stderr.
    if (layout.width < 1 || layout.height < 1 ||
        static_cast<long long>(layout.width) * layout.height > INT_MAX)
        return GdImage();
    GdImage image(gdImageCreate(layout.width, layout.height));
    if (!image)
        return image;
    palette.background =
        gdImageColorAllocate(image.get(), background.red, background.green, background.blue);
    palette.waveform =
        gdImageColorAllocate(image.get(), waveform.red, waveform.green, waveform.blue);
    palette.text = gdImageColorAllocate(image.get(), text.red, text.green, text.blue);
    palette.black = gdImageColorAllocate(image.get(), 0, 0, 0);
    palette.green = gdImageColorAllocate(image.get(), 0, 255, 64);
    palette.blue = gdImageColorAllocate(image.get(), 0, 0, 255);
    gdImageFilledRectangle(image.get(), 0, 0, layout.width, layout.height, palette.background);
    return image;
}

void DrawRowSeparators(gdImagePtr image, const PlotPalette& palette, const PlotLayout& layout,
                       int row) {
    const int lastX = layout.width - 1;
    const int y = layout.height - 1 - layout.RowTop(row);
    gdImageLine(image, 0, y, lastX, y, palette.black);
    if (row == layout.rowCount - 1) {
        const int bottom = y - layout.rowHeight;
        gdImageLine(image, 0, bottom, lastX, bottom, palette.black);
    }
}

void DrawPlotBorder(gdImagePtr image, const PlotPalette& palette, const PlotLayout& layout) {
    const int sideEnd = (layout.labelsOn ? layout.height - 15 : layout.height) + 1;
    const int right = layout.width - 1;
    gdImageLine(image, 0, 0, layout.width, 0, palette.black);
    gdImageLine(image, 0, 0, 0, sideEnd, palette.black);
    gdImageLine(image, right, 0, right, sideEnd, palette.black);
}

FontCell FontCellForRole(FontRole role, int rowHeight) {
    switch (role) {
        case FontRole::STATION_LABEL:
            if (rowHeight <= 21)
                return FontCell::TINY_5X8;
            if (rowHeight <= 24)
                return FontCell::SMALL_6X12;
            if (rowHeight <= 29)
                return FontCell::MEDIUM_BOLD_7X13;
            if (rowHeight <= 39)
                return FontCell::GIANT_9X15;
            return FontCell::GIANT_9X16;
        case FontRole::CHANNEL_LABEL:
            return rowHeight > 22 ? FontCell::SMALL_6X12 : FontCell::TINY_5X8;
        case FontRole::HEADER:
            return rowHeight > 22 ? FontCell::GIANT_9X15 : FontCell::SMALL_6X12;
        case FontRole::FILTER_LABEL:
        case FontRole::MIN_MAX_LABEL:
            return FontCell::SMALL_6X12;
        case FontRole::PHASE_NAME:
            return FontCell::LARGE_8X16;
        case FontRole::DISTANCE_LABEL:
        case FontRole::TIME_AXIS:
            return FontCell::GIANT_9X15;
    }
    return FontCell::SMALL_6X12;
}

gdFontPtr FontForRole(FontRole role, int rowHeight) {
    return PlotFont(FontCellForRole(role, rowHeight));
}
