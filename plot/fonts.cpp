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

// The six fonts, derived once on first use and read-only afterwards. gd's built-in fonts
// hold 256 glyphs, but each cell of the plot has only the character range of its table:
// a byte outside it (a code from another code page, a control character) draws nothing,
// where gd's own font would draw a stray glyph.
struct OwnFonts {
    OwnFont tiny5x8;
    OwnFont small6x12;
    OwnFont mediumBold7x13;
    OwnFont large8x16;
    OwnFont giant9x15;
    OwnFont giant9x16;

    OwnFonts() {
        DeriveFont(tiny5x8, *gdFontGetTiny(), 128, 0, 8, 0);
        // gd's Small font is 6x13; its top row is blank for every printable character, so
        // dropping it gives the 6x12 cell without losing a pixel.
        DeriveFont(small6x12, *gdFontGetSmall(), 96, 32, 12, 1);
        DeriveFont(mediumBold7x13, *gdFontGetMediumBold(), 128, 0, 13, 0);
        DeriveFont(large8x16, *gdFontGetLarge(), 96, 32, 16, 0);
        DeriveFont(giant9x15, *gdFontGetGiant(), 128, 0, 15, 0);
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
    OwnFonts& fonts = Fonts();
    switch (cell) {
        case FontCell::TINY_5X8:
            return &fonts.tiny5x8.font;
        case FontCell::SMALL_6X12:
            return &fonts.small6x12.font;
        case FontCell::MEDIUM_BOLD_7X13:
            return &fonts.mediumBold7x13.font;
        case FontCell::LARGE_8X16:
            return &fonts.large8x16.font;
        case FontCell::GIANT_9X15:
            return &fonts.giant9x15.font;
        case FontCell::GIANT_9X16:
            return &fonts.giant9x16.font;
    }
    return &fonts.tiny5x8.font;
}
