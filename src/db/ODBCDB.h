#pragma once

#include <QString>
#include <cstdint>
#include <mutex>

#include "db/FieldValue.h"
#include "db/OdbcModule.h"

namespace quill {

// One connection to SQL Server through the ODBC driver registered as
// "SQL Server", with up to 30 open record sets on it.
//
// Use: OpenSqlDatabase, then rounds of OpenTable / ReadColumn / MoveNext /
// CloseTable, then CloseDatabase (the destructor closes too). A record set
// starts on its first row (or at its end when empty) and only moves forward.
//
// Nothing here shows anything or throws: a failure is only a result (false,
// handle 0, an empty text). Operations without a connection or with an
// unknown handle do nothing. LastError and StatementExecuted tell what the
// driver said, for callers that report it.
//
// The object has no lock of its own and must not be used by two threads at
// once. An object shared between threads is guarded by Lock(): every use
// holds it.
class ODBCDB {
public:
    using RecordSetHandle = db::odbc::RecordSetHandle;

    ODBCDB() = default;
    ~ODBCDB();
    ODBCDB(const ODBCDB&) = delete;
    ODBCDB& operator=(const ODBCDB&) = delete;

    // Connects to `server` ("host", "host,port", "." or "(local)" for this
    // machine's default instance, "host\instance"). Empty user, password or
    // database are left out; with no user the driver logs in as the current
    // user (Kerberos). A temporary file DSN is written for the attempt and
    // deleted after it. True when a new connection is open; it then replaces
    // the one held before. On failure the old connection stays in use.
    bool OpenSqlDatabase(const QString& server, const QString& user = {},
                         const QString& password = {}, const QString& database = {},
                         int readOnly = 0, bool noPrompt = false);
    void CloseDatabase();
    bool IsOpen() const { return connection_ != nullptr; }
    // "ODBC;" and the completed connect string (it holds the password).
    QString ConnectString() const;

    // Runs any statement as a read-only record set; square-bracket names are
    // sent as the driver's quoted identifiers. 0 for an empty text, when all
    // slots are taken, on failure, and for a statement without a result set
    // (which the server has run all the same: see StatementExecuted).
    RecordSetHandle OpenTable(const QString& statement);
    // Closes one record set; 0 (or no argument) closes all of them.
    void CloseTable(RecordSetHandle handle = 0);
    void MoveNext(RecordSetHandle handle);
    // True past the last row, and for a handle that names no record set.
    bool IsEof(RecordSetHandle handle) const;
    // The rows of the result, counted when it was opened.
    std::int64_t RecordCount(RecordSetHandle handle) const;

    // The current row's value of column `column` (1-based) or of the first
    // column named exactly `name` (case matters). An empty text when there
    // is no such column or record set.
    FieldValue ReadColumn(RecordSetHandle handle, int column);
    FieldValue ReadColumn(RecordSetHandle handle, const QString& name);

    // The driver's first message on the last failed OpenSqlDatabase, or on
    // the last OpenTable whose statement did not run; empty otherwise.
    QString LastError() const { return lastError_; }
    // Whether the statement of the last OpenTable reached the server and ran.
    bool StatementExecuted() const { return statementExecuted_; }

    std::mutex& Lock() { return lock_; }

private:
    db::odbc::Connection* connection_ = nullptr;
    QString lastError_;
    bool statementExecuted_ = false;
    std::mutex lock_;
};

}  // namespace quill
