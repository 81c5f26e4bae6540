#include "dsp/filter.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

constexpr int MAX_SECTIONS = 10;
constexpr int MIN_ORDER = 2;
constexpr int MAX_ORDER = 10;

// Missing samples take no part in filtering. Non-finite samples are skipped the same way:
// one of them would otherwise turn the mean and every later output into NaN.
bool IsSkipped(float sample) { return sample == MISSING_SAMPLE || !(std::fabs(sample) <= FLT_MAX); }

// The memory of one second-order section: its last two inputs and its last two outputs,
// float values held as doubles.
struct SectionMemory {
    double x1 = 0.0;
    double x2 = 0.0;
    double y1 = 0.0;
    double y2 = 0.0;
};

// The running sum of the samples that take part in filtering.
struct UsableSum {
    double sum = 0.0;
    int used = 0;
};

// One segment made ready for its cascade: the mean that comes off each sample on the way
// in, whether any sample is to be skipped, and the memory of every section.
struct CascadeRun {
    float* samples = nullptr;
    int count = 0;
    double mean = 0.0;
    bool anySkipped = false;
    SectionMemory memory[MAX_SECTIONS];
};

void AddUsable(const float* samples, int begin, int end, UsableSum& total) {
    for (int i = begin; i < end; ++i) {
        if (IsSkipped(samples[i]))
            continue;
        total.sum += samples[i];
        ++total.used;
    }
}

// True when a sample of samples[0, count) takes no part in filtering. Without a sum to carry
// from sample to sample, the test runs many samples at a time.
bool AnySkipped(const float* samples, int count) {
    // Non-finite values have every exponent bit set; the marker is one value, and no other
    // bit pattern compares equal to it.
    constexpr std::uint32_t EXPONENT = 0x7f800000u;
    std::uint32_t marker = 0;
    std::memcpy(&marker, &MISSING_SAMPLE, sizeof marker);
    unsigned skipped = 0;
    for (int i = 0; i < count; ++i) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, samples + i, sizeof bits);
        skipped |= static_cast<unsigned>((bits & EXPONENT) == EXPONENT) |
                   static_cast<unsigned>(bits == marker);
    }
    return skipped != 0;
}

// Settles the mean and the starting memory of a segment whose samples add up to total.
// Returns false when no sample takes part, so that there is nothing to filter.
bool PrepareRun(float* samples, int count, const UsableSum& total, CascadeRun& run) {
    if (total.used == 0)
        return false;
    run.samples = samples;
    run.count = count;
    run.mean = total.sum / total.used;
    run.anySkipped = total.used != count;
    // Every state starts at the first sample after mean removal, even at the missing-sample
    // marker when sample 0 is missing. A non-finite first sample would poison every state,
    // so the states start at the mean level instead.
    float start = samples[0];
    if (start != MISSING_SAMPLE)
        start = IsSkipped(start) ? 0.0f : static_cast<float>(start - run.mean);
    for (SectionMemory& memory : run.memory) memory = {start, start, start, start};
    return true;
}

// Runs the cascade of sectionCount sections over samples begin .. end - 1 of the run,
// removing the mean from each sample on the way in, and leaves the sections' memory in the
// run. Each section is direct form I. With a float design (FilterSections), each section's
// output is accumulated in double and rounded to float, exactly as a sample stored between
// the sections would be; the states are floats widened to double, which is exact, so keeping
// them as doubles changes no result. With a precise design (PreciseFilterSections) nothing is
// rounded to float on the way: the input less the mean, each section's output and so every
// state stay doubles, and only the sample stored at the end is rounded (rounding the outputs
// would undo much of what the double coefficients gain for a band whose poles crowd z = 1).
// checkSkipped is false when the run has no sample to skip.
template <int sectionCount, bool checkSkipped, typename Sections>
void RunCascade(CascadeRun& run, int begin, int end, const Sections& sections) {
    constexpr bool precise = std::is_same_v<Sections, PreciseFilterSections>;
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
        x1[k] = run.memory[k].x1;
        x2[k] = run.memory[k].x2;
        y1[k] = run.memory[k].y1;
        y2[k] = run.memory[k].y2;
    }
    float* const samples = run.samples;
    const double mean = run.mean;
    for (int i = begin; i < end; ++i) {
        const float sample = samples[i];
        if (checkSkipped && IsSkipped(sample))
            continue;
        double x = sample - mean;
        if constexpr (!precise)
            x = static_cast<float>(x);
        for (int k = 0; k < sectionCount; ++k) {
            double out =
                b0[k] * x + b1[k] * x1[k] + b2[k] * x2[k] - (a1[k] * y1[k] + a2[k] * y2[k]);
            if constexpr (!precise)
                out = static_cast<float>(out);
            y2[k] = y1[k];
            y1[k] = out;
            x2[k] = x1[k];
            x1[k] = x;
            x = out;
        }
        samples[i] = static_cast<float>(x);
    }
    for (int k = 0; k < sectionCount; ++k) run.memory[k] = {x1[k], x2[k], y1[k], y2[k]};
}

