#include "css/wfdisc_writer.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "dsp/run_shared.h"
#include "dsp/sample_integer.h"
#include "platform/atomic_file.h"
#include "platform/file_handle.h"
#include "platform/host_path.h"
#include "platform/message_box.h"
#include "timeutil/calendar.h"

namespace {

const char* const WRITE_ERROR_MESSAGE = "Ошибка записи файла wfdisc";

// The widest value the eight-character nsamp column can hold.
const int MAX_NSAMP = 99999999;

// 0001-01-01 00:00:00: the calendar conversion does not reach further back.
const double FIRST_CALENDAR_EPOCH = -62135596800.0;

// Samples converted per write of a sample file, so that a long segment needs no second
// array of its own size.
const int CHUNK_SAMPLES = 16384;

// The UTC calendar fields of a segment's start, as the file name and lddate show them.
struct StartFields {
    bool known = false;  // false when the start time lies outside years 1 .. 99999
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;  // whole seconds, truncated
};

StartFields StartFieldsOf(double time) {
    StartFields fields;
    // Beyond these bounds the calendar's integer fields would overflow and jdate would no
    // longer fit its eight characters; such a start keeps the null jdate and zero fields.
    const double endOfCalendar = EpochFromCalendar(100000, 1, 1, 0, 0, 0.0f);
    if (!std::isfinite(time) || time < FIRST_CALENDAR_EPOCH || time >= endOfCalendar)
        return fields;
    float second = 0.0f;
    if (CalendarFromEpoch(time, fields.year, fields.month, fields.day, fields.hour, fields.minute,
                          second) != 1)
        return StartFields();
    fields.second = static_cast<int>(second);
    fields.known = true;
    return fields;
}

// Formats value as the fixed conversion %<width>.<decimals>f would, as long as that fits the
// column. A value too wide for it (a samprate of 1000 or more in %11.7f) gives up decimals
// until it fits, and one too wide even without decimals goes into exponent form, so that
// every later column of the record stays in place.
std::string FitFixed(double value, int width, int decimals) {
    char text[400];  // a double's %f needs at most 309 digits before the decimals
    for (int places = decimals; places >= 0; --places) {
        if (std::snprintf(text, sizeof text, "%*.*f", width, places, value) == width)
            return text;
    }
    for (int places = width; places >= 0; --places) {
        if (std::snprintf(text, sizeof text, "%*.*e", width, places, value) == width)
            return text;
    }
    // Every double has a shorter exponent form ("-1e+308") than any column using this.
    return std::string(static_cast<std::size_t>(width), '*');
}

std::string LowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Codes come from the catalogue; a separator in one must not lead the sample file out of
// the wfdisc file's folder, so it becomes an underscore in the file name.
std::string FileNamePart(std::string code) {
    for (char& c : code) {
        if (c == '/' || c == '\\')
            c = '_';
    }
    return code;
}

const char* DataTypeOf(int selector) {
    switch (selector) {
        case 0:
            return "i4";
        case 1:
            return "f4";
        case 2:
            return "s4";
        default:
            return "-";
    }
}

constexpr bool HOST_LITTLE_ENDIAN = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// Fewer samples than this are written by one thread: a second would not repay its start.
constexpr long long MIN_SHARED_SAMPLES = 100000;

// Reverses the four bytes of each 32-bit word of bits: a word, or a vector of them.
template <typename Words>
Words SwappedBytes(Words bits) {
    return (bits >> 24) | ((bits >> 8) & 0x0000FF00u) | ((bits << 8) & 0x00FF0000u) | (bits << 24);
}

// Puts count 32-bit words into little-endian byte order in place; nothing to do on a
// little-endian host.
void ToLittleEndian(std::uint32_t* words, int count) {
    if constexpr (!HOST_LITTLE_ENDIAN) {
        for (int i = 0; i < count; ++i) words[i] = SwappedBytes(words[i]);
    }
}

// Converts a block of samples into the 4-byte words of the selector's format, in the order
// ToLittleEndian then stores: the float bits, or the integer, byte-swapped for "s4". Plain
// loops over a block, which the compiler turns into vector code.
void EncodeBlock(const float* samples, int count, int selector, std::uint32_t* words) {
    if (selector == 1) {
        std::memcpy(words, samples, static_cast<std::size_t>(count) * 4);
        return;
    }
    for (int i = 0; i < count; ++i)
        words[i] = static_cast<std::uint32_t>(SampleToInt32(samples[i]));
    if (selector != 2)
        return;
    // Swapped in a pass of its own, four words at a time in vector shifts: written as a plain
    // loop the compiler sees a byte swap, which it cannot vectorise without SSSE3.
    typedef std::uint32_t WordLanes __attribute__((vector_size(16)));
    constexpr int LANES = static_cast<int>(sizeof(WordLanes) / sizeof(std::uint32_t));
    int i = 0;
    for (; i + LANES <= count; i += LANES) {
        WordLanes bits;
        std::memcpy(&bits, words + i, sizeof bits);
        bits = SwappedBytes(bits);
        std::memcpy(words + i, &bits, sizeof bits);
    }
    for (; i < count; ++i) words[i] = SwappedBytes(words[i]);
}

// Writes the sample file whole or not at all, count samples in the selector's format; an
// unknown selector leaves the file empty. Returns true when the file was written and renamed
// over any earlier file of its name, which a record may still list.
bool WriteSampleFile(const std::string& path, const float* samples, int count, int selector) {
    AtomicFile out(path);
    if (!out.IsOpen())
        return false;
    if (selector >= 0 && selector <= 2) {
        // One block a write, straight to the file: no stream buffer copies it again.
        std::setvbuf(out.Stream(), nullptr, _IONBF, 0);
        std::uint32_t words[CHUNK_SAMPLES];
        for (int first = 0; first < count; first += CHUNK_SAMPLES) {
            const int n = std::min(CHUNK_SAMPLES, count - first);
            EncodeBlock(samples + first, n, selector, words);
            ToLittleEndian(words, n);
            const std::size_t bytes = static_cast<std::size_t>(n) * 4;
            if (std::fwrite(words, 1, bytes, out.Stream()) != bytes)
                return false;
        }
    }
    return out.Commit();
}

// Joins the wfdisc file's folder and a sample file name the way the wfdisc path is written,
// then maps the result onto the host.
std::string SampleFilePath(const std::string& directory, const std::string& name,
                           HostPathMapper& mapper) {
    const char last = directory.empty() ? '\0' : directory.back();
    const bool endsInSeparator = last == '\\' || last == '/';
    return mapper.Map(endsInSeparator ? directory + name : directory + "\\" + name);
}

// Formats the record of one segment (283 characters and a line feed) into record and its
// sample file name into fileName. Returns false when the segment's sample count does not fit
// the nsamp column, so that no record can describe it.
bool FormatRecord(const Trace& trace, const SampleVector& segment, int count, int selector,
                  int recordNumber, std::string& record, std::string& fileName) {
    if (count > MAX_NSAMP)
        return false;
    const std::string channel = LowerCase(trace.channel);
    const double time = segment.startTime;
    // A segment without samples lasts no time, also when its rate is unknown (0).
    const double endTime = count == 0 ? time : time + count / segment.sampleRate;
    const StartFields start = StartFieldsOf(time);
    const int jdate = start.known ? JulianDate(start.year, start.month, start.day) : -1;

    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%d-%02d%02d%02d%02d%02d%04d-", recordNumber, start.hour,
                  start.minute, start.second, start.day, start.month, start.year);
    fileName = prefix + FileNamePart(trace.station) + "-" + FileNamePart(channel) + ".w";

