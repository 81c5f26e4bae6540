#pragma once

#include <gd.h>

// The six bitmap font cells of the plot. Four are gd's own fonts; the 6x12 font (96
// characters from code 32) and the 9x16 font (128 characters from code 0) are ours, in gd's
// font format.
enum class FontCell {
    TINY_5X8,
    SMALL_6X12,
    MEDIUM_BOLD_7X13,
    LARGE_8X16,
    GIANT_9X15,
    GIANT_9X16,
};

// Returns the font of a cell. The pointer stays valid for the whole process and the font is
// never changed; gd only takes it as non-const.
gdFontPtr PlotFont(FontCell cell);
