#include "plot/trace_drawing.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "dsp/filter.h"
#include "platform/run_shared.h"
#include "plot/pixel_coordinate.h"

namespace {

constexpr float WIDEN = 1.2f;

// Samples of a row below which filtering on a second thread costs more than it saves
// (starting a thread takes about as long as filtering a few thousand samples).
constexpr long long MIN_SHARED_FILTER_SAMPLES = 100000;

// Reads the leading number of a scale value as strtod does (0 when there is none) as a
// float; NaN counts as no number and values beyond the float range are cut to it.
float ScaleValue(const char* text) {
    const double value = std::strtod(text, nullptr);
    if (std::isnan(value))
        return 0.0f;
    return static_cast<float>(
        std::clamp(value, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
}

// Widens a range by WIDEN about its middle, with mid and half as floats. The double
// fallbacks and the final separation only come into play near the ends of the float range
// or for ranges narrower than a few float steps, which would otherwise end up infinite or
// empty (a flat row of 2^25 counts: adding 1 does not change the float).
AmplitudeRange Widen(float max, float min) {
    float mid = (max + min) / 2.0f;
    float half = (max - min) / 2.0f;
    if (!std::isfinite(mid))
        mid = static_cast<float>((static_cast<double>(max) + min) / 2.0);
    if (!std::isfinite(half))
        half = static_cast<float>((static_cast<double>(max) - min) / 2.0);
    AmplitudeRange range;
    range.max = std::min(mid + WIDEN * half, FLT_MAX);
    range.min = std::max(mid - WIDEN * half, -FLT_MAX);
    if (!(range.max > range.min)) {
        range.max = mid < FLT_MAX ? std::nextafter(mid, FLT_MAX) : mid;
        range.min = mid > -FLT_MAX ? std::nextafter(mid, -FLT_MAX) : mid;
    }
    return range;
}

// Eight float lanes as two SIMD vectors: the element-wise selects on them below become
// single comparisons and min/max instructions, where a loop over eight scalar lanes stays
// scalar.
typedef float FloatLanes __attribute__((vector_size(16)));
constexpr int LANES = 8;
constexpr int LANES_PER_VECTOR = static_cast<int>(sizeof(FloatLanes) / sizeof(float));
constexpr int VECTORS = LANES / LANES_PER_VECTOR;

// Loads samples[k] into lane k.
inline void LoadLanes(const float* samples, FloatLanes (&lanes)[VECTORS]) {
    std::memcpy(lanes, samples, sizeof lanes);
}

inline void StoreLanes(const FloatLanes (&lanes)[VECTORS], float (&values)[LANES]) {
    std::memcpy(values, lanes, sizeof values);
}

// Widens [min, max] to the finite samples among count: a NaN fails every comparison, and
// an infinity would make the range infinite. Lane k follows samples k, k + 8, k + 16, ...,
// which breaks the chain of one running extreme; the lanes meet in the extremes one pass
// would find.
void ScanFiniteRange(const float* samples, int count, float& max, float& min) {
    const FloatLanes top = FloatLanes{} + FLT_MAX;
    const FloatLanes bottom = FloatLanes{} - FLT_MAX;
    FloatLanes highs[VECTORS];
    FloatLanes lows[VECTORS];
    for (int h = 0; h < VECTORS; ++h) {
        highs[h] = FloatLanes{} + max;
        lows[h] = FloatLanes{} + min;
    }
    int i = 0;
    for (; i + LANES <= count; i += LANES) {
        FloatLanes values[VECTORS];
        LoadLanes(samples + i, values);
        for (int h = 0; h < VECTORS; ++h) {
            const FloatLanes v = values[h];
            const FloatLanes forMax = v <= top ? v : bottom;
            const FloatLanes forMin = v >= bottom ? v : top;
            highs[h] = forMax > highs[h] ? forMax : highs[h];
            lows[h] = forMin < lows[h] ? forMin : lows[h];
        }
    }
    float highest[LANES];
    float lowest[LANES];
    StoreLanes(highs, highest);
    StoreLanes(lows, lowest);
    for (; i < count; ++i) {
        const float v = samples[i];
        if (v > highest[0] && v <= FLT_MAX)
            highest[0] = v;
        if (v < lowest[0] && v >= -FLT_MAX)
            lowest[0] = v;
    }
    for (int k = 0; k < LANES; ++k) {
        max = highest[k] > max ? highest[k] : max;
        min = lowest[k] < min ? lowest[k] : min;
    }
}

// The constants that map one segment's samples onto pixels.
struct PieceMapping {
    double startTime;    // epoch seconds of sample 0
    double sampleRate;   // samples per second
    double windowStart;  // epoch seconds mapped to x = 1
    double xscale;       // pixels per second
    double height;       // image height H
    double rowOffset;    // H - row top
    double min;          // the range's min, mapped to the row top
    double yscale;       // pixels per count, negative for any band of positive height
};

// x of sample j: trunc(1 + (t_j - S) * xscale) with t_j = startTime + j / sampleRate.
inline int ColumnOf(const PieceMapping& m, int j) {
    const double t = m.startTime + static_cast<double>(j) / m.sampleRate;
    return PixelFromDouble(1.0 + (t - m.windowStart) * m.xscale);
}

// y of a value: H - trunc((H - r) + (s - min) * yscale), so larger values lie lower.
inline int RowOf(const PieceMapping& m, float sample) {
    const double v = m.rowOffset + (static_cast<double>(sample) - m.min) * m.yscale;
    return PixelFromDouble(m.height - std::trunc(v));
}

// The column-run rule, sample by sample: the reference form, used whenever the fast form's
// conditions do not hold.
void DrawSampleBySample(gdImagePtr image, int color, const PieceMapping& m, const float* samples,
                        int count) {
    bool open = false;
    int column = 0;
    int lo = 0;
    int hi = 0;
    for (int j = 0; j < count; ++j) {
        const float sample = samples[j];
        if (!std::isfinite(sample))
            continue;
        const int x = ColumnOf(m, j);
        const int y = RowOf(m, sample);
        if (open && x == column) {
            lo = std::min(lo, y);
            hi = std::max(hi, y);
            continue;
        }
        if (open) {
            gdImageLine(image, column, lo, x, y, color);
            if (lo != hi)
                gdImageLine(image, column, lo, column, hi, color);
        }
        open = true;
        column = x;
        lo = y;
        hi = y;
    }
    if (open && lo != hi)
        gdImageLine(image, column, lo, column, hi, color);
}

// Returns the first index after first whose column differs from column (or count), given
// that ColumnOf is monotonic in j, so that the samples of one column are contiguous.
// Gallops forward, then bisects: a column of k samples costs about 2 log2(k) evaluations.
int ColumnEnd(const PieceMapping& m, int first, int column, int count) {
    // Invariant: known lies in the column; probe is count or the index of a later column.
    int known = first;
    int probe = count;
    long long step = 1;
    while (step < count - known) {
        const int candidate = known + static_cast<int>(step);
        if (ColumnOf(m, candidate) != column) {
            probe = candidate;
            break;
        }
        known = candidate;
        step *= 2;
    }
    while (probe - known > 1) {
        const int middle = known + (probe - known) / 2;
        if (ColumnOf(m, middle) == column)
            known = middle;
        else
            probe = middle;
    }
    return probe;
}

// Finds the smallest and largest of count samples, the first of which is finite; NaN and
// infinite samples are passed over (an infinity minus itself is NaN, so the blend replaces
// them by the first sample). Eight lanes, as in ScanFiniteRange.
void ColumnExtremes(const float* samples, int count, float& low, float& high) {
    const FloatLanes seed = FloatLanes{} + samples[0];
    const FloatLanes zero = FloatLanes{};
    FloatLanes lows[VECTORS];
    FloatLanes highs[VECTORS];
    for (int h = 0; h < VECTORS; ++h) {
        lows[h] = seed;
        highs[h] = seed;
    }
    int i = 0;
    for (; i + LANES <= count; i += LANES) {
        FloatLanes values[VECTORS];
        LoadLanes(samples + i, values);
        for (int h = 0; h < VECTORS; ++h) {
            const FloatLanes v = values[h] - values[h] == zero ? values[h] : seed;
            lows[h] = v < lows[h] ? v : lows[h];
            highs[h] = v > highs[h] ? v : highs[h];
        }
    }
    float lowest[LANES];
    float highest[LANES];
    StoreLanes(lows, lowest);
    StoreLanes(highs, highest);
    for (; i < count; ++i) {
        const float v = std::isfinite(samples[i]) ? samples[i] : samples[0];
        lowest[0] = v < lowest[0] ? v : lowest[0];
        highest[0] = v > highest[0] ? v : highest[0];
    }
    low = lowest[0];
    high = highest[0];
    for (int k = 1; k < LANES; ++k) {
        low = lowest[k] < low ? lowest[k] : low;
        high = highest[k] > high ? highest[k] : high;
    }
}

// The column-run rule a column at a time, for a monotonic x and a decreasing y mapping:
// then the samples of a column are contiguous, and its topmost and lowest pixels are those
// of its smallest and largest value, so each column costs one pass of min/max and a few
// exact evaluations of x and y. The pixels are those of DrawSampleBySample.
void DrawColumnByColumn(gdImagePtr image, int color, const PieceMapping& m, const float* samples,
                        int count) {
    bool open = false;
    int column = 0;
    int lo = 0;
    int hi = 0;
    int j = 0;
    while (j < count) {
        const int x = ColumnOf(m, j);
        const int end = ColumnEnd(m, j, x, count);
        int first = j;
        while (first < end && !std::isfinite(samples[first])) ++first;
        if (first < end) {
            if (open) {
                gdImageLine(image, column, lo, x, RowOf(m, samples[first]), color);
                if (lo != hi)
                    gdImageLine(image, column, lo, column, hi, color);
            }
            float low = 0.0f;
            float high = 0.0f;
            ColumnExtremes(samples + first, end - first, low, high);
            open = true;
            column = x;
            lo = RowOf(m, low);
            hi = RowOf(m, high);
        }
        j = end;
    }
    if (open && lo != hi)
        gdImageLine(image, column, lo, column, hi, color);
}

// Returns the sample interval (seconds) a segment is filtered with, or 0 when the segment
// has no samples or no usable rate, and so no filter to design.
double FilterInterval(const SampleVector& segment) {
    if (segment.samples == nullptr || segment.sampleCount < 1 || !(segment.sampleRate > 0.0) ||
        !std::isfinite(segment.sampleRate))
        return 0.0;
    const double interval = 1.0 / segment.sampleRate;
    return std::isfinite(interval) ? interval : 0.0;
}

// The filter starts from the first sample's value, not from its steady state: the first ten
// seconds of a filtered segment are covered with the ten seconds after them.
void HideTransient(SampleVector& segment) {
    const double transient = 10.0 * std::trunc(segment.sampleRate);
    if (2.0 * transient < segment.sampleCount) {
        const int k = static_cast<int>(transient);
        std::copy(segment.samples + k, segment.samples + 2 * k, segment.samples);
    }
}

// Filters one segment in place and hides its start-up transient.
void PrepareSegment(SampleVector& segment, const FilterBand& band) {
    const double interval = FilterInterval(segment);
    if (interval == 0.0)
        return;
    FilterSamples(segment.samples, segment.sampleCount, interval, 0, band.order, band.low,
                  band.high);
    HideTransient(segment);
}

// Filters two segments in place, side by side, each as PrepareSegment would.
void PrepareSegmentPair(SampleVector& first, SampleVector& second, const FilterBand& band) {
    const double firstInterval = FilterInterval(first);
    const double secondInterval = FilterInterval(second);
    if (firstInterval == 0.0 || secondInterval == 0.0) {
        PrepareSegment(first, band);
        PrepareSegment(second, band);
        return;
    }
    FilterSamplePair(first.samples, first.sampleCount, firstInterval, second.samples,
                     second.sampleCount, secondInterval, 0, band.order, band.low, band.high);
    HideTransient(first);
    HideTransient(second);
}

// Filters four or eight segments in place, side by side, each as PrepareSegment would: a
// segment without a rate is handed over as no samples, which the filter leaves alone.
void PrepareSegmentWide(SampleVector* const segments[], int lanes, const FilterBand& band) {
    float* samples[MAX_FILTER_GROUP];
    int counts[MAX_FILTER_GROUP];
    double intervals[MAX_FILTER_GROUP];
    for (int lane = 0; lane < lanes; ++lane) {
        intervals[lane] = FilterInterval(*segments[lane]);
        const bool rated = intervals[lane] != 0.0;
        samples[lane] = rated ? segments[lane]->samples : nullptr;
        counts[lane] = rated ? segments[lane]->sampleCount : 0;
    }
    if (lanes == 8)
        FilterSampleOct(samples, counts, intervals, 0, band.order, band.low, band.high);
    else
        FilterSampleQuad(samples, counts, intervals, 0, band.order, band.low, band.high);
    for (int lane = 0; lane < lanes; ++lane) {
        if (intervals[lane] != 0.0)
            HideTransient(*segments[lane]);
    }
}

// True when segment b continues segment a: the same rate, and b starting within half a sample
// interval of a's end.
bool Continues(const SampleVector& a, const SampleVector& b) {
    return a.sampleRate == b.sampleRate &&
           std::fabs(b.startTime - a.EndTime()) <= 0.5 / a.sampleRate;
}

// Drops the samples of segment that lie before time (epoch seconds), moving the others to the
// front of its array; a segment left without samples keeps its array but counts none.
void DropSamplesBefore(SampleVector& segment, double time) {
    const int count = segment.sampleCount;
    const double rate = segment.sampleRate;
    // Sample j lies at startTime + j / rate, as the drawing places it; the estimate is
    // settled against that formula itself.
    const double estimate = std::ceil((time - segment.startTime) * rate);
    int dropped = estimate <= 0.0 ? 0 : estimate >= count ? count : static_cast<int>(estimate);
    while (dropped > 0 && segment.startTime + (dropped - 1) / rate >= time) --dropped;
    while (dropped < count && segment.startTime + dropped / rate < time) ++dropped;
    if (dropped == 0)
        return;
    std::copy(segment.samples + dropped, segment.samples + count, segment.samples);
    segment.sampleCount = count - dropped;
    segment.startTime += dropped / rate;
}

}  // namespace

int SegmentFilterGroup(int segmentCount) {
    // Where the processor has 8-wide (4-wide) vectors, eight (four) segments run side by side,
    // as long as the two threads sharing a row get a group each.
    if (FilterSampleOctAvailable() && segmentCount >= 16)
        return 8;
    return FilterSampleQuadAvailable() && segmentCount >= 8 ? 4 : 2;
}

void PrepareSegmentGroup(SampleVector* const* segments, int count, const FilterBand& band) {
    if (!band.enabled)
        return;
    int j = 0;
    for (const int lanes : {8, 4}) {
        const bool available =
            lanes == 8 ? FilterSampleOctAvailable() : FilterSampleQuadAvailable();
        for (; available && j + lanes <= count; j += lanes)
            PrepareSegmentWide(segments + j, lanes, band);
    }
    for (; j + 1 < count; j += 2) PrepareSegmentPair(*segments[j], *segments[j + 1], band);
    if (j < count)
        PrepareSegment(*segments[j], band);
}

void PrepareRowSamples(Trace& trace, const FilterBand& band) {
    if (!band.enabled)
        return;
    const int count = trace.SegmentCount();
    long long samples = 0;
    for (int i = 0; i < count; ++i) samples += std::max(trace.SegmentAt(i).sampleCount, 0);

    // The recursive filter is bound by the latency of its sections, not by memory, and the
    // segments are filtered independently of each other: segments are taken four (or two) at
    // a time and run side by side, and a second thread takes groups from the same queue while
    // this one works. Every segment comes out as if filtered alone. A row too small to repay
    // starting a thread is filtered here.
    const int group = SegmentFilterGroup(count);
    std::atomic<int> next{0};
    const auto work = [&trace, &band, &next, count, group] {
        SampleVector* segments[MAX_FILTER_GROUP];
        for (int i = next.fetch_add(group); i < count; i = next.fetch_add(group)) {
            const int end = std::min(count, i + group);
            for (int j = i; j < end; ++j) segments[j - i] = &trace.SegmentAt(j);
            PrepareSegmentGroup(segments, end - i, band);
        }
    };
    RunShared(count > 1 && samples >= MIN_SHARED_FILTER_SAMPLES, work);
}

void FilterJoinedRowSamples(Trace& trace, const FilterBand& band) {
    if (!band.enabled)
        return;
    // Runs of contiguous segments with a usable rate and samples, as [first, end) indices.
    std::vector<std::pair<int, int>> runs;
    const int count = trace.SegmentCount();
    long long samples = 0;
    for (int i = 0; i < count; ++i) {
        const SampleVector& segment = trace.SegmentAt(i);
        if (segment.samples == nullptr || segment.sampleCount <= 0 ||
            FilterInterval(segment) == 0.0)
            continue;
        samples += segment.sampleCount;
        if (!runs.empty() && runs.back().second == i && Continues(trace.SegmentAt(i - 1), segment))
            runs.back().second = i + 1;
        else
            runs.emplace_back(i, i + 1);
    }

    // Each run is one recursion; runs are independent, so a second thread takes runs from
    // the same queue, and every run comes out the same either way.
    std::atomic<std::size_t> next{0};
    const auto work = [&trace, &band, &runs, &next] {
        std::vector<float*> arrays;
        std::vector<int> counts;
        for (std::size_t r = next++; r < runs.size(); r = next++) {
            arrays.clear();
            counts.clear();
            for (int i = runs[r].first; i < runs[r].second; ++i) {
                arrays.push_back(trace.SegmentAt(i).samples);
                counts.push_back(trace.SegmentAt(i).sampleCount);
            }
            const SampleVector& first = trace.SegmentAt(runs[r].first);
            FilterJoinedSamples(arrays.data(), counts.data(), static_cast<int>(arrays.size()),
                                FilterInterval(first), 0, band.order, band.low, band.high);
        }
    };
    RunShared(runs.size() > 1 && samples >= MIN_SHARED_FILTER_SAMPLES, work);
}

void DropPreroll(Trace& trace, double keepFrom) {
    for (int i = 0; i < trace.SegmentCount(); ++i) {
        SampleVector& segment = trace.SegmentAt(i);
        if (segment.samples != nullptr && segment.sampleCount > 0 && segment.sampleRate > 0.0)
            DropSamplesBefore(segment, keepFrom);
    }
    trace.RemoveEmptySegments();
}

AmplitudeRange ResolveAmplitudeRange(const std::string& scaleText, const Trace& trace) {
    std::string upper = scaleText;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    float max = 0.0f;
    float min = 0.0f;
    if (upper.compare(0, 4, "AUTO") == 0) {
        max = -FLT_MAX;
        min = FLT_MAX;
        for (int i = 0; i < trace.SegmentCount(); ++i) {
            const SampleVector& segment = trace.SegmentAt(i);
            if (segment.samples != nullptr)
                ScanFiniteRange(segment.samples, segment.sampleCount, max, min);
        }
        if (max == -FLT_MAX) {
            max = 0.0f;
            min = 0.0f;
        }
    } else {
        const size_t separator = upper.rfind(';');
        if (separator == std::string::npos) {
            max = 15000.0f;
            min = -15000.0f;
        } else {
            max = ScaleValue(upper.substr(0, separator).c_str());
            min = ScaleValue(upper.c_str() + separator + 1);
        }
        if (max < min)
            std::swap(max, min);
    }
    if (max == min) {
        max = max + 1.0f;
        min = min - 1.0f;
    }
    return Widen(max, min);
}

void DrawTracePiece(gdImagePtr image, int waveformIndex, const PlotLayout& layout, int row,
                    const AmplitudeRange& range, double windowStart, double windowEnd,
                    const SampleVector& segment) {
    const int count = segment.sampleCount;
    if (segment.samples == nullptr || count < 2)
        return;
    const double span = windowEnd - windowStart;
    const double amplitudeSpan = static_cast<double>(range.max) - range.min;
    // Without a window, a range or a rate no sample has a pixel.
    if (span == 0.0 || !std::isfinite(span) || !(amplitudeSpan > 0.0) ||
        !(segment.sampleRate > 0.0) || !std::isfinite(segment.sampleRate) ||
        !std::isfinite(segment.startTime))
        return;
    PieceMapping m;
    m.startTime = segment.startTime;
    m.sampleRate = segment.sampleRate;
    m.windowStart = windowStart;
    m.xscale = (layout.width - 1 - 1) / span;
    m.height = layout.height;
    m.rowOffset = layout.height - layout.RowTop(row);
    m.min = range.min;
    m.yscale = -layout.rowHeight / amplitudeSpan;

    // The column form needs x finite and monotonic over the segment (it is when both ends
    // are finite) and a negative yscale, so that y never decreases as the value grows.
    const double lastTime = m.startTime + static_cast<double>(count - 1) / m.sampleRate;
    const double firstX = 1.0 + (m.startTime - m.windowStart) * m.xscale;
    const double lastX = 1.0 + (lastTime - m.windowStart) * m.xscale;
    if (std::isfinite(firstX) && std::isfinite(lastX) && std::isfinite(m.yscale) && m.yscale < 0.0)
        DrawColumnByColumn(image, waveformIndex, m, segment.samples, count);
    else
        DrawSampleBySample(image, waveformIndex, m, segment.samples, count);
}
