#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "core/Form.h"
#include "core/MessageBoxes.h"
#include "core/ProgramState.h"
#include "db/DatabaseWorker.h"
#include "db/ODBCDB.h"

namespace quill {

// The main window's handlers for connecting, listing the server's
// databases, disconnecting and deleting a database, all on 外部数据库1.
//
// The handlers run on the GUI thread and return at once: the database work
// goes to a worker thread, one click after another, and the form is
// updated when its results come back, in the order the flows have always
// updated it. A connect says so while it is under way; a second click of
// 按钮1 meanwhile starts nothing.
class DatabaseFlows : public QObject {
public:
    DatabaseFlows(Form& form, ProgramState& state, MessageBoxes& boxes,
                  std::shared_ptr<ODBCDB> database, QObject* parent = nullptr);
    // As closeDatabase.
    ~DatabaseFlows() override;

    // Click of 按钮1.
    void onConnectClicked();
    // Click of 按钮3; also after a connect and a deletion.
    void loadDatabaseList();
    // Click of 按钮2.
    void onDisconnectClicked();
    // Menu item "删除库": asks, then drops the database it asked about.
    void onDeleteDatabaseClicked();
    // Shutdown: work not yet started is dropped and 外部数据库1 is closed
    // after the work under way. The window waits for that a moment only; a
    // connect to a host that does not answer finishes on its own, and
    // nothing reaches the form any more.
    void closeDatabase();

    // No database work queued or running, and the form up to date.
    bool idle() const { return worker_.idle(); }

    // Status texts.
    static constexpr const char* kConnecting = "正在连接 ";  // + server + "…"
    static constexpr const char* kConnected = " 数据库连接成功";
    static constexpr const char* kConnectFailed = " 数据库连接失败";
    static constexpr const char* kListFailed = "  未能加载数据库";
    static constexpr const char* kListLoaded = "  加载数据库成功";
    static constexpr const char* kDisconnected = "  数据库连接已经断开";
    static constexpr const char* kDropExecuted = "删除命令已执行";
    static constexpr const char* kDropFailed = "删除失败：";

private:
    using Names = std::optional<QStringList>;
    // What the worker knows of the connection, in the order of its jobs.
    struct Session;

    void showList(const Names& names);

    Form& form_;
    ProgramState& state_;
    MessageBoxes& boxes_;
    std::shared_ptr<ODBCDB> db_;
    std::shared_ptr<Session> session_;
    bool connecting_ = false;
    // Last: it goes first, and with it every update still on its way.
    DatabaseWorker worker_;
};

// The first line of a server's version text: the bytes before its first
// two consecutive blanks, less the six that lead up to them there (the
// first line's trailing blank, line break, tab and month name, as in
// "... (X64) \n\tApr  2 2010"); empty when that leaves nothing. When the
// cut would fall inside the first line, the whole first line is kept
// instead, so a version number is never shown cut short.
QString versionHeadline(const QString& version);

// Driver messages, one a line, without the "[vendor][component]" tags
// before each.
QString serverMessage(const QString& driverMessage);

// "drop database [name]" with a "]" in the name doubled.
QString dropStatement(const QString& databaseName);

}  // namespace quill
