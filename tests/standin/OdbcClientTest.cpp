// FreeTDS's ODBC driver through unixODBC against the stand-in, including
// the static read-only cursor sequence the tool's database object uses.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <string>
#include <vector>

#include "support/StandinServer.h"

using quill::test::StandinServer;

namespace {

const char* kDriver = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";

struct Diagnostic {
    std::string state;
    int native;
    std::string text;
};

std::vector<Diagnostic> diagnostics(SQLSMALLINT type, SQLHANDLE h) {
    std::vector<Diagnostic> out;
    SQLCHAR state[6], msg[1024];
    SQLINTEGER native;
    SQLSMALLINT len;
    for (SQLSMALLINT i = 1;
         SQLGetDiagRec(type, h, i, state, &native, msg, sizeof msg, &len) == SQL_SUCCESS; ++i)
        out.push_back({reinterpret_cast<char*>(state), static_cast<int>(native),
                       reinterpret_cast<char*>(msg)});
    return out;
}

// Registers FreeTDS as "SQL Server" for this process only.
class OdbcClient : public testing::Test {
protected:
    static void SetUpTestSuite() {
        static QTemporaryDir dir;
        QFile ini(dir.filePath("odbcinst.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QByteArray("[SQL Server]\nDriver=") + kDriver + "\n");
        ini.close();
        qputenv("ODBCSYSINI", dir.path().toLocal8Bit());
    }
    void SetUp() override {
        if (!QFile::exists(kDriver))
            GTEST_SKIP() << "FreeTDS ODBC driver (tdsodbc) is not installed";
        ASSERT_TRUE(server.isRunning()) << server.startError().toStdString();
        ASSERT_EQ(SQLAllocEnv(&env), SQL_SUCCESS);
    }
    void TearDown() override {
        for (SQLHDBC c : connections) {
            SQLDisconnect(c);
            SQLFreeConnect(c);
        }
        if (env)
            SQLFreeEnv(env);
    }

    SQLHDBC connect(const QString& connectString, SQLRETURN* rc = nullptr,
                    std::vector<Diagnostic>* diag = nullptr) {
        SQLHDBC dbc;
        SQLAllocConnect(env, &dbc);
        SQLSetConnectOption(dbc, SQL_LOGIN_TIMEOUT, 15);
        QByteArray cs = connectString.toUtf8();
        SQLCHAR out[1024];
        SQLSMALLINT outLen;
        SQLRETURN r = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()), SQL_NTS,
                                       out, sizeof out, &outLen, SQL_DRIVER_NOPROMPT);
        if (rc)
            *rc = r;
        if (diag)
            *diag = diagnostics(SQL_HANDLE_DBC, dbc);
        if (!SQL_SUCCEEDED(r)) {
            SQLFreeConnect(dbc);
            return nullptr;
        }
        connections.push_back(dbc);
        return dbc;
    }

