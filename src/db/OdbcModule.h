#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

#include "db/FieldValue.h"

// The connection module under ODBCDB: it owns the ODBC environment, the
// connections and their record sets, and hands out only opaque handles and
// values. Every entry absorbs whatever fails beneath it into its plain
// failure result (null, 0, nothing). A connection is used by one thread at a
// time; the shared environment is guarded here.
namespace quill::db::odbc {

struct Connection;

// Identifies one record set of one connection; 0 is none.
using RecordSetHandle = std::int32_t;

// At most this many record sets are open on a connection at once.
constexpr int kRecordSetSlots = 30;

// A column value handed out by ReadColByIndex/ReadColByName, owned by the
// module until the caller gives it back with EmptyVar.
struct Var {
    FieldValue value;
};

// How the statement of the last OpenTable fared.
struct StatementOutcome {
    bool executed = false;  // it reached the server and ran without an error
    QString message;        // the driver's first message when it did not
};

// Connects with a connect string for SQLDriverConnect. Null on failure,
// with the driver's first message in `message` when it gave one.
Connection* NewOpenDatabase(const QByteArray& connectString, int readOnly, bool noPrompt,
                            QString* message);
// Closes the record sets and the connection, and frees it.
void CloseDatabase(Connection* connection);
// "ODBC;" followed by the completed connect string the driver returned.
QByteArray ConnectString(const Connection* connection);

// Runs a statement and reads its result whole (one round trip, whatever
// the rows); 0 on failure, including a statement with no result set, which
// the server has run all the same.
RecordSetHandle OpenTable(Connection* connection, const QByteArray& statement,
                          StatementOutcome* outcome);
// Closes one record set; handle 0 closes all of them.
void CloseTable(Connection* connection, RecordSetHandle handle);
void MoveNext(Connection* connection, RecordSetHandle handle);
// True past the last row, and for a handle that names no record set.
bool AtEnd(Connection* connection, RecordSetHandle handle);
// The rows counted when the record set was opened; 0 for an unknown handle.
std::int64_t RecordCount(Connection* connection, RecordSetHandle handle);

// The current row's value of a column, 0-based, or of the first column
// named exactly so. Null when there is no such record set or column.
Var* ReadColByIndex(Connection* connection, RecordSetHandle handle, int column);
Var* ReadColByName(Connection* connection, RecordSetHandle handle, const QByteArray& name);
void EmptyVar(Var* value);

}  // namespace quill::db::odbc
