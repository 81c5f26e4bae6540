#include "dsp/filter.h"

#include <cfloat>
#include <cmath>

namespace {

constexpr int MAX_SECTIONS = 10;
constexpr int MIN_ORDER = 2;
constexpr int MAX_ORDER = 10;

// Missing samples take no part in filtering. Non-finite samples are skipped the same way:
// one of them would otherwise turn the mean and every later output into NaN.
bool IsSkipped(float sample) { return sample == MISSING_SAMPLE || !(std::fabs(sample) <= FLT_MAX); }

// Runs the cascade of sectionCount sections over the samples, removing the mean from each
// sample on the way in. Each section is direct form I; its output is accumulated in double
// and rounded to float, exactly as a sample stored between the sections would be. The
// states are floats widened to double, which is exact, so keeping them as doubles changes
// no result. checkSkipped is false when the caller found no sample to skip.
template <int sectionCount, bool checkSkipped>
void RunCascade(float* samples, int count, double mean, float start,
                const FilterSections& sections) {
    double b0[sectionCount + 1];
    double b1[sectionCount + 1];
    double b2[sectionCount + 1];
    double a1[sectionCount + 1];
    double a2[sectionCount + 1];
    double x1[sectionCount + 1];
    double x2[sectionCount + 1];
    double y1[sectionCount + 1];
    double y2[sectionCount + 1];
    for (int k = 0; k < sectionCount; ++k) {
        b0[k] = sections.numerator[3 * k];
        b1[k] = sections.numerator[3 * k + 1];
        b2[k] = sections.numerator[3 * k + 2];
        a1[k] = sections.denominator[3 * k + 1];
        a2[k] = sections.denominator[3 * k + 2];
        x1[k] = start;
        x2[k] = start;
        y1[k] = start;
        y2[k] = start;
    }
    for (int i = 0; i < count; ++i) {
        const float sample = samples[i];
        if (checkSkipped && IsSkipped(sample))
            continue;
        double x = static_cast<float>(sample - mean);
        for (int k = 0; k < sectionCount; ++k) {
            const double out = static_cast<float>(b0[k] * x + b1[k] * x1[k] + b2[k] * x2[k] -
                                                  (a1[k] * y1[k] + a2[k] * y2[k]));
            y2[k] = y1[k];
            y1[k] = out;
            x2[k] = x1[k];
            x1[k] = x;
            x = out;
        }
        samples[i] = static_cast<float>(x);
    }
}

template <int sectionCount>
void RunCascade(float* samples, int count, double mean, float start, const FilterSections& sections,
                bool anySkipped) {
    if (anySkipped)
        RunCascade<sectionCount, true>(samples, count, mean, start, sections);
    else
        RunCascade<sectionCount, false>(samples, count, mean, start, sections);
}

// True when the corner lies below half the sampling rate, both as given and as the design
// sees it after rounding the product to float; NaN counts as not below.
bool BelowNyquist(float corner, double sampleInterval) {
    const float warpArgument = corner * static_cast<float>(sampleInterval) / 2.0f;
    return static_cast<double>(corner) * sampleInterval < 0.5 && warpArgument < 0.25f;
}

// True when no pole of the cascade lies outside the unit circle by more than float
// rounding: the real pole of an odd low-pass or high-pass sits at z = -1, cancelled by a
// zero, and its float coefficients may put it a hair outside, which does no harm.
bool IsStable(const FilterSections& sections) {
    double largest = 0.0;
    for (int k = 0; k < sections.sectionCount; ++k) {
        const double a1 = sections.denominator[3 * k + 1];
        const double a2 = sections.denominator[3 * k + 2];
        const double discriminant = a1 * a1 - 4.0 * a2;
        const double magnitude =
            discriminant < 0.0 ? std::sqrt(a2) : (std::fabs(a1) + std::sqrt(discriminant)) / 2.0;
        largest = std::fmax(largest, magnitude);
        if (std::isnan(magnitude))
            return false;
    }
    return largest <= 1.0 + 1e-6;
}

}  // namespace

