#include "tests/support/odbc_fixture.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sqlext.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>

namespace {

const char* const SQLITE_DRIVER = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
const char* const PSQL_DRIVERS[] = {"/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so",
                                    "/usr/lib/x86_64-linux-gnu/odbc/psqlodbca.so"};

std::string Cased(std::string text, int (*convert)(int)) {
    for (char& c : text) c = static_cast<char>(convert(static_cast<unsigned char>(c)));
    return text;
}

// The messages the driver left on a handle, one per line.
std::string Diagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
    std::string text;
    SQLCHAR state[6] = {};
    SQLINTEGER nativeError = 0;
    SQLCHAR message[1024] = {};
    SQLSMALLINT length = 0;
    for (SQLSMALLINT record = 1; SQL_SUCCEEDED(SQLGetDiagRec(
             handleType, handle, record, state, &nativeError, message, sizeof message, &length));
         ++record)
        text += std::string(reinterpret_cast<const char*>(state)) + ": " +
                reinterpret_cast<const char*>(message) + "\n";
    return text;
}

// The psqlODBC driver library, or empty when it is not installed.
std::string PsqlDriver() {
    for (const char* candidate : PSQL_DRIVERS) {
        if (std::filesystem::exists(candidate))
            return candidate;
    }
    return std::string();
}

}  // namespace

const char* BackendName(Backend backend) {
    return backend == Backend::Sqlite ? "Sqlite" : "Postgres";
}

std::string BackendParamName(const testing::TestParamInfo<Backend>& param) {
    return BackendName(param.param);
}

TestDataSource::TestDataSource(Backend backendKind) : backend(backendKind) { ready = SetUp(); }

TestDataSource::~TestDataSource() {
    connection.reset();
    if (backend == Backend::Postgres && adminConnection && !databaseName.empty()) {
        // FORCE ends any connection the code under test left open.
        Execute(adminConnection->Get(),
                "drop database if exists \"" + databaseName + "\" with (force)");
    }
    adminConnection.reset();
    environment.reset();
}

bool TestDataSource::Fail(const std::string& reason) {
    error = reason;
    ADD_FAILURE() << "test data source (" << BackendName(backend) << "): " << reason;
    return false;
}

bool TestDataSource::Connect(std::unique_ptr<OdbcConnection>& target, const std::string& name) {
    target = std::make_unique<OdbcConnection>(environment->Get());
    if (target->Connect(name, user, password))
        return true;
    const std::string message = Diagnostics(SQL_HANDLE_DBC, target->Get());
    target.reset();
    return Fail("cannot connect to data source " + name + ": " + message);
}

bool TestDataSource::Execute(HDBC on, const std::string& statement) {
    OdbcStatement handle(on);
    const SQLRETURN result = handle.Execute(statement);
    // A searched delete or update that meets no row reports "no data".
    if (SQL_SUCCEEDED(result) || result == SQL_NO_DATA)
        return true;
    return Fail("statement failed: " + statement + "\n" +
                Diagnostics(SQL_HANDLE_STMT, handle.Get()));
}

