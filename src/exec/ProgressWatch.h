#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <optional>

#include "exec/ReadOffset.h"
#include "exec/RunLog.h"
#include "exec/RunProgress.h"

namespace quill::exec {

class ScriptExecution;

// Follows the runs of a ScriptExecution and tells, every kUpdateMs while
// one is under way, how far it has come. quill-sqlcmd reports its progress
// on the status channel; any other client (Microsoft's sqlcmd) is watched
// through its read offset in the script file.
class ProgressWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kUpdateMs = 250;

    explicit ProgressWatch(ScriptExecution& execution, QObject* parent = nullptr);

    // How many batches a pre-scan counted in the script at path: the total
    // for the runs of that script whose client does not count them itself.
    void setScriptBatches(const QString& path, qint64 batches);

    bool running() const { return progress_.has_value(); }

signals:
    void progressed(const quill::exec::ProgressFigures& figures);
    void finished();

private:
    void onStarted(const RunStart& start);
    void onRecord(const console::StatusRecord& record);
    void onEnded();
    void tell();

    QString scannedPath_;
    qint64 scannedBatches_ = -1;

    QString scriptPath_;
    std::optional<RunProgress> progress_;
    std::optional<ReadOffsetProbe> probe_;
    QElapsedTimer clock_;
    QTimer timer_;
};

}  // namespace quill::exec
