#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>

// Owns one ODBC environment handle.
class OdbcEnvironment {
public:
    OdbcEnvironment() {
        if (SQLAllocEnv(&handle) != SQL_SUCCESS)
            handle = SQL_NULL_HENV;
    }
    ~OdbcEnvironment() {
        if (handle != SQL_NULL_HENV)
            SQLFreeEnv(handle);
    }
    OdbcEnvironment(const OdbcEnvironment&) = delete;
    OdbcEnvironment& operator=(const OdbcEnvironment&) = delete;
    bool IsOpen() const { return handle != SQL_NULL_HENV; }
    HENV Get() const { return handle; }

private:
    HENV handle = SQL_NULL_HENV;
};

// Owns one ODBC connection handle and, once Connect succeeded, the connection itself.
class OdbcConnection {
public:
    explicit OdbcConnection(HENV environment) {
        if (SQLAllocConnect(environment, &handle) != SQL_SUCCESS)
            handle = SQL_NULL_HDBC;
    }
    ~OdbcConnection() {
        if (connected)
            SQLDisconnect(handle);
        if (handle != SQL_NULL_HDBC)
            SQLFreeConnect(handle);
    }
    OdbcConnection(const OdbcConnection&) = delete;
    OdbcConnection& operator=(const OdbcConnection&) = delete;

    // Connects to a data source; returns true on SQL_SUCCESS or SQL_SUCCESS_WITH_INFO.
    bool Connect(const std::string& dsn, const std::string& user, const std::string& password) {
        if (handle == SQL_NULL_HDBC)
            return false;
        const SQLRETURN result =
            SQLConnect(handle, reinterpret_cast<SQLCHAR*>(const_cast<char*>(dsn.c_str())), SQL_NTS,
                       reinterpret_cast<SQLCHAR*>(const_cast<char*>(user.c_str())), SQL_NTS,
                       reinterpret_cast<SQLCHAR*>(const_cast<char*>(password.c_str())), SQL_NTS);
        connected = SQL_SUCCEEDED(result);
        return connected;
    }
    bool IsConnected() const { return connected; }
    HDBC Get() const { return handle; }

private:
    HDBC handle = SQL_NULL_HDBC;
    bool connected = false;
};

// Owns one ODBC statement for the length of one query: closed, unbound and dropped on
// every path out of the query.
class OdbcStatement {
public:
    explicit OdbcStatement(HDBC connection) {
        if (SQLAllocStmt(connection, &handle) != SQL_SUCCESS)
            handle = SQL_NULL_HSTMT;
    }
    ~OdbcStatement() {
        if (handle != SQL_NULL_HSTMT) {
            SQLFreeStmt(handle, SQL_CLOSE);
            SQLFreeStmt(handle, SQL_UNBIND);
            SQLFreeStmt(handle, SQL_DROP);
        }
    }
    OdbcStatement(const OdbcStatement&) = delete;
    OdbcStatement& operator=(const OdbcStatement&) = delete;
    bool IsOpen() const { return handle != SQL_NULL_HSTMT; }
    HSTMT Get() const { return handle; }

    // Executes a statement text directly; returns the ODBC result code.
    SQLRETURN Execute(const std::string& text) {
        if (handle == SQL_NULL_HSTMT)
            return SQL_ERROR;
        return SQLExecDirect(handle, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())),
                             SQL_NTS);
    }

private:
    HSTMT handle = SQL_NULL_HSTMT;
};