    char lddate[64] = "-";
    if (start.known) {
        std::snprintf(lddate, sizeof lddate, "%02d:%02d:%02d %02d.%02d.%04d", start.hour,
                      start.minute, start.second, start.day, start.month, start.year);
    }

    // The CSS 3.0 layout: sta, chan, time, wfid, chanid, jdate, endtime, nsamp, samprate,
    // calib, calper, instype, segtype, datatype, clip, dir, dfile, foff, commid, lddate.
    // The times are %17.5f, samprate %11.7f, calib and calper %16.6f, fitted to their width.
    const std::string timeText = FitFixed(time, 17, 5);
    const std::string endTimeText = FitFixed(endTime, 17, 5);
    const std::string rateText = FitFixed(static_cast<float>(segment.sampleRate), 11, 7);
    const std::string calibText = FitFixed(static_cast<float>(segment.calib), 16, 6);
    const std::string calperText = FitFixed(static_cast<float>(segment.calper), 16, 6);
    char line[512];
    const int length = std::snprintf(
        line, sizeof line,
        "%-6.6s %-8.8s %s %8d %8d %8d %s %8d %s %s %s %-6.6s %c %-2.2s %c %-64.64s %-32.32s "
        "%10d %8d %-17.17s\n",
        trace.station.c_str(), channel.c_str(), timeText.c_str(), -1, -1, jdate,
        endTimeText.c_str(), count, rateText.c_str(), calibText.c_str(), calperText.c_str(), "-",
        '-', DataTypeOf(selector), '-', ".", fileName.c_str(), 0, -1, lddate);
    if (length != 284)
        return false;
    record.assign(line, static_cast<std::size_t>(length));
    return true;
}

}  // namespace

