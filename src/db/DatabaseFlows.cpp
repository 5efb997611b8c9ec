#include "db/DatabaseFlows.h"

#include <QCoreApplication>
#include <QThread>
#include <optional>
#include <vector>

#include "core/GuiThread.h"
#include "db/ColumnValues.h"

namespace quill {

namespace {

constexpr char kVersionQuery[] = "select @@version";
constexpr char kCountQuery[] = "SELECT COUNT(name) FROM sysdatabases";
constexpr char kNamesQuery[] = "select * from sysdatabases";

// The database names, or nothing when the server's list could not be read.
std::optional<std::vector<QString>> readDatabaseNames(ODBCDB& db) {
    ODBCDB::RecordSetHandle hc = db.OpenTable(kCountQuery);
    std::optional<std::int32_t> count = db.ReadColumn(hc, 1).toInt32();
    db.CloseTable(hc);
    if (!count)
        return std::nullopt;

    ODBCDB::RecordSetHandle hn = db.OpenTable(kNamesQuery);
    if (hn == 0)
        return std::nullopt;
    std::vector<QString> names;
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

DatabaseFlows::DatabaseFlows(Form& form, ProgramState& state, MessageBoxes& boxes, ODBCDB& database,
                             QObject* parent)
    : QObject(parent), form_(form), state_(state), boxes_(boxes), db_(database) {}

DatabaseFlows::~DatabaseFlows() {
    for (Worker& w : workers_)
        w.thread.join();
}

bool DatabaseFlows::onGuiThread() const {
    return QThread::currentThread() == thread();
}

void DatabaseFlows::onForm(std::function<void(Form&)> update) {
    if (onGuiThread())
        update(form_);
    else
        postToGui(this, [this, update = std::move(update)] { update(form_); });
}

std::unique_lock<std::mutex> DatabaseFlows::lockDatabase() {
    std::unique_lock lock(db_.Lock());
    // Workers post their updates before they let go of the lock: delivering
    // them now keeps the form in the order the database was used.
    if (onGuiThread())
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    return lock;
}

void DatabaseFlows::onConnectClicked() {
    const QString serverText = form_.text(Control::编辑框1);
    bool opened;
    QString version;
    ODBCDB::RecordSetHandle h = 0;
    {
        auto lock = lockDatabase();
        // Both modes go to the server the user typed: the status names it,
        // and the script run follows the connection.
        if (form_.authIndex() == 1)
            opened = db_.OpenSqlDatabase(serverText, form_.text(Control::编辑框2),
                                         form_.text(Control::编辑框3), {}, 0, false);
        else
            opened = db_.OpenSqlDatabase(serverText, {}, {}, {}, 0, true);
        if (opened) {
            h = db_.OpenTable(kVersionQuery);
            version = db_.ReadColumn(h, 1).toText();
        }
    }
    if (opened) {
        form_.setStatus(0, serverText + kConnected);
        form_.setStatusToolTip(0, {});
        form_.setStatus(1, versionHeadline(version));
        state_.setConnected(1);
        state_.setConnectedServer(serverText);
        loadDatabaseList();
        form_.setEnabled(Control::按钮1, false);
        form_.setEnabled(Control::按钮3, true);
    } else {
        form_.setStatus(0, serverText + kConnectFailed);
        // Why it failed, for whoever looks.
        form_.setStatusToolTip(0, db_.LastError());
        state_.setConnected(0);
        state_.setConnectedServer({});
    }
    auto lock = lockDatabase();
    db_.CloseTable(h);
}

void DatabaseFlows::loadDatabaseList() {
    onForm([](Form& f) { f.clearList(); });
    auto lock = lockDatabase();
    std::optional<std::vector<QString>> names;
    if (state_.connected() != 0)
        names = readDatabaseNames(db_);
    // Each update replaces the whole list: those of several loads cannot mix.
    if (!names) {
        onForm([](Form& f) {
            f.clearList();
            f.setStatus(0, kListFailed);
        });
        return;
    }
    onForm([names = std::move(*names)](Form& f) {
        f.clearList();
        for (size_t i = 0; i < names.size(); ++i) {
            int row = f.appendListRow(QString::number(i + 1));
            f.setListCell(row, 1, names[i]);
        }
        f.setEnabled(Control::按钮4, true);
        f.setStatus(0, kListLoaded);
    });
}

void DatabaseFlows::onDisconnectClicked() {
    closeDatabase();
    form_.setStatus(0, kDisconnected);
    form_.setStatusToolTip(0, {});
    state_.setConnected(0);
    state_.setConnectedServer({});
    form_.setEnabled(Control::按钮1, true);
    form_.setEnabled(Control::按钮3, false);
    form_.setEnabled(Control::按钮4, false);
}

void DatabaseFlows::closeDatabase() {
    auto lock = lockDatabase();
    form_.clearList();
    db_.CloseDatabase();
}

void DatabaseFlows::onDeleteDatabaseClicked() {
    const QString question = "您确定要删除  [" + state_.selectedDatabaseName() + "] 数据库吗！！！";
    if (boxes_.show(question, "提示！", mb::YesNo | mb::IconExclamation) != IdYes)
        return;
    startWorker([this] { deleteSelectedDatabase(); });
}

void DatabaseFlows::deleteSelectedDatabase() {
    const QString statement = dropStatement(state_.selectedDatabaseName());
    {
        auto lock = lockDatabase();
        ODBCDB::RecordSetHandle h = db_.OpenTable(statement);
        // The server may refuse (a database in use, missing rights): say so.
        const bool executed = db_.StatementExecuted();
        const QString reason = executed ? QString() : serverMessage(db_.LastError());
        const QString status = executed ? QString(kDropExecuted) : kDropFailed + reason;
        db_.CloseTable(h);
        onForm([status, reason](Form& f) {
            f.setStatus(1, status);
            f.setStatusToolTip(1, reason);
        });
    }
    loadDatabaseList();
}

void DatabaseFlows::startWorker(std::function<void()> body) {
    workers_.remove_if([](Worker& w) {
        if (!w.done->load())
            return false;
        w.thread.join();
        return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    workers_.push_back({std::thread([body = std::move(body), done] {
                            body();
                            done->store(true);
                        }),
                        done});
}

}  // namespace quill