template <int sectionCount, typename Sections>
void RunCascade(CascadeRun& run, int begin, int end, const Sections& sections) {
    if (run.anySkipped)
        RunCascade<sectionCount, true>(run, begin, end, sections);
    else
        RunCascade<sectionCount, false>(run, begin, end, sections);
}

// Calls run with std::integral_constant<int, n> for a cascade of n sections (more than
// MAX_SECTIONS run as MAX_SECTIONS), so that every cascade loop is compiled for its count.
template <typename Run>
void WithSectionCount(int sectionCount, const Run& run) {
    switch (sectionCount) {
        case 0:
            run(std::integral_constant<int, 0>());
            break;
        case 1:
            run(std::integral_constant<int, 1>());
            break;
        case 2:
            run(std::integral_constant<int, 2>());
            break;
        case 3:
            run(std::integral_constant<int, 3>());
            break;
        case 4:
            run(std::integral_constant<int, 4>());
            break;
        case 5:
            run(std::integral_constant<int, 5>());
            break;
        case 6:
            run(std::integral_constant<int, 6>());
            break;
        case 7:
            run(std::integral_constant<int, 7>());
            break;
        case 8:
            run(std::integral_constant<int, 8>());
            break;
        case 9:
            run(std::integral_constant<int, 9>());
            break;
        default:
            run(std::integral_constant<int, MAX_SECTIONS>());
            break;
    }
}

// Runs samples begin .. end - 1 of a run through its cascade of up to MAX_SECTIONS sections.
void RunSections(CascadeRun& run, int begin, int end, const FilterSections& sections) {
    WithSectionCount(sections.sectionCount,
                     [&](auto n) { RunCascade<decltype(n)::value>(run, begin, end, sections); });
}

// The cascade a run is filtered with: the float design, or for a band that design misses
// (MissesIdealBand), the precise one.
struct UsableCascade {
    FilterSections sections;
    bool precise = false;
    PreciseFilterSections preciseSections;
};

// Runs samples begin .. end - 1 of a run through its cascade, float or precise. A precise
// cascade always runs one run at a time.
void RunUsableCascade(CascadeRun& run, int begin, int end, const UsableCascade& cascade) {
    if (!cascade.precise) {
        RunSections(run, begin, end, cascade.sections);
        return;
    }
    WithSectionCount(cascade.preciseSections.sectionCount, [&](auto n) {
        RunCascade<decltype(n)::value>(run, begin, end, cascade.preciseSections);
    });
}

#if defined(__x86_64__) || defined(__i386__)
// The cascade of two runs side by side in SSE2's 2-wide vectors, of four in AVX's 4-wide ones
// and of eight in AVX-512's 8-wide ones: one kernel (filter_wide.inc), compiled for each.
#define WIDE_NAME RunCascadePair
#define WIDE_SUMS AddUsablePair
#define WIDE_TARGET "sse2"
#define WIDE_LANES 2
#define WIDE_DOUBLES __m128d
#define WIDE_FLOATS __m128
#define WIDE_WIDEN _mm_cvtps_pd
#define WIDE_NARROW _mm_cvtpd_ps
#include "dsp/filter_wide.inc"

