#include "sds/sds_reader.h"

#include <libmseed.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <utility>

#include "dsp/run_shared.h"
#include "dsp/sample_count.h"
#include "platform/file_handle.h"
#include "sds/libmseed_decoders.h"

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

// One record of a day file as its header describes it.
struct Record {
    long long offset = 0;  // bytes from the start of its file
    hptime_t startTime = 0;
    double start = 0.0;  // epoch seconds of its first sample
    double rate = 0.0;   // samples per second
    int file = 0;
    int length = 0;  // bytes
    int count = 0;   // samples
    std::int8_t encoding = -1;
    // Where its samples lie and whether their bytes need swapping, as its header says, when the
    // header was read here; libmseed reads the header of the others again and decodes them.
    bool headerRead = false;
    bool swapData = false;
    bool relaid = false;  // laid out again as libmseed reads its header
    int dataOffset = 0;
};

}  // namespace

// What one scan of a day file found: its records with samples, in order of start time (in
// file order where they start together), and where the first record that cannot be parsed
// lies.
struct SdsDayIndex::Listing {
    std::vector<Record> records;  // file 0
    double longest = 0.0;         // seconds from a record's start to a sample after its last
    long long unreadableAt = -1;  // byte offset of the first record that cannot be decoded
};

namespace {

using DayListing = SdsDayIndex::Listing;

// One day file as a read uses it.
struct DayFile {
    std::string path;
    FileHandle stream;  // null for a file that cannot be opened
    std::shared_ptr<const DayListing> listing;
    long long unreadableAt = -1;
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
    const unsigned first = bytes[0];
    const unsigned second = bytes[1];
    return bigEndian ? (first << 8u) | second : (second << 8u) | first;
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
    const unsigned dataOffset = Field16(bytes + 44, bigEndian);
    int length = 0;
    int encoding = -1;
    int wordOrder = 0;
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
            wordOrder = static_cast<std::int8_t>(blockette[5]);
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
    record.count = static_cast<int>(count);
    record.encoding = static_cast<std::int8_t>(encoding);
    record.headerRead = true;
    record.dataOffset = static_cast<int>(dataOffset);
    // Samples are swapped as libmseed swaps them: a word order other than 0 means big-endian
    // on a little-endian machine, and 0 little-endian on a big-endian one.
    static const bool bigEndianHost = ms_bigendianhost() != 0;
    record.swapData = bigEndianHost ? wordOrder == 0 : wordOrder > 0;
    return true;
}

// Returns true for a record that may hold samples of the window [t1, t2]: one within a sample
// of it. A chain is anchored at its first such record, so a record far before the window does
// not decide where the window's samples lie.
bool MeetsWindow(const Record& record, double t1, double t2) {
    const double interval = 1.0 / record.rate;
    return record.start + record.count * interval + interval > t1 && record.start - interval < t2;
}

// What a scan of a day file, or of its part from some offset on, found in file order.
struct ScanPart {
    std::vector<Record> records;        // those with samples
    std::vector<long long> unreadable;  // offsets of bytes that are no record
    std::vector<long long> visited;     // where a record was looked for, when asked to keep them
};

// Lists the records of a day file from offset from on whose headers can be read and that
// hold samples. A file that ends inside a record is being written: the records before it are
// listed, the partial one is not. Where a record cannot be parsed the next one is looked for
// at the following multiple of the shortest record length, as records lie end to end. The
// file is read in pieces: a day of headers is needed, but only the records of a row are
// decoded, and a piece at a time keeps the memory of a run small whatever the size of its
// files. Where to look next depends only on the bytes from where the scan looks, so two scans
// that look at one offset list the same records from there on. Before each look the scan asks
// meets(offset) whether another scan lists the file from that offset on: then it stops and
// returns the offset; at the end of the file it returns -1.
template <typename Meets>
long long ScanRecords(std::FILE* stream, long long from, ScanPart& part, bool keepVisited,
                      const Meets& meets) {
    // Enough for a few hundred records; a longer record, or libmseed's look at a damaged
    // one, grows it.
    constexpr long long SCAN_BYTES = 128 * 1024;
    long long size = StreamFileSize(stream);
    if (size - from < MINRECLEN)
        return -1;
    std::unique_ptr<unsigned char[]> buffer;
    long long capacity = 0;
    long long bufferStart = 0;
    long long buffered = 0;
    part.records.reserve(static_cast<std::size_t>((size - from) / 1024));
    RecordBuffer parsed;
    long long offset = from;
    while (size - offset >= MINRECLEN) {
        if (meets(offset))
            return offset;
        if (keepVisited && (part.visited.empty() || part.visited.back() != offset))
            part.visited.push_back(offset);
        const long long left = size - offset;
        long long held = bufferStart + buffered - offset;
        // Reads on from offset unless need bytes (or all that is left) are held already.
        const auto refill = [&](long long need) {
            need = std::min(need, left);
            if (held >= need)
                return false;
            if (need > capacity) {
                capacity = std::max(need, SCAN_BYTES);
                buffer.reset(new unsigned char[static_cast<std::size_t>(capacity)]);
            }
            const long long wanted = std::min(capacity, left);
            bufferStart = offset;
            buffered = static_cast<long long>(
                ReadStreamAt(stream, offset, buffer.get(), static_cast<std::size_t>(wanted)));
            // A file cut shorter since it was measured ends where its bytes end.
            if (buffered < wanted)
                size = offset + buffered;
            held = buffered;
            return true;
        };
        if (held < MINRECLEN) {
            refill(MINRECLEN);
            if (held < MINRECLEN)
                break;
        }
        const unsigned char* bytes = buffer.get() + (offset - bufferStart);
        Record record;
        record.offset = offset;
        if (PeekRecord(bytes, held, record)) {
            if (record.length > held) {
                if (refill(record.length))
                    continue;
                break;  // still being written
            }
        } else {
            if (refill(MAXRECLEN))
                continue;
            const int available = static_cast<int>(std::min<long long>(held, MAXRECLEN));
            // libmseed takes records as writable bytes but only reads them.
            char* writable = reinterpret_cast<char*>(const_cast<unsigned char*>(bytes));
            const int result = msr_parse(writable, available, parsed.Slot(), 0, 0, 0);
            if (result > 0)
                break;
            const MSRecord* header = parsed.Get();
            if (result < 0 || header->reclen < MINRECLEN) {
                part.unreadable.push_back(offset);
                offset += MINRECLEN;
                continue;
            }
            record.length = header->reclen;
            record.startTime = header->starttime;
            record.start = static_cast<double>(header->starttime) / HPTMODULUS;
            record.rate = msr_samprate(const_cast<MSRecord*>(header));
            record.encoding = header->encoding;
            record.count = header->samplecnt > INT_MAX ? 0 : static_cast<int>(header->samplecnt);
        }
        offset += record.length;
        // Records without samples (text, or blockettes alone) hold nothing to draw.
        if (EncodingDatatype(record.encoding) < 0 || record.count <= 0 ||
            !(record.rate > 0.0 && std::isfinite(record.rate)))
            continue;
        part.records.push_back(record);
    }
    return -1;
}

// A day file long enough to be listed by two threads: one scans its second half, from a
// multiple of the longest usual record length, while the other scans from the start; once
// past the half, that one takes the second half's records from the first offset both scans
// looked at. When the second half has not been started by then, the first scan goes on alone.
struct SplitScan {
    enum class Tail { WAITING, SCANNING, SCANNED, DROPPED };

