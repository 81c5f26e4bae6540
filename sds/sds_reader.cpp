#include "sds/sds_reader.h"

#include <libmseed.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include "dsp/run_shared.h"
#include "dsp/sample_count.h"
#include "platform/mapped_file.h"

namespace {

// libmseed reports a damaged record on standard error itself; this reader reports it through
// the caller's notes instead, so libmseed's messages go nowhere. Its log settings are the
// library's own, set once for the whole program.
void DiscardMessage(char*) {}

void SilenceLibmseed() {
    static std::once_flag once;
    std::call_once(once, [] { ms_loginit(DiscardMessage, nullptr, DiscardMessage, nullptr); });
}

// Owns the record libmseed parses into; one serves every record a thread reads, so its sample
// buffer is reused.
class RecordBuffer {
public:
    RecordBuffer() = default;
    ~RecordBuffer() {
        if (record != nullptr)
            msr_free(&record);
    }
    RecordBuffer(const RecordBuffer&) = delete;
    RecordBuffer& operator=(const RecordBuffer&) = delete;
    MSRecord** Slot() { return &record; }
    const MSRecord* Get() const { return record; }

private:
    MSRecord* record = nullptr;
};

// One day file, mapped whole.
struct DayFile {
    std::string path;
    std::unique_ptr<MappedFile> mapping;
    const unsigned char* bytes = nullptr;
    long long size = 0;           // bytes mapped
    long long unreadableAt = -1;  // byte offset of the first record that cannot be decoded
};

// One record of a day file as its header describes it.
struct Record {
    int file = 0;
    long long offset = 0;  // bytes from the start of its file
    int length = 0;        // bytes
    hptime_t startTime = 0;
    double start = 0.0;  // epoch seconds of its first sample
    double rate = 0.0;   // samples per second
    int count = 0;       // samples
    int datatype = 2;
};

// The datatype of a segment read from records of an encoding: floats for the float encodings,
// 16-bit integers for those, 32-bit integers for the others; -1 for text, which holds no
// samples.
int EncodingDatatype(int encoding) {
    switch (encoding) {
        case DE_ASCII:
            return -1;
        case DE_INT16:
            return 1;
        case DE_FLOAT32:
        case DE_FLOAT64:
        case DE_GEOSCOPE24:
        case DE_GEOSCOPE163:
        case DE_GEOSCOPE164:
            return 3;
        default:
            return 2;
    }
}

// Reads an unsigned 16-bit or signed 32-bit field in the header's byte order.
unsigned Field16(const unsigned char* bytes, bool bigEndian) {
    return bigEndian ? (bytes[0] << 8u) | bytes[1] : (bytes[1] << 8u) | bytes[0];
}

std::int32_t Field32(const unsigned char* bytes, bool bigEndian) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = (value << 8u) | bytes[bigEndian ? i : 3 - i];
    return static_cast<std::int32_t>(value);
}

