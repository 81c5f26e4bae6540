#include "plot/trace_drawing.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "plot/pixel_coordinate.h"

namespace {

constexpr float WIDEN = 1.2f;

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

// Walks the samples of a segment a pixel column at a time, for a monotonic x: the samples of
// a column are contiguous. Calls column(x, first, low, high) for every column that holds a
// finite sample, with the first finite sample and the smallest and largest ones; each column
// costs one pass of min/max and a few exact evaluations of x.
template <typename Column>
void ForEachColumn(const PieceMapping& m, const float* samples, int count, const Column& column) {
    int j = 0;
    while (j < count) {
        const int x = ColumnOf(m, j);
        const int end = ColumnEnd(m, j, x, count);
        int first = j;
        while (first < end && !std::isfinite(samples[first])) ++first;
        if (first < end) {
            float low = 0.0f;
            float high = 0.0f;
            ColumnExtremes(samples + first, end - first, low, high);
            column(x, samples[first], low, high);
        }
        j = end;
    }
}

// Draws the column-run rule from a segment's columns in order (x, first, low, high), for a
// decreasing y mapping: a column's topmost and lowest pixels are those of its smallest and
// largest value. The pixels are those of DrawSampleBySample.
class ColumnRuns {
public:
    ColumnRuns(gdImagePtr target, int colorIndex, const PieceMapping& mapping)
        : image(target), color(colorIndex), m(mapping) {}
    void operator()(int x, float first, float low, float high) {
        if (open) {
            gdImageLine(image, column, lo, x, RowOf(m, first), color);
            if (lo != hi)
                gdImageLine(image, column, lo, column, hi, color);
        }
        open = true;
        column = x;
        lo = RowOf(m, low);
        hi = RowOf(m, high);
    }
    void Finish() {
        if (open && lo != hi)
            gdImageLine(image, column, lo, column, hi, color);
    }

private:
    gdImagePtr image;
    int color;
    const PieceMapping& m;
    bool open = false;
    int column = 0;
    int lo = 0;
    int hi = 0;
};

// The column-run rule a column at a time, for a monotonic x and a decreasing y mapping.
void DrawColumnByColumn(gdImagePtr image, int color, const PieceMapping& m, const float* samples,
                        int count) {
    ColumnRuns runs(image, color, m);
    ForEachColumn(m, samples, count, [&runs](int x, float first, float low, float high) {
        runs(x, first, low, high);
    });
    runs.Finish();
}

// Fills the mapping of a segment onto row of the layout; returns false when no sample of it
// has a pixel: without two samples, a window, a range or a rate.
bool MapPiece(const PlotLayout& layout, int row, const AmplitudeRange& range, double windowStart,
              double windowEnd, const SampleVector& segment, PieceMapping& m) {
    const int count = segment.sampleCount;
    if (segment.samples == nullptr || count < 2)
        return false;
    const double span = windowEnd - windowStart;
    const double amplitudeSpan = static_cast<double>(range.max) - range.min;
    if (span == 0.0 || !std::isfinite(span) || !(amplitudeSpan > 0.0) ||
        !(segment.sampleRate > 0.0) || !std::isfinite(segment.sampleRate) ||
        !std::isfinite(segment.startTime))
        return false;
    m.startTime = segment.startTime;
    m.sampleRate = segment.sampleRate;
    m.windowStart = windowStart;
    m.xscale = (layout.width - 1 - 1) / span;
    m.height = layout.height;
    m.rowOffset = layout.height - layout.RowTop(row);
    m.min = range.min;
    m.yscale = -layout.rowHeight / amplitudeSpan;
    return true;
}

// True when x is finite and monotonic over the segment (it is when both ends are finite).
bool HasMonotonicColumns(const PieceMapping& m, int count) {
    const double lastTime = m.startTime + static_cast<double>(count - 1) / m.sampleRate;
    const double firstX = 1.0 + (m.startTime - m.windowStart) * m.xscale;
    const double lastX = 1.0 + (lastTime - m.windowStart) * m.xscale;
    return std::isfinite(firstX) && std::isfinite(lastX);
}

// True when y never decreases as the value grows.
bool HasDecreasingRows(const PieceMapping& m) { return std::isfinite(m.yscale) && m.yscale < 0.0; }

// The finite extremes of a trace's samples as ResolveAmplitudeRange's automatic scale finds
// them: max -FLT_MAX and min FLT_MAX when there is none.
void ScanTrace(const Trace& trace, float& max, float& min) {
    for (int i = 0; i < trace.SegmentCount(); ++i) {
        const SampleVector& segment = trace.SegmentAt(i);
        if (segment.samples != nullptr)
            ScanFiniteRange(segment.samples, segment.sampleCount, max, min);
    }
}

// Settles a range from its extremes as every scale is settled: a flat or empty one becomes
// value +-1, and every one is widened by WIDEN about its middle.
AmplitudeRange SettleRange(float max, float min) {
    if (max == min) {
        max = max + 1.0f;
        min = min - 1.0f;
    }
    return Widen(max, min);
}

}  // namespace

