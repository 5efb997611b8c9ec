#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

namespace quill {

// One started interpreter: its pipe ends, its process, and the chunk its
// reader delivered last. The console and the reader thread share it; the
// last of them to let go closes whatever is still open.
struct ConsoleInstance {
    int stdinRead = -1;    // the interpreter's standard input; closed here once it runs
    int stdoutRead = -1;   // read by the reader thread
    int stdinWrite = -1;   // written by sendCommandLine
    int stdoutWrite = -1;  // the interpreter's standard output and error; closed here once it runs
    pid_t processId = 0;
    int stopEvent = -1;       // eventfd that wakes the reader when the console stops
    QByteArray latestOutput;  // reader thread only

    ConsoleInstance() = default;
    ConsoleInstance(const ConsoleInstance&) = delete;
    ConsoleInstance& operator=(const ConsoleInstance&) = delete;
    ~ConsoleInstance();
};

// Keeps one hidden, long-lived command interpreter. Lines written to it run
// in order; everything it and its programs print comes back, in order, in
// chunks of at most kChunkSize bytes, each handed at once to the handler on
// the instance's reader thread.
//
// Use it from one thread that outlives the interpreter (the GUI thread):
// the interpreter is killed when the thread that started it ends, so it
// never outlives the program, not even a kill -9.
class Console {
public:
    // Runs on the reader thread for every chunk. A chunk ends at its first
    // zero byte, if any.
    using OutputHandler = std::function<void(const QByteArray& latestOutput)>;
    static constexpr int kChunkSize = 260;

    // interpreter: the program to run (quill-cmd); it starts in workingDirectory.
    Console(QString interpreter, QString workingDirectory);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Starts a new interpreter with its reader. An earlier one is stopped
    // first, so only one instance ever delivers output. Failures are silent:
    // the handler then never runs.
    void startConsole(OutputHandler handler);

    // Writes text and a line break to the interpreter in one go. False when
    // there is no interpreter to take it (none started, or it has ended).
    bool sendCommandLine(const QString& text);

    // Closes the pipes, kills the interpreter and lets the reader end without
    // waiting for it. Programs the interpreter started keep running. A
    // handler call already under way may still finish afterwards.
    void stopConsole();

    // The interpreter's process id; 0 when none was started.
    pid_t interpreterPid() const;

private:
    QString interpreter_;
    QString workingDirectory_;
    std::shared_ptr<ConsoleInstance> instance_;
};

}  // namespace quill