#define WIDE_NAME RunCascadeQuad
#define WIDE_SUMS AddUsableQuad
#define WIDE_TARGET "avx"
#define WIDE_LANES 4
#define WIDE_DOUBLES __m256d
#define WIDE_FLOATS __m128
#define WIDE_WIDEN _mm256_cvtps_pd
#define WIDE_NARROW _mm256_cvtpd_ps
#include "dsp/filter_wide.inc"

#define WIDE_NAME RunCascadeOct
#define WIDE_SUMS AddUsableOct
#define WIDE_TARGET "avx512f"
#define WIDE_LANES 8
#define WIDE_DOUBLES __m512d
#define WIDE_FLOATS __m256
#define WIDE_WIDEN _mm512_cvtps_pd
#define WIDE_NARROW _mm512_cvtpd_ps
// GCC 12's AVX-512 conversions start from an undefined vector, which it then takes for an
// uninitialised one.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "dsp/filter_wide.inc"
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

void RunSectionsWide(int lanes, CascadeRun* const runs[], int count,
                     const FilterSections* const sections[]) {
    WithSectionCount(sections[0]->sectionCount, [&](auto n) {
        if (lanes == 8)
            RunCascadeOct<decltype(n)::value>(runs, count, sections);
        else if (lanes == 4)
            RunCascadeQuad<decltype(n)::value>(runs, count, sections);
        else
            RunCascadePair<decltype(n)::value>(runs, count, sections);
    });
}

void AddUsableWide(int lanes, const float* const samples[], int count, UsableSum totals[]) {
    if (lanes == 8)
        AddUsableOct(samples, count, totals);
    else if (lanes == 4)
        AddUsableQuad(samples, count, totals);
    else
        AddUsablePair(samples, count, totals);
}

// True when this processor runs the cascade of lanes runs side by side: two on every x86-64.
bool HasWideCascade(int lanes) {
    static const bool sse2 = __builtin_cpu_supports("sse2");
    static const bool avx = __builtin_cpu_supports("avx");
    static const bool avx512 = __builtin_cpu_supports("avx512f");
    return lanes == 2 ? sse2 : lanes == 4 ? avx : lanes == 8 && avx512;
}
#else
void RunSectionsWide(int, CascadeRun* const[], int, const FilterSections* const[]) {}
void AddUsableWide(int, const float* const[], int, UsableSum[]) {}

bool HasWideCascade(int) { return false; }
#endif

// True when the corner lies below half the sampling rate, both as given and as the design
// sees it after rounding the product to float; NaN counts as not below.
bool BelowNyquist(float corner, double sampleInterval) {
    const float warpArgument = corner * static_cast<float>(sampleInterval) / 2.0f;
    return static_cast<double>(corner) * sampleInterval < 0.5 && warpArgument < 0.25f;
}

// The roots of c0 z^2 + c1 z + c2, in double from the float coefficients: two for a
// quadratic, one when c0 is 0, none when the polynomial is a constant.
struct Roots {
    std::complex<double> root[2];
    int count = 0;
};

Roots QuadraticRoots(double c0, double c1, double c2) {
    Roots roots;
    if (c0 != 0.0) {
        // The products of float values are exact in double, so a double root shows as a
        // discriminant of exactly 0 rather than as two roots split by rounding.
        const std::complex<double> root = std::sqrt(std::complex<double>(c1 * c1 - 4.0 * c0 * c2));
        roots.root[0] = (-c1 + root) / (2.0 * c0);
        roots.root[1] = (-c1 - root) / (2.0 * c0);
        roots.count = 2;
    } else if (c1 != 0.0) {
        roots.root[0] = -c2 / c1;
        roots.count = 1;
    }
    return roots;
}

// Seconds over which a cascade's output must stay bounded: a segment file holds some
// minutes, and an hour leaves a wide margin for longer ones. A longer run filtered as one
// recursion (a row's files joined through a pre-roll) is judged over its whole length.
constexpr double BOUNDED_SECONDS = 3600.0;

// How much a growing mode may still grow over the part of a run beyond BOUNDED_SECONDS.
constexpr double LATER_GROWTH = 2.0;

