#include "plot/annotations.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "plot/pixel_coordinate.h"
#include "timeutil/calendar.h"

namespace {

// Formats like snprintf into a string of any length.
__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    char buffer[256];
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, copy);
    va_end(copy);
    std::string text;
    if (length >= 0 && static_cast<size_t>(length) < sizeof buffer) {
        text.assign(buffer, static_cast<size_t>(length));
    } else if (length >= 0) {
        text.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(&text[0], text.size(), format, arguments);
        text.resize(static_cast<size_t>(length));
    }
    va_end(arguments);
    return text;
}

// Draws a text with its first cell's top-left corner at x, y.
void DrawText(gdImagePtr image, gdFontPtr font, int x, int y, std::string text, int color) {
    // gd takes the text as non-const; it does not change it.
    text.push_back('\0');
    gdImageString(image, font, x, y, reinterpret_cast<unsigned char*>(&text[0]), color);
}

// "%02d" of the seconds shows them truncated.
std::string DateTimeText(const CalendarFields& f) {
    return Format("%02d/%02d/%04d %02d:%02d:%02d", f.day, f.month, f.year, f.hour, f.minute,
                  static_cast<int>(f.second));
}

std::string MinMaxText(const AmplitudeRange& range) {
    return Format("min/max: %.0f/%.0f", static_cast<double>(range.min),
                  static_cast<double>(range.max));
}

// Pixels between the right end of the completeness text and the image's right edge: the
// distance label's nine characters of 9 pixels and a gap of one character.
constexpr int COMPLETENESS_RIGHT_GAP = 81 + 6;

// Returns the first palette entry of colour 0,0,0, the colour the per-row entries have.
int BlackEntry(gdImagePtr image) {
    for (int i = 0; i < gdImageColorsTotal(image); ++i) {
        if (gdImageRed(image, i) == 0 && gdImageGreen(image, i) == 0 && gdImageBlue(image, i) == 0)
            return i;
    }
    return 0;
}

}  // namespace

void DrawMinMaxLabel(gdImagePtr image, const PlotPalette& palette, const PlotLayout& layout,
                     int row, const AmplitudeRange& range, int x) {
    const int top = layout.RowTop(row);
    const int y = layout.labelsOn ? top - 17 + layout.bottomMargin : top - 2;
    DrawText(image, FontForRole(FontRole::MIN_MAX_LABEL, layout.rowHeight), x, y, MinMaxText(range),
             palette.green);
}

std::string RowTimeText(double rowStart, bool withDate) {
    const CalendarFields f = CalendarOf(rowStart);
    return withDate ? Format("%02d/%02d %02d:%02d", f.day, f.month, f.hour, f.minute)
                    : Format("%02d:%02d", f.hour, f.minute);
}

int RowTimeEnd(const PlotLayout& layout, const std::string& text) {
    return 3 + FontForRole(FontRole::STATION_LABEL, layout.rowHeight)->w *
                   static_cast<int>(text.size());
}

int DrawRowTime(gdImagePtr image, const PlotPalette& palette, const PlotLayout& layout, int row,
                const std::string& text) {
    DrawText(image, FontForRole(FontRole::STATION_LABEL, layout.rowHeight), 3,
             layout.RowTop(row) + 1, text, palette.text);
    return RowTimeEnd(layout, text);
}

void DrawPhaseMarks(gdImagePtr image, int textIndex, const PlotLayout& layout, int row,
                    double rowStart, double rowEnd, const PickList& picks) {
    int distanceColor = gdImageColorAllocate(image, 0, 0, 0);
    // A full palette (more than 250 rows) has no entry left; the label keeps its colour.
    if (distanceColor < 0)
        distanceColor = BlackEntry(image);
    if (picks.empty())
        return;

    const int top = layout.RowTop(row);
    const int h = layout.rowHeight;
    double latest = -1.0;
    double distance = -1.0;
    for (const Pick& pick : picks) {
        const double t = pick.time;
        if (!(rowStart <= t && t <= rowEnd))
            continue;
        if (t > latest) {
            latest = t;
            distance = pick.distance;
        }
        const int x = PickColumn(layout, rowStart, rowEnd, t);
        gdImageLine(image, x, top + h - 2, x, top + 2, textIndex);
        DrawText(image, FontForRole(FontRole::PHASE_NAME, h), x + 2, top + 4, pick.phase,
                 textIndex);
    }
    if (distance != -1.0) {
        DrawText(image, FontForRole(FontRole::DISTANCE_LABEL, h), layout.width - 81, top,
                 Format("%5.0f km", distance * 111.0), distanceColor);
    }
}

int PickColumn(const PlotLayout& layout, double rowStart, double rowEnd, double time) {
    // A window of no length has all its picks at its start.
    const double span = rowEnd - rowStart;
    return PixelFromDouble(1 + (span != 0.0 ? (layout.width - 2) * (time - rowStart) / span : 0.0));
}

void DrawGapBars(gdImagePtr image, int gapIndex, const PlotLayout& layout, int row, double rowStart,
                 double rowEnd, const std::vector<TimeSpan>& gaps) {
    const double span = rowEnd - rowStart;
    if (gapIndex < 0 || !(span > 0.0) || !std::isfinite(span))
        return;
    const int bottom = layout.RowTop(row) + layout.rowHeight - 2;
    const double xscale = (layout.width - 2) / span;
    for (const TimeSpan& gap : gaps) {
        // The time-to-column mapping of the samples; the column where the next present
        // sample begins belongs to it.
        const int first = PixelFromDouble(1.0 + (gap.start - rowStart) * xscale);
        const int next = PixelFromDouble(1.0 + (gap.end - rowStart) * xscale);
        gdImageFilledRectangle(image, first, bottom - 2, std::max(first, next - 1), bottom,
                               gapIndex);
    }
}