    // The tool's OpenTable: a static read-only cursor, prepare + execute,
    // count the rows with FETCH_NEXT, then FETCH_FIRST.
    struct Opened {
        SQLHSTMT stmt = nullptr;
        SQLRETURN execute = SQL_ERROR;
        SQLSMALLINT columns = 0;
        int rows = 0;
        SQLRETURN first = SQL_ERROR;
        std::vector<Diagnostic> diag;
    };
    Opened openTable(SQLHDBC dbc, const std::string& sql) {
        Opened o;
        SQLAllocStmt(dbc, &o.stmt);
        SQLSetStmtOption(o.stmt, SQL_QUERY_TIMEOUT, 15);
        SQLSetStmtOption(o.stmt, SQL_CURSOR_TYPE, SQL_CURSOR_STATIC);
        SQLSetStmtOption(o.stmt, SQL_CONCURRENCY, SQL_CONCUR_READ_ONLY);
        SQLPrepare(o.stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
        o.execute = SQLExecute(o.stmt);
        o.diag = diagnostics(SQL_HANDLE_STMT, o.stmt);
        SQLNumResultCols(o.stmt, &o.columns);
        if (o.columns == 0)
            return o;
        SQLULEN fetched;
        SQLUSMALLINT status;
        while (SQLExtendedFetch(o.stmt, SQL_FETCH_NEXT, 0, &fetched, &status) == SQL_SUCCESS)
            ++o.rows;
        o.first = SQLExtendedFetch(o.stmt, SQL_FETCH_FIRST, 0, &fetched, &status);
        return o;
    }

    static std::string text(SQLHSTMT st, int column) {
        char buf[1024];
        SQLLEN ind = 0;
        if (!SQL_SUCCEEDED(SQLGetData(st, static_cast<SQLUSMALLINT>(column), SQL_C_CHAR, buf,
                                      sizeof buf, &ind)))
            return "<error>";
        return ind == SQL_NULL_DATA ? "<null>" : std::string(buf);
    }

    static void next(SQLHSTMT st) {
        SQLULEN fetched;
        SQLUSMALLINT status;
        SQLExtendedFetch(st, SQL_FETCH_NEXT, 0, &fetched, &status);
    }

    static StandinServer::Options catalog() {
        StandinServer::Options o;
        o.catalogJson =
            R"({"databases":[{"name":"Shop","tables":[{"name":"Orders","rows":120,"indexRows":[120,80]}]},
                                         {"name":"库存","tables":[{"name":"物品","rows":5}]},
                                         {"name":"Old","tables":[]}]})";
        return o;
    }

    StandinServer server{catalog()};
    SQLHENV env = nullptr;
    std::vector<SQLHDBC> connections;
};

TEST_F(OdbcClient, CursorListsDatabasesAndRereadsFromTheFirstRow) {
    SQLHDBC dbc = connect(server.odbcConnectString());
    ASSERT_NE(dbc, nullptr);

    Opened version = openTable(dbc, "select @@version");
    ASSERT_EQ(version.execute, SQL_SUCCESS);
    EXPECT_EQ(version.rows, 1);
    EXPECT_EQ(version.first, SQL_SUCCESS);
    EXPECT_EQ(
        text(version.stmt, 1)
            .rfind("SQL Server stand-in (quill-standin) - 10.50.1600.1 (X64) \n\tApr  2 2010", 0),
        0u);
    SQLFreeStmt(version.stmt, SQL_DROP);

    Opened count = openTable(dbc, "SELECT COUNT(name) FROM sysdatabases");
    EXPECT_EQ(text(count.stmt, 1), "7");
    SQLFreeStmt(count.stmt, SQL_DROP);

    Opened list = openTable(dbc, "select * from sysdatabases");
    ASSERT_EQ(list.execute, SQL_SUCCESS);
    EXPECT_GE(list.columns, 10);
    EXPECT_EQ(list.rows, 7);
    ASSERT_EQ(list.first, SQL_SUCCESS);
    std::vector<std::string> names;
    for (int i = 0; i < list.rows; ++i, next(list.stmt))
        names.push_back(text(list.stmt, 1));
    EXPECT_EQ(names, (std::vector<std::string>{"master", "tempdb", "model", "msdb", "Shop", "库存",
                                               "Old"}));
    SQLFreeStmt(list.stmt, SQL_DROP);

    // Each cursor: one sp_cursorfetch per row, the empty one, FETCH_FIRST;
    // the list also one per row read.
    EXPECT_TRUE(server.waitForLog("rpc sp_cursorclose"));
    EXPECT_EQ(server.logEvents("rpc").filter("sp_cursorfetch").size(),
              (1 + 2) + (1 + 2) + (7 + 2) + 7);
}

