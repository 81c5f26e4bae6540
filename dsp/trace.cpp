#include "dsp/trace.h"

#include <algorithm>
#include <utility>

void Trace::ClearSegments() { segments.clear(); }

void Trace::RemoveEmptySegments() {
    segments.erase(std::remove_if(segments.begin(), segments.end(),
                                  [](const std::unique_ptr<SampleVector>& segment) {
                                      return segment->sampleCount <= 0;
                                  }),
                   segments.end());
}

void Trace::AppendSegmentCopy(const SampleVector& segment) {
    segments.push_back(std::make_unique<SampleVector>(segment));
}

void Trace::AppendSegment(SampleVector&& segment) {
    segments.push_back(std::make_unique<SampleVector>(std::move(segment)));
}

int Trace::SegmentCount() const { return static_cast<int>(segments.size()); }

SampleVector& Trace::SegmentAt(int index) { return *segments[static_cast<size_t>(index)]; }

const SampleVector& Trace::SegmentAt(int index) const {
    return *segments[static_cast<size_t>(index)];
}
