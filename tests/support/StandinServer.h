#pragma once

#include <sys/types.h>
#include <QByteArray>

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace quill::test {

// Runs build/bin/quill-standin on a free loopback port for one test and
// stops it (SIGTERM) when destroyed. Its event log is kept in a temporary
// file, one line per event: "<spid> <event>[ <detail>]", where event is
// connect, login, login-failed, batch, rpc, error, attention or end (see
// tools/standin/README.md).
class StandinServer {
public:
    struct Options {
        QByteArray catalogJson;  // the --catalog document; empty for none
        QString password = "Quill-Test-1";
        int latencyMs = 0;    // before every answer, the login's included
        QString versionText;  // empty: the default text
        QStringList extraArgs;
    };

    StandinServer() : StandinServer(Options{}) {}
    explicit StandinServer(Options options);
    ~StandinServer();
    StandinServer(const StandinServer&) = delete;
    StandinServer& operator=(const StandinServer&) = delete;

    bool isRunning() const;
    quint16 port() const { return port_; }
    QString serverText() const { return QStringLiteral("127.0.0.1,%1").arg(port_); }
    QString login() const { return QStringLiteral("sa"); }
    QString password() const { return options_.password; }
    QString logPath() const;
    // What the server wrote to stderr when it could not start.
    QString startError() const { return startError_; }

    // A connect string for FreeTDS's ODBC driver (needs ODBC; registered
    // under "SQL Server", or pass another driver name or path).
    QString odbcConnectString(const QString& database = {},
                              const QString& driver = "SQL Server") const;

    QStringList logLines() const;
    // Log lines whose event is `event` ("batch", "rpc", "end", ...), without
    // the spid and event words; spid 0 means any session.
    QStringList logEvents(const QString& event, int spid = 0) const;
    // Waits until some log line contains `text`.
    bool waitForLog(const QString& text, int timeoutMs = 5000) const;

    // Stops the server now (SIGTERM) and waits for it to end; returns
    // whether it ended by itself with exit code 0.
    bool stop();

private:
    bool reaped(int timeoutMs);

    Options options_;
    std::unique_ptr<QTemporaryDir> dir_;
    // Started with fork and exec rather than QProcess: ThreadSanitizer
    // loses track of the starting thread's locks after QProcess's clone, and
    // then reports every later hand-over to a worker thread as a race.
    pid_t pid_ = -1;
    int status_ = 0;
    int stdout_ = -1;
    quint16 port_ = 0;
    QString startError_;
};

}  // namespace quill::test