void ApplyFilter(float* samples, int count, const FilterSections& sections) {
    if (samples == nullptr || count <= 0)
        return;
    if (sections.sectionCount < 0 || sections.sectionCount > MAX_SECTIONS)
        return;

    double sum = 0.0;
    int used = 0;
    for (int i = 0; i < count; ++i) {
        if (IsSkipped(samples[i]))
            continue;
        sum += samples[i];
        ++used;
    }
    if (used == 0)
        return;
    const double mean = sum / used;

    // The states start at the first sample after mean removal, even at the missing-sample
    // marker when sample 0 is missing. A non-finite first sample would poison every state,
    // so the states start at the mean level instead.
    float start = samples[0];
    if (start != MISSING_SAMPLE)
        start = IsSkipped(start) ? 0.0f : static_cast<float>(start - mean);

    const bool anySkipped = used != count;
    switch (sections.sectionCount) {
        case 0:
            RunCascade<0>(samples, count, mean, start, sections, anySkipped);
            break;
        case 1:
            RunCascade<1>(samples, count, mean, start, sections, anySkipped);
            break;
        case 2:
            RunCascade<2>(samples, count, mean, start, sections, anySkipped);
            break;
        case 3:
            RunCascade<3>(samples, count, mean, start, sections, anySkipped);
            break;
        case 4:
            RunCascade<4>(samples, count, mean, start, sections, anySkipped);
            break;
        case 5:
            RunCascade<5>(samples, count, mean, start, sections, anySkipped);
            break;
        case 6:
            RunCascade<6>(samples, count, mean, start, sections, anySkipped);
            break;
        case 7:
            RunCascade<7>(samples, count, mean, start, sections, anySkipped);
            break;
        case 8:
            RunCascade<8>(samples, count, mean, start, sections, anySkipped);
            break;
        case 9:
            RunCascade<9>(samples, count, mean, start, sections, anySkipped);
            break;
        default:
            RunCascade<10>(samples, count, mean, start, sections, anySkipped);
            break;
    }
}

void FilterSamples(float* samples, int count, double sampleInterval, unsigned typeCode, int order,
                   float low, float high) {
    static const char* const TYPES[] = {"BP", "LP", "BR", "HP"};
    if (samples == nullptr || count <= 0 || typeCode > 3)
        return;
    // The design takes the interval as a float; one that is not a positive float value
    // has no filter.
    if (!(sampleInterval > 0.0) || !(sampleInterval <= FLT_MAX) ||
        !(static_cast<float>(sampleInterval) > 0.0f))
        return;
    if (order > MAX_ORDER)
        order = MAX_ORDER;
    if (order < MIN_ORDER)
        order = MIN_ORDER;

    // A corner at or above half the sampling rate warps to a huge or negative frequency and
    // the cascade becomes unstable. Such a corner is dropped: a band-pass reaching past it
    // becomes a high-pass at its low corner, a band-reject a low-pass at its low corner,
    // and a filter left without a corner below half the rate does nothing at all.
    const char* type = TYPES[typeCode];
    const bool lowUsable = BelowNyquist(low, sampleInterval);
    const bool highUsable = BelowNyquist(high, sampleInterval);
    switch (typeCode) {
        case 0:
            if (!lowUsable)
                return;
            if (!highUsable)
                type = "HP";
            break;
        case 1:
            if (!highUsable)
                return;
            break;
        case 2:
            if (!lowUsable)
                return;
            if (!highUsable) {
                type = "LP";
                high = low;
            }
            break;
        default:
            if (!lowUsable)
                return;
            break;
    }

    // Float coefficients can still put a pole outside the unit circle, for a band very
    // narrow against the sampling rate or a corner a hair below half the rate; such a
    // cascade would grow without bound, so the segment is better left as it is.
    const FilterSections sections =
        DesignFilter(order, type, low, high, static_cast<float>(sampleInterval));
    if (!IsStable(sections))
        return;
    ApplyFilter(samples, count, sections);
}
