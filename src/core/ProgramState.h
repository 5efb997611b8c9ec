#pragma once

#include <QString>
#include <atomic>
#include <mutex>

namespace quill {

// Program-wide records shared by the flows. The deletion worker and the
// console reader read them off the GUI thread, hence the guards.
class ProgramState {
public:
    // 1 while 外部数据库1 is connected.
    int connected() const { return connected_.load(); }
    void setConnected(int value) { connected_.store(value); }

    // The server 外部数据库1 is connected to, as the connection used it
    // (".", "(local)", "host", "host,port", "host\\instance"); empty while
    // not connected. The script run goes to this server.
    QString connectedServer() const;
    void setConnectedServer(const QString& server);

    // The database named by the last right-click on the list.
    QString selectedDatabaseName() const;
    void setSelectedDatabaseName(const QString& name);

private:
    std::atomic<int> connected_{0};
    mutable std::mutex mutex_;
    QString selectedDatabaseName_;
    QString connectedServer_;
};

}  // namespace quill
