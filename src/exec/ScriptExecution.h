#pragma once

#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>

#include "console/Console.h"
#include "exec/RunHooks.h"
#include "exec/RunLog.h"
#include "exec/RunTexts.h"
#include "exec/ScriptRun.h"

namespace quill {
class Form;
class MessageBoxes;
class ProgramState;
}  // namespace quill

namespace quill::exec {

class OutputChannel;
struct OutputEvent;

// Runs the dropped script with sqlcmd in the console against the server the
// window is connected to, shows what the console prints in the log box, and
// tells in panel 1 how the run ended. One ScriptRun stands for the run under
// way. Lives on the GUI thread; what the console delivers on its reader
// thread is handed over in order, and output that piled up meanwhile goes
// into the log in one insertion. Insertions are paced by a zero timer, so
// that under a flood of output the window still gets a turn between two.
//
// With a RunLog, a run's output goes there as printed (the run's own file),
// and the lines of its errors are marked. Observers of the run (progress,
// the failed batches) follow it through the signals.
class ScriptExecution : public QObject {
    Q_OBJECT
public:
    // How long a stop waits after the Ctrl+C before it kills the client,
    // and then before it gives up on the interpreter.
    static constexpr int kInterruptWaitMs = 5000;
    static constexpr int kKillWaitMs = 3000;

    ScriptExecution(Form& form, Console& console, const ProgramState& state, MessageBoxes& boxes,
                    QObject* parent = nullptr);
    ~ScriptExecution() override;

    // 按钮4 clicked. At idle: checks the script and the connection, sends the
    // sqlcmd line and turns 按钮4 into the stop button. During a run: asks,
    // then stops the client (a Ctrl+C, then a kill if it does not end).
    void executeScript();

    // From the line sent to the run's outcome.
    bool runUnderWay() const { return run_.has_value(); }

    // The handlers for a console instance about to start. From now on that
    // instance's output and status, and no earlier one's, reach the window;
    // its first prompt says the script is ready.
    Console::Handlers consoleHandlers();

    // After a disconnect, which disables 按钮4: a run under way keeps its
    // stop button.
    void afterDisconnect();

    void setStopWaits(int interruptMs, int killMs);

    // What decides how the script runs (code page, where it starts) and
    // keeps track of it; not owned. None: the script runs as it stands.
    void setHooks(RunHooks* hooks) { hooks_ = hooks; }

    // Where runs' output goes from the next run on; nullptr: the log box only.
    void setRunLog(RunLog* log) { runLog_ = log; }

    // The user has asked the run under way to stop.
    bool stopping() const { return run_ && run_->stopRequested(); }

signals:
    // A run has started: its line is sent.
    void runStarted(const quill::exec::RunStart& start);
    // A status record about the run's client, in order with its output.
    void runRecord(const quill::console::StatusRecord& record);
    // The run has ended, after the window shows how.
    void runEnded(const quill::exec::RunOutcome& outcome);

private:
    void startRun();
    void offerStop();
    void escalateStop();
    void drain(OutputChannel& channel);
    void handle(const std::vector<OutputEvent>& events);
    void takeOutput(QByteArrayView bytes);
    void markLastErrors();
    void endRun(const RunOutcome& outcome);
    // What a drain adds to the log goes in, in order, at its end.
    void addText(const QString& text);
    void addOutput(QByteArrayView bytes);
    void flushLog();
    void showReady();
    void showRunButton();

    Form& form_;
    Console& console_;
    const ProgramState& state_;
    MessageBoxes& boxes_;
    std::shared_ptr<OutputChannel> channel_;
    QTimer drainTimer_;
    std::optional<ScriptRun> run_;
    quint64 runNumber_ = 0;
    bool awaitingFirstPrompt_ = false;
    QTimer stopTimer_;
    bool killed_ = false;  // the stop has gone past the Ctrl+C
    int interruptWaitMs_ = kInterruptWaitMs;
    int killWaitMs_ = kKillWaitMs;
    RunHooks* hooks_ = nullptr;

    RunLog* runLog_ = nullptr;
    bool runLogged_ = false;    // the run under way writes to runLog_
    int echoBreakSeen_ = 0;     // bytes of the interpreter's line break after the echo
    qint64 outputLine_ = -1;    // the log's line where the run's output starts; -1: none yet
    QString pendingText_;       // the window's texts, line breaks "\r\n"
    QByteArray pendingOutput_;  // the run's output
    std::vector<qint64> pendingMarks_;
    std::vector<qint64> errorLines_;  // scratch
};

}  // namespace quill::exec
