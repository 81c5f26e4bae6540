#include "dsp/trace.h"

#include <algorithm>
#include <utility>

#include "dsp/filter.h"

void Trace::ClearSegments() { segments.clear(); }

void Trace::RemoveEmptySegments() {
    segments.erase(
        std::remove_if(segments.begin(), segments.end(),
                       [](const Segment& segment) { return segment.samples->sampleCount <= 0; }),
        segments.end());
}

void Trace::KeepPresentSamples() {
    std::vector<Segment> kept;
    kept.reserve(segments.size());
    for (Segment& segment : segments) {
        SampleVector& vector = *segment.samples;
        const int present = std::min(segment.samplesRead, vector.sampleCount);
        if (vector.samples == nullptr || present <= 0)
            continue;
        const float* const first = vector.samples;
        const float* const end = first + present;
        const float* const marker = std::find(first, end, MISSING_SAMPLE);
        if (marker == end) {
            // The common case: nothing but a filled-in end to cut off, in place.
            vector.sampleCount = present;
            segment.samplesRead = ALL_SAMPLES_READ;
            kept.push_back(std::move(segment));
            continue;
        }
        // Each stretch between markers becomes a segment of its own, placed where its first
        // sample lies.
        for (const float* from = first; from < end;) {
            const float* to = std::find(from, end, MISSING_SAMPLE);
            if (to > from) {
                auto piece = std::make_unique<SampleVector>();
                if (piece->AllocateUndefined(static_cast<int>(to - from))) {
                    std::copy(from, to, piece->samples);
                    piece->sampleRate = vector.sampleRate;
                    piece->startTime =
                        vector.startTime + static_cast<double>(from - first) / vector.sampleRate;
                    piece->calib = vector.calib;
                    piece->calper = vector.calper;
                    kept.push_back({std::move(piece), segment.datatype, ALL_SAMPLES_READ});
                }
            }
            from = std::find_if(to, end, [](float sample) { return sample != MISSING_SAMPLE; });
        }
    }
    segments = std::move(kept);
}

void Trace::AppendSegmentCopy(const SampleVector& segment) {
    segments.push_back({std::make_unique<SampleVector>(segment), UNKNOWN_DATATYPE});
}

void Trace::AppendSegment(SampleVector&& segment, int datatype, int samplesRead) {
    segments.push_back({std::make_unique<SampleVector>(std::move(segment)), datatype, samplesRead});
}

int Trace::SegmentCount() const { return static_cast<int>(segments.size()); }

SampleVector& Trace::SegmentAt(int index) { return *segments[static_cast<size_t>(index)].samples; }

const SampleVector& Trace::SegmentAt(int index) const {
    return *segments[static_cast<size_t>(index)].samples;
}

int Trace::SegmentDatatype(int index) const {
    return segments[static_cast<size_t>(index)].datatype;
}

int Trace::SegmentSamplesRead(int index) const {
    const Segment& segment = segments[static_cast<size_t>(index)];
    return std::min(segment.samplesRead, segment.samples->sampleCount);
}
