#include <benchmark/benchmark.h>
#include <libmseed.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/memory.h"
#include "sds/libmseed_decoders.h"
#include "sds/sds_reader.h"
#include "timeutil/calendar.h"

namespace {

// 24 stations of one 100 samples-per-second channel, Steim-2 in 512-byte records, two whole
// days each; a row reads six hours of the second day, and with it the day before.
constexpr int STATIONS = 24;
constexpr double RATE = 100.0;
constexpr int DAY_SAMPLES = 8640000;
const double DAY = EpochFromCalendar(2024, 3, 10, 0, 0, 0.0f);
const double T1 = DAY + 6 * 3600.0;
const double T2 = DAY + 12 * 3600.0;

void AppendRecord(char* record, int length, void* file) {
    std::fwrite(record, 1, static_cast<std::size_t>(length), static_cast<std::FILE*>(file));
}

std::string StationName(int station) {
    char name[8];
    std::snprintf(name, sizeof name, "S%02d", station);
    return name;
}

// Writes one day file of a random walk whose steps span -200 .. 200 counts, about what a
// broadband channel records from background noise.
void WriteDay(const std::string& root, const std::string& station, int dayOfYear, double start,
              std::uint32_t seed) {
    const std::string folder = root + "/2024/XX/" + station + "/HHZ.D";
    std::filesystem::create_directories(folder);
    char name[64];
    std::snprintf(name, sizeof name, "/XX.%s..HHZ.D.2024.%03d", station.c_str(), dayOfYear);
    std::FILE* file = std::fopen((folder + name).c_str(), "wb");
    if (file == nullptr)
        return;
    std::vector<std::int32_t> samples(DAY_SAMPLES);
    std::int32_t value = 0;
    for (std::int32_t& sample : samples) {
        seed = seed * 1664525u + 1013904223u;
        value += static_cast<std::int32_t>(seed >> 23) - 256 + 56;
        value = value > 100000 || value < -100000 ? 0 : value;
        sample = value;
    }
    MSRecord* record = msr_init(nullptr);
    std::snprintf(record->network, sizeof record->network, "XX");
    std::snprintf(record->station, sizeof record->station, "%s", station.c_str());
    std::snprintf(record->channel, sizeof record->channel, "HHZ");
    record->dataquality = 'D';
    record->starttime = static_cast<hptime_t>(std::llround(start * HPTMODULUS));
    record->samprate = RATE;
    record->reclen = 512;
    record->encoding = DE_STEIM2;
    record->byteorder = 1;
    record->sampletype = 'i';
    record->datasamples = samples.data();
    record->numsamples = DAY_SAMPLES;
    std::int64_t packed = 0;
    msr_pack(record, AppendRecord, file, &packed, 1, 0);
    record->datasamples = nullptr;
    msr_free(&record);
    std::fclose(file);
}

// Owns the archive's folder and removes it with everything in it.
struct ArchiveFolder {
    std::string root;
    ~ArchiveFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
};

// Writes the archive into a fresh folder and returns its path.
std::string MakeArchive() {
    char pattern[] = "/tmp/trazplot-sds-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return std::string();
    for (int s = 0; s < STATIONS; ++s) {
        WriteDay(pattern, StationName(s), 69, DAY - 86400.0, 17u + static_cast<std::uint32_t>(s));
        WriteDay(pattern, StationName(s), 70, DAY, 1017u + static_cast<std::uint32_t>(s));
    }
    return pattern;
}

// The archive, made once for every benchmark of the run.
const std::string& Archive() {
    // The run keeps freed rows' memory for the next rows; so does the benchmark.
    static const bool kept = KeepFreedMemory();
    static const ArchiveFolder folder{MakeArchive()};
    (void)kept;
    return folder.root;
}

long long ReadRow(int station, bool share) {
    Trace trace;
    std::vector<std::string> notes;
    ReadSdsTrace(Archive(), SdsStream{"XX", StationName(station), "", "HHZ"}, T1, T2, trace, notes,
                 share);
    long long samples = 0;
    for (int i = 0; i < trace.SegmentCount(); ++i) samples += trace.SegmentAt(i).sampleCount;
    return samples;
}

// All rows one after the other; with share set each row's records are decoded on two threads.
void BM_SdsRows(benchmark::State& state) {
    const bool share = state.range(0) != 0;
    Archive();
    long long samples = 0;
    for (auto _ : state)
        for (int s = 0; s < STATIONS; ++s) samples += ReadRow(s, share);
    state.counters["samples/s"] =
        benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SdsRows)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// Two threads take rows as the run's read-ahead does, each row read by one of them.
void BM_SdsRowsTwoReaders(benchmark::State& state) {
    Archive();
    long long samples = 0;
    for (auto _ : state) {
        std::atomic<int> next{0};
        std::atomic<long long> read{0};
        auto work = [&] {
            for (int s = next++; s < STATIONS; s = next++) read += ReadRow(s, false);
        };
        std::thread helper(work);
        work();
        helper.join();
        samples += read;
    }
    state.counters["samples/s"] =
        benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SdsRowsTwoReaders)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// libmseed's Steim-2 decoder alone on one core, over the records of a quarter of a day file
// held in memory: the most any reading of these records can do a core. The file is S00's
// second day, or the day file of 512-byte Steim-2 records that SDS_DAY_FILE names (bench/run.sh's
// case 8 reads make_archive's, whose samples compress less).
void BM_Steim2DecoderAlone(benchmark::State& state) {
    const char* named = std::getenv("SDS_DAY_FILE");
    std::ifstream in(named != nullptr ? std::string(named)
                                      : Archive() + "/2024/XX/S00/HHZ.D/XX.S00..HHZ.D.2024.070",
                     std::ios::binary);
    std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    constexpr std::size_t RECORD = 512;
    const std::size_t records = file.size() / RECORD;
    const std::size_t first = records / 4;
    const std::size_t last = records / 2;
    std::vector<std::int32_t> decoded(RECORD);
    char source[] = "";
    long long samples = 0;
    for (auto _ : state) {
        for (std::size_t r = first; r < last; ++r) {
            auto* record = reinterpret_cast<unsigned char*>(&file[r * RECORD]);
            const int count = record[30] << 8 | record[31];
            const int offset = record[44] << 8 | record[45];
            samples += msr_decode_steim2(reinterpret_cast<std::int32_t*>(record + offset),
                                         static_cast<int>(RECORD) - offset, count, decoded.data(),
                                         static_cast<int>(RECORD) * 4, source, 1);
        }
        benchmark::DoNotOptimize(decoded.data());
    }
    state.counters["samples/s"] =
        benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Steim2DecoderAlone)->Unit(benchmark::kMillisecond);

}  // namespace