    explicit SplitScan(long long size) : split(size / 2 / 4096 * 4096) {}

    // Scans the second half unless the first scan has gone on alone.
    void ScanTail(std::FILE* stream) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (tail != Tail::WAITING)
                return;
            tail = Tail::SCANNING;
        }
        ScanRecords(stream, split, second, true, [](long long) { return false; });
        std::lock_guard<std::mutex> lock(mutex);
        tail = Tail::SCANNED;
        scanned.notify_all();
    }

    // Scans from the start into first until it meets the second half's scan; returns the
    // offset where it did, or -1 when it scanned to the end.
    long long ScanHead(std::FILE* stream) {
        bool decided = false;
        bool alone = false;
        std::size_t at = 0;
        return ScanRecords(stream, 0, first, false, [&](long long offset) {
            if (offset < split)
                return false;
            if (!decided) {
                decided = true;
                std::unique_lock<std::mutex> lock(mutex);
                if (tail == Tail::WAITING)
                    tail = Tail::DROPPED;
                alone = tail == Tail::DROPPED;
                scanned.wait(lock, [this] { return tail != Tail::SCANNING; });
            }
            if (alone)
                return false;
            const std::vector<long long>& visited = second.visited;
            while (at < visited.size() && visited[at] < offset) ++at;
            return at < visited.size() && visited[at] == offset;
        });
    }

    const long long split;
    std::mutex mutex;
    std::condition_variable scanned;
    Tail tail = Tail::WAITING;
    ScanPart first;
    ScanPart second;
};