std::string CompletenessText(double completeness) {
    return Format("%.1f%%", CompletenessPercent(completeness));
}

void DrawCompleteness(gdImagePtr image, int textIndex, const PlotLayout& layout, int row,
                      double completeness, const std::string& stationLabel,
                      const AmplitudeRange* minMax, int minMaxX) {
    const int h = layout.rowHeight;
    if (h < 30)
        return;
    const gdFontPtr font = FontForRole(FontRole::FILTER_LABEL, h);
    const std::string text = CompletenessText(completeness);
    const int top = layout.RowTop(row);
    const int x = layout.width - COMPLETENESS_RIGHT_GAP - font->w * static_cast<int>(text.size());
    // Only where it overlaps no other label of the row's top line.
    int leftLimit = 1;
    if (!stationLabel.empty()) {
        const gdFontPtr stationFont = FontForRole(FontRole::STATION_LABEL, h);
        leftLimit = 3 + stationFont->w * static_cast<int>(stationLabel.size()) + font->w;
    }
    if (minMax != nullptr) {
        const int minMaxEnd = minMaxX + font->w * static_cast<int>(MinMaxText(*minMax).size());
        leftLimit = std::max(leftLimit, minMaxEnd + font->w);
    }
    if (x < leftLimit)
        return;
    DrawText(image, font, x, top + 1, text, textIndex);
}

void DrawRowLabels(gdImagePtr image, const PlotPalette& palette, const PlotLayout& layout, int row,
                   const std::string& station, const std::string& channel, const FilterBand& band) {
    const int top = layout.RowTop(row);
    const int h = layout.rowHeight;
    DrawText(image, FontForRole(FontRole::STATION_LABEL, h), 3, top + 1, station, palette.text);
    DrawText(image, FontForRole(FontRole::CHANNEL_LABEL, h), 3, top + h - 11, channel,
             palette.text);
    if (band.enabled) {
        DrawText(image, FontForRole(FontRole::FILTER_LABEL, h), layout.width - 90, top + h - 11,
                 Format("Flt: %.1f-%.1f/%d", static_cast<double>(band.low),
                        static_cast<double>(band.high), band.order),
                 palette.green);
    }
}

void DrawPlotHeader(gdImagePtr image, const PlotPalette& palette, const PlotLayout& layout,
                    double start, int windowSeconds, bool segmentMode, const std::string& station,
                    const std::string& channel, const FilterBand& band, const EventInfo* event) {
    if (!layout.labelsOn)
        return;
    const gdFontPtr font = FontForRole(FontRole::HEADER, layout.rowHeight);
    int headerColor = palette.text;

    std::string left = DateTimeText(CalendarOf(start));
    if (segmentMode) {
        left += "     " + station + "::" + channel;
        if (band.enabled) {
            left += Format("     Flt: %.1f-%.1f/%d", static_cast<double>(band.low),
                           static_cast<double>(band.high), band.order);
        }
    }
    DrawText(image, font, 3, 1, left, headerColor);

    const int w = layout.width;
    if (w > 200) {
        const CalendarFields end = CalendarOf(start + windowSeconds);
        const std::string right = segmentMode ? DateTimeText(end)
                                              : Format("%02d:%02d:%02d", end.hour, end.minute,
                                                       static_cast<int>(end.second));
        // Placed for 9-pixel cells whichever header font is in force.
        DrawText(image, font, w - 9 * static_cast<int>(right.size()) - 2, 1, right, headerColor);
    }

    if (w > 400 && event != nullptr) {
        headerColor = palette.blue;
        const CalendarFields origin = CalendarOf(event->originTime);
        DrawText(image, font, w / 2 - 160, 1,
                 Format("lat=%5.2f lon=%5.2f (%04d/%02d/%02d %02d:%02d:%04.2f)",
                        static_cast<double>(event->lat), static_cast<double>(event->lon),
                        origin.year, origin.month, origin.day, origin.hour, origin.minute,
                        static_cast<double>(origin.second)),
                 headerColor);
    }
}

void DrawTimeAxis(gdImagePtr image, int blackIndex, double start, double end, int x0, int x1,
                  int y) {
    if (!std::isfinite(start) || !std::isfinite(end) || !(end > start))
        return;
    int step = TickStepMinutes(start, end);
    if (step == 0)
        step = 1;
    const gdFontPtr font = FontForRole(FontRole::TIME_AXIS, 0);
    // The numbers count minutes from this whole second, which is start's or, where the
    // division and multiplication by 3600 do not cancel exactly, the one before.
    double t = std::trunc(start / 3600.0 * 3600.0);
    int value = 0;
    while (t < end) {
        const int x =
            PixelFromDouble(x0 + (t - start) * (static_cast<double>(x1) - x0) / (end - start));
        DrawText(image, font, x, y, Format("%d", value), blackIndex);
        if (t > start) {
            gdImageLine(image, x, y - 2, x, y + 2, blackIndex);
            gdImageLine(image, x + 1, y - 2, x + 1, y + 2, blackIndex);
        }
        const double next = t + 60.0 * step;
        // Far from the epoch of real data, adding a step may no longer change t.
        if (next == t || value > INT_MAX - step)
            break;
        t = next;
        value += step;
    }
}

int TickStepMinutes(double start, double end) {
    const double span = (end - start) / 60.0;
    const float minutes =
        std::isnan(span) ? 0.0f : static_cast<float>(std::fmax(std::fmin(span, FLT_MAX), -FLT_MAX));
    if (minutes > 120.0f)
        return 60;
    if (minutes > 40.0f)
        return 10;
    if (minutes > 10.0f)
        return 5;
    return 1;
}