// Reads what laying out segments needs from a record's fixed header and its Blockettes 1000,
// 1001 and 100, without libmseed: a day holds tens of thousands of records, most of them
// outside the window, and libmseed's parse of each costs more than decoding those the window
// needs. Returns false when the bytes do not look like a record with a Blockette 1000 (libmseed
// then has its say); a record longer than available is still described. libmseed decodes every
// record that is used, and its header values are checked against these.
bool PeekRecord(const unsigned char* bytes, long long available, Record& record) {
    constexpr int FIXED_HEADER = 48;
    if (available < FIXED_HEADER || std::strchr("DRQM", bytes[6]) == nullptr || bytes[6] == 0)
        return false;
    // The year tells the byte order, as libmseed finds it.
    bool bigEndian = true;
    unsigned year = Field16(bytes + 20, true);
    if (year < 1900 || year > 2100) {
        bigEndian = false;
        year = Field16(bytes + 20, false);
        if (year < 1900 || year > 2100)
            return false;
    }
    const unsigned day = Field16(bytes + 22, bigEndian);
    const unsigned hour = bytes[24];
    const unsigned minute = bytes[25];
    const unsigned second = bytes[26];
    const unsigned fraction = Field16(bytes + 28, bigEndian);  // 0.0001 s
    if (day < 1 || day > 366 || hour > 23 || minute > 59 || second > 60 || fraction > 9999)
        return false;
    const unsigned count = Field16(bytes + 30, bigEndian);
    const auto factor = static_cast<std::int16_t>(Field16(bytes + 32, bigEndian));
    const auto multiplier = static_cast<std::int16_t>(Field16(bytes + 34, bigEndian));
    const unsigned activity = bytes[36];
    const std::int32_t correction = Field32(bytes + 40, bigEndian);  // 0.0001 s
    int length = 0;
    int encoding = -1;
    int microseconds = 0;
    double blocketteRate = 0.0;
    unsigned next = Field16(bytes + 46, bigEndian);
    // Each blockette points further on, so the walk ends.
    while (next >= FIXED_HEADER && next + 8 <= static_cast<unsigned long long>(available)) {
        const unsigned char* blockette = bytes + next;
        const unsigned type = Field16(blockette, bigEndian);
        const unsigned following = Field16(blockette + 2, bigEndian);
        if (type == 1000) {
            encoding = blockette[4];
            if (blockette[6] < 7 || blockette[6] > 20)
                return false;
            length = 1 << blockette[6];
        } else if (type == 1001) {
            microseconds = static_cast<std::int8_t>(blockette[5]);
        } else if (type == 100) {
            const std::int32_t bits = Field32(blockette + 4, bigEndian);
            float rate = 0.0f;
            std::memcpy(&rate, &bits, sizeof rate);
            blocketteRate = rate;
        }
        if (following <= next)
            break;
        next = following;
    }
    if (length == 0)
        return false;
    const long long y = static_cast<long long>(year) - 1;
    // Days from 0001-01-01 to the record's day, less those to 1970-01-01.
    const long long days = 365 * y + y / 4 - y / 100 + y / 400 - 719162 + (day - 1);
    hptime_t start = (days * 86400 + hour * 3600 + minute * 60 + second) * HPTMODULUS +
                     static_cast<hptime_t>(fraction) * 100 + microseconds;
    // Bit 1 of the activity flags says the correction is already in the start time.
    if ((activity & 0x02u) == 0)
        start += static_cast<hptime_t>(correction) * 100;
    record.length = length;
    record.startTime = start;
    record.start = static_cast<double>(start) / HPTMODULUS;
    record.rate = blocketteRate != 0.0 ? blocketteRate : ms_nomsamprate(factor, multiplier);
    record.datatype = EncodingDatatype(encoding);
    record.count = static_cast<int>(count);
    return true;
}

// Returns true for a record that may hold samples of the window [t1, t2]: one within a sample
// of it. A
// chain is anchored at its first such record, so a record far before the window does not
// decide where the window's samples lie.
bool MeetsWindow(const Record& record, double t1, double t2) {
    const double interval = 1.0 / record.rate;
    return record.start + record.count * interval + interval > t1 && record.start - interval < t2;
}

// Maps a day file and lists those of its records whose headers can be read and that may hold
// samples of the window [t1, t2] (MeetsWindow); a missing file lists none. A file that ends
// inside a record is being written: the records before it are listed, the partial one is not.
// Where a record cannot be parsed the next one is looked for at the following multiple of the
// shortest record length, as records lie end to end.
void ReadDayFile(DayFile& file, int index, double t1, double t2, std::vector<Record>& records) {
    // The day files are mapped rather than read: a row needs a quarter of a day or less, but
    // every header of the day before and of its own days, and copying whole files out of the
    // page cache took longer than decoding the samples the window needs.
    file.mapping = std::make_unique<MappedFile>(file.path);
    if (!file.mapping->IsOpen())
        return;
    file.bytes = file.mapping->Data();
    file.size = file.mapping->Size();
    records.reserve(static_cast<std::size_t>(file.size / 4096));

    RecordBuffer buffer;
    long long offset = 0;
    while (file.size - offset >= MINRECLEN) {
        const long long left = file.size - offset;
        Record record;
        record.file = index;
        record.offset = offset;
        if (PeekRecord(file.bytes + offset, left, record)) {
            if (record.length > left)
                break;
        } else {
            const int available = static_cast<int>(std::min<long long>(left, MAXRECLEN));
            // libmseed takes records as writable bytes but only reads them.
            char* bytes = reinterpret_cast<char*>(const_cast<unsigned char*>(file.bytes + offset));
            const int parsed = msr_parse(bytes, available, buffer.Slot(), 0, 0, 0);
            if (parsed > 0)
                break;
            const MSRecord* header = buffer.Get();
            if (parsed < 0 || header->reclen < MINRECLEN) {
                if (file.unreadableAt < 0)
                    file.unreadableAt = offset;
                offset += MINRECLEN;
                continue;
            }
            record.length = header->reclen;
            record.startTime = header->starttime;
            record.start = static_cast<double>(header->starttime) / HPTMODULUS;
            record.rate = msr_samprate(const_cast<MSRecord*>(header));
            record.datatype = EncodingDatatype(header->encoding);
            record.count = header->samplecnt > INT_MAX ? 0 : static_cast<int>(header->samplecnt);
        }
        offset += record.length;
        // Records without samples (text, or blockettes alone) hold nothing to draw.
        if (record.datatype < 0 || record.count <= 0 ||
            !(record.rate > 0.0 && std::isfinite(record.rate)) || !MeetsWindow(record, t1, t2))
            continue;
        records.push_back(record);
    }
}