bool TestDataSource::SetUp() {
    // The SQLite driver loads the driver manager's INI library, which is unloaded again
    // together with the driver; the INI entries it cached are then unreachable and
    // LeakSanitizer reports them. Kept loaded for the life of the process, they stay reachable.
    dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_NODELETE);
    odbcSysIni = folder.Path();
    odbcIni = folder.File("odbc.ini");
    // The last path component of the temporary folder: unique on this machine while it exists.
    const std::string suffix = folder.Path().substr(folder.Path().find_last_of('-') + 1);
    const std::string psql = PsqlDriver();
    std::string drivers = "[TRAZPLOT_SQLITE3]\nDriver=" + std::string(SQLITE_DRIVER) + "\n";
    if (!psql.empty())
        drivers += "[TRAZPLOT_PSQL]\nDriver=" + psql + "\n";
    folder.Write("odbcinst.ini", drivers);
    if (backend == Backend::Sqlite) {
        if (!std::filesystem::exists(SQLITE_DRIVER))
            return Fail(std::string("the SQLite ODBC driver is missing: ") + SQLITE_DRIVER);
        dsn = "TRAZPLOT_SQLITE_" + Cased(suffix, ::toupper);
        sqliteFile = folder.File("catalogue.db");
        folder.Write("odbc.ini",
                     "[" + dsn + "]\nDriver=" + SQLITE_DRIVER + "\nDatabase=" + sqliteFile + "\n");
    } else {
        dsn = "TRAZPLOT_PG_" + Cased(suffix, ::toupper);
        adminDsn = dsn + "_ADMIN";
        databaseName = "trazplot_" + Cased(suffix, ::tolower) + "_" + std::to_string(getpid());
        if (psql.empty())
            return Fail("the PostgreSQL ODBC driver (psqlodbcw.so or psqlodbca.so) is missing");
        const std::string portFile = std::string(TRAZPLOT_PG_DIR) + "/port";
        const int port = std::atoi(ReadFileBytes(portFile).c_str());
        if (port <= 0)
            return Fail("no test cluster: " + portFile +
                        " is missing (run the test through ctest, whose fixture pg starts it)");
        const std::string server = "Driver=" + psql +
                                   "\nServername=127.0.0.1\nPort=" + std::to_string(port) +
                                   "\nSSLMode=disable\n";
        folder.Write("odbc.ini", "[" + dsn + "]\n" + server + "Database=" + databaseName + "\n[" +
                                     adminDsn + "]\n" + server + "Database=postgres\n");
    }
    setenv("ODBCSYSINI", odbcSysIni.c_str(), 1);
    setenv("ODBCINI", odbcIni.c_str(), 1);

    environment = std::make_unique<OdbcEnvironment>();
    if (!environment->IsOpen())
        return Fail("cannot allocate an ODBC environment");
    if (backend == Backend::Postgres &&
        (!Connect(adminConnection, adminDsn) ||
         !Execute(adminConnection->Get(), "create database \"" + databaseName + "\"")))
        return false;
    if (!Connect(connection, dsn))
        return false;
    const std::string schema = ReadFileBytes(std::string(TRAZPLOT_SOURCE_DIR) + "/db/schema.sql");
    if (schema.empty())
        return Fail("cannot read db/schema.sql");
    return ExecuteSql(schema);
}

bool TestDataSource::ExecuteSql(const std::string& text) {
    if (!connection)
        return Fail("no connection to execute: " + text);
    for (const std::string& statement : SplitSqlStatements(text)) {
        if (!Execute(connection->Get(), statement))
            return false;
    }
    return true;
}

std::vector<std::vector<std::string>> TestDataSource::QueryRows(const std::string& select) {
    std::vector<std::vector<std::string>> rows;
    if (!connection) {
        Fail("no connection to query: " + select);
        return rows;
    }
    OdbcStatement statement(connection->Get());
    if (!SQL_SUCCEEDED(statement.Execute(select))) {
        Fail("query failed: " + select + "\n" + Diagnostics(SQL_HANDLE_STMT, statement.Get()));
        return rows;
    }
    SQLSMALLINT columns = 0;
    SQLNumResultCols(statement.Get(), &columns);
    while (SQL_SUCCEEDED(SQLFetch(statement.Get()))) {
        std::vector<std::string> row;
        for (SQLUSMALLINT column = 1; column <= static_cast<SQLUSMALLINT>(columns); ++column) {
            char buffer[4096] = {};
            SQLLEN indicator = 0;
            SQLGetData(statement.Get(), column, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
            row.push_back(indicator == SQL_NULL_DATA ? std::string("NULL") : std::string(buffer));
        }
        rows.push_back(row);
    }
    return rows;
}

bool TestDataSource::MakeReadOnlyForNewConnections() {
    if (backend != Backend::Postgres || !adminConnection)
        return false;
    return Execute(adminConnection->Get(), "alter database \"" + databaseName +
                                               "\" set default_transaction_read_only = on");
}