// Puts the records of a scan from the start of a file together with, where the scan stopped
// at offset meet, those the scan of the rest found from there on; sorts them by start time.
void JoinScans(ScanPart& first, long long meet, const ScanPart* rest, DayListing& listing) {
    listing.records = std::move(first.records);
    if (!first.unreadable.empty())
        listing.unreadableAt = first.unreadable.front();
    if (meet >= 0 && rest != nullptr) {
        const auto from = std::lower_bound(
            rest->records.begin(), rest->records.end(), meet,
            [](const Record& record, long long offset) { return record.offset < offset; });
        listing.records.insert(listing.records.end(), from, rest->records.end());
        const auto unreadable =
            std::lower_bound(rest->unreadable.begin(), rest->unreadable.end(), meet);
        if (listing.unreadableAt < 0 && unreadable != rest->unreadable.end())
            listing.unreadableAt = *unreadable;
    }
    for (const Record& record : listing.records)
        listing.longest = std::max(listing.longest, (record.count + 1.0) / record.rate);
    const auto earlier = [](const Record& a, const Record& b) { return a.startTime < b.startTime; };
    // A stream written in order is listed in order.
    if (!std::is_sorted(listing.records.begin(), listing.records.end(), earlier))
        std::stable_sort(listing.records.begin(), listing.records.end(), earlier);
}

// Reads the bytes of a record; empty when the file no longer holds them.
std::vector<unsigned char> RecordBytes(const Record& record, const std::vector<DayFile>& files) {
    std::vector<unsigned char> bytes(static_cast<std::size_t>(record.length));
    std::FILE* stream = files[static_cast<std::size_t>(record.file)].stream.get();
    if (stream == nullptr ||
        ReadStreamAt(stream, record.offset, bytes.data(), bytes.size()) != bytes.size())
        bytes.clear();
    return bytes;
}

// Two records are the same record written twice when they start together and agree byte for
// byte after the sequence number.
bool IsRepeat(const Record& a, const Record& b, const std::vector<DayFile>& files) {
    constexpr std::size_t SEQUENCE_BYTES = 6;
    if (a.startTime != b.startTime || a.length != b.length || a.count != b.count)
        return false;
    const std::vector<unsigned char> first = RecordBytes(a, files);
    const std::vector<unsigned char> second = RecordBytes(b, files);
    return !first.empty() && first.size() == second.size() &&
           std::equal(first.begin() + SEQUENCE_BYTES, first.end(), second.begin() + SEQUENCE_BYTES);
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
            joined->datatype = EncodingDatatype(record.encoding);
        }
        joined->pieces.push_back({static_cast<int>(i), joined->total});
        joined->total += record.count;
        joined->end = record.start + record.count / record.rate;
        // Floats keep their values whatever integers the neighbours held.
        if (EncodingDatatype(record.encoding) == 3)
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

