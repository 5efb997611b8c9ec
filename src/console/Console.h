#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

#include "console/StatusChannel.h"

namespace quill {

// One started interpreter: its pipe ends, its process, and the chunk its
// reader delivered last. The console and the reader thread share it; the
// last of them to let go closes whatever is still open.
struct ConsoleInstance {
    int stdinRead = -1;    // the interpreter's standard input; closed here once it runs
    int stdoutRead = -1;   // read by the reader thread
    int stdinWrite = -1;   // written by sendCommandLine
    int stdoutWrite = -1;  // the interpreter's standard output and error; closed here once it runs
    int statusRead = -1;   // the status channel, read by the reader thread
    int statusWrite = -1;  // the interpreter's console::kStatusFd; closed here once it runs
    pid_t processId = 0;
    int interpreterExit = -1;  // pidfd, readable once the interpreter has ended
    int stopEvent = -1;        // eventfd that wakes the reader when the console stops
    QByteArray latestOutput;   // reader thread only

    ConsoleInstance() = default;
    ConsoleInstance(const ConsoleInstance&) = delete;
    ConsoleInstance& operator=(const ConsoleInstance&) = delete;
    ~ConsoleInstance();
};

// Keeps one hidden, long-lived command interpreter. Lines written to it run
// in order; everything it and its programs print comes back, in order, in
// chunks of at most kChunkSize bytes, each handed at once to the handler on
// the instance's reader thread. Beside the output runs the status channel
// (console/StatusChannel.h), whose records reach their handler on the same
// thread, in order with the output: a record written before some output
// arrives before it.
//
// Use it from one thread that outlives the interpreter (the GUI thread):
// the interpreter, and the program it runs, are ended when the thread that
// started them ends, so they never outlive the program, not even a kill -9.
class Console {
public:
    // Runs on the reader thread for every chunk, zero bytes included.
    using OutputHandler = std::function<void(const QByteArray& latestOutput)>;
    using StatusHandler = std::function<void(const console::StatusRecord& record)>;
    struct Handlers {
        OutputHandler output;
        StatusHandler status;  // may be empty
        // May be empty. The output has ended by itself: the interpreter and
        // its programs are gone (when the interpreter dies, the program it
        // ran is killed). Runs after everything else, at most once.
        std::function<void()> ended;
    };
    // A pipe's worth: a read takes whatever has arrived, so a chunk never
    // waits for more, and a flood of output costs one read per 64 KB rather
    // than one per line (small reads held a fast client back to a third of
    // its pace).
    static constexpr int kChunkSize = 64 * 1024;
    // How long stopConsole waits for the interpreter to end its program and
    // itself before it kills the interpreter outright.
    static constexpr int kStopWaitMs = 2000;

    // interpreter: the program to run (quill-cmd); it starts in workingDirectory.
    Console(QString interpreter, QString workingDirectory);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Starts a new interpreter with its reader. An earlier one is stopped
    // first, so only one instance ever delivers output. Failures are silent:
    // the handlers then never run.
    void startConsole(OutputHandler handler);
    void startConsole(Handlers handlers);

    // Writes text and a line break to the interpreter in one go. False when
    // there is no interpreter to take it (none started, or it has ended).
    bool sendCommandLine(const QString& text);

    // A Ctrl+C for the program the interpreter runs, and for what that
    // program started. False without an interpreter.
    bool interruptCommand();
    // Kills that program and what it started at once; the interpreter goes
    // on to its next line. False without an interpreter.
    bool killCommand();

    // Ends the program the interpreter runs, with everything it started, and
    // then the interpreter, and returns once they are gone (the interpreter
    // is killed outright after kStopWaitMs). Closes the pipes and lets the
    // reader end without waiting for it; a handler call already under way
    // may still finish afterwards.
    void stopConsole();

    // The interpreter's process id; 0 when none was started.
    pid_t interpreterPid() const;
    // The interpreter's program, as given.
    const QString& interpreter() const { return interpreter_; }

private:
    QString interpreter_;
    QString workingDirectory_;
    std::shared_ptr<ConsoleInstance> instance_;
};

}  // namespace quill
