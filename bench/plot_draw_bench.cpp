#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "dsp/trace.h"
#include "plot/plot_layout.h"
#include "plot/trace_drawing.h"

namespace {

constexpr double DAY_START = 1078221600.0;  // 2004-03-02 10:00:00 UTC
constexpr double RATE = 100.0;
constexpr int DAY_SAMPLES = 8640000;

// A day of 100 sps: microseism, noise and a few bursts, in counts.
void FillDayTrace(Trace& trace) {
    SampleVector segment;
    segment.AllocateZeros(DAY_SAMPLES);
    segment.sampleRate = RATE;
    segment.startTime = DAY_START;
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 40.0f);
    for (int j = 0; j < DAY_SAMPLES; ++j) {
        const double t = j / RATE;
        double value = 300.0 * std::sin(2.0 * M_PI * 0.2 * t);
        if (j % 1000000 < 20000)
            value += 5000.0 * std::sin(2.0 * M_PI * 3.0 * t);
        segment.samples[j] = static_cast<float>(value) + noise(random);
    }
    trace.station = "AAA";
    trace.channel = "BHZ";
    trace.AppendSegment(std::move(segment));
}

const Trace& DayTrace() {
    static Trace trace;
    if (trace.SegmentCount() == 0)
        FillDayTrace(trace);
    return trace;
}

void BM_DrawTracePiece(benchmark::State& state) {
    const Trace& trace = DayTrace();
    const PlotLayout layout = ComputePlotLayout(700, 500, 1, true, false);
    PlotPalette palette;
    GdImage image = CreatePlotImage(layout, {255, 255, 255}, {0, 0, 128}, {255, 255, 0}, palette);
    const AmplitudeRange range = ResolveAmplitudeRange("AUTO", trace);
    for (auto _ : state) {
        DrawTracePiece(image.get(), palette.waveform, layout, 0, range, DAY_START,
                       DAY_START + 86400.0, trace.SegmentAt(0));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * DAY_SAMPLES);
}
BENCHMARK(BM_DrawTracePiece)->Unit(benchmark::kMillisecond);

void BM_ResolveAmplitudeRange(benchmark::State& state) {
    const Trace& trace = DayTrace();
    for (auto _ : state) {
        AmplitudeRange range = ResolveAmplitudeRange("AUTO", trace);
        benchmark::DoNotOptimize(range);
    }
    state.SetItemsProcessed(state.iterations() * DAY_SAMPLES);
}
BENCHMARK(BM_ResolveAmplitudeRange)->Unit(benchmark::kMillisecond);

}  // namespace
