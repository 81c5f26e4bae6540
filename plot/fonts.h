#pragma once

#include <gd.h>

// The six bitmap font cells of the plot, in gd's font format, each with its own character
// range: 96 characters from code 32 for 6x12 and 8x16, 128 from code 0 for the others. Their
// glyphs are gd's Tiny, Small, MediumBold, Large and Giant glyphs; the 6x12 cell is gd's
// 6x13 Small without its blank top row and the 9x16 cell gd's Giant with a blank row on top.
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
