#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "archive/sql_text.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/temp_dir.h"

// Exit statuses of trazplot as the shell sees them (256 + the negative status).
constexpr int SHELL_OK = 0;
constexpr int SHELL_USAGE = 255;
constexpr int SHELL_WINDOW_SETTINGS = 254;
constexpr int SHELL_DATABASE_OPEN = 253;
constexpr int SHELL_EVENT_NOT_FOUND = 252;
constexpr int SHELL_TRACE_COUNT = 251;
constexpr int SHELL_IMAGE_WRITE = 250;
constexpr int SHELL_EXPORT_WRITE = 249;

// Standard output, standard error and exit status of a finished child process.
struct ProcessResult {
    std::string output;     // everything the process wrote to standard output
    int status = -1;        // exit status as the shell sees it (0 ... 255); -1 when it did not exit
    std::string errors;     // everything the process wrote to standard error
    int signal = 0;         // the signal that ended the process; 0 when it exited
    bool timedOut = false;  // true when it was killed for running past its time limit
    long minorFaults = 0;   // page faults the process took without reading a disk
};

// Seconds a child process may run before it is killed and the test fails: a hang ends as a
// failure instead of blocking the whole test run.
constexpr double DEFAULT_TIME_LIMIT = 300.0;

// Runs program with arguments (the program's own name is added in front) in workDir, with
// exactly the environment given ("NAME=value" texts), and waits for it, at most
// timeLimitSeconds: then the child is killed, timedOut is set and a test failure recorded.
// Standard error is collected and also passed on to the test's own, so a child's complaint
// shows in the test log.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& workDir, const std::vector<std::string>& environment,
                         double timeLimitSeconds = DEFAULT_TIME_LIMIT);

// Epoch seconds of 2004-03-02 10:00:00 UTC, where the fixture archives usually begin.
constexpr double ARCHIVE_START = 1078221600.0;

// The surroundings of trazplot runs against one test data source: a temporary folder with
// the working directory work/ (wave.ini and every output file), an empty Windows directory
// windows/ (so that no KVR.ini of the machine takes part) and the data directory data/ of the
// segment files. The source must outlive this object.
class RunFolder {
public:
    explicit RunFolder(const TestDataSource& source);
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    const TestDataSource& Source() const { return source; }
    // Returns work/name: the path of a file in the working directory.
    std::string WorkFile(const std::string& name) const;
    // Host path of the data directory (no trailing slash).
    std::string DataDir() const;
    // Host path of the Windows directory, for a KVR.ini of a test's own.
    std::string WindowsDir() const;
    // The names of the files in the working directory, sorted, without the runs' lock file.
    std::vector<std::string> WorkFiles() const;

    // Writes text to work/name, creating folders on the way.
    void WriteWorkFile(const std::string& name, const std::string& text) const;
    // Writes work/wave.ini: section DATA with the data directory, section DATABASE with the
    // data source's name, user and password, then sections (further INI text, such as
    // "[WAVEFORMS]\nN#=ALL\n").
    void WriteWaveIni(const std::string& sections) const;

    // Runs the built trazplot in work/ with the data source's ODBC files, WINDIR set to the
    // empty Windows directory and TZ=UTC. extraEnvironment ("NAME=value") is added last and
    // replaces a variable of the same name.
    ProcessResult Run(const std::vector<std::string>& arguments,
                      const std::vector<std::string>& extraEnvironment = {}) const;
    // Runs program with programArguments, then the built trazplot and arguments, in work/
    // with the environment Run gives: a wrapper such as strace.
    ProcessResult RunUnder(const std::string& program,
                           const std::vector<std::string>& programArguments,
                           const std::vector<std::string>& arguments) const;
    // Runs trazplot as Run does under strace and returns the threads it started; records a
    // test failure when the run fails.
    int ThreadsStarted(const std::vector<std::string>& arguments) const;
    // Runs trazplot as Run does, but unable to write any file beyond fileBytes bytes: a
    // write past the limit fails as on a full disk.
    ProcessResult RunWithFileSizeLimit(long fileBytes,
                                       const std::vector<std::string>& arguments) const;
    // Runs trazplot as Run does, with the system clock pinned to utcTime
    // ("2004-03-02 10:20:15") by libfaketime; the clock then runs on from there.
    ProcessResult RunAt(const std::string& utcTime,
                        const std::vector<std::string>& arguments) const;

    // Runs the archive generator into the data source and data/ with options added to the
    // connection options. Returns true when it succeeded; records a test failure otherwise.
    bool Generate(const std::vector<std::string>& options) const;

    // Sets the time limit of every later run of trazplot (DEFAULT_TIME_LIMIT until set).
    void SetTimeLimit(double seconds) { timeLimit = seconds; }

private:
    std::vector<std::string> Environment() const;

    const TestDataSource& source;
    TempDir folder;
    double timeLimit = DEFAULT_TIME_LIMIT;
};

// One wfdisc record, the columns the tests look at.
struct WfdiscRecord {
    std::string sta;
    std::string chan;
    double time = 0.0;     // epoch seconds of the first sample
    long jdate = 0;        // yyyyddd
    double endtime = 0.0;  // epoch seconds one sample interval after the last sample
    long nsamp = 0;
    double samprate = 0.0;
    std::string datatype;
    std::string dfile;
    std::size_t length = 0;  // characters of the line without its line feed
};

// Reads every line of a wfdisc file; an absent file gives no records.
std::vector<WfdiscRecord> ReadWfdisc(const std::string& path);

// Keeps the records that hold samples: a segment that only touches a row's window at one
// instant is exported as a record without samples, which says nothing about the window.
std::vector<WfdiscRecord> RecordsWithSamples(const std::vector<WfdiscRecord>& records);

// Checks that the records cover [start, end] (epoch seconds) exactly once: ordered by time,
// the first begins at start, each begins where the one before ends, the last ends at end.
void ExpectRecordsCover(std::vector<WfdiscRecord> records, double start, double end);

// Writes a segment file under dataDir: headerBytes zero bytes, then the samples as
// little-endian 32-bit floats (datatype 3). The file lies at dataDir/STA/STA_CH_<tbegin>.dat
// and the returned text is the SQL insert of its filelist row (cpath with backslashes).
std::string WriteFloatSegment(const std::string& dataDir, const std::string& station,
                              const std::string& channel, double tbegin, double sps,
                              const std::vector<float>& samples, int headerBytes);

// Returns the SQL insert of one arrival row.
std::string ArrivalInsert(const std::string& station, const std::string& channel,
                          const std::string& phase, double itime, double distance,
                          const std::string& eventId);

// Formats epoch seconds as "dd/mm/yyyy hh:mm:ss", the way the plot's header writes a time.
std::string HeaderDateTime(double epoch);
// Formats epoch seconds as "hh:mm:ss".
std::string HeaderTime(double epoch);

// A test that runs once for each catalogue backend, each time with a fresh data source and a
// run folder of its own.
class BackendRun : public testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        source = std::make_unique<TestDataSource>(GetParam());
        ASSERT_TRUE(source->IsReady()) << source->Error();
        folder = std::make_unique<RunFolder>(*source);
    }

    std::unique_ptr<TestDataSource> source;
    std::unique_ptr<RunFolder> folder;
};
