#include "exec/ScriptExecution.h"

#include <QFileInfo>
#include <condition_variable>
#include <mutex>

#include "console/CommandLine.h"
#include "core/Form.h"
#include "core/GuiThread.h"
#include "core/MessageBoxes.h"
#include "core/ProgramState.h"
#include "exec/ConsoleOutputParser.h"
#include "exec/ScriptCommand.h"

namespace quill::exec {

// Carries one console instance's output and status records, in order, from
// its reader thread to the GUI thread. The reader waits while a full load
// of output is still unread, so a flood cannot outrun the log, and no GUI
// turn takes on more than a load and a read (under 200 KB: a few
// milliseconds of work for the run's log file and the log box).
class OutputChannel {
public:
    static constexpr qsizetype kLoad = 128 * 1024;

    // One of: output bytes, a status record, or the end of the output.
    struct Piece {
        QByteArray bytes;
        std::optional<console::StatusRecord> record;
        bool ended = false;
    };

    // Reader thread. post is called, under the lock, when the GUI thread
    // has to be told that something is waiting.
    template <class Post>
    void onOutput(const QByteArray& latestOutput, Post&& post) {
        std::unique_lock lock(mutex_);
        roomLeft_.wait(lock, [this] { return closed_ || pendingBytes_ < kLoad; });
        if (closed_)
            return;
        if (pending_.empty() || pending_.back().record || pending_.back().ended)
            pending_.emplace_back();
        // Bytes, not the array: its data stays the reader's own.
        pending_.back().bytes.append(latestOutput.constData(), latestOutput.size());
        pendingBytes_ += latestOutput.size();
        tell(post);
    }
    template <class Post>
    void onStatus(const console::StatusRecord& record, Post&& post) {
        std::lock_guard lock(mutex_);
        if (closed_)
            return;
        pending_.push_back({{}, record, false});
        tell(post);
    }
    template <class Post>
    void onEnded(Post&& post) {
        std::lock_guard lock(mutex_);
        if (closed_)
            return;
        pending_.push_back({{}, std::nullopt, true});
        tell(post);
    }

    // GUI thread: everything that is waiting.
    std::vector<Piece> take() {
        std::lock_guard lock(mutex_);
        drainPosted_ = false;
        pendingBytes_ = 0;
        std::vector<Piece> out = std::exchange(pending_, {});
        roomLeft_.notify_all();
        return out;
    }

    // Nothing is taken from now on, and a waiting reader goes on.
    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        pending_.clear();
        roomLeft_.notify_all();
    }

    ConsoleOutputParser parser;  // GUI thread only

private:
    template <class Post>
    void tell(Post& post) {
        if (!drainPosted_) {
            drainPosted_ = true;
            post();
        }
    }

    std::mutex mutex_;
    std::condition_variable roomLeft_;
    std::vector<Piece> pending_;
    qsizetype pendingBytes_ = 0;
    bool drainPosted_ = false;
    bool closed_ = false;
};

namespace {

// The program's texts carry Windows line breaks; the log box would show
// "\r\n" as two.
QString forLog(const QString& text) {
    return QString(text).replace("\r\n", "\n");
}

}  // namespace

ScriptExecution::ScriptExecution(Form& form, Console& console, const ProgramState& state,
                                 MessageBoxes& boxes, QObject* parent)
    : QObject(parent), form_(form), console_(console), state_(state), boxes_(boxes) {
    // A posted event would run the next drain right after this one, in the
    // same pass over posted events; a timer waits for the next loop turn.
    drainTimer_.setSingleShot(true);
    drainTimer_.setInterval(0);
    connect(&drainTimer_, &QTimer::timeout, this, [this] {
        if (channel_)
            drain(*channel_);
    });
    stopTimer_.setSingleShot(true);
    connect(&stopTimer_, &QTimer::timeout, this, &ScriptExecution::escalateStop);
}

ScriptExecution::~ScriptExecution() {
    // Once closed, the reader no longer touches this object.
    if (channel_)
        channel_->close();
}

void ScriptExecution::setStopWaits(int interruptMs, int killMs) {
    interruptWaitMs_ = interruptMs;
    killWaitMs_ = killMs;
}

void ScriptExecution::executeScript() {
    if (run_)
        offerStop();
    else
        startRun();
}

