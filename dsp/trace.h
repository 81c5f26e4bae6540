#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dsp/sample_vector.h"

// The samples of one station and channel over a window: an ordered list of owned
// segments, in ascending start time. Segments are never joined: gaps stay gaps and
// overlaps stay overlaps; every consumer walks them one by one.
class Trace {
public:
    Trace() = default;
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    // Deletes every segment; station and channel stay.
    void ClearSegments();
    // Deletes the segments that hold no samples; the others keep their order.
    void RemoveEmptySegments();
    // Appends a deep copy of the segment.
    void AppendSegmentCopy(const SampleVector& segment);
    // Appends the segment itself, taking over its samples without copying them.
    void AppendSegment(SampleVector&& segment);
    int SegmentCount() const;
    // The index must lie in 0 .. SegmentCount() - 1.
    SampleVector& SegmentAt(int index);
    const SampleVector& SegmentAt(int index) const;

    std::string station;
    std::string channel;

private:
    std::vector<std::unique_ptr<SampleVector>> segments;
};
