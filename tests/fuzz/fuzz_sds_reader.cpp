// Fuzzes the SDS reader on arbitrary day files: the input is the day file of one stream, read
// for a window of the whole day by one thread, by two and twice through a day-file index. Every
// read must give the same segments and notes, each segment starting in the window or at most
// a sample before it.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sds/sds_reader.h"
#include "sds/sds_stream.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// 2024-03-10, day 070 of a leap year.
constexpr double DAY = 1710028800.0;

// What a read gave: each segment's start, rate and samples' bits, then the notes.
std::string Described(const Trace& trace, const std::vector<std::string>& notes) {
    std::string text;
    for (int i = 0; i < trace.SegmentCount(); ++i) {
        const SampleVector& segment = trace.SegmentAt(i);
        FUZZ_CHECK(segment.sampleCount > 0);
        FUZZ_CHECK(segment.sampleRate > 0.0);
        text += std::to_string(segment.startTime) + " " + std::to_string(segment.sampleRate) + " " +
                std::to_string(trace.SegmentDatatype(i)) + ":";
        text.append(reinterpret_cast<const char*>(segment.samples),
                    static_cast<std::size_t>(segment.sampleCount) * sizeof(float));
        text += "\n";
    }
    for (const std::string& note : notes) text += note + "\n";
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string root = fuzz::ScratchSubfolder("sds");
    static const std::string folder = fuzz::ScratchSubfolder("sds/2024/XX/ABC/HHZ.D");
    if (!fuzz::WriteBytes(folder + "/XX.ABC..HHZ.D.2024.070", data, size))
        return 0;
    const SdsStream stream{"XX", "ABC", "", "HHZ"};
    const double t1 = DAY;
    const double t2 = DAY + 86400.0;
    std::string first;
    // One thread, two, then twice through an index: the second time from its lists.
    SdsDayIndex index;
    for (int read = 0; read < 4; ++read) {
        Trace trace;
        std::vector<std::string> notes;
        ReadSdsTrace(root, stream, t1, t2, trace, notes, read == 1, read >= 2 ? &index : nullptr);
        for (int i = 0; i < trace.SegmentCount(); ++i) {
            const SampleVector& segment = trace.SegmentAt(i);
            FUZZ_CHECK(segment.startTime <= t2 + 1e-5);
            FUZZ_CHECK(segment.startTime >= t1 - 1.0 / segment.sampleRate - 1e-5);
        }
        const std::string described = Described(trace, notes);
        if (read == 0)
            first = described;
        else
            FUZZ_CHECK(described == first);
    }
    return 0;
}
