#include "exec/ScriptExecution.h"

#include <QFileInfo>
#include <condition_variable>
#include <mutex>

#include "core/Form.h"
#include "core/GuiThread.h"
#include "exec/ConsoleOutputParser.h"
#include "exec/ScriptCommand.h"

namespace quill::exec {

// Carries one console instance's output from its reader thread to the GUI
// thread. The reader waits while a full load is still unread, so a flood of
// output cannot outrun the log, and no GUI turn takes on more than one load
// (about 2,500 lines, some 10 ms of work for the log box).
class OutputChannel {
public:
    static constexpr qsizetype kLoad = 128 * 1024;

    // Reader thread. post is called, under the lock, when the GUI thread
    // has to be told that output is waiting.
    template <class Post>
    void onConsoleOutput(const QByteArray& latestOutput, Post&& post) {
        std::unique_lock lock(mutex_);
        roomLeft_.wait(lock, [this] { return closed_ || pending_.size() < kLoad; });
        if (closed_)
            return;
        // Bytes, not the array: its data stays the reader's own.
        pending_.append(latestOutput.constData(), latestOutput.size());
        if (!drainPosted_) {
            drainPosted_ = true;
            post();
        }
    }

    // GUI thread: everything that is waiting.
    QByteArray take() {
        std::lock_guard lock(mutex_);
        drainPosted_ = false;
        QByteArray out = std::exchange(pending_, {});
        roomLeft_.notify_all();
        return out;
    }

    // Output from now on is dropped, and a waiting reader goes on.
    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        pending_.clear();
        roomLeft_.notify_all();
    }

    ConsoleOutputParser parser;  // GUI thread only

private:
    std::mutex mutex_;
    std::condition_variable roomLeft_;
    QByteArray pending_;
    bool drainPosted_ = false;
    bool closed_ = false;
};

namespace {

// The program's texts carry Windows line breaks; the log box would show
// "\r\n" as two.
QString forLog(const char* text) {
    return QString::fromUtf8(text).replace("\r\n", "\n");
}

}  // namespace

ScriptExecution::ScriptExecution(Form& form, Console& console, QObject* parent)
    : QObject(parent), form_(form), console_(console) {
    // A posted event would run the next drain right after this one, in the
    // same pass over posted events; a timer waits for the next loop turn.
    drainTimer_.setSingleShot(true);
    drainTimer_.setInterval(0);
    connect(&drainTimer_, &QTimer::timeout, this, [this] {
        if (channel_)
            drain(*channel_);
    });
}

ScriptExecution::~ScriptExecution() {
    // Once closed, the reader no longer touches this object.
    if (channel_)
        channel_->close();
}

void ScriptExecution::executeScript() {
    const QString path = form_.text(Control::编辑框5);
    if (!QFileInfo::exists(path)) {
        form_.setStatus(1, QString::fromUtf8(kScriptMissing));
        return;
    }
    const QString line = form_.authIndex() == 0
                             ? windowsCommandLine(path)
                             : sqlServerCommandLine(form_.text(Control::编辑框2),
                                                    form_.text(Control::编辑框3), path);
    // The console reads lines: a line break inside would start another command.
    if (line.contains('\n') || line.contains('\r')) {
        form_.setStatus(1, QString::fromUtf8(kLineBreakInCommand));
        return;
    }
    // Without an interpreter nothing would ever end the run and re-enable
    // the button; a new drop starts one.
    if (!console_.sendCommandLine(line)) {
        form_.setStatus(1, QString::fromUtf8(kConsoleGone));
        return;
    }
    form_.setStatus(1, QString::fromUtf8(kScriptRunning));
    form_.setEnabled(Control::按钮4, false);
}

Console::OutputHandler ScriptExecution::outputHandler() {
    if (channel_)
        channel_->close();
    channel_ = std::make_shared<OutputChannel>();
    return [this, channel = channel_](const QByteArray& latestOutput) {
        channel->onConsoleOutput(latestOutput,
                                 [this] { postToGui(this, [this] { drainTimer_.start(); }); });
    };
}

void ScriptExecution::drain(OutputChannel& channel) {
    const QByteArray output = channel.take();
    if (output.isEmpty())
        return;

    const QString path = form_.text(Control::编辑框5);
    const EchoedLines echoes{
        sqlServerCommandLine(form_.text(Control::编辑框2), form_.text(Control::编辑框3), path)
            .toUtf8(),
        windowsCommandLine(path).toUtf8()};
    std::vector<OutputEvent> events;
    channel.parser.feed(output, echoes, events);

    QString append;
    bool completed = false;
    for (const OutputEvent& event : events) {
        switch (event.kind) {
            case OutputEvent::Banner:
                append.clear();
                form_.setText(Control::编辑框4, forLog(kLogBanner));
                break;
            case OutputEvent::Text:
                append += event.text;
                break;
            case OutputEvent::Completed:
                append += forLog(kCompletionLine);
                completed = true;
                break;
        }
    }
    if (!append.isEmpty())
        form_.appendLog(append);
    if (completed) {
        form_.setStatus(1, QString::fromUtf8(kScriptFinished));
        form_.setEnabled(Control::按钮4, true);
    }
}

}  // namespace quill::exec
