#include "plot/fonts.h"

#include <gdfontg.h>
#include <gdfontl.h>
#include <gdfontmb.h>
#include <gdfonts.h>
#include <gdfontt.h>

#include <vector>

namespace {

// A font of ours: the gd record and the pixel bytes it points to.
struct OwnFont {
    std::vector<char> pixels;
    gdFont font{};
};

// Builds a font of nchars characters from code offset, of cell w x h, from a gd font of
// the same width: pixel row y of a new glyph is row y + rowShift of the source glyph, and
// rows that fall outside the source cell, like characters the source lacks, stay blank.
void DeriveFont(OwnFont& target, const gdFont& source, int nchars, int offset, int h,
                int rowShift) {
    const int w = source.w;
    target.pixels.assign(static_cast<size_t>(nchars) * static_cast<size_t>(w * h), 0);
    for (int c = 0; c < nchars; ++c) {
        const int sourceIndex = offset + c - source.offset;
        if (sourceIndex < 0 || sourceIndex >= source.nchars)
            continue;
        for (int y = 0; y < h; ++y) {
            const int sourceRow = y + rowShift;
            if (sourceRow < 0 || sourceRow >= source.h)
                continue;
            for (int x = 0; x < w; ++x) {
                const size_t from =
                    (static_cast<size_t>(sourceIndex) * static_cast<size_t>(source.h) +
                     static_cast<size_t>(sourceRow)) *
                        static_cast<size_t>(w) +
                    static_cast<size_t>(x);
                const size_t to =
                    (static_cast<size_t>(c) * static_cast<size_t>(h) + static_cast<size_t>(y)) *
                        static_cast<size_t>(w) +
                    static_cast<size_t>(x);
                target.pixels[to] = source.data[from];
            }
        }
    }
    target.font.nchars = nchars;
    target.font.offset = offset;
    target.font.w = w;
    target.font.h = h;
    target.font.data = target.pixels.data();
}

// The two fonts gd does not ship, derived once on first use and read-only afterwards.
struct OwnFonts {
    OwnFont small6x12;
    OwnFont giant9x16;

    OwnFonts() {
        // gd's Small font is 6x13; its top row is blank for every printable character, so
        // dropping it gives the 6x12 cell without losing a pixel.
        DeriveFont(small6x12, *gdFontGetSmall(), 96, 32, 12, 1);
        // The 9x16 cell is gd's Giant 9x15 with one blank row on top, so its glyphs sit one
        // row lower in the taller cell.
        DeriveFont(giant9x16, *gdFontGetGiant(), 128, 0, 16, -1);
    }
};

OwnFonts& Fonts() {
    static OwnFonts fonts;
    return fonts;
}

}  // namespace

gdFontPtr PlotFont(FontCell cell) {
    switch (cell) {
        case FontCell::TINY_5X8:
            return gdFontGetTiny();
        case FontCell::SMALL_6X12:
            return &Fonts().small6x12.font;
        case FontCell::MEDIUM_BOLD_7X13:
            return gdFontGetMediumBold();
        case FontCell::LARGE_8X16:
            return gdFontGetLarge();
        case FontCell::GIANT_9X15:
            return gdFontGetGiant();
        case FontCell::GIANT_9X16:
            return &Fonts().giant9x16.font;
    }
    return gdFontGetTiny();
}