bool IsAutoScale(const std::string& scaleText) {
    std::string upper = scaleText.substr(0, 4);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper == "AUTO";
}

void AddSampleExtremes(const Trace& trace, SampleExtremes& extremes) {
    ScanTrace(trace, extremes.max, extremes.min);
}

AmplitudeRange AutoRange(const SampleExtremes& extremes) {
    if (extremes.max == -FLT_MAX)
        return SettleRange(0.0f, 0.0f);
    return SettleRange(extremes.max, extremes.min);
}

AmplitudeRange ResolveAmplitudeRange(const std::string& scaleText, const Trace& trace) {
    if (IsAutoScale(scaleText)) {
        SampleExtremes extremes;
        AddSampleExtremes(trace, extremes);
        return AutoRange(extremes);
    }
    std::string upper = scaleText;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    float max = 0.0f;
    float min = 0.0f;
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
    return SettleRange(max, min);
}

void DrawTracePiece(gdImagePtr image, int waveformIndex, const PlotLayout& layout, int row,
                    const AmplitudeRange& range, double windowStart, double windowEnd,
                    const SampleVector& segment) {
    PieceMapping m;
    if (!MapPiece(layout, row, range, windowStart, windowEnd, segment, m))
        return;
    // The column form needs x monotonic and y decreasing with the value.
    if (HasMonotonicColumns(m, segment.sampleCount) && HasDecreasingRows(m))
        DrawColumnByColumn(image, waveformIndex, m, segment.samples, segment.sampleCount);
    else
        DrawSampleBySample(image, waveformIndex, m, segment.samples, segment.sampleCount);
}

TraceColumns SummariseTracePiece(const PlotLayout& layout, double windowStart, double windowEnd,
                                 const SampleVector& segment) {
    TraceColumns columns;
    // Any open range maps time the same way; the columns do not depend on it.
    PieceMapping m;
    if (!MapPiece(layout, 0, AmplitudeRange(), windowStart, windowEnd, segment, m))
        return columns;
    if (!HasMonotonicColumns(m, segment.sampleCount)) {
        columns.samples = segment;
        return columns;
    }
    ForEachColumn(m, segment.samples, segment.sampleCount,
                  [&columns](int x, float first, float low, float high) {
                      columns.columns.push_back({x, first, low, high});
                  });
    columns.startTime = segment.startTime;
    columns.sampleRate = segment.sampleRate;
    return columns;
}

void DrawTraceColumns(gdImagePtr image, int waveformIndex, const PlotLayout& layout, int row,
                      const AmplitudeRange& range, double windowStart, double windowEnd,
                      const TraceColumns& columns) {
    if (columns.samples.samples != nullptr) {
        DrawTracePiece(image, waveformIndex, layout, row, range, windowStart, windowEnd,
                       columns.samples);
        return;
    }
    if (columns.columns.empty())
        return;
    // A segment of two samples stands in for the summarised one: it maps the same way.
    SampleVector stand;
    stand.sampleCount = 2;
    stand.sampleRate = columns.sampleRate;
    stand.startTime = columns.startTime;
    float unused[2] = {0.0f, 0.0f};
    stand.samples = unused;
    PieceMapping m;
    const bool mapped = MapPiece(layout, row, range, windowStart, windowEnd, stand, m);
    stand.samples = nullptr;
    stand.sampleCount = 0;
    if (!mapped || !HasDecreasingRows(m))
        return;
    ColumnRuns runs(image, waveformIndex, m);
    for (const TraceColumns::Column& column : columns.columns)
        runs(column.x, column.first, column.low, column.high);
    runs.Finish();
}
