// The row loop frees each row's sample arrays and allocates the next row's of the same sizes.
// Kept by the C library, those pages are reused; given back to the system, every row faults
// its arrays in again, zeroed, and a long run spends much of its time doing so. The count of
// page faults tells the two apart without timing anything, as it tells whether the arrays
// still fault in large pages; the count of system calls tells whether each segment file is
// still read in one go, and the loader's list whether the start-up still skips libraries a
// run never calls.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "tests/support/e2e_harness.h"
#include "tests/support/odbc_fixture.h"

namespace {

constexpr int STATIONS = 8;
constexpr int SPAN_SECONDS = 7200;
constexpr int SPS = 100;
constexpr long PAGE_BYTES = 4096;
// Pages of one row's sample arrays: two hours of 32-bit samples.
constexpr long ROW_PAGES = static_cast<long>(SPAN_SECONDS) * SPS * 4 / PAGE_BYTES;

std::string StationSections(int count) {
    // The generator's first station codes.
    const char* const CODES[STATIONS] = {"ABEL", "BORA", "CEDA", "DUNK",
                                         "ELMO", "FARO", "GIRO", "HALE"};
    std::string text = "[WAVEFORMS]\nN#=" + std::to_string(count) + "\n";
    for (int i = 0; i < count; ++i)
        text += "\n[STA" + std::to_string(i) + "]\nSTA=" + CODES[i] + "\n";
    return text;
}

// AddressSanitizer brings an allocator of its own, which takes no such setting and keeps no
// pages, and its leak check cannot run under strace: under it there is nothing to check.
#if defined(__SANITIZE_ADDRESS__)
#define SKIP_UNDER_SANITIZER() GTEST_SKIP() << "the sanitizer's allocator keeps no freed pages"
#else
#define SKIP_UNDER_SANITIZER()
#endif

// Runs of the whole window over one row and over all eight, on a SQLite catalogue.
class EightRows : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(source.IsReady()) << source.Error();
        ASSERT_TRUE(
            folder.Generate({"--stations", std::to_string(STATIONS), "--channels", "BHZ", "--span",
                             std::to_string(SPAN_SECONDS), "--segment", "600", "--sps",
                             std::to_string(SPS), "--events", "0", "--seed", "3"}));
    }

    TestDataSource source{Backend::Sqlite};
    RunFolder folder{source};
    const std::vector<std::string> arguments = {
        "tbeg=10:00:00 02.03.2004", "nsec=" + std::to_string(SPAN_SECONDS), "/NOPREVIEW"};
};

TEST(KeepFreedMemory, TakesEffectOnThisHost) {
    SKIP_UNDER_SANITIZER();
    EXPECT_TRUE(KeepFreedMemory());
}

TEST_F(EightRows, LaterRowsReuseThePagesOfTheFirst) {
    SKIP_UNDER_SANITIZER();

    folder.WriteWaveIni(StationSections(1));
    const ProcessResult oneRow = folder.Run(arguments);
    ASSERT_EQ(oneRow.status, SHELL_OK) << oneRow.output;
    folder.WriteWaveIni(StationSections(STATIONS));
    const ProcessResult allRows = folder.Run(arguments);
    ASSERT_EQ(allRows.status, SHELL_OK) << allRows.output;

    // One row's run already holds the start-up and one row's pages; seven more rows add
    // seven rows' pages when freed memory goes back to the system, and next to none when
    // it is kept.
    ASSERT_GT(oneRow.minorFaults, 0);
    EXPECT_LT(allRows.minorFaults, oneRow.minorFaults + 2 * ROW_PAGES)
        << "one row: " << oneRow.minorFaults << " faults, " << STATIONS
        << " rows: " << allRows.minorFaults << " faults, one row's arrays: " << ROW_PAGES
        << " pages";
}

// True when the system hands out large pages to memory that asks for them.
bool LargePagesOnRequest() {
    const std::string mode = ReadFileBytes("/sys/kernel/mm/transparent_hugepage/enabled");
    return mode.find("[madvise]") != std::string::npos ||
           mode.find("[always]") != std::string::npos;
}

TEST_F(EightRows, RowArraysFaultInLargePages) {
    SKIP_UNDER_SANITIZER();
    if (!LargePagesOnRequest())
        GTEST_SKIP() << "this system hands out no large pages on request";

    // The same row drawn over a second and over its two hours: the difference is what its
    // arrays cost in faults, a row's pages with small pages, a few with large ones.
    folder.WriteWaveIni(StationSections(1));
    std::vector<std::string> oneSecond = arguments;
    oneSecond[1] = "nsec=1";
    const ProcessResult empty = folder.Run(oneSecond);
    ASSERT_EQ(empty.status, SHELL_OK) << empty.output;
    const ProcessResult oneRow = folder.Run(arguments);
    ASSERT_EQ(oneRow.status, SHELL_OK) << oneRow.output;
    EXPECT_LT(oneRow.minorFaults - empty.minorFaults, ROW_PAGES / 4)
        << "over a second: " << empty.minorFaults << " faults, over the row: " << oneRow.minorFaults
        << ", one row's arrays: " << ROW_PAGES << " pages";
}

