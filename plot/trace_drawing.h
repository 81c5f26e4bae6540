#pragma once

#include <gd.h>

#include <string>

#include "dsp/sample_vector.h"
#include "dsp/trace.h"
#include "plot/plot_layout.h"

// The sample values (counts) mapped onto a row's band: min onto the band's top row, max onto
// its bottom row. ResolveAmplitudeRange always gives finite values with max > min.
struct AmplitudeRange {
    float max = 1.2f;
    float min = -1.2f;
};

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
