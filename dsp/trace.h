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
    // Keeps only the samples a file holds: the samples the reader filled in after those read
    // from a segment's file (a missing or short file) are cut off, each run of samples
    // carrying the missing-sample marker splits its segment in two (the pieces keep the
    // segment's encoding and their own start times), and segments left without samples go.
    void KeepPresentSamples();
    // Appends a deep copy of the segment.
    void AppendSegmentCopy(const SampleVector& segment);
    // Appends the segment itself, taking over its samples without copying them. datatype is
    // the encoding its samples were read from; samplesRead how many of them, from the first
    // on, came from its file (ALL_SAMPLES_READ: all of them).
    void AppendSegment(SampleVector&& segment, int datatype = UNKNOWN_DATATYPE,
                       int samplesRead = ALL_SAMPLES_READ);
    int SegmentCount() const;
    // The index must lie in 0 .. SegmentCount() - 1.
    SampleVector& SegmentAt(int index);
    const SampleVector& SegmentAt(int index) const;
    // Returns the sample encoding code (the catalogue's datatype) the segment's samples were
    // read from, or UNKNOWN_DATATYPE. The index must lie in 0 .. SegmentCount() - 1.
    int SegmentDatatype(int index) const;
    // Returns how many samples of the segment, from the first on, were read from its file;
    // the samples after them were filled in (zeros for a missing or short file). The index
    // must lie in 0 .. SegmentCount() - 1.
    int SegmentSamplesRead(int index) const;

    // The datatype of a segment whose encoding is not known.
    static constexpr int UNKNOWN_DATATYPE = -1;
    // The samplesRead of a segment whose samples were all read.
    static constexpr int ALL_SAMPLES_READ = 0x7FFFFFFF;

    std::string station;
    std::string channel;

private:
    // One segment with the encoding its samples were read from.
    struct Segment {
        std::unique_ptr<SampleVector> samples;
        int datatype = UNKNOWN_DATATYPE;
        int samplesRead = ALL_SAMPLES_READ;
    };
    std::vector<Segment> segments;
};
