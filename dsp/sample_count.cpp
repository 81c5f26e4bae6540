#include "dsp/sample_count.h"

#include <cmath>

double TruncateSamples(double samples, double rate) {
    // Only a value that falls short of a whole number, away from zero, changes: one just past
    // a whole number truncates to it anyway.
    const double whole = std::round(samples);
    if (std::fabs(samples - whole) <= TIME_ROUNDING * rate)
        return whole;
    return std::trunc(samples);
}
