#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "tests/support/temp_dir.h"

namespace {

struct RunResult {
    std::string output;  // standard output
    int status = -1;     // exit status as the shell sees it
};

// Runs the built program in workDir with WINDIR pointing to an empty folder, so that no
// system-wide KVR.ini of the machine takes part.
RunResult RunTrazplot(const std::string& workDir, const std::string& windowsDir,
                      const std::vector<std::string>& arguments) {
    const std::string program = TRAZPLOT_BINARY_DIR "/trazplot";
    std::vector<std::string> texts = {program};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);

    RunResult result;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return result;
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        if (chdir(workDir.c_str()) != 0 || setenv("WINDIR", windowsDir.c_str(), 1) != 0)
            _exit(127);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    char buffer[4096];
    ssize_t count = 0;
    while ((count = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        result.output.append(buffer, static_cast<std::size_t>(count));
    close(pipeEnds[0]);
    int waitStatus = 0;
    if (child > 0 && waitpid(child, &waitStatus, 0) == child && WIFEXITED(waitStatus))
        result.status = WEXITSTATUS(waitStatus);
    return result;
}

class Startup : public testing::Test {
protected:
    void SetUp() override { temp.Write("windows/empty.txt", ""); }
    RunResult Run(const std::vector<std::string>& arguments) {
        return RunTrazplot(temp.File("work"), temp.File("windows"), arguments);
    }

    TempDir temp;
};

}  // namespace

TEST_F(Startup, WithoutArgumentsPrintsUsageAndExits255) {
    temp.Write("work/empty.txt", "");
    testing::internal::CaptureStdout();
    PrintUsage();
    const std::string usage = testing::internal::GetCapturedStdout();
    const RunResult result = Run({});
    EXPECT_EQ(result.output, usage);
    EXPECT_EQ(result.status, 255);
}

TEST_F(Startup, ZeroWindowInTheRunsFileEndsBeforeTheDatabaseWith254) {
    temp.Write("work/wave.ini", "[WAVEFORMS]\r\nNSEC=0\r\n");
    // The data source does not exist: reaching the database would end differently.
    const RunResult result = Run({"tbeg=12:00:00 01.02.2003", "odbc=no_such_source"});
    EXPECT_EQ(result.output,
              "Missing number of second (==0)! in INI (.\\wave.ini) or in command line (NSEC=)");
    EXPECT_EQ(result.status, 254);
}

TEST_F(Startup, UnreadableStartTextEndsBeforeTheDatabaseWith254) {
    temp.Write("work/empty.txt", "");
    struct Case {
        std::string argument, message;
    };
    const Case cases[] = {
        {"tbeg=12:00 01.02.2003", "Invalid start time (TBEG=12:00 01.02.2003)!\n"},
        {"tbeg=12:00:00 01.13.2003", "Invalid start time (TBEG=12:00:00 01.13.2003)!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argument);
        const RunResult result = Run({c.argument, "odbc=no_such_source"});
        EXPECT_EQ(result.output, c.message);
        EXPECT_EQ(result.status, 254);
    }
}