// Checks that the cascade's output stays bounded over a run of runSamples samples, and at
// least over BOUNDED_SECONDS of them. A pole outside the unit circle makes a mode that grows
// by |p| every sample; a zero of the same section next to it weighs that mode down by their
// distance. A zero at z = 1 exactly cancels the pole pair at z = 1 of a band-pass whose low
// corner is 0, and float rounding may put one of those poles a hair outside: such a mode
// still grows by less than the input over the hour and does no harm. A pole that really
// grows (a band very narrow against the rate, or a high corner a hair below half the rate)
// is not cancelled that way. Beyond the hour the zero no longer helps: the sections start
// from the first sample, which excites the mode in full, and a later section's pole at
// z = 1 sums it up, so over a run of days a mode that grows by a millionth a sample drifts
// the trace away. There it may grow by at most LATER_GROWTH.
// Returns true when bounded; otherwise false, with nearNyquist set when a growing pole lies
// in the left half-plane, where the frequencies near half the sampling rate map.
bool StaysBounded(const FilterSections& sections, double sampleInterval, long long runSamples,
                  bool& nearNyquist) {
    const double samples = BOUNDED_SECONDS / sampleInterval;
    const double later = std::fmax(0.0, static_cast<double>(runSamples) - samples);
    bool bounded = true;
    nearNyquist = false;
    for (int k = 0; k < sections.sectionCount; ++k) {
        const Roots poles =
            QuadraticRoots(1.0, sections.denominator[3 * k + 1], sections.denominator[3 * k + 2]);
        const Roots zeros = QuadraticRoots(sections.numerator[3 * k], sections.numerator[3 * k + 1],
                                           sections.numerator[3 * k + 2]);
        for (int i = 0; i < poles.count; ++i) {
            const std::complex<double> pole = poles.root[i];
            double weight = 1.0;
            for (int j = 0; j < zeros.count; ++j)
                weight = std::fmin(weight, std::abs(pole - zeros.root[j]));
            // In logarithms: weight x |p|^samples must stay at most 1.
            const double growth = samples * std::log(std::abs(pole)) + std::log(weight);
            if (growth <= 0.0 && later * std::log(std::abs(pole)) <= std::log(LATER_GROWTH))
                continue;
            bounded = false;
            if (pole.real() < 0.0)
                nearNyquist = true;
        }
    }
    return bounded;
}

// A pole of a section closer than this to the unit circle, in the left half-plane, may make
// the cascade ring near half the sampling rate; only such a cascade is tried out.
constexpr double RING_MARGIN = 0.01;

// Samples of the impulse a cascade that may ring is tried out on, and the largest output
// allowed. A pole just inside the unit circle near z = -1 is cancelled by its section's zero
// for a steady input, but not for the sections' start from the first sample: that start
// rings, peaking about a third of 1 / (1 - |p|) samples later at about as many times the
// input, far beyond the start-up that a segment's first seconds or a pre-roll hide. A band
// at 99.8 % of half the rate peaks at under 200 times the impulse, one at 99.98 % at 1700
// times, and one closer still keeps growing.
constexpr int RING_PROBE_SAMPLES = 4096;
constexpr double RING_LIMIT = 1000.0;

// Returns true when the cascade, as the filter runs it, answers a unit impulse with an output
// beyond RING_LIMIT: the cascade's actual gain, start from the first sample and every
// rounding included.
bool RingsNearHalfRate(const FilterSections& sections) {
    bool suspect = false;
    for (int k = 0; k < sections.sectionCount; ++k) {
        const Roots poles =
            QuadraticRoots(1.0, sections.denominator[3 * k + 1], sections.denominator[3 * k + 2]);
        for (int i = 0; i < poles.count; ++i) {
            suspect = suspect ||
                      (poles.root[i].real() < 0.0 && std::abs(poles.root[i]) > 1.0 - RING_MARGIN);
        }
    }
    if (!suspect)
        return false;
    std::vector<float> probe(RING_PROBE_SAMPLES, 0.0f);
    probe[0] = 1.0f;
    UsableSum total;
    AddUsable(probe.data(), 0, RING_PROBE_SAMPLES, total);
    CascadeRun run;
    PrepareRun(probe.data(), RING_PROBE_SAMPLES, total, run);
    RunSections(run, 0, RING_PROBE_SAMPLES, sections);
    for (const float sample : probe) {
        if (!(std::fabs(sample) <= RING_LIMIT))
            return true;
    }
    return false;
}

