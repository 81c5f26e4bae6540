#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "archive/odbc_handles.h"
#include "archive/sql_text.h"
#include "tests/support/temp_dir.h"

// The database behind a test data source.
enum class Backend { Sqlite, Postgres };

// Returns "Sqlite" or "Postgres", for test names and traces.
const char* BackendName(Backend backend);

// Both backends and their test-name generator, for
// INSTANTIATE_TEST_SUITE_P(Backends, Suite, testing::ValuesIn(ALL_BACKENDS), BackendParamName).
constexpr Backend ALL_BACKENDS[] = {Backend::Sqlite, Backend::Postgres};
std::string BackendParamName(const testing::TestParamInfo<Backend>& param);

// A fresh, empty catalogue database reached through a real ODBC data source: a new SQLite
// file, or a new database on the test cluster whose port the CTest fixture writes to
// TRAZPLOT_PG_DIR "/port". The constructor writes odbcinst.ini and odbc.ini into its own
// temporary folder, points ODBCSYSINI and ODBCINI at them (setenv, so for this process and
// its children), creates the database and loads db/schema.sql. A missing driver, a missing
// cluster or any other set-up problem is recorded as a test failure (never a skip) and
// leaves IsReady() false. The PostgreSQL database is dropped on destruction.
//
// The data source name is upper case (arguments reach the program upper-cased) and unique
// per instance. ODBCINI names the files of the latest instance, so create one data source
// at a time when the code under test opens its own connections. The data sources name their
// driver library by path: unixODBC keeps the first ODBCSYSINI it reads for the rest of the
// process, so a later instance's odbcinst.ini is not seen there (a child process started
// with OdbcSysIni() does see it).
class TestDataSource {
public:
    explicit TestDataSource(Backend backend);
    ~TestDataSource();
    TestDataSource(const TestDataSource&) = delete;
    TestDataSource& operator=(const TestDataSource&) = delete;

    // True when the database exists with the schema loaded.
    bool IsReady() const { return ready; }
    // The reason set-up failed; empty when ready.
    const std::string& Error() const { return error; }

    Backend GetBackend() const { return backend; }
    // Upper-case data source name: "TRAZPLOT_SQLITE_" or "TRAZPLOT_PG_" and a unique suffix.
    const std::string& Dsn() const { return dsn; }
    // Login for the data source: "KVR" / "MTZ" (SQLite ignores them).
    const std::string& User() const { return user; }
    const std::string& Password() const { return password; }
    // Values given to ODBCSYSINI (the folder of odbcinst.ini) and ODBCINI (the odbc.ini
    // file), for end-to-end tests that start a child process with its own environment.
    const std::string& OdbcSysIni() const { return odbcSysIni; }
    const std::string& OdbcIni() const { return odbcIni; }
    // The SQLite database file; empty for PostgreSQL.
    const std::string& SqliteFile() const { return sqliteFile; }

    // Executes SQL text of one or more statements separated by ';' (semicolons inside quoted
    // literals and "--" comments are kept apart) on the set-up connection, one statement at
    // a time. Returns true when all succeeded; a failing statement is recorded as a test
    // failure with the database's message, and the rest are not run.
    bool ExecuteSql(const std::string& text);
    // Runs one SELECT and returns its rows, each value as text, NULL as "NULL". A failing
    // statement is recorded as a test failure and gives no rows.
    std::vector<std::vector<std::string>> QueryRows(const std::string& select);

    // PostgreSQL only: every connection made from now on (the set-up connection keeps
    // writing) runs read-only transactions, so that any write by the code under test fails.
    // Returns true when set; false for SQLite, whose file the caller can compare instead.
    bool MakeReadOnlyForNewConnections();

private:
    bool SetUp();
    bool Fail(const std::string& reason);
    bool Connect(std::unique_ptr<OdbcConnection>& target, const std::string& name);
    bool Execute(HDBC on, const std::string& statement);

    Backend backend;
    TempDir folder;
    bool ready = false;
    std::string error;
    std::string dsn;
    std::string adminDsn;
    std::string user = "KVR";
    std::string password = "MTZ";
    std::string odbcSysIni;
    std::string odbcIni;
    std::string sqliteFile;
    std::string databaseName;
    std::unique_ptr<OdbcEnvironment> environment;
    std::unique_ptr<OdbcConnection> adminConnection;  // to "postgres", to create and drop
    std::unique_ptr<OdbcConnection> connection;       // to the test database
};
