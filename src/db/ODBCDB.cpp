#include "db/ODBCDB.h"

#include <unistd.h>

#include <memory>

#include "db/ConnectText.h"
#include "db/DsnFile.h"

namespace quill {

namespace {

// The host name, cut to 23 bytes like the Windows computer name it stands
// for; empty when it cannot be read.
QByteArray computerName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return QByteArray(name).left(23);
}

// The two objects may open at the same moment; the file name is shared.
std::mutex& dsnSequence() {
    static std::mutex m;
    return m;
}

}  // namespace

ODBCDB::~ODBCDB() {
    CloseDatabase();
}

bool ODBCDB::OpenSqlDatabase(const QString& server, const QString& user, const QString& password,
                             const QString& database, int readOnly, bool noPrompt) {
    lastError_.clear();
    const db::OpenParameters p{server, user, password, database};
    const QByteArray host = computerName();
    const std::optional<QByteArray> text = db::dsnText(p, host);
    if (!text)
        return false;

    db::odbc::Connection* opened = nullptr;
    {
        std::lock_guard sequence(dsnSequence());
        db::DsnFile file(*text);
        const std::optional<db::ConnectStrings> strings = db::connectStrings(p, host, file.path());
        if (!strings)
            return false;
        opened = db::odbc::NewOpenDatabase(strings->driverString, readOnly, noPrompt, &lastError_);
    }
    if (!opened)
        return false;
    CloseDatabase();
    connection_ = opened;
    return true;
}

void ODBCDB::CloseDatabase() {
    db::odbc::CloseDatabase(connection_);
    connection_ = nullptr;
}

QString ODBCDB::ConnectString() const {
    return QString::fromUtf8(db::odbc::ConnectString(connection_));
}

ODBCDB::RecordSetHandle ODBCDB::OpenTable(const QString& statement) {
    db::odbc::StatementOutcome outcome;
    RecordSetHandle h = db::odbc::OpenTable(connection_, statement.toUtf8(), &outcome);
    statementExecuted_ = outcome.executed;
    lastError_ = outcome.message;
    return h;
}

void ODBCDB::CloseTable(RecordSetHandle handle) {
    db::odbc::CloseTable(connection_, handle);
}

void ODBCDB::MoveNext(RecordSetHandle handle) {
    db::odbc::MoveNext(connection_, handle);
}

bool ODBCDB::IsEof(RecordSetHandle handle) const {
    return db::odbc::AtEnd(connection_, handle);
}

std::int64_t ODBCDB::RecordCount(RecordSetHandle handle) const {
    return db::odbc::RecordCount(connection_, handle);
}

namespace {

FieldValue takeVar(db::odbc::Var* var) {
    std::unique_ptr<db::odbc::Var, decltype(&db::odbc::EmptyVar)> held(var, &db::odbc::EmptyVar);
    return held ? held->value : FieldValue();
}

}  // namespace

FieldValue ODBCDB::ReadColumn(RecordSetHandle handle, int column) {
    if (column < 1)
        return {};
    return takeVar(db::odbc::ReadColByIndex(connection_, handle, column - 1));
}

FieldValue ODBCDB::ReadColumn(RecordSetHandle handle, const QString& name) {
    return takeVar(db::odbc::ReadColByName(connection_, handle, name.toUtf8()));
}

}  // namespace quill
