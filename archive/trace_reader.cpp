#include "archive/trace_reader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>
#include <vector>

#include "archive/segment_reader.h"
#include "dsp/sample_count.h"

namespace {

// A count the window cannot hold comes from a corrupt row (a huge tqty or sps); allocating
// it could exhaust memory for a single line of the plot. Within the window the truncations
// allow at most one sample more than (t2 - t1) * sps; the margin of two keeps honest rows.
bool IsPlausibleCount(double count, double sps, double t1, double t2) {
    return std::isfinite(count) && count > 0.0 && count <= (t2 - t1) * sps + 2.0 &&
           count <= static_cast<double>(INT_MAX);
}

// Returns foff + k * width in bytes, or -1 when the offset does not fit a 64-bit integer.
long long ByteOffset(long long foff, double k, int width) {
    const double offset = static_cast<double>(foff) + k * width;
    // 2^62: far beyond any file, and safely inside the range of long long.
    if (!(offset < 4611686018427387904.0))
        return -1;
    return foff + static_cast<long long>(k) * width;
}

}  // namespace

SampleVector ReadSegment(const SegmentRow& row, const std::string& dataDir, double t1, double t2,
                         int* samplesRead, HostPathMapper* mapper) {
    if (samplesRead != nullptr)
        *samplesRead = 0;
    const double tb = row.tbegin;
    const double tq = row.tqty;
    const double sps = row.sps;
    const int width = SampleWidth(row.datatype);

    double k = 0.0;
    double count = 0.0;
    double start = 0.0;
    const double end = tb + tq <= t2 ? tb + tq : t2;
    const bool beginsInWindow = tb >= t1 && tb <= t2;
    const bool windowBeginsInSegment = t1 > tb && tb + tq > t1;
    if (!(sps > 0.0 && std::isfinite(sps))) {
        // Without a rate no sample can be placed in time.
        if (beginsInWindow || windowBeginsInSegment)
            start = tb;
    } else if (beginsInWindow) {
        start = tb;
        // The times carry the rounding of epoch seconds: a file's tbegin + tqty - tbegin may
        // come out a sliver of a sample short of the count it holds.
        count = TruncateSamples((end - tb) * sps, sps);
    } else if (windowBeginsInSegment) {
        // Start at the last sample instant at or before t1; a sample that the rounding puts a
        // sliver after t1 lies at t1.
        k = TruncateSamples((t1 - tb) * sps, sps);
        start = k / sps + tb;
        count = TruncateSamples((end - start) * sps, sps);
    }

    SampleVector segment;
    segment.sampleRate = sps;
    segment.startTime = start;
    if (!IsPlausibleCount(count, sps, t1, t2))
        return segment;
    // The samples the file supplies are written over; only the rest is zeroed, so a long
    // segment is not written twice.
    if (!segment.AllocateUndefined(static_cast<int>(count)))
        return segment;
    int read = 0;
    const long long offset = ByteOffset(row.foff, k, width);
    if (offset >= 0) {
        const FileHandle file = OpenSegmentFile(dataDir, row.cpath, mapper);
        if (file)
            read = ReadSegmentSamples(file.get(), offset, segment.samples, segment.sampleCount,
                                      row.datatype);
    }
    std::fill(segment.samples + read, segment.samples + segment.sampleCount, 0.0f);
    if (samplesRead != nullptr)
        *samplesRead = read;
    return segment;
}

void ReadTrace(Catalogue& catalogue, const std::string& dataDir, const std::string& station,
               const std::string& channel, double t1, double t2, Trace& trace) {
    trace.ClearSegments();
    std::vector<SegmentRow> rows;
    if (!catalogue.ListSegments(station, channel, t1, t2, rows))
        return;
    trace.station = station;
    trace.channel = channel;
    // Each segment's samples were read straight into their final array; moving the segment
    // into the trace keeps a single copy of them. The row's files share their folders.
    HostPathMapper mapper;
    for (const SegmentRow& row : rows) {
        int samplesRead = 0;
        SampleVector segment = ReadSegment(row, dataDir, t1, t2, &samplesRead, &mapper);
        trace.AppendSegment(std::move(segment), row.datatype, samplesRead);
    }
}