void ScriptExecution::startRun() {
    const QString path = form_.text(Control::编辑框5);
    if (!QFileInfo::exists(path)) {
        form_.setStatus(1, QString::fromUtf8(kScriptMissing));
        return;
    }
    // The run goes where the window is connected, or nowhere.
    if (state_.connected() != 1) {
        form_.setStatus(1, QString::fromUtf8(kConnectFirst));
        return;
    }
    RunPlan plan{path, {}, {}};
    if (hooks_) {
        std::variant<RunPlan, QString> planned = hooks_->planRun(path);
        if (const QString* refusal = std::get_if<QString>(&planned)) {
            form_.setStatus(1, *refusal);
            return;
        }
        plan = std::get<RunPlan>(std::move(planned));
        // The hooks may have asked the user, and the connection gone meanwhile.
        if (state_.connected() != 1) {
            form_.setStatus(1, QString::fromUtf8(kConnectFirst));
            return;
        }
    }
    const QString server = state_.connectedServer();
    QString line = form_.authIndex() == 0
                       ? windowsCommandLine(server, plan.scriptPath)
                       : sqlServerCommandLine(server, form_.text(Control::编辑框2),
                                              form_.text(Control::编辑框3), plan.scriptPath);
    line += plan.options;
    for (auto variable = plan.environment.rbegin(); variable != plan.environment.rend(); ++variable)
        line.prepend(QString::fromStdString(console::assignmentWord(
                         variable->first.toStdString(), variable->second.toStdString())) +
                     ' ');
    // The console reads lines: a line break inside would start another command.
    if (line.contains('\n') || line.contains('\r')) {
        form_.setStatus(1, QString::fromUtf8(kLineBreakInCommand));
        return;
    }
    // Without an interpreter nothing would ever end the run; a new drop starts one.
    if (!console_.sendCommandLine(line)) {
        form_.setStatus(1, QString::fromUtf8(kConsoleGone));
        return;
    }
    run_.emplace(line);
    ++runNumber_;
    killed_ = false;
    echoBreakSeen_ = 0;
    outputLine_ = -1;
    RunStart start{plan.scriptPath, line, {}, QDateTime::currentDateTime()};
    runLogged_ = false;
    if (runLog_) {
        QString error;
        start.logPath = runLog_->beginRun(start.startedAt, path, &error);
        runLogged_ = true;
        if (start.logPath.isEmpty())
            addText(runLogMissingLine(error));
        flushLog();
    }
    form_.setStatus(1, QString::fromUtf8(kScriptRunning));
    form_.setText(Control::按钮4, QString::fromUtf8(kStopButton));
    form_.setEnabled(Control::按钮4, true);
    emit runStarted(start);
}

void ScriptExecution::offerStop() {
    if (run_->stopRequested())
        return;
    const quint64 asked = runNumber_;
    const int answer =
        boxes_.show(QString::fromUtf8(kStopQuestion), QString::fromUtf8(kStopCaption),
                    mb::OkCancel | mb::IconExclamation | mb::TaskModal);
    // The run may have ended while the question was open.
    if (answer != IdOk || !run_ || runNumber_ != asked)
        return;
    run_->requestStop();
    console_.interruptCommand();
    form_.setStatus(1, QString::fromUtf8(kStopping));
    form_.setEnabled(Control::按钮4, false);
    stopTimer_.start(interruptWaitMs_);
}

void ScriptExecution::escalateStop() {
    if (!run_)
        return;
    if (!killed_) {
        // Microsoft's sqlcmd may still be waiting for the server to answer
        // the cancel; the client's process group goes now.
        killed_ = true;
        console_.killCommand();
        stopTimer_.start(killWaitMs_);
        return;
    }
    // Not even the interpreter answers: it goes, with whatever it runs, and
    // the window does not wait for it any longer.
    if (channel_)
        channel_->close();
    console_.stopConsole();
    markLastErrors();
    endRun(run_->breakOff());
}

void ScriptExecution::afterDisconnect() {
    if (run_ && !run_->stopRequested())
        form_.setEnabled(Control::按钮4, true);
}

Console::Handlers ScriptExecution::consoleHandlers() {
    if (channel_)
        channel_->close();
    channel_ = std::make_shared<OutputChannel>();
    awaitingFirstPrompt_ = true;
    auto post = [this] { postToGui(this, [this] { drainTimer_.start(); }); };
    return {[channel = channel_, post](const QByteArray& latestOutput) {
                channel->onOutput(latestOutput, post);
            },
            [channel = channel_, post](const console::StatusRecord& record) {
                channel->onStatus(record, post);
            },
            [channel = channel_, post] { channel->onEnded(post); }};
}

void ScriptExecution::drain(OutputChannel& channel) {
    const std::vector<OutputChannel::Piece> pieces = channel.take();
    if (pieces.empty())
        return;

    // Only the line this window sent is its echo: it carries the password.
    const EchoedLines echoes{run_ ? run_->commandLine().toUtf8() : QByteArray(), {}};
    std::vector<OutputEvent> events;
    for (const OutputChannel::Piece& piece : pieces) {
        events.clear();
        if (piece.record) {
            if (run_) {
                run_->onRecord(*piece.record);
                if (hooks_)
                    hooks_->runRecord(*piece.record);
                emit runRecord(*piece.record);
            }
        } else if (piece.ended) {
            channel.parser.finish(events);
            handle(events);
            if (run_) {
                markLastErrors();
                endRun(run_->breakOff());
            }
        } else {
            channel.parser.feed(piece.bytes, echoes, events);
            handle(events);
        }
    }
    flushLog();
}

