// Outputs written whole or not at all: runs killed, signalled or stopped by a full disk while
// they write, runs that write into one folder at once, and output names that would overwrite
// one another. A run is killed at a chosen system call by strace, never after a time.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/e2e_harness.h"
#include "tests/support/gif_probe.h"
#include "tests/support/odbc_fixture.h"

namespace {

const std::vector<std::string> TEN_MINUTES = {"tbeg=10:00:00 02.03.2004", "nsec=600", "/NOPREVIEW"};

std::vector<std::string> With(std::vector<std::string> arguments,
                              const std::vector<std::string>& more) {
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
}

// The names in a folder, sorted, without the runs' lock file.
std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename() != ".trazplot.lock")
            names.insert(entry.path().filename().string());
    }
    return names;
}

// Returns true when bytes are one whole GIF: gd reads it and it ends at its trailer.
bool IsWholeGif(const std::string& path) {
    const std::string bytes = ReadFileBytes(path);
    return bytes.size() > 13 && bytes.compare(0, 3, "GIF") == 0 && bytes.back() == ';' &&
           ReadPicture(path) != nullptr;
}

class AtomicOutputs : public testing::Test {
protected:
    void SetUp() override {
        source = std::make_unique<TestDataSource>(Backend::Sqlite);
        ASSERT_TRUE(source->IsReady()) << source->Error();
        folder = std::make_unique<RunFolder>(*source);
        // Two stations of 100 samples per second: a segment of five minutes fills a .w file
        // of 120000 bytes, written in blocks.
        ASSERT_TRUE(folder->Generate({"--stations", "2", "--channels", "BHZ", "--span", "600",
                                      "--segment", "300", "--sps", "100"}));
        folder->WriteWaveIni("[WAVEFORMS]\nN#=2\n\n[STA0]\nSTA=ABEL\n\n[STA1]\nSTA=BORA\n");
    }

    // Runs trazplot under strace, which sends signalName to it when it enters the given
    // system call for the time given in strace's terms ("1": the first time, "2+": the
    // second and every later time) in any of its threads.
    ProcessResult RunSignalledAt(const std::string& call, const std::string& when,
                                 const std::string& signalName,
                                 const std::vector<std::string>& arguments) const {
        return folder->RunUnder("/usr/bin/strace",
                                {"-f", "-qq", "-o", "/dev/null", "-e", "trace=" + call, "-e",
                                 "inject=" + call + ":signal=" + signalName + ":when=" + when},
                                arguments);
    }

    std::unique_ptr<TestDataSource> source;
    std::unique_ptr<RunFolder> folder;
};

TEST_F(AtomicOutputs, ImageKeepsTheEarlierPictureWhenItsWriteFailsOrIsKilled) {
    const std::vector<std::string> large = With(TEN_MINUTES, {"size=4000x3000"});
    ASSERT_EQ(folder->Run(large).status, SHELL_OK);
    ASSERT_GT(ReadFileBytes(folder->WorkFile("OUT.GIF")).size(), 3 * 4096u);
    for (const char* name : {"OUT.GIF", "OUT.PNG"}) {
        SCOPED_TRACE(name);
        const std::vector<std::string> arguments = With(large, {std::string("file=") + name});
        ASSERT_EQ(folder->Run(arguments).status, SHELL_OK);
        const std::string earlier = ReadFileBytes(folder->WorkFile(name));
        const ProcessResult full = folder->RunWithFileSizeLimit(4096, arguments);
        EXPECT_EQ(full.status, SHELL_IMAGE_WRITE);
        EXPECT_TRUE(ReadFileBytes(folder->WorkFile(name)) == earlier)
            << "a full disk keeps the earlier picture";
        const ProcessResult killed = RunSignalledAt("write", "2+", "SIGKILL", arguments);
        EXPECT_EQ(killed.signal, SIGKILL);
        EXPECT_TRUE(ReadFileBytes(folder->WorkFile(name)) == earlier)
            << "a killed write keeps the earlier picture";
    }
    EXPECT_EQ(folder->WorkFiles(), (std::vector<std::string>{"OUT.GIF", "OUT.PNG", "wave.ini"}));
}