// How far a band-pass's amplitude response may stray from the ideal one between its corners,
// relative to it, before the band is designed in double precision; and at how many
// frequencies, spaced evenly in logarithm from corner to corner, that is judged.
constexpr double IDEAL_TOLERANCE = 1e-3;
constexpr int IDEAL_PROBES = 64;

// Returns true when the float cascade of a band-pass of the given order between low and high
// (Hz), at the sample interval (seconds), strays from the ideal response by more than
// IDEAL_TOLERANCE somewhere between the corners. The ideal is the Butterworth band-pass of
// that order taken through the bilinear transform with pre-warped corners:
// |H| = 1 / sqrt(1 + x^(2 order)), x = (W^2 - Wl Wh) / ((Wh - Wl) W), W = tan(pi f T). Float
// coefficients keep ordinary bands within a few millionths of it; a band whose low corner
// lies near a ten-thousandth of the rate strays by percents. A band from 0 Hz, which has no
// logarithmic spacing, is left to the float design.
bool MissesIdealBand(const FilterSections& sections, int order, float low, float high,
                     double sampleInterval) {
    if (!(low > 0.0f) || !(low < high))
        return false;
    const double pi = 3.141592653589793;
    const double lowWarped = std::tan(pi * low * sampleInterval);
    const double highWarped = std::tan(pi * high * sampleInterval);
    const double ratio = static_cast<double>(high) / low;
    for (int i = 0; i < IDEAL_PROBES; ++i) {
        const double f = low * std::pow(ratio, i / static_cast<double>(IDEAL_PROBES - 1));
        const double warped = std::tan(pi * f * sampleInterval);
        const double x =
            (warped * warped - lowWarped * highWarped) / ((highWarped - lowWarped) * warped);
        const double ideal = 1.0 / std::sqrt(1.0 + std::pow(x, 2 * order));
        const std::complex<double> z1 = std::polar(1.0, -2.0 * pi * f * sampleInterval);
        std::complex<double> response = 1.0;
        for (int k = 0; k < sections.sectionCount; ++k) {
            const float* b = sections.numerator + 3 * k;
            const float* a = sections.denominator + 3 * k;
            response *= (static_cast<double>(b[0]) +
                         (static_cast<double>(b[1]) + static_cast<double>(b[2]) * z1) * z1) /
                        (1.0 + (static_cast<double>(a[1]) + static_cast<double>(a[2]) * z1) * z1);
        }
        if (std::fabs(std::abs(response) / ideal - 1.0) > IDEAL_TOLERANCE)
            return true;
    }
    return false;
}

