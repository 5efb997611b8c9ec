#pragma once

#include <optional>
#include <string>

#include "ScriptReader.h"
#include "SessionState.h"

namespace quill::sqlcmd {

struct Options;
class Printer;
class Variables;

// What running one batch came to.
struct ExecResult {
    int maxSeverity = 0;            // highest severity of the errors (>= 11); 0: none
    int errors = 0;                 // messages of severity 11 or more
    std::optional<long> abortCode;  // RAISERROR with state 127: stop, exit with this
    bool connectionLost = false;
    bool cancelled = false;         // a SIGINT cancelled it on the server
    std::optional<long> exitValue;  // executeForValue: the value or -100/-101/-102
};

// Runs batches on the server, printing messages and results as they come.
class Executor {
public:
    virtual ~Executor() = default;
    virtual ExecResult execute(const Batch& batch, long repeat) = 0;
    // For :exit(query): the first column of the last row of the last result set.
    virtual ExecResult executeForValue(const Batch& batch) = 0;
    // The largest batch the server accepts, in bytes of UTF-16.
    virtual std::size_t batchLimit() const = 0;
};

// Follows a run from the outside (the status channel). Called on the thread
// that runs the batches, in script order.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    // After the pre-scan: the inputs' size in bytes and their batches; -1
    // when not known in advance.
    virtual void scanned(long long bytes, long batches) = 0;
    // A batch before the start batch, not sent.
    virtual void skipped(const BatchPlace& place) = 0;
    // The batch is about to be sent.
    virtual void starting(const BatchPlace& place) = 0;
    // The batch is over. `complete`: the server ran it to its end (errors or
    // not), or it can never be sent; the next run starts after it.
    virtual void finished(const BatchPlace& place, int errors, bool complete) = 0;
    // A SIGINT stopped the run at this batch: cancelled on the server while
    // it ran (inFlight), or before it was sent.
    virtual void interrupted(const BatchPlace& place, bool inFlight) = 0;
    // The run is over, whatever the reason.
    virtual void ended() = 0;
};

// Runs the script's steps: batches on the server, sqlcmd's commands, its
// rules for errors and exit codes, and the start batch for a resumed run.
class Script {
public:
    Script(const Options& options, Variables& variables, Printer& printer,
           RunObserver* observer = nullptr);
    ~Script();

    // True once a stop was asked for (SIGINT); checked between batches.
    void setInterruptCheck(bool (*interrupted)()) { interrupted_ = interrupted; }

    // Checks that every input file can be read and pre-scans regular files
    // (encoding, sqlcmd syntax, :setvar, batch numbers) so that a broken
    // script stops before anything runs; finds the start batch. Returns 0
    // when the script may run, else the exit code.
    int prepare();
    // Runs everything; returns the exit code.
    int run(Executor& executor);

private:
    enum class Flow { Continue, Stop };

    Flow handle(Step&& step);
    Flow runBatch(Step& step);
    Flow runExitQuery(Step& step);
    Flow afterBatch(const BatchPlace& place, const ExecResult& result);
    Flow stopBefore(const BatchPlace& place);
    Flow restoreSession(const BatchPlace& start);
    Flow fatal(std::string text);
    bool interrupted() const { return interrupted_ && interrupted_(); }
    int exitCode() const { return exitCode_ ? exitCode_ : levelCode_; }

    const Options& options_;
    Variables& variables_;
    Printer& printer_;
    RunObserver* observer_;
    bool (*interrupted_)() = nullptr;
    Executor* executor_ = nullptr;
    bool prepared_ = false;
    bool scanned_ = false;    // regular files, read once already
    bool readAhead_ = false;  // their batches are large enough to read ahead
    bool substituteFromStart_ = false;
    long startBatch_ = 1;
    SessionState session_;  // what the skipped batches set
    bool sessionRestored_ = false;
    bool onErrorExit_ = false;
    int exitCode_ = 0;
    int levelCode_ = 0;
};

}  // namespace quill::sqlcmd