// Samples [from, to) of decoded as floats at out.
template <typename Sample>
void StoreSamples(const Sample* decoded, const Job& job, float* out) {
    for (int k = job.from; k < job.to; ++k) *out++ = static_cast<float>(decoded[k]);
}

// Returns true unless the environment tells libmseed to read headers or samples otherwise
// than they say (its UNPACK_* variables): then every record goes through libmseed whole.
bool HeadersSayHowToDecode() {
    static const bool plain = std::getenv("UNPACK_HEADER_BYTEORDER") == nullptr &&
                              std::getenv("UNPACK_DATA_BYTEORDER") == nullptr &&
                              std::getenv("UNPACK_DATA_FORMAT") == nullptr;
    return plain;
}

// What a thread decodes records with: libmseed's record, for records it reads whole, and the
// arrays its decoders write samples to, which grow to the longest record and are reused.
struct Decoder {
    RecordBuffer record;
    std::vector<std::int32_t> integers;
    std::vector<float> floats;
    std::vector<double> doubles;
};

// Decodes count samples with decode into scratch, grown to hold them, and stores samples
// [from, to) of them as floats. Returns false when decode gives other than count.
template <typename Sample, typename Decode>
bool DecodeInto(std::vector<Sample>& scratch, int count, const Job& job, const Decode& decode) {
    scratch.resize(std::max(scratch.size(), static_cast<std::size_t>(count)));
    if (decode(scratch.data()) != count)
        return false;
    StoreSamples(scratch.data(), job, job.destination);
    return true;
}

// Returns true when the count samples that a record's header announces in an encoding fit the
// record's dataBytes: libmseed's decoders of the encodings whose samples take fixed bytes read
// as many as the header says, wherever the record ends. Its Steim decoders stop at the end.
bool SamplesFitRecord(int encoding, long long count, long long dataBytes) {
    long long bytes = 4;
    switch (encoding) {
        case DE_STEIM1:
        case DE_STEIM2:
            bytes = 0;
            break;
        case DE_ASCII:
            bytes = 1;
            break;
        case DE_INT16:
        case DE_GEOSCOPE163:
        case DE_GEOSCOPE164:
        case DE_CDSN:
        case DE_SRO:
        case DE_DWWSSN:
            bytes = 2;
            break;
        case DE_GEOSCOPE24:
            bytes = 3;
            break;
        case DE_FLOAT64:
            bytes = 8;
            break;
        default:
            break;
    }
    return count >= 0 && count <= INT_MAX / 8 && count * bytes <= dataBytes;
}

// Decodes the samples of a record whose header was read here with libmseed's decoder for its
// encoding, and stores samples [from, to) of it as floats. Returns false when the samples do
// not fit the record or are not as many as the header says. Nothing is allocated for a record,
// which keeps the threads that decode a row apart: libmseed's record would take and give back
// memory for each one.
bool DecodeSamples(const Record& record, unsigned char* bytes, const Job& job, Decoder& decoder) {
    const int count = record.count;
    const int available = record.length - record.dataOffset;
    if (!SamplesFitRecord(record.encoding, count, available))
        return false;
    // libmseed's decoders take the record as writable bytes but only read them.
    void* data = bytes + record.dataOffset;
    const int swap = record.swapData ? 1 : 0;
    // Names a record in libmseed's messages, which go nowhere.
    char source[] = "";
    switch (record.encoding) {
        case DE_FLOAT32:
            return DecodeInto(decoder.floats, count, job, [&](float* out) {
                return msr_decode_float32(static_cast<float*>(data), count, out, count * 4, swap);
            });
        case DE_FLOAT64:
            return DecodeInto(decoder.doubles, count, job, [&](double* out) {
                return msr_decode_float64(static_cast<double*>(data), count, out, count * 8, swap);
            });
        default:
            break;
    }
    return DecodeInto(decoder.integers, count, job, [&](std::int32_t* out) {
        auto* words = static_cast<std::int32_t*>(data);
        switch (record.encoding) {
            case DE_INT16:
                return msr_decode_int16(static_cast<std::int16_t*>(data), count, out, count * 4,
                                        swap);
            case DE_INT32:
                return msr_decode_int32(words, count, out, count * 4, swap);
            case DE_STEIM1:
                return msr_decode_steim1(words, available, count, out, count * 4, source, swap);
            default:
                return msr_decode_steim2(words, available, count, out, count * 4, source, swap);
        }
    });
}

