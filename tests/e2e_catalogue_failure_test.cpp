// A catalogue statement that fails during a run (a lost connection, a locked database) ends
// the run with -3 and names the kind of query, instead of drawing rows without data; the
// picture of the last good run stays as it was.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/e2e_harness.h"
#include "tests/support/odbc_fixture.h"

namespace {

const char* const LAST_GOOD_PICTURE = "the picture of the last good run";

// A minute of a 20 Hz sine for each of the stations AAA, BBB and CCC from 10:00.
std::string ThreeStations(const std::string& dataDir) {
    std::vector<float> samples(1200);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(i % 40) - 20.0f;
    std::string sql;
    for (const char* station : {"AAA", "BBB", "CCC"})
        sql += WriteFloatSegment(dataDir, station, "BHZ", ARCHIVE_START, 20.0, samples, 0);
    return sql;
}

const char* const THREE_ROWS =
    "[WAVEFORMS]\nN#=3\n[STA0]\nSTA=AAA\n[STA1]\nSTA=BBB\n[STA2]\nSTA=CCC\n";

// Runs the 10:00 minute into OUT.GIF, where the last good picture lies, with a description.
ProcessResult RunOverLastPicture(const RunFolder& folder,
                                 const std::vector<std::string>& more = {}) {
    folder.WriteWorkFile("OUT.GIF", LAST_GOOD_PICTURE);
    std::vector<std::string> arguments = {"nsec=60", "/JSON", "/NOPREVIEW"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return folder.Run(arguments);
}

void ExpectLastPictureKept(const RunFolder& folder) {
    EXPECT_TRUE(ReadFileBytes(folder.WorkFile("OUT.GIF")) == LAST_GOOD_PICTURE)
        << "the last good picture was replaced";
    EXPECT_EQ(folder.WorkFiles(), (std::vector<std::string>{"OUT.GIF", "wave.ini"}));
}

// The server ends the run's connection while it lists the segments of the second row, as
// when the database is stopped during a run: every later statement fails as well.
TEST(CatalogueFailure, EndsWithMinusThreeWhenTheServerGoesAwayDuringTheRun) {
    TestDataSource source(Backend::Postgres);
    ASSERT_TRUE(source.IsReady()) << source.Error();
    RunFolder folder(source);
    ASSERT_TRUE(source.ExecuteSql(ThreeStations(folder.DataDir())));
    // The rows of BBB end their own backend as soon as the listing looks at them.
    ASSERT_TRUE(source.ExecuteSql(
        "alter table filelist rename to filelist_rows;"
        "create view filelist as select sta, ch, tbegin, case when sta = 'BBB' and "
        "pg_terminate_backend(pg_backend_pid()) then tqty else tqty end as tqty, sps, cpath, "
        "datatype, foff from filelist_rows;"));
    folder.WriteWaveIni(THREE_ROWS);

    const ProcessResult result = RunOverLastPicture(folder, {"tbeg=10:00:00 02.03.2004"});
    EXPECT_EQ(result.output, "Database query error (segments)!\n");
    EXPECT_EQ(result.status, SHELL_DATABASE_OPEN);
    ExpectLastPictureKept(folder);
}

// Another program holds the SQLite file locked for writing while the run queries it.
class LockedCatalogue : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(source.IsReady()) << source.Error();
        ASSERT_TRUE(source.ExecuteSql(ThreeStations(folder.DataDir())));
        // The driver waits this long (milliseconds) for the lock before the statement fails.
        std::ofstream(source.OdbcIni(), std::ios::app) << "Timeout=100\n";
        ASSERT_TRUE(source.ExecuteSql("begin exclusive"));
    }
    void TearDown() override { source.ExecuteSql("commit"); }

    TestDataSource source{Backend::Sqlite};
    RunFolder folder{source};
};

TEST_F(LockedCatalogue, NamesTheStationListingInsteadOfMissingTraces) {
    folder.WriteWaveIni("[WAVEFORMS]\nN#=ALL\n");
    const ProcessResult result = RunOverLastPicture(folder, {"tbeg=10:00:00 02.03.2004"});
    EXPECT_EQ(result.output, "Database query error (stations)!\n");
    EXPECT_EQ(result.status, SHELL_DATABASE_OPEN);
    ExpectLastPictureKept(folder);
}

TEST_F(LockedCatalogue, NamesTheEventLookupInsteadOfAnEventNotFound) {
    folder.WriteWaveIni(THREE_ROWS);
    const ProcessResult result = RunOverLastPicture(folder, {"orid=LAST"});
    EXPECT_EQ(result.output, "Database query error (event)!\n");
    EXPECT_EQ(result.status, SHELL_DATABASE_OPEN);
    ExpectLastPictureKept(folder);
}

TEST_F(LockedCatalogue, NamesThePickQueryOfAListFromTheFile) {
    folder.WriteWaveIni(THREE_ROWS);
    const ProcessResult result = RunOverLastPicture(folder, {"tbeg=10:00:00 02.03.2004"});
    EXPECT_EQ(result.output, "Database query error (picks)!\n");
    EXPECT_EQ(result.status, SHELL_DATABASE_OPEN);
    ExpectLastPictureKept(folder);
}

}  // namespace
