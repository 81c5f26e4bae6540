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

SegmentCut CutSegment(const SegmentRow& row, double t1, double t2) {
    const double tb = row.tbegin;
    const double tq = row.tqty;
    const double sps = row.sps;
    SegmentCut cut;
    const double end = tb + tq <= t2 ? tb + tq : t2;
    const bool beginsInWindow = tb >= t1 && tb <= t2;
    const bool windowBeginsInSegment = t1 > tb && tb + tq > t1;
    if (!(sps > 0.0 && std::isfinite(sps))) {
        // Without a rate no sample can be placed in time.
        if (beginsInWindow || windowBeginsInSegment)
            cut.start = tb;
    } else if (beginsInWindow) {
        cut.start = tb;
        // The times carry the rounding of epoch seconds: a file's tbegin + tqty - tbegin may
        // come out a sliver of a sample short of the count it holds.
        cut.count = TruncateSamples((end - tb) * sps, sps);
    } else if (windowBeginsInSegment) {
        // Start at the last sample instant at or before t1; a sample that the rounding puts a
        // sliver after t1 lies at t1.
        cut.first = TruncateSamples((t1 - tb) * sps, sps);
        cut.start = cut.first / sps + tb;
        cut.count = TruncateSamples((end - cut.start) * sps, sps);
    }
    return cut;
}

SampleVector ReadSegment(const SegmentRow& row, const std::string& dataDir, double t1, double t2,
                         int* samplesRead, HostPathMapper* mapper) {
    if (samplesRead != nullptr)
        *samplesRead = 0;
    const double sps = row.sps;
    const int width = SampleWidth(row.datatype);
    const SegmentCut cut = CutSegment(row, t1, t2);
    const double k = cut.first;
    const double count = cut.count;
    const double start = cut.start;

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

void CutTraceToWindow(const Trace& read, const std::vector<SegmentRow>& rows, double readStart,
                      double t1, double t2, Trace& window) {
    window.ClearSegments();
    window.station = read.station;
    window.channel = read.channel;
    if (static_cast<std::size_t>(read.SegmentCount()) != rows.size())
        return;
    for (int i = 0; i < read.SegmentCount(); ++i) {
        const SegmentRow& row = rows[static_cast<std::size_t>(i)];
        const SampleVector& segment = read.SegmentAt(i);
        const SegmentCut cut = CutSegment(row, t1, t2);
        // The read began at the file's sample CutSegment gives for readStart; the window's
        // first sample lies as many samples further on as their indices differ.
        const double skipped = cut.first - CutSegment(row, readStart, t2).first;
        if (segment.samples == nullptr || !(cut.count > 0.0) || !(skipped >= 0.0) ||
            skipped >= segment.sampleCount)
            continue;
        const int from = static_cast<int>(skipped);
        const int count = std::min(segment.sampleCount - from, static_cast<int>(cut.count));
        SampleVector piece;
        if (!piece.AllocateUndefined(count))
            continue;
        std::copy(segment.samples + from, segment.samples + from + count, piece.samples);
        piece.sampleRate = segment.sampleRate;
        piece.startTime = cut.start;
        piece.calib = segment.calib;
        piece.calper = segment.calper;
        const int samplesRead = std::max(0, std::min(read.SegmentSamplesRead(i) - from, count));
        window.AppendSegment(std::move(piece), read.SegmentDatatype(i), samplesRead);
    }
}