// Settles the cascade FilterSamples runs for a sample interval (seconds), type code, order
// and corners (Hz), over a run of runSamples samples. Returns what is done with the run;
// cascade holds the cascade unless the result is FilterOutcome::NO_CORNER or
// FilterOutcome::UNBOUNDED. Whether a band is filtered, and how, is judged on its float
// design alone; only a band-pass filtered as asked whose float design misses the ideal
// response then runs its precise design instead.
FilterOutcome DesignUsableFilter(double sampleInterval, unsigned typeCode, int order, float low,
                                 float high, long long runSamples, UsableCascade& cascade) {
    cascade.precise = false;
    FilterSections& sections = cascade.sections;
    static const char* const TYPES[] = {"BP", "LP", "BR", "HP"};
    if (typeCode > 3)
        return FilterOutcome::NO_CORNER;
    // The design takes the interval as a float; one that is not a positive float value
    // has no filter.
    if (!(sampleInterval > 0.0) || !(sampleInterval <= FLT_MAX) ||
        !(static_cast<float>(sampleInterval) > 0.0f))
        return FilterOutcome::NO_CORNER;
    if (order > MAX_ORDER)
        order = MAX_ORDER;
    if (order < MIN_ORDER)
        order = MIN_ORDER;

    // A corner at or above half the sampling rate warps to a huge or negative frequency and
    // the cascade becomes unstable. Such a corner is dropped: a band-pass reaching past it
    // becomes a high-pass at its low corner, a band-reject a low-pass at its low corner,
    // and a filter left without a corner below half the rate does nothing at all.
    const char* type = TYPES[typeCode];
    FilterOutcome outcome = FilterOutcome::AS_ASKED;
    const bool lowUsable = BelowNyquist(low, sampleInterval);
    const bool highUsable = BelowNyquist(high, sampleInterval);
    switch (typeCode) {
        case 0:
            if (!lowUsable)
                return FilterOutcome::NO_CORNER;
            if (!highUsable) {
                type = "HP";
                outcome = FilterOutcome::HIGH_PASS;
            }
            break;
        case 1:
            if (!highUsable)
                return FilterOutcome::NO_CORNER;
            break;
        case 2:
            if (!lowUsable)
                return FilterOutcome::NO_CORNER;
            if (!highUsable) {
                type = "LP";
                high = low;
                outcome = FilterOutcome::LOW_PASS;
            }
            break;
        default:
            if (!lowUsable)
                return FilterOutcome::NO_CORNER;
            break;
    }

    const float interval = static_cast<float>(sampleInterval);
    sections = DesignFilter(order, type, low, high, interval);
    bool nearNyquist = false;
    const bool bounded = StaysBounded(sections, sampleInterval, runSamples, nearNyquist);
    const bool rings = bounded && RingsNearHalfRate(sections);
    if (bounded && !rings) {
        if (outcome == FilterOutcome::AS_ASKED && typeCode == 0 &&
            MissesIdealBand(sections, order, low, high, sampleInterval)) {
            cascade.precise = true;
            cascade.preciseSections = DesignPreciseFilter(order, type, low, high, sampleInterval);
        }
        return outcome;
    }
    // A high corner just below half the rate can leave a band-pass pole a hair outside the
    // unit circle near z = -1, or a hair inside it, ringing: that band gets the rule of a
    // corner at half the rate. Growth anywhere else, or in what the rule leaves, is not
    // filtered at all.
    if (outcome == FilterOutcome::AS_ASKED && (nearNyquist || rings) &&
        (typeCode == 0 || typeCode == 2)) {
        type = typeCode == 0 ? "HP" : "LP";
        outcome = typeCode == 0 ? FilterOutcome::HIGH_PASS : FilterOutcome::LOW_PASS;
        sections = DesignFilter(order, type, low, low, interval);
        if (StaysBounded(sections, sampleInterval, runSamples, nearNyquist) &&
            !RingsNearHalfRate(sections))
            return outcome;
    }
    return FilterOutcome::UNBOUNDED;
}

// True when a run of count samples at the interval (seconds) is judged as one of an hour.
bool WithinHour(int count, double sampleInterval) {
    return count * sampleInterval <= BOUNDED_SECONDS;
}

bool IsApplied(FilterOutcome outcome) {
    return outcome != FilterOutcome::NO_CORNER && outcome != FilterOutcome::UNBOUNDED;
}

// Runs a cascade, float or precise, over samples in place as ApplyFilter runs a float one.
void ApplyUsableCascade(float* samples, int count, const UsableCascade& cascade) {
    if (!cascade.precise) {
        ApplyFilter(samples, count, cascade.sections);
        return;
    }
    UsableSum total;
    AddUsable(samples, 0, count, total);
    CascadeRun run;
    if (PrepareRun(samples, count, total, run))
        RunUsableCascade(run, 0, count, cascade);
}

}  // namespace

void ApplyFilter(float* samples, int count, const FilterSections& sections) {
    if (samples == nullptr || count <= 0)
        return;
    if (sections.sectionCount < 0 || sections.sectionCount > MAX_SECTIONS)
        return;
    UsableSum total;
    AddUsable(samples, 0, count, total);
    CascadeRun run;
    if (PrepareRun(samples, count, total, run))
        RunSections(run, 0, count, sections);
}

