#include "dsp/trace.h"

#include <algorithm>
#include <utility>

void Trace::ClearSegments() { segments.clear(); }

void Trace::RemoveEmptySegments() {
    segments.erase(
        std::remove_if(segments.begin(), segments.end(),
                       [](const Segment& segment) { return segment.samples->sampleCount <= 0; }),
        segments.end());
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