// The encodings whose samples are decoded here from the record's header, without libmseed
// reading the header again.
bool DecodedFromItsHeader(const Record& record) {
    switch (record.encoding) {
        case DE_INT16:
        case DE_INT32:
        case DE_FLOAT32:
        case DE_FLOAT64:
        case DE_STEIM1:
        case DE_STEIM2:
            return record.headerRead && HeadersSayHowToDecode() && record.dataOffset >= 48 &&
                   record.dataOffset < record.length;
        default:
            return false;
    }
}

// Decodes a record, its bytes at hand, and stores samples [from, to) of it as floats.
Decoded DecodeRecord(Record& record, unsigned char* bytes, const Job& job, Decoder& decoder) {
    if (DecodedFromItsHeader(record))
        return DecodeSamples(record, bytes, job, decoder) ? Decoded::SAMPLES : Decoded::UNREADABLE;
    RecordBuffer& buffer = decoder.record;
    // libmseed takes the record as writable bytes. Its header is read first: a header that
    // gives another length than the record was read with, or announces more samples than the
    // record holds, would have libmseed read past the bytes at hand.
    char* writable = reinterpret_cast<char*>(bytes);
    if (msr_unpack(writable, record.length, buffer.Slot(), 0, 0) != MS_NOERROR)
        return Decoded::UNREADABLE;
    const MSRecord* header = buffer.Get();
    if (header->fsdh == nullptr)
        return Decoded::UNREADABLE;
    const double rate = msr_samprate(const_cast<MSRecord*>(header));
    if (header->samplecnt != record.count || header->starttime != record.startTime ||
        header->reclen != record.length || rate != record.rate) {
        // Without samples or a rate it cannot be laid out at all; laid out once as libmseed
        // reads it, it is not laid out again (its blockettes might name other lengths by turns).
        if (header->samplecnt <= 0 || !(rate > 0.0 && std::isfinite(rate)) || record.relaid)
            return Decoded::UNREADABLE;
        record.count = static_cast<int>(std::min<std::int64_t>(header->samplecnt, INT_MAX));
        record.startTime = header->starttime;
        record.start = static_cast<double>(header->starttime) / HPTMODULUS;
        record.length = header->reclen;
        record.rate = rate;
        record.relaid = true;
        return Decoded::RELAID;
    }
    if (!SamplesFitRecord(header->encoding, header->samplecnt,
                          static_cast<long long>(header->reclen) - header->fsdh->data_offset) ||
        msr_unpack(writable, record.length, buffer.Slot(), 1, 0) != MS_NOERROR)
        return Decoded::UNREADABLE;
    const MSRecord* decoded = buffer.Get();
    if (decoded->numsamples != decoded->samplecnt || decoded->datasamples == nullptr)
        return Decoded::UNREADABLE;
    switch (decoded->sampletype) {
        case 'i':
            StoreSamples(static_cast<const std::int32_t*>(decoded->datasamples), job,
                         job.destination);
            return Decoded::SAMPLES;
        case 'f':
            StoreSamples(static_cast<const float*>(decoded->datasamples), job, job.destination);
            return Decoded::SAMPLES;
        case 'd':
            StoreSamples(static_cast<const double*>(decoded->datasamples), job, job.destination);
            return Decoded::SAMPLES;
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
    const auto before = [](const Record& a, const Record& b) {
        if (a.startTime != b.startTime)
            return a.startTime < b.startTime;
        return a.file != b.file ? a.file < b.file : a.offset < b.offset;
    };
    // A stream written in order comes in order.
    if (!std::is_sorted(records.begin(), records.end(), before))
        std::sort(records.begin(), records.end(), before);
}

// Records of one file that lie close together, read with one call and decoded one by one:
// jobs [first, end) of the order they are listed in.
struct Batch {
    int file = 0;
    long long offset = 0;
    long long length = 0;
    std::size_t first = 0;
    std::size_t end = 0;
};

// Bytes of records that a batch may hold: enough to read with few calls, few enough that a
// row's records make batches for both threads.
constexpr long long BATCH_BYTES = 64 * 1024;

// Orders the jobs by file and place in it, and puts records that lie within a few kilobytes
// of each other into batches of up to BATCH_BYTES (or one longer record).
std::vector<Batch> BatchJobs(const std::vector<Job>& jobs, const std::vector<Record>& records,
                             std::vector<std::size_t>& order) {
    constexpr long long HOLE_BYTES = 4096;
    order.resize(jobs.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    const auto recordOf = [&](std::size_t job) -> const Record& {
        return records[static_cast<std::size_t>(jobs[job].record)];
    };
    const auto before = [&](std::size_t a, std::size_t b) {
        const Record& x = recordOf(a);
        const Record& y = recordOf(b);
        return x.file != y.file ? x.file < y.file : x.offset < y.offset;
    };
    if (!std::is_sorted(order.begin(), order.end(), before))
        std::sort(order.begin(), order.end(), before);
    std::vector<Batch> batches;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const Record& record = recordOf(order[k]);
        const long long end = record.offset + record.length;
        if (!batches.empty()) {
            Batch& last = batches.back();
            const long long lastEnd = last.offset + last.length;
            if (last.file == record.file && record.offset >= last.offset &&
                record.offset <= lastEnd + HOLE_BYTES && end - last.offset <= BATCH_BYTES) {
                last.length = std::max(lastEnd, end) - last.offset;
                last.end = k + 1;
                continue;
            }
        }
        batches.push_back({record.file, record.offset, record.length, k, k + 1});
    }
    return batches;
}

// Takes the record lists of files from the index, or scans those it does not hold yet. With
// share set, two threads scan the files, each long one by halves.
void ListDayFiles(const SdsStream& stream, std::vector<DayFile>& files, SdsDayIndex* index,
                  bool share) {
    // Files shorter than this are scanned by one thread: starting a second costs more than
    // it saves.
    constexpr long long SPLIT_BYTES = 1024 * 1024;
    struct Scan {
        DayFile* file = nullptr;
        std::unique_ptr<SplitScan> halves;
        bool kept = false;  // its list is in the index
    };
    std::vector<Scan> scans;
    // The index waits for the lists it left this call to make: those not made are given up.
    struct GiveUp {
        SdsDayIndex* index;
        std::vector<Scan>& scans;
        ~GiveUp() {
            for (const Scan& scan : scans)
                if (index != nullptr && !scan.kept)
                    index->Release(scan.file->path);
        }
    } giveUp{index, scans};
    // The jobs: each file's scan from the start and, for a long file, before it the scan of its
    // second half, so that the halves are always listed apart: when the other thread starts
    // late, one thread lists both.
    std::vector<std::pair<std::size_t, bool>> jobs;
    for (DayFile& file : files) {
        // A file that is gone holds nothing, whatever it held when it was listed.
        if (file.stream == nullptr)
            continue;
        if (index != nullptr)
            file.listing = index->Find(file.path);
        if (file.listing != nullptr)
            continue;
        Scan scan;
        scan.file = &file;
        const long long size = StreamFileSize(file.stream.get());
        if (share && size >= SPLIT_BYTES)
            scan.halves = std::make_unique<SplitScan>(size);
        if (scan.halves != nullptr)
            jobs.emplace_back(scans.size(), true);
        jobs.emplace_back(scans.size(), false);
        scans.push_back(std::move(scan));
    }
    std::atomic<std::size_t> nextJob{0};
    RunShared(share && jobs.size() > 1, [&] {
        for (std::size_t j = nextJob++; j < jobs.size(); j = nextJob++) {
            Scan& scan = scans[jobs[j].first];
            std::FILE* file = scan.file->stream.get();
            if (jobs[j].second) {
                scan.halves->ScanTail(file);
                continue;
            }
            auto listing = std::make_shared<DayListing>();
            if (scan.halves != nullptr) {
                const long long meet = scan.halves->ScanHead(file);
                JoinScans(scan.halves->first, meet, &scan.halves->second, *listing);
            } else {
                ScanPart whole;
                ScanRecords(file, 0, whole, false, [](long long) { return false; });
                JoinScans(whole, -1, nullptr, *listing);
            }
            scan.file->listing = listing;
            if (index != nullptr)
                index->Keep(stream, scan.file->path, listing);
            scan.kept = true;
        }
    });
}

// Opens the day files of stream under root that the window [t1, t2] needs into files, takes
// their record lists from index or lists them, and returns the records that may hold samples
// of the window, file after file, each file's in order of start time.
std::vector<Record> ListWindowRecords(const std::string& root, const SdsStream& stream, double t1,
                                      double t2, bool share, SdsDayIndex* index,
                                      std::vector<DayFile>& files) {
    const std::vector<std::string> paths = SdsDayPaths(root, stream, t1, t2);
    files = std::vector<DayFile>(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        files[i].path = paths[i];
        files[i].stream.reset(std::fopen(paths[i].c_str(), "rb"));
    }
    ListDayFiles(stream, files, index, share);

    // Only records that start less than the longest record before t1, up to a sample after t2,
    // may meet the window (a second more either way covers any rounding).
    using Listed = std::vector<Record>::const_iterator;
    std::vector<std::pair<Listed, Listed>> near(files.size());
    std::size_t nearCount = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i].listing == nullptr)
            continue;
        const std::vector<Record>& listed = files[i].listing->records;
        const double longest = files[i].listing->longest + 1.0;
        const auto startsBefore = [](const Record& record, double time) {
            return record.start < time;
        };
        near[i].first = std::lower_bound(listed.begin(), listed.end(), t1 - longest, startsBefore);
        near[i].second = std::lower_bound(near[i].first, listed.end(), t2 + longest, startsBefore);
        nearCount += static_cast<std::size_t>(near[i].second - near[i].first);
        files[i].unreadableAt = files[i].listing->unreadableAt;
    }
    std::vector<Record> records;
    records.reserve(nearCount);
    for (std::size_t i = 0; i < files.size(); ++i) {
        for (auto at = near[i].first; at != near[i].second; ++at) {
            if (!MeetsWindow(*at, t1, t2))
                continue;
            records.push_back(*at);
            records.back().file = static_cast<int>(i);
        }
    }
    return records;
}

}  // namespace

