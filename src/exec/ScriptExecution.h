#pragma once

#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>

#include "console/Console.h"
#include "exec/RunHooks.h"
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

private:
    void startRun();
    void offerStop();
    void escalateStop();
    void drain(OutputChannel& channel);
    void handle(const std::vector<OutputEvent>& events, QString& append);
    void endRun(const RunOutcome& outcome, QString& append);
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
};

}  // namespace quill::exec