TEST_F(AtomicOutputs, CssSampleFilesAreWholeAndListedAndAFailureIsToldOnce) {
    const std::vector<std::string> css = With(TEN_MINUTES, {"css=rows.wfd"});
    ASSERT_EQ(folder->Run(css).status, SHELL_OK);
    const std::vector<WfdiscRecord> records = ReadWfdisc(folder->WorkFile("ROWS.WFD"));
    ASSERT_GE(RecordsWithSamples(records).size(), 4u);
    // A second run of the same window writes sample files of the same names; killed while it
    // writes them, every file a record lists is still whole.
    const ProcessResult killed = RunSignalledAt("write", "2+", "SIGKILL", css);
    EXPECT_EQ(killed.signal, SIGKILL);
    for (const WfdiscRecord& record : ReadWfdisc(folder->WorkFile("ROWS.WFD"))) {
        SCOPED_TRACE(record.dfile);
        EXPECT_EQ(ReadFileBytes(folder->WorkFile(record.dfile)).size(),
                  static_cast<std::size_t>(record.nsamp) * 4);
    }

    // On a full disk no sample file is left that no record lists, and the user is told once.
    const ProcessResult full =
        folder->RunWithFileSizeLimit(100000, With(TEN_MINUTES, {"css=full.wfd"}));
    EXPECT_EQ(full.status, SHELL_EXPORT_WRITE);
    EXPECT_EQ(full.errors, "Ошибка записи файла wfdisc\n");
    std::set<std::string> listed;
    for (const WfdiscRecord& record : ReadWfdisc(folder->WorkFile("FULL.WFD")))
        listed.insert(record.dfile);
    for (const WfdiscRecord& record : ReadWfdisc(folder->WorkFile("ROWS.WFD")))
        listed.insert(record.dfile);
    for (const std::string& name : folder->WorkFiles()) {
        if (name.size() > 2 && name.compare(name.size() - 2, 2, ".w") == 0) {
            EXPECT_EQ(listed.count(name), 1u) << name << " is listed by no record";
        }
    }
}