// Two records are the same record written twice when they start together and agree byte for
// byte after the sequence number.
bool IsRepeat(const Record& a, const Record& b, const std::vector<DayFile>& files) {
    constexpr int SEQUENCE_BYTES = 6;
    return a.startTime == b.startTime && a.length == b.length && a.count == b.count &&
           std::memcmp(files[static_cast<std::size_t>(a.file)].bytes + a.offset + SEQUENCE_BYTES,
                       files[static_cast<std::size_t>(b.file)].bytes + b.offset + SEQUENCE_BYTES,
                       static_cast<std::size_t>(a.length - SEQUENCE_BYTES)) == 0;
}

// A run of records that continue each other: record pieces[i].record holds the samples from
// pieces[i].first on, counted from the chain's first sample.
struct Chain {
    struct Piece {
        int record = 0;
        long long first = 0;
    };
    double rate = 0.0;
    double start = 0.0;  // epoch seconds of the first sample
    double end = 0.0;    // where its last record ends, epoch seconds
    long long total = 0;
    int datatype = 2;
    std::vector<Piece> pieces;
};

bool SameRate(double a, double b) { return std::fabs(a - b) <= 1e-6 * a; }

// Puts the records (in order of start time) into chains: a record continues a chain of its
// rate that ends within half a sample of its start, else begins a chain of its own. When an
// overlap leaves two such chains, the record continues the one whose last record lies just
// before it in its file (a stream is written record after record; data sent again comes
// later), and otherwise the oldest one, which the record met first in the files.
std::vector<Chain> ChainRecords(const std::vector<Record>& records) {
    std::vector<Chain> chains;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Record& record = records[i];
        Chain* joined = nullptr;
        for (Chain& chain : chains) {
            if (!SameRate(chain.rate, record.rate) ||
                !(std::fabs(record.start - chain.end) <= 0.5 / record.rate))
                continue;
            const Record& last = records[static_cast<std::size_t>(chain.pieces.back().record)];
            const bool follows =
                last.file == record.file && last.offset + last.length == record.offset;
            if (joined == nullptr || follows)
                joined = &chain;
            if (follows)
                break;
        }
        if (joined == nullptr) {
            chains.emplace_back();
            joined = &chains.back();
            joined->rate = record.rate;
            joined->start = record.start;
            joined->datatype = record.datatype;
        }
        joined->pieces.push_back({static_cast<int>(i), joined->total});
        joined->total += record.count;
        joined->end = record.start + record.count / record.rate;
        // Floats keep their values whatever integers the neighbours held.
        if (record.datatype == 3)
            joined->datatype = 3;
    }
    return chains;
}

// Where a chain meets the window [t1, t2], as the segment files' reader cuts a catalogued
// segment of tbegin start, tqty total / rate and sps rate: the index of the first sample in
// the window, the number of samples and the first sample's time.
struct Cut {
    double first = 0.0;
    double count = 0.0;
    double start = 0.0;
};

Cut CutChain(const Chain& chain, double t1, double t2) {
    const double tb = chain.start;
    const double sps = chain.rate;
    const double tq = static_cast<double>(chain.total) / sps;
    Cut cut;
    const double end = tb + tq <= t2 ? tb + tq : t2;
    if (tb >= t1 && tb <= t2) {
        cut.start = tb;
        cut.count = TruncateSamples((end - tb) * sps, sps);
    } else if (t1 > tb && tb + tq > t1) {
        // The last sample at or before t1; one that the rounding puts a sliver after t1 lies
        // at t1.
        cut.first = TruncateSamples((t1 - tb) * sps, sps);
        cut.start = cut.first / sps + tb;
        cut.count = TruncateSamples((end - cut.start) * sps, sps);
    }
    return cut;
}

