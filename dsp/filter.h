#pragma once

// A sample whose value equals this marker exactly is missing and takes no part in filtering.
constexpr float MISSING_SAMPLE = -123456792.0f;

// The coefficients of a cascade of second-order digital sections. Section i uses elements
// 3i, 3i+1, 3i+2: H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2) with (b0, b1, b2)
// from numerator and (1, a1, a2) from denominator.
struct FilterSections {
    float numerator[30] = {};
    float denominator[30] = {};
    int sectionCount = 0;
};

// Designs a Butterworth cascade. order 2..10; type "BP", "BR", "LP" or "HP" (first two
// characters compared); low and high corners in Hz; sampleInterval in seconds.
FilterSections DesignFilter(int order, const char* type, float low, float high,
                            float sampleInterval);

// The coefficients of a cascade designed and kept in double precision, laid out as in
// FilterSections.
struct PreciseFilterSections {
    double numerator[30] = {};
    double denominator[30] = {};
    int sectionCount = 0;
};

// Designs the cascade DesignFilter designs for the same arguments, with every step and every
// coefficient in double precision. A band whose low corner lies near a ten-thousandth of the
// sampling rate needs it: its poles crowd z = 1 so closely that float coefficients move its
// response by percents.
PreciseFilterSections DesignPreciseFilter(int order, const char* type, double low, double high,
                                          double sampleInterval);

// Runs a designed cascade over samples in place, after removing their mean; missing samples
// (and non-finite ones) are skipped and keep their value.
void ApplyFilter(float* samples, int count, const FilterSections& sections);

// What FilterSamples does with a filter at a sample interval.
enum class FilterOutcome {
    AS_ASKED,   // filtered as asked
    HIGH_PASS,  // a band-pass reaching half the sampling rate: a high-pass at its low corner
    LOW_PASS,   // a band-reject reaching half the sampling rate: a low-pass at its low corner
    NO_CORNER,  // no corner below half the sampling rate, or no usable interval: left as it is
    UNBOUNDED,  // the cascade's output would grow without bound: left as it is
};

// Filters one segment in place: typeCode 0 band-pass, 1 low-pass, 2 band-reject,
// 3 high-pass; order clamped to 2..10; corners in Hz; sampleInterval in seconds. A corner at
// or above half the sampling rate is dropped (a band-pass becomes a high-pass at its low
// corner, a band-reject a low-pass at its low corner), and so is a high corner so close to
// it that the band's cascade would grow or ring near half the rate. A segment left without a
// usable corner, with an unusable interval, or whose cascade would still grow without bound
// over the segment (judged over an hour at least) is left unchanged. CheckFilter tells which
// of these happens. A band-pass filtered as asked whose float design strays from the ideal
// Butterworth response by more than a thousandth anywhere between its corners runs the precise
// design instead (DesignPreciseFilter), its sections' states kept in double.
void FilterSamples(float* samples, int count, double sampleInterval, unsigned typeCode, int order,
                   float low, float high);

// Returns what FilterSamples does with a segment of runSamples samples at the given sample
// interval (seconds) for the type code, order and corners (Hz), without filtering anything;
// FilterJoinedSamples does the same with a run of that many samples in all.
FilterOutcome CheckFilter(double sampleInterval, unsigned typeCode, int order, float low,
                          float high, long long runSamples = 0);

// Where a recursion stands between two calls of FilterJoinedSamples that filter one run
// piece by piece: the mean that comes off every sample and the memory of every section.
struct JoinedRunState {
    bool started = false;     // false: the next call starts the run
    double runSeconds = 0.0;  // the whole run's length, when the calls make it longer than each
    double mean = 0.0;
    double memory[10][4] = {};  // x1, x2, y1, y2 of each section
};

// Filters arrayCount arrays in place as if they were one array laid end to end, exactly as
// FilterSamples filters one: a single mean over the samples of all of them, the section states
// started from the first array's first sample and carried from each array into the next, one
// forward pass. counts gives each array's length. For a run of contiguous segments, which
// then filter without a restart at their joins. With a state that has started, the arrays
// go on from where it stands instead (its mean, its memory); with a state at all, it is left
// where the arrays end, so that a later call goes on from there; its runSeconds, when longer
// than the arrays, is the run the filter is judged over.
void FilterJoinedSamples(float* const* arrays, const int* counts, int arrayCount,
                         double sampleInterval, unsigned typeCode, int order, float low, float high,
                         JoinedRunState* state = nullptr);

// Filters two segments in place, each exactly as FilterSamples filters it alone with its own
// sample interval and the shared type code, order and corners. The two cascades run side by
// side, which hides much of the latency of each recursion; the samples come out the same to
// the bit as from two calls of FilterSamples.
void FilterSamplePair(float* first, int firstCount, double firstInterval, float* second,
                      int secondCount, double secondInterval, unsigned typeCode, int order,
                      float low, float high);

// Returns true when this processor filters four segments side by side (it has AVX); otherwise
// FilterSampleQuad filters them as two pairs.
bool FilterSampleQuadAvailable();

// Filters four segments in place, each exactly as FilterSamples filters it alone with its own
// sample interval and the shared type code, order and corners: the four cascades run side by
// side in the lanes of 4-wide vectors where the processor has them, and the samples come out
// the same to the bit as from four calls of FilterSamples.
void FilterSampleQuad(float* const samples[4], const int counts[4], const double intervals[4],
                      unsigned typeCode, int order, float low, float high);

// Returns true when this processor filters eight segments side by side (it has AVX-512);
// otherwise FilterSampleOct filters them as two groups of four.
bool FilterSampleOctAvailable();

// Filters eight segments in place as FilterSampleQuad filters four: side by side in the
// lanes of 8-wide vectors where the processor has them, the same to the bit as one by one.
void FilterSampleOct(float* const samples[8], const int counts[8], const double intervals[8],
                     unsigned typeCode, int order, float low, float high);
