// A data folder that cannot be read still gives the picture of rows without data and exit
// status 0, but says so on standard error, once, naming the folder and the reason.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/e2e_harness.h"
#include "tests/support/odbc_fixture.h"

namespace {

TEST(DataFolder, NamesAFolderThatCannotBeReadAndTheReason) {
    TestDataSource source(Backend::Sqlite);
    ASSERT_TRUE(source.IsReady()) << source.Error();
    RunFolder folder(source);
    const std::vector<float> samples(1200, 1.0f);
    std::string sql;
    for (const char* station : {"AAA", "BBB"})
        sql += WriteFloatSegment(folder.DataDir(), station, "BHZ", ARCHIVE_START, 20.0, samples, 0);
    ASSERT_TRUE(source.ExecuteSql(sql));
    const std::string loop = folder.WorkFile("loop");
    std::filesystem::create_symlink(loop, loop);

    struct Case {
        const char* name;
        std::string dir;
        std::string errors;
    };
    const Case cases[] = {
        {"readable", folder.DataDir(), ""},
        {"missing", folder.DataDir() + "-gone",
         "Cannot read data folder " + folder.DataDir() + "-gone/: No such file or directory\n"},
        {"a loop of symbolic links", loop,
         "Cannot read data folder " + loop + "/: Too many levels of symbolic links\n"},
        {"a file", folder.WorkFile("wave.ini"),
         "Cannot read data folder " + folder.WorkFile("wave.ini") + "/: Not a directory\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        folder.WriteWorkFile("wave.ini",
                             "[DATA]\nDIR=" + c.dir + "\n[DATABASE]\nODBC=" + source.Dsn() +
                                 "\n[WAVEFORMS]\nN#=2\n[STA0]\nSTA=AAA\n[STA1]\nSTA=BBB\n");
        const ProcessResult result =
            folder.Run({"tbeg=10:00:00 02.03.2004", "nsec=60", "/NOPREVIEW"});
        EXPECT_EQ(result.output, "");
        EXPECT_EQ(result.errors, c.errors);
        EXPECT_EQ(result.status, SHELL_OK);
        EXPECT_TRUE(std::filesystem::exists(folder.WorkFile("OUT.GIF")));
    }
}

}  // namespace
