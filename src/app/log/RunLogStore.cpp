#include "app/log/RunLogStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <vector>

#include "core/Folders.h"

namespace quill::logbox {

namespace {

// A file name is at most 255 bytes: the script's name is shortened, whole
// characters only, to leave room for the time, a same-second number and the
// longest ending.
QString shortened(const QString& name, qsizetype maxBytes) {
    QString out = name;
    while (out.toUtf8().size() > maxBytes)
        out.chop(out.size() >= 2 && out.at(out.size() - 1).isLowSurrogate() ? 2 : 1);
    return out;
}

struct Run {
    QString stem;  // the log's name without ".log"
    QDateTime modified;
    qint64 bytes = 0;
};

}  // namespace

QString runsFolder() {
    return stateFolder() + "/runs";
}

QString spoolFolder() {
    return xdgFolder("XDG_CACHE_HOME", ".cache");
}

RunLogStore::RunLogStore(QString folder, int keptRuns, qint64 keptBytes)
    : folder_(std::move(folder)), keptRuns_(keptRuns), keptBytes_(keptBytes) {}

QString RunLogStore::startRun(const QDateTime& start, const QString& scriptPath, QString* error) {
    if (!QDir().mkpath(folder_)) {
        *error = QStringLiteral("cannot create %1").arg(folder_);
        return {};
    }
    // Output may hold the data of the scripts: for the user's eyes only.
    QFile::setPermissions(folder_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString time = start.toString("yyyyMMdd-HHmmss");
    const QString script = shortened(QFileInfo(scriptPath).fileName(), 255 - 16 - 3 - 11);
    for (int n = 1; n < 100; ++n) {
        const QString stem = time + '-' + script + (n > 1 ? '-' + QString::number(n) : QString());
        QFile file(QDir(folder_).filePath(stem + ".log"));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
            file.close();
            prune(file.fileName());
            return file.fileName();
        }
        if (file.error() != QFileDevice::OpenError || !file.exists()) {
            *error = file.errorString();
            return {};
        }
    }
    *error = QStringLiteral("too many runs started at %1").arg(time);
    return {};
}

void RunLogStore::prune(const QString& keep) const {
    static const QRegularExpression logName(R"(^(\d{8}-\d{6}-.+)\.log$)");
    QDir dir(folder_);
    std::vector<Run> runs;
    for (const QFileInfo& log : dir.entryInfoList({"*.log"}, QDir::Files)) {
        const QRegularExpressionMatch m = logName.match(log.fileName());
        if (!m.hasMatch())
            continue;
        Run run{m.captured(1), log.lastModified(), 0};
        for (const char* ending : kRunFileEndings)
            run.bytes += QFileInfo(dir.filePath(run.stem + ending)).size();
        runs.push_back(run);
    }
    // Oldest first: by the start time in the name, then by the last write.
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) {
        const QStringView ta = QStringView(a.stem).left(15), tb = QStringView(b.stem).left(15);
        return ta != tb ? ta < tb : a.modified < b.modified;
    });
    qint64 total = 0;
    for (const Run& run : runs)
        total += run.bytes;
    qsizetype left = qsizetype(runs.size());
    const QString kept = QFileInfo(keep).fileName();
    for (const Run& run : runs) {
        if (left <= keptRuns_ && total <= keptBytes_)
            break;
        if (run.stem + ".log" == kept)
            continue;
        for (const char* ending : kRunFileEndings)
            dir.remove(run.stem + ending);
        total -= run.bytes;
        --left;
    }
}

}  // namespace quill::logbox
