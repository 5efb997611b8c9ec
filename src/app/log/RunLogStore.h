#pragma once

#include <QDateTime>
#include <QString>

namespace quill::logbox {

// Where Quillstep keeps its logs: $XDG_STATE_HOME/Quillstep (by default
// ~/.local/state/Quillstep), runs/ under it, and the log box's scratch spool
// under $XDG_CACHE_HOME/Quillstep (~/.cache/Quillstep).
QString runsFolder();
QString spoolFolder();

// The per-run log files: one file per run, named by its start time and
// script, "20261208-134501-订单.sql.log". Files beside a run's log that
// share its name with another ending (such as "….failed.sql") belong to
// the run. Keeps the last kKeptRuns runs and at most kKeptBytes of them;
// the run just started is always kept.
class RunLogStore {
public:
    static constexpr int kKeptRuns = 50;
    static constexpr qint64 kKeptBytes = qint64(2) * 1024 * 1024 * 1024;
    // The endings of a run's files, its log first.
    static constexpr const char* kRunFileEndings[] = {".log", ".failed.sql"};

    explicit RunLogStore(QString folder = runsFolder(), int keptRuns = kKeptRuns,
                         qint64 keptBytes = kKeptBytes);

    QString folder() const { return folder_; }

    // Creates the log file of a run started at start for the script at
    // scriptPath, then removes the runs beyond the limits. Returns its path,
    // or an empty one with *error set.
    QString startRun(const QDateTime& start, const QString& scriptPath, QString* error);

    // Removes the oldest runs while there are more than the limits allow,
    // never the one whose log is keep.
    void prune(const QString& keep = {}) const;

private:
    QString folder_;
    int keptRuns_;
    qint64 keptBytes_;
};

}  // namespace quill::logbox