SdsDayIndex::SdsDayIndex() = default;
SdsDayIndex::~SdsDayIndex() = default;

std::shared_ptr<const DayListing> SdsDayIndex::Find(const std::string& path) {
    std::unique_lock<std::mutex> lock(mutex);
    // Threads find the files of a window in order of their days, so none waits for a file
    // while another waits for one it lists.
    kept.wait(lock,
              [&] { return std::find(unlisted.begin(), unlisted.end(), path) == unlisted.end(); });
    for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
        if (entry->path != path)
            continue;
        entries.splice(entries.begin(), entries, entry);
        return entries.front().listing;
    }
    unlisted.push_back(path);
    return nullptr;
}

void SdsDayIndex::Release(const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        unlisted.erase(std::remove(unlisted.begin(), unlisted.end(), path), unlisted.end());
    }
    kept.notify_all();
}

void SdsDayIndex::Keep(const SdsStream& stream, const std::string& path,
                       std::shared_ptr<const DayListing> listing) {
    const std::string key =
        stream.network + "." + stream.station + "." + stream.location + "." + stream.channel;
    std::unique_lock<std::mutex> lock(mutex);
    entries.push_front({key, path, std::move(listing)});
    // Lists a run no longer needs would stand between the rows' sample arrays in memory: only
    // those of this stream and of the one used before it stay.
    std::string other;
    entries.remove_if([&](const Entry& entry) {
        if (entry.stream == key)
            return false;
        if (other.empty())
            other = entry.stream;
        return entry.stream != other;
    });
    // A drum's rows move through the days in order, and a row needs a few days at most.
    if (entries.size() > CAPACITY)
        entries.pop_back();
    lock.unlock();
    Release(path);
}

