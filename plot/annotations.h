#pragma once

#include <gd.h>

#include <string>
#include <vector>

#include "dsp/coverage.h"
#include "dsp/filter_band.h"
#include "dsp/pick.h"
#include "plot/plot_layout.h"
#include "plot/trace_drawing.h"

// The latest event of the catalogue, shown in the header on request.
struct EventInfo {
    float lat = 0.0f;         // degrees
    float lon = 0.0f;         // degrees
    double originTime = 0.0;  // epoch seconds
    std::string orid;         // the origin's orid, as the catalogue gives it
};

// Writes "min/max: %.0f/%.0f" (the range's min, then max) in green at the top of row's band,
// from x (pixels). The row loop draws it before the samples, so they cover it.
void DrawMinMaxLabel(gdImagePtr image, const PlotPalette& palette, const PlotLayout& layout,
                     int row, const AmplitudeRange& range, int x = 50);

// Returns the label of a drum's row that starts at rowStart (epoch seconds, UTC): "hh:mm", or
// "dd/mm hh:mm" with the date when withDate is set (the first row and every row that starts a
// new day).
std::string RowTimeText(double rowStart, bool withDate);

// Writes a drum row's time label where a station label stands (x = 3, one pixel below the
// band's top, in the station label's font for the row height, in the text colour). Returns the
// first column right of it.
int DrawRowTime(gdImagePtr image, const PlotPalette& palette, const PlotLayout& layout, int row,
                const std::string& text);

// Returns the first column right of a row time label of text, as DrawRowTime would draw it.
int RowTimeEnd(const PlotLayout& layout, const std::string& text);

// Marks the picks of row that lie in [rowStart, rowEnd] (epoch seconds, both ends included)
// with a vertical line and the phase name in the text colour, and writes the distance of the
// latest of them, in km, at the right end of the row. Appends one palette entry (0,0,0) for
// the distance label on every call, picks or not, so the palette grows by one per row; when
// the palette is full the label takes the palette's first black entry instead.
void DrawPhaseMarks(gdImagePtr image, int textIndex, const PlotLayout& layout, int row,
                    double rowStart, double rowEnd, const PickList& picks);

// Returns the pixel column of a pick at time (epoch seconds) in a row showing
// [rowStart, rowEnd], where DrawPhaseMarks draws its mark.
int PickColumn(const PlotLayout& layout, double rowStart, double rowEnd, double time);

// Marks each stretch of missing time of row with a filled bar in the palette entry gapIndex
// (none when it is negative), three pixel rows high at the bottom of the band (y = top + h - 4
// to top + h - 2), over the columns the samples' time mapping gives from the stretch's start
// up to the column before the one where it ends (at least one column).
void DrawGapBars(gdImagePtr image, int gapIndex, const PlotLayout& layout, int row, double rowStart,
                 double rowEnd, const std::vector<TimeSpan>& gaps);

// Returns a row's completeness (0 .. 1) as the text DrawCompleteness writes: percent with one
// decimal, truncated, such as "99.7%".
std::string CompletenessText(double completeness);

// Writes the row's completeness in the 6x12 font in the text colour at the top of its band,
// ending 87 pixels left of the image's right edge, just left of where the distance label
// stands. Nothing is written in rows lower than 30 pixels, nor where the text would overlap
// the station label (stationLabel; empty when none is drawn, as in segment mode; a drum row's
// time label stands in its place) or the min/max label (minMax; null when none is drawn),
// which starts at minMaxX.
void DrawCompleteness(gdImagePtr image, int textIndex, const PlotLayout& layout, int row,
                      double completeness, const std::string& stationLabel,
                      const AmplitudeRange* minMax, int minMaxX = 50);

// Writes the station and channel codes at the left of row's band in the text colour, and the
// filter band at its right in green when the band is enabled.
void DrawRowLabels(gdImagePtr image, const PlotPalette& palette, const PlotLayout& layout, int row,
                   const std::string& station, const std::string& channel, const FilterBand& band);

// Writes the header line above the first row: the start time (epoch seconds) on the left,
// followed in segment mode by station, channel and the enabled filter band; the end time
// start + windowSeconds on the right when the image is wider than 200 pixels; and the
// event's position and origin time in blue when event is not null and the image is wider
// than 400 pixels. The caller passes a null event unless /SHOWEVENT asked for it and the
// event is known. Draws nothing when labels are off.
void DrawPlotHeader(gdImagePtr image, const PlotPalette& palette, const PlotLayout& layout,
                    double start, int windowSeconds, bool segmentMode, const std::string& station,
                    const std::string& channel, const FilterBand& band, const EventInfo* event);

// Draws the time axis along pixel row y: minute numbers from the whole second at or before
// start, with a pair of tick lines at every number after start, mapping [start, end) (epoch
// seconds) onto [x0, x1). Draws nothing for an empty or non-finite window. The caller draws
// it only when labels are on.
void DrawTimeAxis(gdImagePtr image, int blackIndex, double start, double end, int x0, int x1,
                  int y);

// Returns the minutes between axis numbers for a window (epoch seconds): 60 above two hours,
// 10 above 40 minutes, 5 above 10 minutes, else 1.
int TickStepMinutes(double start, double end);
