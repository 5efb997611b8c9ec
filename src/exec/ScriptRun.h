#pragma once

#include <QByteArrayView>
#include <QString>
#include <optional>
#include <vector>

#include "console/StatusChannel.h"
#include "exec/MessageParser.h"

namespace quill::exec {

// How a script run ended, as plain values; RunTexts puts it into words.
struct RunOutcome {
    enum class Kind {
        Clean,         // exit status 0 and no error
        Errors,        // the script ran, and the server or the client reported errors
        LoginFailed,   // the client could not log in, so nothing ran
        ClientFailed,  // the client ended with a failure status (or an unknown one)
        Killed,        // a signal the user did not send ended the client
        Unstarted,     // the client could not be started
        Stopped,       // the user stopped the run
        BrokeOff,      // the interpreter went away before the client's end was known
    };
    Kind kind = Kind::Clean;
    std::optional<int> exitStatus;  // when the client ended by itself
    int signal = 0;                 // when a signal ended it
    int errorCount = 0;             // server errors of severity 11 and up, and the client's own
    std::optional<ScriptMessage> firstError;  // LoginFailed: the refusal
    QString lastLine;            // the last line of output: why, when nothing else says
    long long batchesDone = -1;  // batches the server finished; -1 when the client did not say
    // Stopped: the batch that was running and the script line it starts on
    // (0 when unknown), and whether the client had the server cancel it.
    long long stoppedBatch = 0;
    long long stoppedLine = 0;
    bool batchCancelled = false;

    bool operator==(const RunOutcome&) const = default;
};

// One run of a script, from the line sent to the interpreter to its outcome.
// It is told what the console delivered about the run and decides what the
// run came to; it knows no window.
class ScriptRun {
public:
    explicit ScriptRun(QString commandLine) : commandLine_(std::move(commandLine)) {}

    const QString& commandLine() const { return commandLine_; }

    // The interpreter echoed the run's line: output from now on is the
    // client's, and the next prompt ends the run.
    void onEcho() { echoed_ = true; }
    bool echoed() const { return echoed_; }

    // The client's output. errorLines, when given, gets the line of each
    // error found in it, counted from 0 at the start of the output.
    void onText(QByteArrayView text, std::vector<qint64>* errorLines = nullptr);
    // The output has ended: an unfinished last line counts too. The outcome
    // calls it itself; call it first to learn the lines of its errors.
    void endOfOutput(std::vector<qint64>* errorLines = nullptr);
    void onRecord(const console::StatusRecord& record);

    // The user asked for a stop; the outcome says "stopped" unless the
    // client reported every batch finished anyway.
    void requestStop() { stopRequested_ = true; }
    bool stopRequested() const { return stopRequested_; }

    // The prompt after the run's line: the client has ended.
    RunOutcome finish();
    // The console's output ended first, or the console was given up.
    RunOutcome breakOff();

    // The first errors the client printed, in order: at most kKeptErrors of
    // them, however many there were (the log holds them all).
    static constexpr std::size_t kKeptErrors = 100;
    const std::vector<ScriptMessage>& errors() const { return errors_; }
    long long errorCount() const { return errorCount_; }

private:
    RunOutcome known();
    void take(std::vector<ScriptMessage>& messages);

    QString commandLine_;
    bool echoed_ = false;
    bool stopRequested_ = false;
    MessageParser parser_;
    std::vector<ScriptMessage> errors_;
    long long errorCount_ = 0;
    bool serverErrors_ = false;
    std::optional<ScriptMessage> loginFailure_;  // the first
    long long failedBatchErrors_ = 0;            // as the client's "failed" records count them

    // From the status channel.
    std::optional<int> exitStatus_;
    int signal_ = 0;
    bool unstarted_ = false;
    long long inputBatches_ = -1;
    long long batchesDone_ = -1;
    std::optional<console::StatusRecord> cancelled_;
};

}  // namespace quill::exec