void ScriptExecution::handle(const std::vector<OutputEvent>& events) {
    for (const OutputEvent& event : events) {
        switch (event.kind) {
            case OutputEvent::Banner:
                pendingText_.clear();
                pendingOutput_.clear();
                pendingMarks_.clear();
                form_.setText(Control::编辑框4, forLog(QString::fromUtf8(kLogBanner)));
                break;
            case OutputEvent::Text:
                if (run_ && run_->echoed())
                    takeOutput(event.bytes);
                else
                    addText(QString::fromUtf8(event.bytes));
                break;
            case OutputEvent::Echo:
                if (run_)
                    run_->onEcho();
                break;
            case OutputEvent::Completed:
                if (run_ && run_->echoed()) {
                    markLastErrors();
                    endRun(run_->finish());
                } else if (awaitingFirstPrompt_) {
                    awaitingFirstPrompt_ = false;
                    if (!run_)
                        showReady();
                    if (hooks_)
                        addText(hooks_->consoleReady());
                }
                break;
        }
    }
}

// The client's output: what follows the interpreter's line break after the
// echo, up to the prompt.
void ScriptExecution::takeOutput(QByteArrayView bytes) {
    static constexpr char kBreak[] = "\r\n";
    while (echoBreakSeen_ < 2 && !bytes.isEmpty()) {
        if (bytes.front() == kBreak[echoBreakSeen_]) {
            bytes = bytes.sliced(1);
            if (++echoBreakSeen_ == 2)
                addText("\r\n");
        } else {
            // Not the interpreter's break after all: it is all output.
            if (echoBreakSeen_ > 0)
                addOutput(QByteArrayView(kBreak, echoBreakSeen_));
            echoBreakSeen_ = 2;
        }
    }
    if (bytes.isEmpty())
        return;
    if (runLogged_ && outputLine_ < 0) {
        flushLog();
        outputLine_ = runLog_->currentLine();
    }
    errorLines_.clear();
    run_->onText(bytes, runLogged_ ? &errorLines_ : nullptr);
    for (qint64 line : errorLines_)
        pendingMarks_.push_back(outputLine_ + line);
    addOutput(bytes);
}

// The run's output has ended: an error on its unfinished last line counts too.
void ScriptExecution::markLastErrors() {
    if (!run_->echoed())
        return;
    errorLines_.clear();
    run_->endOfOutput(&errorLines_);
    if (outputLine_ >= 0)
        for (qint64 line : errorLines_)
            pendingMarks_.push_back(outputLine_ + line);
}

void ScriptExecution::addText(const QString& text) {
    if (!pendingOutput_.isEmpty())
        flushLog();
    pendingText_ += text;
}

void ScriptExecution::addOutput(QByteArrayView bytes) {
    if (!pendingText_.isEmpty())
        flushLog();
    pendingOutput_.append(bytes);
}

void ScriptExecution::flushLog() {
    if (!pendingText_.isEmpty())
        form_.appendLog(forLog(std::exchange(pendingText_, {})));
    if (!pendingOutput_.isEmpty()) {
        if (runLogged_)
            runLog_->appendOutput(pendingOutput_);
        else
            form_.appendLog(forLog(QString::fromUtf8(pendingOutput_)));
        pendingOutput_.clear();
    }
    if (runLogged_)
        for (qint64 line : pendingMarks_)
            runLog_->markLine(line);
    pendingMarks_.clear();
}

void ScriptExecution::endRun(const RunOutcome& outcome) {
    stopTimer_.stop();
    flushLog();
    if (runLogged_)
        runLog_->endRun();
    runLogged_ = false;
    const RunReport report = reportRun(outcome);
    addText(report.logLine);
    flushLog();
    // The status bar shows a text too long for the panel whole on hover and click.
    form_.setStatus(1, report.status);
    run_.reset();
    showRunButton();
    if (hooks_) {
        addText(hooks_->runEnded(outcome));
        flushLog();
    }
    emit runEnded(outcome);
}

void ScriptExecution::showReady() {
    const QFileInfo script(form_.text(Control::编辑框5));
    if (script.isFile()) {
        form_.setStatus(1, readyStatus(script.fileName(), script.size()));
    } else {
        form_.setStatus(1, QString::fromUtf8(kScriptMissing));
    }
    showRunButton();
}

// At idle 按钮4 runs the script, as long as there is a connection to run it on.
void ScriptExecution::showRunButton() {
    form_.setText(Control::按钮4, QString::fromUtf8(kRunButton));
    form_.setEnabled(Control::按钮4, state_.connected() == 1);
}

}  // namespace quill::exec
