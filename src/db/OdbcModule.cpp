#include "db/OdbcModule.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <QStringList>
#include <array>
#include <climits>
#include <memory>
#include <mutex>
#include <vector>

#include "db/BracketRewrite.h"
#include "db/CMRecordSet.h"

namespace quill::db::odbc {

namespace {

constexpr SQLULEN kLoginTimeout = 15;
constexpr SQLULEN kQueryTimeout = 15;
// The completed connect string comes back whole: what goes in is at most
// half of this (see connectStrings).
constexpr SQLSMALLINT kConnectStringOut = 32767;

// One environment per process, shared by every connection and freed with
// the last of them.
struct Environment {
    std::mutex mutex;
    SQLHENV handle = SQL_NULL_HENV;
    int connections = 0;
};

Environment& environment() {
    static Environment env;
    return env;
}

void releaseConnectionHandle(SQLHDBC dbc) {
    Environment& env = environment();
    std::lock_guard lock(env.mutex);
    SQLFreeConnect(dbc);
    if (--env.connections == 0) {
        SQLFreeEnv(env.handle);
        env.handle = SQL_NULL_HENV;
    }
}

// Texts cross the driver manager in UTF-16: once a connection is made with
// a wide connect string, unixODBC converts narrow texts through the locale's
// character set, which may not be UTF-8. Column data is narrow, converted by
// FreeTDS to its client character set, UTF-8.
QString fromWide(const SQLWCHAR* text, qsizetype length = -1) {
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text), length);
}

// The driver's messages on a handle, one a line, first to last.
QString driverMessages(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT count) {
    QStringList messages;
    for (SQLSMALLINT record = 1; record <= count; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        std::vector<SQLWCHAR> text(SQL_MAX_MESSAGE_LENGTH + 1);
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, handle, record, state, &native, text.data(),
                                          SQLSMALLINT(text.size()), &length)))
            break;
        const QString message = fromWide(text.data());
        if (!messages.contains(message))
            messages << message;
    }
    return messages.join('\n');
}

QByteArray infoText(SQLHDBC dbc, SQLUSMALLINT type) {
    char text[64] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetInfo(dbc, type, text, sizeof text, &length)))
        return {};
    return QByteArray(text);
}

template <class T>
bool infoValue(SQLHDBC dbc, SQLUSMALLINT type, T* value) {
    return SQL_SUCCEEDED(SQLGetInfo(dbc, type, value, sizeof(T), nullptr));
}

}  // namespace

struct Connection {
    SQLHDBC dbc = SQL_NULL_HDBC;
    QByteArray connectString;
    char quote = ' ';
    bool setQueryTimeout = true;
    std::array<std::unique_ptr<CMRecordSet>, kRecordSetSlots> recordSets;
    std::array<RecordSetHandle, kRecordSetSlots> handles{};
    RecordSetHandle lastHandle = 0;

    int slotOf(RecordSetHandle h) const {
        if (h == 0)
            return -1;
        for (int i = 0; i < kRecordSetSlots; ++i)
            if (recordSets[size_t(i)] && handles[size_t(i)] == h)
                return i;
        return -1;
    }
    CMRecordSet* recordSet(RecordSetHandle h) const {
        int i = slotOf(h);
        return i < 0 ? nullptr : recordSets[size_t(i)].get();
    }
};