void ReadSdsTrace(const std::string& root, const SdsStream& stream, double t1, double t2,
                  Trace& trace, std::vector<std::string>& notes, bool share, SdsDayIndex* index) {
    SilenceLibmseed();
    trace.ClearSegments();
    trace.station = stream.station;
    trace.channel = stream.channel;

    std::vector<DayFile> files;
    std::vector<Record> records = ListWindowRecords(root, stream, t1, t2, share, index, files);
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
        std::vector<std::size_t> order;
        const std::vector<Batch> batches = BatchJobs(jobs, records, order);
        std::vector<Decoded> results(jobs.size(), Decoded::SAMPLES);
        std::vector<Record> relaid(jobs.size());
        std::atomic<std::size_t> nextBatch{0};
        RunShared(share && batches.size() > 1, [&] {
            Decoder decoder;
            // Every byte used is read into it first, so it need not be cleared.
            std::unique_ptr<unsigned char[]> bytes;
            long long capacity = 0;
            for (std::size_t b = nextBatch++; b < batches.size(); b = nextBatch++) {
                const Batch& batch = batches[b];
                if (batch.length > capacity) {
                    capacity = std::max(batch.length, BATCH_BYTES);
                    bytes.reset(new unsigned char[static_cast<std::size_t>(capacity)]);
                }
                std::FILE* file = files[static_cast<std::size_t>(batch.file)].stream.get();
                const auto got = file == nullptr ? 0LL
                                                 : static_cast<long long>(ReadStreamAt(
                                                       file, batch.offset, bytes.get(),
                                                       static_cast<std::size_t>(batch.length)));
                for (std::size_t k = batch.first; k < batch.end; ++k) {
                    const std::size_t i = order[k];
                    relaid[i] = records[static_cast<std::size_t>(jobs[i].record)];
                    const long long at = relaid[i].offset - batch.offset;
                    // A file cut shorter since it was listed no longer holds the record.
                    results[i] = at + relaid[i].length > got
                                     ? Decoded::UNREADABLE
                                     : DecodeRecord(relaid[i], bytes.get() + at, jobs[i], decoder);
                }
            }
        });
        std::vector<char> drop(records.size(), 0);
        bool again = false;
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            const auto which = static_cast<std::size_t>(jobs[i].record);
            if (results[i] == Decoded::RELAID) {
                records[which] = relaid[i];
                again = true;
            } else if (results[i] == Decoded::UNREADABLE) {
                DayFile& file = files[static_cast<std::size_t>(records[which].file)];
                if (file.unreadableAt < 0 || records[which].offset < file.unreadableAt)
                    file.unreadableAt = records[which].offset;
                drop[which] = 1;
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

double SdsWindowRate(const std::string& root, const SdsStream& stream, double t1, double t2,
                     SdsDayIndex* index) {
    SilenceLibmseed();
    std::vector<DayFile> files;
    double rate = 0.0;
    for (const Record& record : ListWindowRecords(root, stream, t1, t2, true, index, files))
        rate = std::max(rate, record.rate);
    return rate;
}
