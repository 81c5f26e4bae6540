#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "dsp/filter.h"

namespace {

constexpr double TWO_PI = 6.283185307179586;

// One hour of a 100 samples-per-second channel: a large offset, a microseism-like wave, a
// local event's frequencies and some noise, in digitizer counts.
std::vector<float> MakeSegment(int count) {
    std::vector<float> samples(static_cast<size_t>(count));
    std::uint32_t noise = 12345u;
    for (int i = 0; i < count; ++i) {
        const double t = i / 100.0;
        noise = noise * 1664525u + 1013904223u;
        const double jitter = static_cast<double>(noise >> 8) / 16777216.0 - 0.5;
        samples[static_cast<size_t>(i)] =
            static_cast<float>(2000.0 + 300.0 * std::sin(TWO_PI * 0.2 * t) +
                               150.0 * std::sin(TWO_PI * 3.0 * t) + 40.0 * jitter);
    }
    return samples;
}

// Filters a fresh copy of the segment each time, as the plot does once per segment; the
// copy is timed too, so the figure is a lower bound for the filter alone. With a gap, one
// missing sample sends the filter through its checking loop.
void FilterSamplesBandPassOrder3(benchmark::State& state, bool withGap) {
    const int count = static_cast<int>(state.range(0));
    std::vector<float> source = MakeSegment(count);
    if (withGap)
        source[source.size() / 2] = MISSING_SAMPLE;
    std::vector<float> samples(source.size());
    for (auto _ : state) {
        samples = source;
        FilterSamples(samples.data(), count, 1.0 / 100.0, 0, 3, 1.0f, 5.0f);
        benchmark::DoNotOptimize(samples.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

// Two segments filtered side by side, as the plot filters a row's segments; items are the
// samples of both.
void FilterSamplePairBandPassOrder3(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::vector<float> source = MakeSegment(count);
    std::vector<float> first(source.size());
    std::vector<float> second(source.size());
    for (auto _ : state) {
        first = source;
        second = source;
        FilterSamplePair(first.data(), count, 1.0 / 100.0, second.data(), count, 1.0 / 100.0, 0, 3,
                         1.0f, 5.0f);
        benchmark::DoNotOptimize(first.data());
        benchmark::DoNotOptimize(second.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 2 * count);
}

// Four (eight) segments filtered side by side in 4-wide (8-wide) vectors, or in narrower
// groups where the processor has none; items are the samples of all of them.
void FilterSampleWideBandPassOrder3(benchmark::State& state, int lanes) {
    const int count = static_cast<int>(state.range(0));
    const std::vector<float> source = MakeSegment(count);
    std::vector<float> segments[8];
    for (auto _ : state) {
        float* samples[8];
        int counts[8];
        double intervals[8];
        for (int lane = 0; lane < lanes; ++lane) {
            segments[lane] = source;
            samples[lane] = segments[lane].data();
            counts[lane] = count;
            intervals[lane] = 0.01;
        }
        if (lanes == 4)
            FilterSampleQuad(samples, counts, intervals, 0, 3, 1.0f, 5.0f);
        else
            FilterSampleOct(samples, counts, intervals, 0, 3, 1.0f, 5.0f);
        for (std::vector<float>& segment : segments) benchmark::DoNotOptimize(segment.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * lanes * count);
}

}  // namespace

BENCHMARK_CAPTURE(FilterSamplesBandPassOrder3, Clean, false)->Arg(360000);
BENCHMARK(FilterSamplePairBandPassOrder3)->Arg(360000);
BENCHMARK_CAPTURE(FilterSampleWideBandPassOrder3, Quad, 4)->Arg(360000);
BENCHMARK_CAPTURE(FilterSampleWideBandPassOrder3, Oct, 8)->Arg(360000);
BENCHMARK_CAPTURE(FilterSamplesBandPassOrder3, WithGap, true)->Arg(360000);