bool WriteWfdisc(const std::string& wfdiscPath, const std::vector<const Trace*>& traces,
                 int selector) {
    // The wfdisc file and the sample files of one call share a folder, which is read once for
    // all of them. The files this call writes are not in that reading, and need not be: their
    // record numbers tell their names apart.
    HostPathMapper mapper;
    FileHandle wfdisc(std::fopen(mapper.Map(wfdiscPath).c_str(), "ab"));
    if (!wfdisc) {
        // Without a wfdisc file no sample file could ever be found, so none is written.
        ShowMessageBox(WRITE_ERROR_MESSAGE);
        return false;
    }
    const std::string directory = DirectoryOfPath(wfdiscPath);
    std::string pending;
    int recordNumber = 0;
    struct SampleFile {
        std::string path;
        const float* samples;
        int count;
    };
    std::vector<SampleFile> files;
    long long samples = 0;
    for (const Trace* trace : traces) {
        if (trace == nullptr)
            continue;
        for (int index = 0; index < trace->SegmentCount(); ++index) {
            const SampleVector& segment = trace->SegmentAt(index);
            // A count without an array (or a negative one) has nothing to write.
            const int count =
                segment.samples != nullptr && segment.sampleCount > 0 ? segment.sampleCount : 0;
            std::string record;
            std::string fileName;
            if (!FormatRecord(*trace, segment, count, selector, recordNumber, record, fileName)) {
                // The wfdisc file is closed unchanged by its handle.
                ShowMessageBox(WRITE_ERROR_MESSAGE);
                return false;
            }
            files.push_back({SampleFilePath(directory, fileName, mapper), segment.samples, count});
            samples += count;
            ++recordNumber;
            pending += record;
        }
    }
    // The sample files do not depend on one another: a second thread writes some of them
    // while this one writes the others.
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    const auto writeSome = [&files, &next, &failed, selector] {
        for (std::size_t i = next++; i < files.size() && !failed; i = next++) {
            if (!WriteSampleFile(files[i].path, files[i].samples, files[i].count, selector))
                failed = true;
        }
    };
    RunShared(files.size() > 1 && samples >= MIN_SHARED_SAMPLES, writeSome);
    if (failed) {
        // The wfdisc file is closed unchanged by its handle.
        ShowMessageBox(WRITE_ERROR_MESSAGE);
        return false;
    }
    const bool written =
        std::fwrite(pending.data(), 1, pending.size(), wfdisc.get()) == pending.size();
    const bool closed = std::fclose(wfdisc.release()) == 0;
    if (written && closed)
        return true;
    ShowMessageBox(WRITE_ERROR_MESSAGE);
    return false;
}

std::string DirectoryOfPath(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/");
    if (separator == std::string::npos)
        return ".";
    // A file in the root folder keeps the root, so its sample files land beside it.
    if (separator == 0)
        return path.substr(0, 1);
    return path.substr(0, separator);
}