TEST_F(AtomicOutputs, ReplacementKeepsLinksPermissionsReadOnlyFilesAndLongNames) {
    std::filesystem::create_directory(folder->WorkFile("real"));
    folder->WriteWorkFile("real/day.mseed", "earlier");
    std::filesystem::create_symlink("real/day.mseed", folder->WorkFile("link.mseed"));
    ASSERT_EQ(folder->Run(With(TEN_MINUTES, {"mseed=link.mseed"})).status, SHELL_OK);
    EXPECT_TRUE(std::filesystem::is_symlink(folder->WorkFile("link.mseed")))
        << "the link stays a link";
    EXPECT_GT(ReadFileBytes(folder->WorkFile("real/day.mseed")).size(), 4096u)
        << "the file the link leads to is replaced";

    struct Case {
        std::string name;
        mode_t mode;
        int status;
    };
    const Case cases[] = {
        {"PRIVATE.MSEED", 0600, SHELL_OK},
        {"SHARED.MSEED", 0664, SHELL_OK},
        {"KEPT.MSEED", 0444, SHELL_EXPORT_WRITE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        folder->WriteWorkFile(c.name, "earlier");
        chmod(folder->WorkFile(c.name).c_str(), c.mode);
        const ProcessResult result = folder->Run(With(TEN_MINUTES, {"mseed=" + c.name}));
        EXPECT_EQ(result.status, c.status);
        struct stat info;
        ASSERT_EQ(stat(folder->WorkFile(c.name).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.mode);
        EXPECT_EQ(ReadFileBytes(folder->WorkFile(c.name)) == "earlier", c.status != SHELL_OK);
    }

    // Names up to the file system's limit of 255 bytes.
    for (const std::size_t length : {249u, 255u}) {
        SCOPED_TRACE(length);
        const std::string name = std::string(length - 6, 'L') + ".MSEED";
        const ProcessResult result = folder->Run(With(TEN_MINUTES, {"mseed=" + name}));
        EXPECT_EQ(result.status, SHELL_OK) << result.errors;
        EXPECT_GT(ReadFileBytes(folder->WorkFile(name)).size(), 4096u);
    }
}

TEST_F(AtomicOutputs, LeavesNoTemporaryFileWhenSignalledOrLimited) {
    const std::vector<std::string> mseed = With(TEN_MINUTES, {"mseed=big.mseed"});
    const std::set<std::string> files = FilesIn(folder->WorkFile(""));
    // Killed while the records are written: the unfinished file has no name to leave.
    ProcessResult result = RunSignalledAt("write", "2+", "SIGKILL", mseed);
    EXPECT_EQ(result.signal, SIGKILL);
    EXPECT_EQ(FilesIn(folder->WorkFile("")), files);
    // Asked to end just as a finished file gets its temporary name: the name goes too.
    struct Case {
        const char* name;
        int number;
    };
    for (const Case& c :
         {Case{"SIGTERM", SIGTERM}, Case{"SIGINT", SIGINT}, Case{"SIGHUP", SIGHUP}}) {
        SCOPED_TRACE(c.name);
        result = RunSignalledAt("linkat", "1", c.name, With(mseed, {"/JSON"}));
        EXPECT_EQ(result.signal, c.number);
        EXPECT_EQ(FilesIn(folder->WorkFile("")), files);
    }
    // A file size limit fails the write like a full disk, with the export's message.
    result = folder->RunUnder("/bin/sh", {"-c", "ulimit -f 64 && exec \"$@\"", "trazplot"}, mseed);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, SHELL_EXPORT_WRITE);
    EXPECT_EQ(result.errors, "Cannot write miniSEED file BIG.MSEED!\n");
}

TEST_F(AtomicOutputs, RemovesTemporaryFilesOlderThanADayThatKilledRunsLeft) {
    const std::string stale = folder->WorkFile(".trazplot-tmp.4242.1.0");
    const std::string young = folder->WorkFile(".trazplot-tmp.4243.1.0");
    const std::string foreign = folder->WorkFile(".other.tmp");
    for (const std::string& path : {stale, young, foreign}) std::ofstream(path) << "left";
    const timeval twoDaysAgo = {time(nullptr) - 2 * 86400, 0};
    const timeval times[2] = {twoDaysAgo, twoDaysAgo};
    ASSERT_EQ(utimes(stale.c_str(), times), 0);
    ASSERT_EQ(utimes(foreign.c_str(), times), 0);
    ASSERT_EQ(folder->Run(TEN_MINUTES).status, SHELL_OK);
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(young)) << "may belong to a run still writing";
    EXPECT_TRUE(std::filesystem::exists(foreign)) << "not ours";
}

// Eight runs at once into one folder, each writing the same names with a picture of its own
// width: every output is whole, and the picture and its description come from the same run.
TEST_F(AtomicOutputs, RunsIntoOneFolderWriteWholeFilesFromOneRun) {
    constexpr int RUNS = 8;
    const auto arguments = [](int run) {
        return With(TEN_MINUTES, {"size=" + std::to_string(600 + 10 * run) + "x300", "/JSON",
                                  "mseed=shared.mseed"});
    };
    std::vector<std::string> pictures;
    for (int run = 0; run < RUNS; ++run) {
        ASSERT_EQ(folder->Run(arguments(run)).status, SHELL_OK);
        pictures.push_back(ReadFileBytes(folder->WorkFile("OUT.GIF")));
    }
    const std::string mseed = ReadFileBytes(folder->WorkFile("SHARED.MSEED"));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        std::vector<ProcessResult> results(RUNS);
        std::vector<std::thread> threads;
        for (int run = 0; run < RUNS; ++run)
            threads.emplace_back([&, run] { results[run] = folder->Run(arguments(run)); });
        for (std::thread& thread : threads) thread.join();
        for (const ProcessResult& result : results) EXPECT_EQ(result.status, SHELL_OK);
        const std::string picture = ReadFileBytes(folder->WorkFile("OUT.GIF"));
        int writer = -1;
        for (int run = 0; run < RUNS; ++run) {
            if (pictures[static_cast<std::size_t>(run)] == picture)
                writer = run;
        }
        ASSERT_NE(writer, -1) << "the picture is one run's whole picture";
        const nlohmann::json description =
            nlohmann::json::parse(ReadFileBytes(folder->WorkFile("OUT.json")), nullptr, false);
        ASSERT_FALSE(description.is_discarded());
        EXPECT_EQ(description["image"]["width"], 600 + 10 * writer);
        EXPECT_TRUE(ReadFileBytes(folder->WorkFile("SHARED.MSEED")) == mseed);
    }
    EXPECT_EQ(folder->WorkFiles(),
              (std::vector<std::string>{"OUT.GIF", "OUT.json", "SHARED.MSEED", "wave.ini"}));
}

