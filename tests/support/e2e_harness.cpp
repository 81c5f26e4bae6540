#include "tests/support/e2e_harness.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

const char* const FAKETIME_LIBRARY = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";

// Sanitizer settings of the test run reach the programs under test too.
const char* const PASSED_VARIABLES[] = {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"};

bool UtcFields(double epoch, std::tm& fields) {
    const auto seconds = static_cast<std::time_t>(epoch);
    return gmtime_r(&seconds, &fields) != nullptr;
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& workDir, const std::vector<std::string>& environment,
                         double timeLimitSeconds) {
    // Everything the child needs is prepared before the fork.
    std::vector<std::string> texts = {program};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables = environment;
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);

    ProcessResult result;
    int outputPipe[2];
    int errorPipe[2];
    if (pipe(outputPipe) != 0) {
        ADD_FAILURE() << "cannot create a pipe";
        return result;
    }
    if (pipe(errorPipe) != 0) {
        close(outputPipe[0]);
        close(outputPipe[1]);
        ADD_FAILURE() << "cannot create a pipe";
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(timeLimitSeconds));
    const pid_t child = fork();
    if (child == 0) {
        dup2(outputPipe[1], STDOUT_FILENO);
        dup2(errorPipe[1], STDERR_FILENO);
        close(outputPipe[0]);
        close(outputPipe[1]);
        close(errorPipe[0]);
        close(errorPipe[1]);
        if (chdir(workDir.c_str()) != 0)
            _exit(127);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(outputPipe[1]);
    close(errorPipe[1]);
    if (child < 0) {
        close(outputPipe[0]);
        close(errorPipe[0]);
        ADD_FAILURE() << "cannot start " << program;
        return result;
    }

    // Both pipes are drained together, so that a child filling one of them never blocks.
    pollfd ends[2] = {{outputPipe[0], POLLIN, 0}, {errorPipe[0], POLLIN, 0}};
    std::string* collected[2] = {&result.output, &result.errors};
    int open = 2;
    while (open > 0 && !result.timedOut) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            result.timedOut = true;
            break;
        }
        const int ready = poll(ends, 2, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2 && ready > 0; ++i) {
            if (ends[i].fd < 0 || ends[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t count = read(ends[i].fd, buffer, sizeof buffer);
            if (count > 0) {
                collected[i]->append(buffer, static_cast<std::size_t>(count));
                if (i == 1)
                    std::fwrite(buffer, 1, static_cast<std::size_t>(count), stderr);
            } else if (count == 0 || errno != EINTR) {
                close(ends[i].fd);
                ends[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& end : ends) {
        if (end.fd >= 0)
            close(end.fd);
    }

    // A child that closed its output may still be running: it gets the rest of its time.
    int waitStatus = 0;
    pid_t waited = 0;
    rusage usage{};
    while (!result.timedOut && (waited = wait4(child, &waitStatus, WNOHANG, &usage)) == 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            result.timedOut = true;
        else
            usleep(10000);
    }
    if (result.timedOut) {
        kill(child, SIGKILL);
        waited = wait4(child, &waitStatus, 0, &usage);
        ADD_FAILURE() << program << " was killed after running for " << timeLimitSeconds
                      << " seconds";
    }
    if (waited == child)
        result.minorFaults = usage.ru_minflt;
    if (waited == child && WIFEXITED(waitStatus))
        result.status = WEXITSTATUS(waitStatus);
    if (waited == child && WIFSIGNALED(waitStatus) && !result.timedOut)
        result.signal = WTERMSIG(waitStatus);
    return result;
}

RunFolder::RunFolder(const TestDataSource& dataSource) : source(dataSource) {
    std::filesystem::create_directories(folder.File("work"));
    std::filesystem::create_directories(folder.File("windows"));
    std::filesystem::create_directories(folder.File("data"));
}

std::string RunFolder::WorkFile(const std::string& name) const {
    return folder.File("work/" + name);
}

std::string RunFolder::DataDir() const { return folder.File("data"); }

std::string RunFolder::WindowsDir() const { return folder.File("windows"); }

std::vector<std::string> RunFolder::WorkFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.File("work"))) {
        // The lock file that runs writing into the folder share stays there; it is no output.
        if (entry.path().filename() != ".trazplot.lock")
            names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void RunFolder::WriteWorkFile(const std::string& name, const std::string& text) const {
    folder.Write("work/" + name, text);
}

void RunFolder::WriteWaveIni(const std::string& sections) const {
    WriteWorkFile("wave.ini", "[DATA]\nDIR=" + DataDir() + "\n\n[DATABASE]\nODBC=" + source.Dsn() +
                                  "\nUSER=" + source.User() + "\nPASSWORD=" + source.Password() +
                                  "\n\n" + sections);
}

std::vector<std::string> RunFolder::Environment() const {
    std::vector<std::string> environment = {"ODBCSYSINI=" + source.OdbcSysIni(),
                                            "ODBCINI=" + source.OdbcIni(), "WINDIR=" + WindowsDir(),
                                            "TZ=UTC"};
    for (const char* name : PASSED_VARIABLES) {
        if (const char* value = std::getenv(name))
            environment.push_back(std::string(name) + "=" + value);
    }
    return environment;
}

ProcessResult RunFolder::Run(const std::vector<std::string>& arguments,
                             const std::vector<std::string>& extraEnvironment) const {
    std::vector<std::string> environment = Environment();
    for (const std::string& extra : extraEnvironment) {
        const std::string name = extra.substr(0, extra.find('=') + 1);
        environment.erase(std::remove_if(environment.begin(), environment.end(),
                                         [&](const std::string& variable) {
                                             return variable.compare(0, name.size(), name) == 0;
                                         }),
                          environment.end());
        environment.push_back(extra);
    }
    return RunProcess(TRAZPLOT_BINARY_DIR "/trazplot", arguments, folder.File("work"), environment,
                      timeLimit);
}

ProcessResult RunFolder::RunUnder(const std::string& program,
                                  const std::vector<std::string>& programArguments,
                                  const std::vector<std::string>& arguments) const {
    std::vector<std::string> all = programArguments;
    all.push_back(TRAZPLOT_BINARY_DIR "/trazplot");
    all.insert(all.end(), arguments.begin(), arguments.end());
    return RunProcess(program, all, folder.File("work"), Environment(), timeLimit);
}

int RunFolder::ThreadsStarted(const std::vector<std::string>& arguments) const {
    const std::string calls = folder.File("work/threads.strace");
    const ProcessResult result =
        RunUnder("/usr/bin/strace", {"-f", "-e", "trace=clone,clone3", "-o", calls}, arguments);
    EXPECT_EQ(result.status, SHELL_OK) << result.errors;
    std::istringstream lines(ReadFileBytes(calls));
    std::string line;
    int started = 0;
    while (std::getline(lines, line)) started += line.find("clone") != std::string::npos;
    return started;
}

ProcessResult RunFolder::RunWithFileSizeLimit(long fileBytes,
                                              const std::vector<std::string>& arguments) const {
    // The shell sets the limit (in blocks of 512 bytes) and ignores the signal a write past
    // it would raise, so that the write fails instead; both survive the exec.
    return RunUnder(
        "/bin/sh",
        {"-c", "ulimit -f " + std::to_string(fileBytes / 512) + " && trap '' XFSZ && exec \"$@\"",
         "trazplot"},
        arguments);
}

ProcessResult RunFolder::RunAt(const std::string& utcTime,
                               const std::vector<std::string>& arguments) const {
    // libfaketime reads the pinned time in the process's time zone, which Run sets to UTC.
    if (!std::filesystem::exists(FAKETIME_LIBRARY)) {
        ADD_FAILURE() << "libfaketime is missing: " << FAKETIME_LIBRARY
                      << " (Debian package faketime)";
        return ProcessResult();
    }
    // A sanitizer runtime linked as a shared library wants to be loaded first; the preloaded
    // clock does not disturb it.
    std::string asanOptions = "verify_asan_link_order=0";
    if (const char* value = std::getenv("ASAN_OPTIONS"))
        asanOptions = std::string(value) + ":" + asanOptions;
    return Run(arguments, {std::string("LD_PRELOAD=") + FAKETIME_LIBRARY, "FAKETIME=@" + utcTime,
                           "ASAN_OPTIONS=" + asanOptions});
}

bool RunFolder::Generate(const std::vector<std::string>& options) const {
    std::vector<std::string> arguments = {"--dsn",       source.Dsn(), "--user",
                                          source.User(), "--password", source.Password(),
                                          "--data",      DataDir(),    "--no-schema"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const ProcessResult result =
        RunProcess(TRAZPLOT_BINARY_DIR "/make_archive", arguments, folder.Path(), Environment());
    EXPECT_EQ(result.status, 0) << result.output;
    return result.status == 0;
}

std::vector<WfdiscRecord> ReadWfdisc(const std::string& path) {
    std::vector<WfdiscRecord> records;
    std::istringstream lines(ReadFileBytes(path));
    std::string line;
    while (std::getline(lines, line)) {
        WfdiscRecord record;
        record.length = line.size();
        std::istringstream columns(line);
        long wfid = 0;
        long chanid = 0;
        double calib = 0.0;
        double calper = 0.0;
        std::string instype;
        std::string segtype;
        columns >> record.sta >> record.chan >> record.time >> wfid >> chanid >> record.jdate >>
            record.endtime >> record.nsamp >> record.samprate >> calib >> calper >> instype >>
            segtype >> record.datatype;
        std::string clip;
        std::string dir;
        columns >> clip >> dir >> record.dfile;
        records.push_back(record);
    }
    return records;
}

std::vector<WfdiscRecord> RecordsWithSamples(const std::vector<WfdiscRecord>& records) {
    std::vector<WfdiscRecord> kept;
    for (const WfdiscRecord& record : records) {
        if (record.nsamp > 0)
            kept.push_back(record);
    }
    return kept;
}

void ExpectRecordsCover(std::vector<WfdiscRecord> records, double start, double end) {
    ASSERT_FALSE(records.empty()) << "no records";
    std::sort(records.begin(), records.end(),
              [](const WfdiscRecord& a, const WfdiscRecord& b) { return a.time < b.time; });
    // The columns hold five decimals.
    const double tolerance = 1e-4;
    EXPECT_NEAR(records.front().time, start, tolerance) << HeaderDateTime(records.front().time);
    for (std::size_t i = 1; i < records.size(); ++i) {
        EXPECT_NEAR(records[i].time, records[i - 1].endtime, tolerance)
            << "record " << i << " at " << HeaderDateTime(records[i].time);
    }
    EXPECT_NEAR(records.back().endtime, end, tolerance) << HeaderDateTime(records.back().endtime);
}

std::string WriteFloatSegment(const std::string& dataDir, const std::string& station,
                              const std::string& channel, double tbegin, double sps,
                              const std::vector<float>& samples, int headerBytes) {
    const std::string name =
        station + "_" + channel + "_" + std::to_string(static_cast<long long>(tbegin)) + ".dat";
    std::string bytes(static_cast<std::size_t>(headerBytes), '\0');
    for (float sample : samples) {
        std::uint32_t raw = 0;
        std::memcpy(&raw, &sample, sizeof raw);
        for (int i = 0; i < 4; ++i) bytes += static_cast<char>((raw >> (8 * i)) & 0xFF);
    }
    const std::filesystem::path file = std::filesystem::path(dataDir) / station / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out << bytes;
    EXPECT_TRUE(out.good()) << "cannot write " << file.string();
    return "insert into filelist (sta, ch, tbegin, tqty, sps, cpath, datatype, foff) values (" +
           SqlLiteral(station) + ", " + SqlLiteral(channel) + ", " + SqlNumber(tbegin) + ", " +
           SqlNumber(static_cast<double>(samples.size()) / sps) + ", " + SqlNumber(sps) + ", " +
           SqlLiteral(station + "\\" + name) + ", 3, " + std::to_string(headerBytes) + ");\n";
}

std::string ArrivalInsert(const std::string& station, const std::string& channel,
                          const std::string& phase, double itime, double distance,
                          const std::string& eventId) {
    return "insert into arrival (sta, chan, iphase, itime, dist, eventid) values (" +
           SqlLiteral(station) + ", " + SqlLiteral(channel) + ", " + SqlLiteral(phase) + ", " +
           SqlNumber(itime) + ", " + SqlNumber(distance) + ", " + SqlLiteral(eventId) + ");\n";
}

std::string HeaderDateTime(double epoch) {
    std::tm fields{};
    if (!UtcFields(epoch, fields))
        return std::string();
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d", fields.tm_mday,
                  fields.tm_mon + 1, fields.tm_year + 1900, fields.tm_hour, fields.tm_min,
                  fields.tm_sec);
    return text;
}

std::string HeaderTime(double epoch) {
    std::tm fields{};
    if (!UtcFields(epoch, fields))
        return std::string();
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", fields.tm_hour, fields.tm_min,
                  fields.tm_sec);
    return text;
}
