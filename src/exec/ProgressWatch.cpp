#include "exec/ProgressWatch.h"

#include <QFileInfo>

#include "exec/ScriptExecution.h"

namespace quill::exec {

ProgressWatch::ProgressWatch(ScriptExecution& execution, QObject* parent) : QObject(parent) {
    timer_.setInterval(kUpdateMs);
    connect(&timer_, &QTimer::timeout, this, &ProgressWatch::tell);
    connect(&execution, &ScriptExecution::runStarted, this, &ProgressWatch::onStarted);
    connect(&execution, &ScriptExecution::runRecord, this, &ProgressWatch::onRecord);
    connect(&execution, &ScriptExecution::runEnded, this, &ProgressWatch::onEnded);
}

void ProgressWatch::setScriptBatches(const QString& path, qint64 batches) {
    scannedPath_ = path;
    scannedBatches_ = batches;
}

void ProgressWatch::onStarted(const RunStart& start) {
    scriptPath_ = start.scriptPath;
    progress_.emplace(QFileInfo(start.scriptPath).size());
    if (scannedBatches_ >= 0 && scannedPath_ == start.scriptPath)
        progress_->setScriptBatches(scannedBatches_);
    probe_.reset();
    clock_.start();
    // The first figures come with the first tick; until then the run's
    // status stands alone.
    timer_.start();
}

void ProgressWatch::onRecord(const console::StatusRecord& record) {
    if (!progress_)
        return;
    if (record.tag == "started" && record.numbers.size() == 1) {
        const pid_t pid = pid_t(record.numbers[0]);
        // quill-sqlcmd reads the script twice (a check, then the run): only
        // its own records say how far the run is.
        if (ReadOffsetProbe::programName(pid) != QLatin1String("quill-sqlcmd"))
            probe_.emplace(pid, scriptPath_);
        return;
    }
    progress_->onRecord(record, clock_.elapsed());
}

void ProgressWatch::onEnded() {
    if (!progress_)
        return;
    timer_.stop();
    progress_.reset();
    probe_.reset();
    emit finished();
}

void ProgressWatch::tell() {
    if (!progress_)
        return;
    const qint64 now = clock_.elapsed();
    if (probe_ && !progress_->clientReports())
        if (const std::optional<qint64> offset = probe_->offset())
            progress_->onReadOffset(*offset, now);
    emit progressed(progress_->figures(now));
}

}  // namespace quill::exec