TEST_F(OdbcClient, StatementsWithoutResultRunDirectly) {
    SQLHDBC dbc = connect(server.odbcConnectString());
    ASSERT_NE(dbc, nullptr);

    Opened drop = openTable(dbc, "drop database \"Old\"");
    EXPECT_EQ(drop.columns, 0);
    EXPECT_TRUE(SQL_SUCCEEDED(drop.execute));
    SQLFreeStmt(drop.stmt, SQL_DROP);

    Opened insert = openTable(dbc, "insert into Shop.dbo.Orders values (1), (2)");
    SQLLEN rows = -1;
    SQLRowCount(insert.stmt, &rows);
    EXPECT_EQ(rows, 2);
    SQLFreeStmt(insert.stmt, SQL_DROP);

    Opened count = openTable(dbc, "SELECT COUNT(name) FROM sysdatabases");
    EXPECT_EQ(text(count.stmt, 1), "6");
    SQLFreeStmt(count.stmt, SQL_DROP);
    Opened orders = openTable(dbc, "select count(*) from Shop..Orders");
    EXPECT_EQ(text(orders.stmt, 1), "122");
    SQLFreeStmt(orders.stmt, SQL_DROP);
}

TEST_F(OdbcClient, MessagesAndErrorsReachTheDriver) {
    SQLHDBC dbc = connect(server.odbcConnectString());
    ASSERT_NE(dbc, nullptr);
    struct Case {
        const char* sql;
        SQLRETURN rc;
        int native;
        const char* text;
    };
    const Case cases[] = {
        {"print '你好'", SQL_SUCCESS_WITH_INFO, 0, "[FreeTDS][SQL Server]你好"},
        {"RAISERROR('careful', 10, 1)", SQL_SUCCESS_WITH_INFO, 50000,
         "[FreeTDS][SQL Server]careful"},
        {"select * from nosuch", SQL_ERROR, 208,
         "[FreeTDS][SQL Server]Invalid object name 'nosuch'."},
        {"drop database [Nope]", SQL_ERROR, 3701, nullptr},
        {"selec 1", SQL_ERROR, 102, "[FreeTDS][SQL Server]Incorrect syntax near 'selec'."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        Opened o = openTable(dbc, c.sql);
        EXPECT_EQ(o.execute, c.rc);
        ASSERT_FALSE(o.diag.empty());
        EXPECT_EQ(o.diag[0].native, c.native);
        if (c.text) {
            EXPECT_EQ(o.diag[0].text, c.text);
        }
        SQLFreeStmt(o.stmt, SQL_DROP);
    }
}

TEST_F(OdbcClient, TypedRowsThroughExecDirect) {
    SQLHDBC dbc = connect(server.odbcConnectString());
    ASSERT_NE(dbc, nullptr);
    SQLHSTMT st;
    SQLAllocStmt(dbc, &st);
    std::string sql =
        "SELECT 1 AS id, N'苹果' AS name, CAST(1.5 AS decimal(10,2)) AS price, "
        "CAST('2024-01-02 03:04:05' AS datetime) AS made, CAST(1 AS bit) AS ok, CAST(5000000000 AS "
        "bigint) AS big, "
        "0.25E0 AS ratio, 0x0A0B AS bin "
        "UNION ALL SELECT 2, N'香蕉', 20, NULL, CAST(0 AS bit), 7, -1, 0x";
    ASSERT_EQ(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS), SQL_SUCCESS);
    SQLSMALLINT cols = 0;
    SQLNumResultCols(st, &cols);
    ASSERT_EQ(cols, 8);
    std::vector<SQLSMALLINT> types;
    for (SQLUSMALLINT c = 1; c <= 8; ++c) {
        SQLCHAR name[64];
        SQLSMALLINT nameLen, type, digits, nullable;
        SQLULEN size;
        SQLDescribeCol(st, c, name, sizeof name, &nameLen, &type, &size, &digits, &nullable);
        types.push_back(type);
    }
    // An ODBC 2 environment, as the tool uses: ODBC 2 type codes.
    EXPECT_EQ(types,
              (std::vector<SQLSMALLINT>{SQL_INTEGER, SQL_WVARCHAR, SQL_NUMERIC, SQL_TIMESTAMP,
                                        SQL_BIT, SQL_BIGINT, SQL_DOUBLE, SQL_VARBINARY}));
    std::vector<std::string> rows;
    while (SQLFetch(st) == SQL_SUCCESS) {
        std::string row;
        for (int c = 1; c <= 8; ++c)
            row += text(st, c) + "|";
        rows.push_back(row);
    }
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "1|苹果|1.50|2024-01-02 03:04:05.000|1|5000000000|0.25|0a0b|",
                        "2|香蕉|20.00|<null>|0|7|-1||"}));
    SQLFreeStmt(st, SQL_DROP);
}