void FilterSamples(float* samples, int count, double sampleInterval, unsigned typeCode, int order,
                   float low, float high) {
    if (samples == nullptr || count <= 0)
        return;
    UsableCascade cascade;
    if (IsApplied(DesignUsableFilter(sampleInterval, typeCode, order, low, high, count, cascade)))
        ApplyUsableCascade(samples, count, cascade);
}

FilterOutcome CheckFilter(double sampleInterval, unsigned typeCode, int order, float low,
                          float high, long long runSamples) {
    UsableCascade cascade;
    return DesignUsableFilter(sampleInterval, typeCode, order, low, high, runSamples, cascade);
}

void FilterJoinedSamples(float* const* arrays, const int* counts, int arrayCount,
                         double sampleInterval, unsigned typeCode, int order, float low, float high,
                         JoinedRunState* state) {
    if (arrays == nullptr || counts == nullptr || arrayCount <= 0 || arrays[0] == nullptr ||
        counts[0] <= 0)
        return;
    // The run is judged over its whole length, the samples of all its arrays.
    long long runSamples = 0;
    for (int a = 0; a < arrayCount; ++a) {
        if (arrays[a] != nullptr && counts[a] > 0)
            runSamples += counts[a];
    }
    if (state != nullptr)
        runSamples = std::max(runSamples, std::llround(state->runSeconds / sampleInterval));
    UsableCascade cascade;
    if (!IsApplied(
            DesignUsableFilter(sampleInterval, typeCode, order, low, high, runSamples, cascade)))
        return;
    // As ApplyFilter over the arrays laid end to end: one mean over all of them, added in
    // their order; states from the first array's first sample; one pass carried across.
    // A run that goes on keeps its mean: only whether each array skips a sample is needed,
    // which takes no sum.
    const bool goingOn = state != nullptr && state->started;
    UsableSum total;
    std::vector<bool> anySkipped(static_cast<std::size_t>(arrayCount), false);
    for (int a = 0; a < arrayCount; ++a) {
        if (arrays[a] == nullptr || counts[a] <= 0)
            continue;
        if (goingOn) {
            anySkipped[static_cast<std::size_t>(a)] = AnySkipped(arrays[a], counts[a]);
            continue;
        }
        const int usedBefore = total.used;
        AddUsable(arrays[a], 0, counts[a], total);
        anySkipped[static_cast<std::size_t>(a)] = total.used - usedBefore != counts[a];
    }
    CascadeRun run;
    if (goingOn) {
        run.mean = state->mean;
        for (int k = 0; k < MAX_SECTIONS; ++k)
            run.memory[k] = {state->memory[k][0], state->memory[k][1], state->memory[k][2],
                             state->memory[k][3]};
    } else if (!PrepareRun(arrays[0], counts[0], total, run)) {
        return;
    }
    for (int a = 0; a < arrayCount; ++a) {
        if (arrays[a] == nullptr || counts[a] <= 0)
            continue;
        run.samples = arrays[a];
        run.count = counts[a];
        run.anySkipped = anySkipped[static_cast<std::size_t>(a)];
        RunUsableCascade(run, 0, counts[a], cascade);
    }
    if (state != nullptr) {
        state->started = true;
        state->mean = run.mean;
        for (int k = 0; k < MAX_SECTIONS; ++k) {
            const SectionMemory& memory = run.memory[k];
            state->memory[k][0] = memory.x1;
            state->memory[k][1] = memory.x2;
            state->memory[k][2] = memory.y1;
            state->memory[k][3] = memory.y2;
        }
    }
}

