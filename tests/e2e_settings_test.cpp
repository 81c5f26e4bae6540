// What the INI file says is read as the README documents it: its examples work as pasted.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/e2e_harness.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

// Returns the README's INI example that begins with firstLine, up to its closing fence.
std::string ReadmeExample(const std::string& firstLine) {
    const std::string readme = ReadFileBytes(std::string(TRAZPLOT_SOURCE_DIR) + "/README.md");
    const std::size_t start = readme.find("```ini\n" + firstLine + "\n");
    if (start == std::string::npos)
        return std::string();
    const std::size_t body = start + 7;
    return readme.substr(body, readme.find("```", body) - body);
}

TEST(ReadmeExamples, TheMiniSeedSectionWorksAsPasted) {
    TestDataSource source(Backend::Sqlite);
    ASSERT_TRUE(source.IsReady()) << source.Error();
    RunFolder folder(source);
    const std::vector<float> samples(1200, 1.0f);
    ASSERT_TRUE(source.ExecuteSql(
        WriteFloatSegment(folder.DataDir(), "GIRO", "BHZ", ARCHIVE_START, 20.0, samples, 0)));
    const std::string example = ReadmeExample("[MSEEDOUTPUT]");
    ASSERT_FALSE(example.empty());
    folder.WriteWaveIni("[WAVEFORMS]\nN#=1\n\n[STA0]\nSTA=GIRO\n\n" + example);

    const ProcessResult result =
        folder.Run({"tbeg=10:00:00 02.03.2004", "nsec=60", "mseed", "/NOPREVIEW"});
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.status, SHELL_OK);
    EXPECT_EQ(folder.WorkFiles(), (std::vector<std::string>{"OUT.GIF", "event.mseed", "wave.ini"}));
}

}  // namespace