TEST_F(OdbcClient, InsertBatchReportsEachCount) {
    SQLHDBC dbc = connect(server.odbcConnectString("Shop"));
    ASSERT_NE(dbc, nullptr);
    SQLHSTMT st;
    SQLAllocStmt(dbc, &st);
    std::string sql =
        "INSERT Orders VALUES (1)\nINSERT Orders VALUES (2), (3), (4)\nINSERT Orders VALUES (5), "
        "(6)";
    ASSERT_EQ(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS), SQL_SUCCESS);
    std::vector<long> counts;
    do {
        SQLLEN n = -1;
        SQLRowCount(st, &n);
        counts.push_back(static_cast<long>(n));
    } while (SQLMoreResults(st) == SQL_SUCCESS);
    EXPECT_EQ(counts, (std::vector<long>{1, 3, 2}));
    SQLFreeStmt(st, SQL_DROP);
}

TEST_F(OdbcClient, WrongPasswordIsRefused) {
    SQLRETURN rc;
    std::vector<Diagnostic> diag;
    QString cs = server.odbcConnectString().replace("PWD=" + server.password(), "PWD=wrong");
    EXPECT_EQ(connect(cs, &rc, &diag), nullptr);
    EXPECT_EQ(rc, SQL_ERROR);
    auto login = std::find_if(diag.begin(), diag.end(),
                              [](const Diagnostic& d) { return d.native == 18456; });
    ASSERT_NE(login, diag.end());
    EXPECT_EQ(login->text, "[FreeTDS][SQL Server]Login failed for user 'sa'.");
    EXPECT_TRUE(server.waitForLog("login-failed user=sa"));
}

TEST_F(OdbcClient, DatabaseInUseByAnotherConnectionCannotBeDropped) {
    SQLHDBC user = connect(server.odbcConnectString("Shop"));
    SQLHDBC admin = connect(server.odbcConnectString());
    ASSERT_TRUE(user && admin);
    Opened busy = openTable(admin, "drop database \"Shop\"");
    ASSERT_FALSE(busy.diag.empty());
    EXPECT_EQ(busy.diag[0].native, 3702);
    SQLFreeStmt(busy.stmt, SQL_DROP);

    SQLDisconnect(user);
    EXPECT_TRUE(server.waitForLog(" end"));
    Opened freed = openTable(admin, "drop database \"Shop\"");
    EXPECT_TRUE(freed.diag.empty());
    SQLFreeStmt(freed.stmt, SQL_DROP);
}

TEST_F(OdbcClient, QueryTimeoutSendsAttentionAndTheConnectionLivesOn) {
    StandinServer slow({{}, "Quill-Test-1", 3000, {}, {}});
    ASSERT_TRUE(slow.isRunning());
    SQLHDBC dbc = connect(slow.odbcConnectString());
    ASSERT_NE(dbc, nullptr);
    SQLHSTMT st;
    SQLAllocStmt(dbc, &st);
    SQLSetStmtOption(st, SQL_QUERY_TIMEOUT, 1);
    std::string sql = "select 1";
    EXPECT_EQ(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS), SQL_ERROR);
    auto diag = diagnostics(SQL_HANDLE_STMT, st);
    ASSERT_FALSE(diag.empty());
    EXPECT_EQ(diag[0].state, "S1T00");  // HYT00 in ODBC 2 spelling
    EXPECT_TRUE(slow.waitForLog("attention"));
    SQLFreeStmt(st, SQL_DROP);

    SQLAllocStmt(dbc, &st);
    sql = "select 2";
    EXPECT_EQ(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(st), SQL_SUCCESS);
    EXPECT_EQ(text(st, 1), "2");
    SQLFreeStmt(st, SQL_DROP);
}

}  // namespace
