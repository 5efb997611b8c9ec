#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "core/Form.h"
#include "core/MessageBoxes.h"
#include "core/ProgramState.h"
#include "db/ODBCDB.h"

namespace quill {

// The main window's handlers for connecting, listing the server's
// databases, disconnecting and deleting a database, all on 外部数据库1.
//
// They run on the GUI thread, except the deletion, which runs on a worker
// thread of its own. Every use of 外部数据库1 holds its Lock(), so the
// worker and the GUI thread take turns; the worker hands each form update
// to the GUI thread, in order.
class DatabaseFlows : public QObject {
public:
    DatabaseFlows(Form& form, ProgramState& state, MessageBoxes& boxes, ODBCDB& database,
                  QObject* parent = nullptr);
    // Waits for deletion workers still running; close the connection first
    // (closeDatabase) and they finish at once.
    ~DatabaseFlows() override;

    // Click of 按钮1.
    void onConnectClicked();
    // Click of 按钮3; also after a connect and a deletion.
    void loadDatabaseList();
    // Click of 按钮2.
    void onDisconnectClicked();
    // Menu item "删除库": asks, then deletes on a worker thread.
    void onDeleteDatabaseClicked();
    // The worker's body: drops selectedDatabaseName, reports, reloads.
    void deleteSelectedDatabase();
    // Closes 外部数据库1 (shutdown).
    void closeDatabase();

    // Status texts.
    static constexpr const char* kConnected = " 数据库连接成功";
    static constexpr const char* kConnectFailed = " 数据库连接失败";
    static constexpr const char* kListFailed = "  未能加载数据库";
    static constexpr const char* kListLoaded = "  加载数据库成功";
    static constexpr const char* kDisconnected = "  数据库连接已经断开";
    static constexpr const char* kDropExecuted = "删除命令已执行";
    static constexpr const char* kDropFailed = "删除失败：";

private:
    bool onGuiThread() const;
    // Runs `update` on the form now when on the GUI thread, else posts it.
    void onForm(std::function<void(Form&)> update);
    // Every use of 外部数据库1 holds this.
    std::unique_lock<std::mutex> lockDatabase();
    void startWorker(std::function<void()> body);

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    Form& form_;
    ProgramState& state_;
    MessageBoxes& boxes_;
    ODBCDB& db_;
    std::list<Worker> workers_;
};

// The first line of a server's version text: the bytes before its first
// two consecutive blanks, less the six that lead up to them there (the
// first line's trailing blank, line break, tab and month name, as in
// "... (X64) \n\tApr  2 2010"); empty when that leaves nothing.
QString versionHeadline(const QString& version);

// Driver messages, one a line, without the "[vendor][component]" tags
// before each.
QString serverMessage(const QString& driverMessage);

// "drop database [name]" with a "]" in the name doubled.
QString dropStatement(const QString& databaseName);

}  // namespace quill