TEST_F(EightRows, LoadsAHandfulOfSharedLibraries) {
    // libgd's shared library brings some fifty image-codec libraries that a run never calls,
    // and loading them took half the start-up of every run: the program links libgd's
    // archive, and the C++ runtime's. The loader lists what it loads, as ldd does, when asked
    // to trace.
    const ProcessResult listed = folder.Run({}, {"LD_TRACE_LOADED_OBJECTS=1"});
    ASSERT_EQ(listed.status, SHELL_OK) << listed.errors;
    std::istringstream lines(listed.output);
    std::string line;
    int libraries = 0;
    while (std::getline(lines, line)) {
        ++libraries;
        EXPECT_EQ(line.find("libgd.so"), std::string::npos) << line;
#if !defined(__SANITIZE_ADDRESS__)
        // The C++ runtime is linked in, except in sanitizer builds.
        EXPECT_EQ(line.find("libstdc++"), std::string::npos) << line;
#endif
    }
    // The C and C++ runtimes, the ODBC driver manager, PNG and zlib, libmseed, a sanitizer's.
    EXPECT_LE(libraries, 16) << listed.output;
}

// Returns the calls strace -c counted for a system call in its summary file; -1 when absent.
long CountedCalls(const std::string& summary, const std::string& call) {
    std::istringstream lines(summary);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> words;
        std::string word;
        while (fields >> word) words.push_back(word);
        // % time, seconds, usecs/call, calls, [errors,] syscall
        if (words.size() >= 5 && words.back() == call)
            return std::stol(words[3]);
    }
    return -1;
}

TEST_F(EightRows, ReadEachSegmentFileInOneCallAndEachFolderOncePerRow) {
    // LeakSanitizer cannot run under strace's ptrace.
    SKIP_UNDER_SANITIZER();
    // The calls of the run: reads of files and of the catalogue, and reads of folders.
    struct Calls {
        long reads = 0;
        long folderReads = 0;
        long fileCalls = 0;  // every call that looks up, opens, reads or closes a file
        long opens = 0;
    };
    // With css, the rows are exported too, into a folder of their own.
    const auto count = [&](int stations, bool css = false) {
        folder.WriteWaveIni(StationSections(stations) +
                            (css ? "\n[CSS30OUTPUT]\nFILE=.\\export\\rows.wfd\n" : ""));
        std::vector<std::string> runArguments = arguments;
        if (css) {
            folder.WriteWorkFile("export/keep.txt", "");
            runArguments.push_back("css");
        }
        const std::string summary = folder.WorkFile("strace.txt");
        const ProcessResult result = folder.RunUnder(
            "/usr/bin/strace",
            {"-f", "-c", "-o", summary, "-e",
             "trace=read,pread64,getdents64,newfstatat,fstat,stat,lstat,statx,openat,lseek,close"},
            runArguments);
        EXPECT_EQ(result.status, SHELL_OK) << result.errors;
        const std::string text = ReadFileBytes(summary);
        Calls calls;
        calls.reads =
            std::max(0L, CountedCalls(text, "read")) + std::max(0L, CountedCalls(text, "pread64"));
        calls.folderReads = std::max(0L, CountedCalls(text, "getdents64"));
        calls.fileCalls = std::max(0L, CountedCalls(text, "total"));
        calls.opens = std::max(0L, CountedCalls(text, "openat"));
        return calls;
    };
    // Seven more rows of twelve ten-minute files each. Each file is read in one call, with
    // the catalogue's listing of each row: at most three calls a file. The catalogue names the
    // files in another case than the generator's folders, so each row matches its folders
    // without regard to case: reading each of them once for the row, not once per file, takes
    // a few calls a row.
    const int files = (STATIONS - 1) * SPAN_SECONDS / 600;
    const Calls oneRow = count(1);
    const Calls allRows = count(STATIONS);
    ASSERT_GT(oneRow.reads, 0);
    EXPECT_LE(allRows.reads - oneRow.reads, 3 * files)
        << "one row: " << oneRow.reads << " calls, " << STATIONS << " rows: " << allRows.reads;
    // Looking a file up, opening, measuring, reading and closing it takes seven calls once
    // its folders are known, not one look per folder of its path (seventeen); with its share
    // of the row's own (the catalogue, the row's settings), at most a dozen.
    EXPECT_LE(allRows.fileCalls - oneRow.fileCalls, 12 * files)
        << "one row: " << oneRow.fileCalls << " file calls, " << STATIONS
        << " rows: " << allRows.fileCalls;
    EXPECT_LE(allRows.folderReads - oneRow.folderReads, 6 * (STATIONS - 1))
        << "one row: " << oneRow.folderReads << " folder reads, " << STATIONS
        << " rows: " << allRows.folderReads;
    // A row opens each of its segment files once, and the two folders it matches; its
    // settings come from the profile file read once for the run, not once for each key.
    EXPECT_LE(allRows.opens - oneRow.opens, files + 3 * (STATIONS - 1))
        << "one row: " << oneRow.opens << " opens, " << STATIONS << " rows: " << allRows.opens;
    // Each row's sample files are named in the export folder: it is read once for the row,
    // not once for each of the row's files.
    const Calls exported = count(STATIONS, true);
    EXPECT_LE(exported.folderReads - allRows.folderReads, 4 * STATIONS)
        << "without the export: " << allRows.folderReads
        << " folder reads, with it: " << exported.folderReads;
}

}  // namespace
