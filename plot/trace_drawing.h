#pragma once

#include <gd.h>

#include <string>
#include <vector>

#include "dsp/sample_vector.h"
#include "dsp/trace.h"
#include "plot/plot_layout.h"

// The sample values (counts) mapped onto a row's band: min onto the band's top row, max onto
// its bottom row. ResolveAmplitudeRange always gives finite values with max > min.
struct AmplitudeRange {
    float max = 1.2f;
    float min = -1.2f;
};

// The extremes of the finite samples of one row or of several: max -FLT_MAX and min FLT_MAX
// while none is found.
struct SampleExtremes {
    float max = -3.40282347e38f;
    float min = 3.40282347e38f;
};

// True for a scale text that asks for the automatic scale: it begins with AUTO in any case.
bool IsAutoScale(const std::string& scaleText);

// Widens extremes to the finite samples of the trace, leaving out NaN and infinite ones.
void AddSampleExtremes(const Trace& trace, SampleExtremes& extremes);

// Settles the automatic range of the samples whose extremes are given, as
// ResolveAmplitudeRange does for one row: no samples give 0 +-1, flat ones value +-1, and the
// range is widened by 1.2 about its middle. For one scale common to several rows, extremes
// holds all their samples'.
AmplitudeRange AutoRange(const SampleExtremes& extremes);

// Settles a row's amplitude range from its scale text: "AUTO..." (any case) runs over every
// sample of the trace, leaving out NaN and infinite ones; "max;min" is a fixed range (0 for
// a missing number, the two ordered); any other text is +-15000. A flat or empty range
// becomes value +-1, and every range is then widened by 1.2 about its middle.
AmplitudeRange ResolveAmplitudeRange(const std::string& scaleText, const Trace& trace);

// Draws one segment into row of the image with the waveform index, mapping the window
// [windowStart, windowEnd] (epoch seconds) onto x = 1 .. width - 1 and the range onto the
// band. Samples sharing a pixel column become one vertical line, and each column is joined
// to the next from its topmost pixel. Nothing is clipped here: samples outside the window or
// range land outside the band and gd clips them to the image. NaN and infinite samples
// are left out as if absent; huge finite ones are drawn at a clamped distance off the image.
// Nothing is drawn for a segment whose rate is not positive and finite, an empty or
// infinite window, or a range without max > min.
void DrawTracePiece(gdImagePtr image, int waveformIndex, const PlotLayout& layout, int row,
                    const AmplitudeRange& range, double windowStart, double windowEnd,
                    const SampleVector& segment);

// What DrawTracePiece draws of one segment, kept as its pixel columns instead of its samples,
// so that the segment can be drawn once a range settled later is known: for each column that
// holds a finite sample, its x, its first finite sample and its smallest and largest ones. A
// segment whose columns are not monotonic (an infinite time) keeps a copy of its samples.
struct TraceColumns {
    struct Column {
        int x;
        float first;
        float low;
        float high;
    };
    std::vector<Column> columns;
    double startTime = 0.0;   // epoch seconds of the segment's first sample
    double sampleRate = 0.0;  // samples per second
    SampleVector samples;     // the samples, where the columns do not stand for them
};

// Reduces one segment to the columns of the window [windowStart, windowEnd] (epoch seconds) in
// the layout's width; nothing for a segment DrawTracePiece would not draw whatever the range.
TraceColumns SummariseTracePiece(const PlotLayout& layout, double windowStart, double windowEnd,
                                 const SampleVector& segment);

// Draws summarised columns into row as DrawTracePiece draws the segment they came from with
// the range: the same pixels.
void DrawTraceColumns(gdImagePtr image, int waveformIndex, const PlotLayout& layout, int row,
                      const AmplitudeRange& range, double windowStart, double windowEnd,
                      const TraceColumns& columns);
