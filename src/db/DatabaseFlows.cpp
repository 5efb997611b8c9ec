#include "db/DatabaseFlows.h"

#include <QStringList>
#include <chrono>

#include "db/Babelfish.h"
#include "db/ColumnValues.h"

namespace quill {

namespace {

constexpr char kVersionQuery[] = "select @@version";
constexpr char kCountQuery[] = "SELECT COUNT(name) FROM sysdatabases";
constexpr char kNamesQuery[] = "select * from sysdatabases";

// How long the window waits, when it closes, for the database work under way.
constexpr std::chrono::milliseconds kShutdownGrace{1000};

// The database names, or nothing when the server's list could not be read.
std::optional<QStringList> readDatabaseNames(ODBCDB& db, bool babelfish) {
    ODBCDB::RecordSetHandle hc = db.OpenTable(kCountQuery);
    std::optional<std::int32_t> count = db.ReadColumn(hc, 1).toInt32();
    db.CloseTable(hc);
    if (!count)
        return std::nullopt;

    ODBCDB::RecordSetHandle hn =
        db.OpenTable(babelfish ? db::babelfish::kDatabaseNamesStatement : kNamesQuery);
    if (hn == 0)
        return std::nullopt;
    QStringList names;
    for (std::int32_t i = 1; i <= *count && !db.IsEof(hn); ++i) {
        names.push_back(db.ReadColumn(hn, 1).toText());
        db.MoveNext(hn);
    }
    db.CloseTable(hn);
    return names;
}

}  // namespace

QString versionHeadline(const QString& version) {
    const QByteArray bytes = version.toUtf8();
    const qsizetype p = bytes.indexOf("  ") + 1;  // 1-based; 0 when absent
    const qsizetype n = p - 7;
    if (p == 0 || n <= 0)
        return {};
    // SQL Server's text ends its first line just there. Another server's
    // whose pair of blanks lies further on ("... - 12.0.2000.8\nDec  8"
    // from Babelfish) keeps its first line whole rather than lose the end
    // of its version number.
    const qsizetype lineEnd = bytes.indexOf('\n');
    if (lineEnd >= 0 && p - 1 > lineEnd) {
        QByteArray firstLine = bytes.left(lineEnd);
        while (firstLine.endsWith(' ') || firstLine.endsWith('\r') || firstLine.endsWith('\t'))
            firstLine.chop(1);
        if (firstLine.size() > n)
            return QString::fromUtf8(firstLine);
    }
    return QString::fromUtf8(db::utf8Prefix(bytes, n));
}

QString serverMessage(const QString& driverMessage) {
    QStringList lines = driverMessage.split('\n');
    for (QString& line : lines) {
        qsizetype start = 0;
        while (start < line.size() && line[start] == '[') {
            const qsizetype close = line.indexOf(']', start);
            if (close < 0)
                break;
            start = close + 1;
        }
        line.remove(0, start);
    }
    return lines.join('\n');
}

QString dropStatement(const QString& databaseName) {
    return "drop database [" + QString(databaseName).replace("]", "]]") + "]";
}

struct DatabaseFlows::Session {
    bool connected = false;
    bool babelfish = false;
};

DatabaseFlows::DatabaseFlows(Form& form, ProgramState& state, MessageBoxes& boxes,
                             std::shared_ptr<ODBCDB> database, QObject* parent)
    : QObject(parent),
      form_(form),
      state_(state),
      boxes_(boxes),
      db_(std::move(database)),
      session_(std::make_shared<Session>()) {}

DatabaseFlows::~DatabaseFlows() {
    closeDatabase();
}

void DatabaseFlows::onConnectClicked() {
    if (connecting_)
        return;
    connecting_ = true;
    const QString serverText = DatabaseWorker::own(form_.text(Control::编辑框1));
    const bool sqlAuth = form_.authIndex() == 1;
    const QString user = sqlAuth ? DatabaseWorker::own(form_.text(Control::编辑框2)) : QString();
    const QString password =
        sqlAuth ? DatabaseWorker::own(form_.text(Control::编辑框3)) : QString();
    const bool button1Was = form_.isEnabled(Control::按钮1);
    form_.setStatus(0, kConnecting + serverText + "…");
    form_.setEnabled(Control::按钮1, false);

    worker_.post([this, db = db_, session = session_, serverText, sqlAuth, user, password,
                  button1Was](const DatabaseWorker::Deliver& deliver) {
        // Both modes go to the server the user typed: the status names it,
        // and the script run follows the connection.
        const bool opened = sqlAuth ? db->OpenSqlDatabase(serverText, user, password, {}, 0, false)
                                    : db->OpenSqlDatabase(serverText, {}, {}, {}, 0, true);
        session->connected = opened;
        if (!opened) {
            deliver([this, serverText, why = db->LastError(), button1Was] {
                connecting_ = false;
                form_.setStatus(0, serverText + kConnectFailed);
                // Why it failed, for whoever looks.
                form_.setStatusToolTip(0, why);
                form_.setEnabled(Control::按钮1, button1Was);
                state_.setConnected(0);
                state_.setConnectedServer({});
            });
            return;
        }
        ODBCDB::RecordSetHandle h = db->OpenTable(kVersionQuery);
        const QString version = db->ReadColumn(h, 1).toText();
        db->CloseTable(h);
        session->babelfish = db::babelfish::isBabelfishVersion(version);
        Names names = readDatabaseNames(*db, session->babelfish);
        deliver([this, serverText, version, names = std::move(names)] {
            connecting_ = false;
            form_.setStatus(0, serverText + kConnected);
            form_.setStatusToolTip(0, {});
            form_.setStatus(1, versionHeadline(version));
            state_.setConnected(1);
            state_.setConnectedServer(serverText);
            showList(names);
            form_.setEnabled(Control::按钮1, false);
            form_.setEnabled(Control::按钮3, true);
        });
    });
}

void DatabaseFlows::loadDatabaseList() {
    form_.clearList();
    worker_.post([this, db = db_, session = session_](const DatabaseWorker::Deliver& deliver) {
        Names names;
        if (session->connected)
            names = readDatabaseNames(*db, session->babelfish);
        deliver([this, names = std::move(names)] { showList(names); });
    });
}

// Each update replaces the whole list: those of several loads cannot mix.
void DatabaseFlows::showList(const Names& names) {
    if (!names) {
        form_.clearList();
        form_.setStatus(0, kListFailed);
        return;
    }
    form_.setListRows(*names);
    form_.setEnabled(Control::按钮4, true);
    form_.setStatus(0, kListLoaded);
}

void DatabaseFlows::onDisconnectClicked() {
    worker_.post([this, db = db_, session = session_](const DatabaseWorker::Deliver& deliver) {
        db->CloseDatabase();
        session->connected = false;
        deliver([this] {
            form_.clearList();
            form_.setStatus(0, kDisconnected);
            form_.setStatusToolTip(0, {});
            state_.setConnected(0);
            state_.setConnectedServer({});
            form_.setEnabled(Control::按钮1, true);
            form_.setEnabled(Control::按钮3, false);
            form_.setEnabled(Control::按钮4, false);
        });
    });
}

void DatabaseFlows::closeDatabase() {
    worker_.shutDown([db = db_] { db->CloseDatabase(); }, kShutdownGrace);
}

void DatabaseFlows::onDeleteDatabaseClicked() {
    // The database dropped is the one the question named, even if another
    // is right-clicked before the work starts.
    const QString name = state_.selectedDatabaseName();
    const QString question = "您确定要删除  [" + name + "] 数据库吗！！！";
    if (boxes_.show(question, "提示！", mb::YesNo | mb::IconExclamation) != IdYes)
        return;
    worker_.post([this, db = db_, session = session_,
                  statement = dropStatement(name)](const DatabaseWorker::Deliver& deliver) {
        ODBCDB::RecordSetHandle h = db->OpenTable(statement);
        // The server may refuse (a database in use, missing rights): say so.
        const bool executed = db->StatementExecuted();
        const QString reason = executed ? QString() : serverMessage(db->LastError());
        const QString status = executed ? QString(kDropExecuted) : kDropFailed + reason;
        db->CloseTable(h);
        deliver([this, status, reason] {
            form_.setStatus(1, status);
            form_.setStatusToolTip(1, reason);
        });
        Names names;
        if (session->connected)
            names = readDatabaseNames(*db, session->babelfish);
        deliver([this, names = std::move(names)] { showList(names); });
    });
}

}  // namespace quill
