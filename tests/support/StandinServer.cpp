#include "support/StandinServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <vector>

#include "support/Paths.h"

namespace quill::test {

StandinServer::StandinServer(Options options)
    : options_(std::move(options)), dir_(std::make_unique<QTemporaryDir>()) {
    QStringList args{"--port", "0", "--password", options_.password, "--log", logPath()};
    if (!options_.catalogJson.isEmpty()) {
        QFile catalog(dir_->filePath("catalog.json"));
        if (catalog.open(QIODevice::WriteOnly))
            catalog.write(options_.catalogJson);
        args << "--catalog" << catalog.fileName();
    }
    if (options_.latencyMs > 0)
        args << "--latency-ms" << QString::number(options_.latencyMs);
    if (!options_.versionText.isEmpty())
        args << "--version-text" << options_.versionText;
    args << options_.extraArgs;

    const QByteArray program = QFile::encodeName(binPath("quill-standin"));
    std::vector<QByteArray> argBytes{program};
    for (const QString& a : args)
        argBytes.push_back(a.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const QByteArray errPath = QFile::encodeName(dir_->filePath("standin.err"));

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        startError_ = "no pipe for the stand-in's output";
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls until exec. The server ends with the
        // test, even one that aborts.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::dup2(out[1], STDOUT_FILENO);
        const int err = ::open(errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err >= 0)
            ::dup2(err, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    stdout_ = out[0];
    if (pid_ < 0) {
        startError_ = "cannot start quill-standin";
        return;
    }
    // The first line on stdout is the port the server listens on.
    QByteArray line;
    QElapsedTimer timer;
    timer.start();
    while (!line.contains('\n') && timer.elapsed() < 10000) {
        pollfd p{stdout_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buf[256];
        const ssize_t n = ::read(stdout_, buf, sizeof buf);
        if (n <= 0)
            break;
        line.append(buf, n);
    }
    bool ok = false;
    port_ = static_cast<quint16>(line.trimmed().toUInt(&ok));
    if (!ok || port_ == 0) {
        port_ = 0;
        stop();
        QFile err(dir_->filePath("standin.err"));
        startError_ = err.open(QIODevice::ReadOnly) ? QString::fromUtf8(err.readAll())
                                                    : QString("quill-standin gave no port");
    }
}

StandinServer::~StandinServer() {
    stop();
    if (stdout_ >= 0)
        ::close(stdout_);
}

// Collects the process when it has ended, waiting up to timeoutMs for that.
bool StandinServer::reaped(int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const pid_t r = ::waitpid(pid_, &status_, WNOHANG);
        if (r == pid_ || (r < 0 && errno != EINTR)) {
            pid_ = -1;
            return true;
        }
        if (timer.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(5);
    }
}

bool StandinServer::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        if (!reaped(10000)) {
            ::kill(pid_, SIGKILL);
            reaped(2000);
            return false;
        }
    }
    return WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
}

bool StandinServer::isRunning() const {
    if (port_ == 0 || pid_ <= 0)
        return false;
    // Looks without collecting: an ended process is reaped by stop().
    siginfo_t info{};
    return ::waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

QString StandinServer::logPath() const {
    return dir_->filePath("standin.log");
}

QString StandinServer::odbcConnectString(const QString& database, const QString& driver) const {
    QString s =
        QStringLiteral(
            "DRIVER=%1;SERVER=%2;UID=%3;PWD=%4;TDS_Version=7.4;Encryption=off;ClientCharset=UTF-8")
            .arg(driver, serverText(), login(), password());
    if (!database.isEmpty())
        s += ";DATABASE=" + database;
    return s;
}

QStringList StandinServer::logLines() const {
    QFile f(logPath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList StandinServer::logEvents(const QString& event, int spid) const {
    QStringList out;
    for (const QString& line : logLines()) {
        const QStringList parts = line.split(' ');
        if (parts.size() < 2 || parts[1] != event)
            continue;
        if (spid != 0 && parts[0].toInt() != spid)
            continue;
        out << line.section(' ', 2);
    }
    return out;
}

bool StandinServer::waitForLog(const QString& text, int timeoutMs) const {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        for (const QString& line : logLines())
            if (line.contains(text))
                return true;
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
}

}  // namespace quill::test