// Samples [from, to) of one record, to be decoded into destination.
struct Job {
    int record = 0;
    int from = 0;
    int to = 0;
    float* destination = nullptr;
};

// What decoding one record gave.
enum class Decoded {
    SAMPLES,     // its samples are stored
    UNREADABLE,  // libmseed cannot decode it, or it holds fewer or more samples than it says
    RELAID,      // libmseed reads its header otherwise than it was laid out: the record's
                 // description now holds libmseed's values, and nothing is stored
};

// Decodes a record and stores samples [from, to) of it as floats.
Decoded DecodeRecord(Record& record, const DayFile& file, const Job& job, RecordBuffer& buffer) {
    // libmseed takes the record as writable bytes but only reads them.
    char* bytes = reinterpret_cast<char*>(const_cast<unsigned char*>(file.bytes + record.offset));
    if (msr_unpack(bytes, record.length, buffer.Slot(), 1, 0) != MS_NOERROR)
        return Decoded::UNREADABLE;
    const MSRecord* decoded = buffer.Get();
    if (decoded->numsamples != decoded->samplecnt || decoded->datasamples == nullptr)
        return Decoded::UNREADABLE;
    const double rate = msr_samprate(const_cast<MSRecord*>(decoded));
    if (decoded->numsamples != record.count || decoded->starttime != record.startTime ||
        decoded->reclen != record.length || rate != record.rate) {
        // Without samples or a rate it cannot be laid out at all.
        if (decoded->numsamples <= 0 || !(rate > 0.0 && std::isfinite(rate)))
            return Decoded::UNREADABLE;
        record.count = static_cast<int>(std::min<std::int64_t>(decoded->numsamples, INT_MAX));
        record.startTime = decoded->starttime;
        record.start = static_cast<double>(decoded->starttime) / HPTMODULUS;
        record.length = decoded->reclen;
        record.rate = rate;
        return Decoded::RELAID;
    }
    float* out = job.destination;
    switch (decoded->sampletype) {
        case 'i': {
            const auto* samples = static_cast<const std::int32_t*>(decoded->datasamples);
            for (int k = job.from; k < job.to; ++k) *out++ = static_cast<float>(samples[k]);
            return Decoded::SAMPLES;
        }
        case 'f': {
            const auto* samples = static_cast<const float*>(decoded->datasamples);
            std::copy(samples + job.from, samples + job.to, out);
            return Decoded::SAMPLES;
        }
        case 'd': {
            const auto* samples = static_cast<const double*>(decoded->datasamples);
            for (int k = job.from; k < job.to; ++k) *out++ = static_cast<float>(samples[k]);
            return Decoded::SAMPLES;
        }
        default:
            return Decoded::UNREADABLE;
    }
}

// A chain cut to the window, with its samples allocated.
struct Piece {
    SampleVector samples;
    int datatype = 2;
};

// Cuts the chains to the window and lists the records' samples to decode into them. Returns
// the segments that hold samples of the window, in ascending start time.
std::vector<Piece> LayOut(const std::vector<Chain>& chains, const std::vector<Record>& records,
                          double t1, double t2, std::vector<Job>& jobs) {
    jobs.clear();
    std::vector<Piece> pieces;
    for (const Chain& chain : chains) {
        const Cut cut = CutChain(chain, t1, t2);
        const double count = std::min(cut.count, static_cast<double>(chain.total) - cut.first);
        if (!(count >= 1.0) || count > static_cast<double>(INT_MAX))
            continue;
        Piece piece;
        piece.datatype = chain.datatype;
        piece.samples.sampleRate = chain.rate;
        piece.samples.startTime = cut.start;
        if (!piece.samples.AllocateUndefined(static_cast<int>(count)))
            continue;
        // Every sample of the cut lies in one record of the chain, so each is written once.
        const auto first = static_cast<long long>(cut.first);
        const long long last = first + piece.samples.sampleCount;
        for (const Chain::Piece& part : chain.pieces) {
            const long long begin = std::max(first, part.first);
            const long long end =
                std::min(last, part.first + records[static_cast<std::size_t>(part.record)].count);
            if (begin >= end)
                continue;
            Job job;
            job.record = part.record;
            job.from = static_cast<int>(begin - part.first);
            job.to = static_cast<int>(end - part.first);
            job.destination = piece.samples.samples + (begin - first);
            jobs.push_back(job);
        }
        pieces.push_back(std::move(piece));
    }
    // Moving a segment keeps its array where it is, so the jobs still point into it.
    std::stable_sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) {
        return a.samples.startTime < b.samples.startTime;
    });
    return pieces;
}

