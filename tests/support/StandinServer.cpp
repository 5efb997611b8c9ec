#include "support/StandinServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

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

    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(binPath("quill-standin"), args);
    if (!process_.waitForStarted(10000)) {
        startError_ = process_.errorString();
        return;
    }
    // The first line on stdout is the port the server listens on.
    QByteArray line;
    while (!line.contains('\n') && process_.waitForReadyRead(10000))
        line += process_.readAllStandardOutput();
    bool ok = false;
    port_ = static_cast<quint16>(line.trimmed().toUInt(&ok));
    if (!ok || port_ == 0) {
        process_.waitForFinished(2000);
        startError_ = QString::fromUtf8(process_.readAllStandardError());
        port_ = 0;
    }
}

StandinServer::~StandinServer() {
    stop();
}

bool StandinServer::stop() {
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished(2000);
            return false;
        }
    }
    return process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
}

bool StandinServer::isRunning() const {
    return port_ != 0 && process_.state() == QProcess::Running;
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