namespace {

// Driver facts the statements depend on. Failed reads leave the defaults.
void readDriverFacts(Connection* c, int readOnly) {
    QByteArray quote = infoText(c->dbc, SQL_IDENTIFIER_QUOTE_CHAR);
    c->quote = quote.isEmpty() ? ' ' : quote[0];
    if (readOnly)
        SQLSetConnectOption(c->dbc, SQL_ACCESS_MODE, SQL_MODE_READ_ONLY);
}

bool conforms(SQLHDBC dbc) {
    SQLSMALLINT api = 0;
    SQLSMALLINT sql = 0;
    return infoValue(dbc, SQL_ODBC_API_CONFORMANCE, &api) && api >= SQL_OAC_LEVEL1 &&
           infoValue(dbc, SQL_ODBC_SQL_CONFORMANCE, &sql) && sql >= SQL_OSC_MINIMUM;
}

Connection* connect(const QByteArray& connectString, int readOnly, bool noPrompt,
                    QString* message) {
    Environment& env = environment();
    auto c = std::make_unique<Connection>();
    {
        std::lock_guard lock(env.mutex);
        if (env.handle == SQL_NULL_HENV && !SQL_SUCCEEDED(SQLAllocEnv(&env.handle))) {
            env.handle = SQL_NULL_HENV;
            return nullptr;
        }
        if (!SQL_SUCCEEDED(SQLAllocConnect(env.handle, &c->dbc))) {
            if (env.connections == 0) {
                SQLFreeEnv(env.handle);
                env.handle = SQL_NULL_HENV;
            }
            return nullptr;
        }
        ++env.connections;
    }

    SQLSetConnectOption(c->dbc, SQL_LOGIN_TIMEOUT, kLoginTimeout);
    if (readOnly)
        SQLSetConnectOption(c->dbc, SQL_ACCESS_MODE, SQL_MODE_READ_ONLY);

    // There is no window to prompt in: a driver that needs more than the
    // string gives fails instead.
    const SQLUSMALLINT completion = noPrompt                  ? SQL_DRIVER_NOPROMPT
                                    : connectString.isEmpty() ? SQL_DRIVER_PROMPT
                                                              : SQL_DRIVER_COMPLETE;
    // FreeTDS reads a narrow connect string as Latin-1: the client character
    // set it names applies only afterwards.
    std::vector<SQLWCHAR> out(size_t(kConnectStringOut) + 1);
    SQLSMALLINT outLength = 0;
    QString in = QString::fromUtf8(connectString);
    SQLRETURN rc =
        SQLDriverConnectW(c->dbc, nullptr, reinterpret_cast<SQLWCHAR*>(in.data()), SQL_NTS,
                          out.data(), kConnectStringOut, &outLength, completion);
    bool connected = SQL_SUCCEEDED(rc);
    if (connected) {
        c->connectString = "ODBC;" + fromWide(out.data()).toUtf8();
        connected = conforms(c->dbc);
    } else if (message) {
        // The first is often only "Unable to connect"; the reason follows.
        *message = driverMessages(SQL_HANDLE_DBC, c->dbc, SHRT_MAX);
    }
    if (!connected) {
        if (SQL_SUCCEEDED(rc))
            SQLDisconnect(c->dbc);
        releaseConnectionHandle(c->dbc);
        return nullptr;
    }
    readDriverFacts(c.get(), readOnly);
    return c.release();
}

RecordSetHandle openTable(Connection* c, const QByteArray& statement, StatementOutcome* outcome) {
    if (!c || statement.isEmpty())
        return 0;
    int slot = 0;
    while (slot < kRecordSetSlots && c->recordSets[size_t(slot)])
        ++slot;
    if (slot == kRecordSetSlots)
        return 0;

    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocStmt(c->dbc, &stmt)))
        return 0;
    auto rs = std::make_unique<CMRecordSet>(stmt);
    if (c->setQueryTimeout &&
        !SQL_SUCCEEDED(SQLSetStmtOption(stmt, SQL_QUERY_TIMEOUT, kQueryTimeout)))
        c->setQueryTimeout = false;

    // A forward-only, read-only statement goes out as one plain batch, its
    // text exactly as rewritten, and its rows come back in that one answer.
    QString text = QString::fromUtf8(rewriteBrackets(statement, c->quote));
    SQLRETURN rc;
    do
        rc = SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS);
    while (rc == SQL_STILL_EXECUTING);
    // SQL_NO_DATA: a statement that touched no rows, which ran all the same.
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
        if (outcome)
            outcome->message = driverMessages(SQL_HANDLE_STMT, stmt, 1);
        return 0;
    }
    if (!rs->describe()) {
        if (outcome)
            outcome->executed = true;
        return 0;
    }
    if (!rs->open()) {
        // The server ran it and failed on the way (an overflow, say).
        if (outcome)
            outcome->message = driverMessages(SQL_HANDLE_STMT, stmt, 1);
        return 0;
    }
    if (outcome)
        outcome->executed = true;

    if (++c->lastHandle == 0)
        c->lastHandle = 1;
    c->recordSets[size_t(slot)] = std::move(rs);
    c->handles[size_t(slot)] = c->lastHandle;
    return c->lastHandle;
}

void closeTable(Connection* c, RecordSetHandle handle) {
    if (!c)
        return;
    if (handle == 0) {
        for (auto& s : c->recordSets)
            s.reset();
        return;
    }
    int slot = c->slotOf(handle);
    if (slot >= 0)
        c->recordSets[size_t(slot)].reset();
}

}  // namespace

Connection* NewOpenDatabase(const QByteArray& connectString, int readOnly, bool noPrompt,
                            QString* message) {
    try {
        return connect(connectString, readOnly, noPrompt, message);
    } catch (...) {
        return nullptr;
    }
}

void CloseDatabase(Connection* connection) {
    if (!connection)
        return;
    try {
        closeTable(connection, 0);
        SQLDisconnect(connection->dbc);
        releaseConnectionHandle(connection->dbc);
    } catch (...) {
    }
    delete connection;
}

QByteArray ConnectString(const Connection* connection) {
    try {
        return connection ? connection->connectString : QByteArray();
    } catch (...) {
        return {};
    }
}

RecordSetHandle OpenTable(Connection* connection, const QByteArray& statement,
                          StatementOutcome* outcome) {
    try {
        if (outcome)
            *outcome = {};
        return openTable(connection, statement, outcome);
    } catch (...) {
        return 0;
    }
}

void CloseTable(Connection* connection, RecordSetHandle handle) {
    try {
        closeTable(connection, handle);
    } catch (...) {
    }
}

void MoveNext(Connection* connection, RecordSetHandle handle) {
    try {
        if (CMRecordSet* rs = connection ? connection->recordSet(handle) : nullptr)
            rs->moveNext();
    } catch (...) {
    }
}

bool AtEnd(Connection* connection, RecordSetHandle handle) {
    CMRecordSet* rs = connection ? connection->recordSet(handle) : nullptr;
    return !rs || rs->atEnd();
}

std::int64_t RecordCount(Connection* connection, RecordSetHandle handle) {
    CMRecordSet* rs = connection ? connection->recordSet(handle) : nullptr;
    return rs ? rs->recordCount() : 0;
}

Var* ReadColByIndex(Connection* connection, RecordSetHandle handle, int column) {
    try {
        CMRecordSet* rs = connection ? connection->recordSet(handle) : nullptr;
        if (!rs || column < 0 || column >= rs->columnCount())
            return nullptr;
        return new Var{rs->read(column)};
    } catch (...) {
        return nullptr;
    }
}

Var* ReadColByName(Connection* connection, RecordSetHandle handle, const QByteArray& name) {
    try {
        CMRecordSet* rs = connection ? connection->recordSet(handle) : nullptr;
        int column = rs ? rs->columnIndex(name) : -1;
        if (column < 0)
            return nullptr;
        return new Var{rs->read(column)};
    } catch (...) {
        return nullptr;
    }
}

void EmptyVar(Var* value) {
    delete value;
}

}  // namespace quill::db::odbc