namespace {

constexpr int MAX_LANES = 8;

// Filters lanes (2, 4 or 8) segments as FilterSamplePair and FilterSampleQuad describe: side
// by side where this processor runs that many lanes, else as two groups of half as many, and
// one by one at the last.
void FilterSampleWide(int lanes, float* const samples[], const int counts[],
                      const double intervals[], unsigned typeCode, int order, float low,
                      float high) {
    UsableCascade cascades[MAX_LANES];
    bool usable[MAX_LANES];
    bool anyPrecise = false;
    for (int lane = 0; lane < lanes; ++lane) {
        usable[lane] = samples[lane] != nullptr && counts[lane] > 0;
        // Segments of one rate share one design, as long as both are judged over the hour.
        if (usable[lane] && lane > 0 && usable[lane - 1] &&
            intervals[lane] == intervals[lane - 1] && WithinHour(counts[lane], intervals[lane]) &&
            WithinHour(counts[lane - 1], intervals[lane - 1]))
            cascades[lane] = cascades[lane - 1];
        else if (usable[lane])
            usable[lane] = IsApplied(DesignUsableFilter(intervals[lane], typeCode, order, low, high,
                                                        counts[lane], cascades[lane]));
        anyPrecise = anyPrecise || (usable[lane] && cascades[lane].precise);
    }
    // The vector kernels run float designs only; a group with a precise one goes one by one.
    bool together = HasWideCascade(lanes) && !anyPrecise;
    for (int lane = 0; lane < lanes; ++lane) {
        together = together && usable[lane] &&
                   cascades[lane].sections.sectionCount == cascades[0].sections.sectionCount;
        for (int other = 0; other < lane; ++other)
            together = together && samples[lane] != samples[other];
    }
    if (!together && lanes > 2 && !anyPrecise) {
        const int half = lanes / 2;
        FilterSampleWide(half, samples, counts, intervals, typeCode, order, low, high);
        FilterSampleWide(half, samples + half, counts + half, intervals + half, typeCode, order,
                         low, high);
        return;
    }
    if (!together) {
        // Each usable segment on its own, an array named twice only once.
        for (int lane = 0; lane < lanes; ++lane) {
            bool named = false;
            for (int other = 0; other < lane; ++other)
                named = named || samples[other] == samples[lane];
            if (usable[lane] && !named)
                ApplyUsableCascade(samples[lane], counts[lane], cascades[lane]);
        }
        return;
    }

    // From here on as ApplyFilter, for all the segments at once as far as they go together.
    CascadeRun runs[MAX_LANES];
    bool prepared[MAX_LANES];
    bool anySkipped = false;
    const int common = *std::min_element(counts, counts + lanes);
    UsableSum totals[MAX_LANES];
    AddUsableWide(lanes, samples, common, totals);
    for (int lane = 0; lane < lanes; ++lane) {
        AddUsable(samples[lane], common, counts[lane], totals[lane]);
        prepared[lane] = PrepareRun(samples[lane], counts[lane], totals[lane], runs[lane]);
        anySkipped = anySkipped || !prepared[lane] || runs[lane].anySkipped;
    }
    int begin = 0;
    if (!anySkipped) {
        CascadeRun* laneRuns[MAX_LANES];
        const FilterSections* laneSections[MAX_LANES];
        for (int lane = 0; lane < lanes; ++lane) {
            laneRuns[lane] = &runs[lane];
            laneSections[lane] = &cascades[lane].sections;
        }
        RunSectionsWide(lanes, laneRuns, common, laneSections);
        begin = common;
    }
    for (int lane = 0; lane < lanes; ++lane) {
        if (prepared[lane])
            RunSections(runs[lane], begin, counts[lane], cascades[lane].sections);
    }
}

}  // namespace

void FilterSamplePair(float* first, int firstCount, double firstInterval, float* second,
                      int secondCount, double secondInterval, unsigned typeCode, int order,
                      float low, float high) {
    float* const samples[2] = {first, second};
    const int counts[2] = {firstCount, secondCount};
    const double intervals[2] = {firstInterval, secondInterval};
    FilterSampleWide(2, samples, counts, intervals, typeCode, order, low, high);
}

bool FilterSampleQuadAvailable() { return HasWideCascade(4); }

bool FilterSampleOctAvailable() { return HasWideCascade(8); }

void FilterSampleQuad(float* const samples[4], const int counts[4], const double intervals[4],
                      unsigned typeCode, int order, float low, float high) {
    FilterSampleWide(4, samples, counts, intervals, typeCode, order, low, high);
}

void FilterSampleOct(float* const samples[8], const int counts[8], const double intervals[8],
                     unsigned typeCode, int order, float low, float high) {
    FilterSampleWide(8, samples, counts, intervals, typeCode, order, low, high);
}