// Puts records in order of start time, those starting together in the order of the files.
void SortRecords(std::vector<Record>& records) {
    std::sort(records.begin(), records.end(), [](const Record& a, const Record& b) {
        if (a.startTime != b.startTime)
            return a.startTime < b.startTime;
        return a.file != b.file ? a.file < b.file : a.offset < b.offset;
    });
}

}  // namespace

void ReadSdsTrace(const std::string& root, const SdsStream& stream, double t1, double t2,
                  Trace& trace, std::vector<std::string>& notes, bool share) {
    SilenceLibmseed();
    trace.ClearSegments();
    trace.station = stream.station;
    trace.channel = stream.channel;

    const std::vector<std::string> paths = SdsDayPaths(root, stream, t1, t2);
    std::vector<DayFile> files(paths.size());
    std::vector<std::vector<Record>> listed(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) files[i].path = paths[i];
    std::atomic<std::size_t> nextFile{0};
    RunShared(share && files.size() > 1, [&] {
        for (std::size_t i = nextFile++; i < files.size(); i = nextFile++)
            ReadDayFile(files[i], static_cast<int>(i), t1, t2, listed[i]);
    });

    std::vector<Record> records;
    for (const std::vector<Record>& list : listed)
        records.insert(records.end(), list.begin(), list.end());
    // Records reach a day file in the order they were received, not always in time order.
    SortRecords(records);
    std::vector<Record> unique;
    for (const Record& record : records) {
        bool repeat = false;
        for (auto earlier = unique.rbegin();
             !repeat && earlier != unique.rend() && earlier->startTime == record.startTime;
             ++earlier)
            repeat = IsRepeat(*earlier, record, files);
        if (!repeat)
            unique.push_back(record);
    }
    records = std::move(unique);

    // A record that libmseed cannot decode is taken out, and one whose header it reads
    // otherwise than it was laid out is put where libmseed says; then the segments are laid
    // out again. Each round takes out a record or puts one right for good.
    std::vector<Piece> pieces;
    while (true) {
        std::vector<Job> jobs;
        pieces = LayOut(ChainRecords(records), records, t1, t2, jobs);
        std::vector<Decoded> results(jobs.size(), Decoded::SAMPLES);
        std::vector<Record> relaid(jobs.size());
        std::atomic<std::size_t> nextJob{0};
        RunShared(share && jobs.size() > 1, [&] {
            RecordBuffer buffer;
            for (std::size_t i = nextJob++; i < jobs.size(); i = nextJob++) {
                relaid[i] = records[static_cast<std::size_t>(jobs[i].record)];
                results[i] = DecodeRecord(
                    relaid[i], files[static_cast<std::size_t>(relaid[i].file)], jobs[i], buffer);
            }
        });
        std::vector<char> drop(records.size(), 0);
        bool again = false;
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            const auto index = static_cast<std::size_t>(jobs[i].record);
            if (results[i] == Decoded::RELAID) {
                records[index] = relaid[i];
                again = true;
            } else if (results[i] == Decoded::UNREADABLE) {
                DayFile& file = files[static_cast<std::size_t>(records[index].file)];
                if (file.unreadableAt < 0 || records[index].offset < file.unreadableAt)
                    file.unreadableAt = records[index].offset;
                drop[index] = 1;
                again = true;
            }
        }
        if (!again)
            break;
        std::vector<Record> kept;
        for (std::size_t i = 0; i < records.size(); ++i)
            if (drop[i] == 0)
                kept.push_back(records[i]);
        records = std::move(kept);
        SortRecords(records);
    }

    for (Piece& piece : pieces) trace.AppendSegment(std::move(piece.samples), piece.datatype);
    for (const DayFile& file : files) {
        if (file.unreadableAt < 0)
            continue;
        char note[64];
        std::snprintf(note, sizeof note, " at byte %lld", file.unreadableAt);
        notes.push_back("Skipping unreadable data in " + file.path + note);
    }
}