TEST_F(AtomicOutputs, PageOfRunsIntoOneFolderListsEveryPicture) {
    constexpr int RUNS = 8;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        std::vector<ProcessResult> results(RUNS);
        std::vector<std::thread> threads;
        for (int run = 0; run < RUNS; ++run) {
            const std::string file =
                "file=r" + std::to_string(round) + "p" + std::to_string(run) + ".gif";
            threads.emplace_back([&, file, run] {
                results[run] = folder->Run(With(TEN_MINUTES, {file, "/HTML"}));
            });
        }
        for (std::thread& thread : threads) thread.join();
        const std::string page = ReadFileBytes(folder->WorkFile("index.html"));
        for (int run = 0; run < RUNS; ++run) {
            EXPECT_EQ(results[run].status, SHELL_OK);
            const std::string picture =
                "R" + std::to_string(round) + "P" + std::to_string(run) + ".GIF";
            EXPECT_NE(page.find("src=\"" + picture + "\""), std::string::npos) << picture;
            EXPECT_TRUE(IsWholeGif(folder->WorkFile(picture))) << picture;
        }
    }
}

TEST_F(AtomicOutputs, RefusesOutputNamesThatWouldOverwriteOneAnother) {
    folder->WriteWorkFile("ev.gif", "another picture");
    struct Case {
        std::string what;
        std::string sections;
        std::vector<std::string> arguments;
        std::string output;
    };
    const std::string stations =
        "[WAVEFORMS]\nN#=2\nFILE=ev.gif\n\n[STA0]\nSTA=ABEL\n\n[STA1]\nSTA=BORA\n";
    const Case cases[] = {
        {"a page named as the description",
         stations + "[WEB]\nINDEX=ev.json\n",
         {},
         "Output file names collide (ev.json and ev.json)!\n"},
        {"a page named as the image",
         stations + "[WEB]\nINDEX=ev.gif\n",
         {},
         "Output file names collide (ev.gif and ev.gif)!\n"},
        {"a miniSEED file named as the image",
         stations + "[MSEEDOUTPUT]\nFILE=ev.gif\n",
         {"mseed"},
         "Output file names collide (ev.gif and ev.gif)!\n"},
        {"a wfdisc file named as the image",
         stations,
         {"css=ev.gif", "file=ev.gif"},
         "Output file names collide (EV.GIF and EV.GIF)!\n"},
        {"two pictures sharing one description",
         stations,
         {"file=ev.png", "/JSON"},
         "Output file names collide (EV.PNG and ev.gif)!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        folder->WriteWaveIni(c.sections);
        const std::vector<std::string> before = folder->WorkFiles();
        const ProcessResult result = folder->Run(With(TEN_MINUTES, c.arguments));
        EXPECT_EQ(result.output, c.output);
        EXPECT_EQ(result.status, SHELL_WINDOW_SETTINGS);
        EXPECT_EQ(folder->WorkFiles(), before) << "no file written";
        EXPECT_TRUE(ReadFileBytes(folder->WorkFile("ev.gif")) == "another picture");
    }
}

TEST_F(AtomicOutputs, EmptyMseedFileNameMeansTheDefaultName) {
    folder->WriteWaveIni(
        "[WAVEFORMS]\nN#=2\n\n[STA0]\nSTA=ABEL\n\n[STA1]\nSTA=BORA\n\n[MSEEDOUTPUT]\nFILE=\n");
    const ProcessResult result = folder->Run(With(TEN_MINUTES, {"mseed"}));
    EXPECT_EQ(result.status, SHELL_OK) << result.errors;
    EXPECT_GT(ReadFileBytes(folder->WorkFile("wave.mseed")).size(), 4096u);
}

}  // namespace
