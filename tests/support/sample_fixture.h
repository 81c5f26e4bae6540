#pragma once

#include <cstddef>
#include <vector>

#include "dsp/filter_band.h"
#include "dsp/sample_vector.h"

// A segment holding values at sampleRate, its first sample at startTime (epoch seconds).
inline SampleVector MakeSegment(const std::vector<float>& values, double sampleRate,
                                double startTime) {
    SampleVector segment;
    segment.AllocateZeros(static_cast<int>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) segment.samples[i] = values[i];
    segment.sampleRate = sampleRate;
    segment.startTime = startTime;
    return segment;
}

// A band-pass of order 3 from low to high Hz, switched on or not.
inline FilterBand Band(float low, float high, bool enabled = true) {
    FilterBand band;
    band.low = low;
    band.high = high;
    band.order = 3;
    band.enabled = enabled;
    return band;
}
