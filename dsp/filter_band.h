#pragma once

// A band-pass setting of a row: corners in Hz and the filter order. It is enabled exactly
// when both corners are non-negative and low < high.
struct FilterBand {
    float low = 0.0f;   // Hz
    float high = 0.0f;  // Hz
    int order = 3;
    bool enabled = false;
};
