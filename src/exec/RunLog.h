#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QString>

namespace quill::exec {

// Where a run's output is kept and shown: the log box, and a file of the
// run's own that holds exactly what the client printed. The window
// implements it over its log box; without one, a run's output reaches the
// box as text (Form::appendLog) and is kept nowhere else.
class RunLog {
public:
    virtual ~RunLog() = default;

    // A run of scriptPath starts: its output goes to a new file from now on.
    // Returns the file's path, or an empty one with *error saying why there
    // is none (the output is still shown).
    virtual QString beginRun(const QDateTime& start, const QString& scriptPath, QString* error) = 0;
    // The client's output, bytes as printed.
    virtual void appendOutput(QByteArrayView bytes) = 0;
    // The line of the log the next byte lands on.
    virtual qint64 currentLine() const = 0;
    // A line that holds an error: F8 goes there, the error list lists it.
    virtual void markLine(qint64 line) = 0;
    // The run has ended; its file is complete.
    virtual void endRun() = 0;
};

// What an observer of the run learns when it starts.
struct RunStart {
    QString scriptPath;
    QString commandLine;
    QString logPath;  // the run's log file; empty when there is none
    QDateTime startedAt;
};

}  // namespace quill::exec
