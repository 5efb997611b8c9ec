#pragma once

#include <string>
#include <vector>

namespace quill::cmd {

// Reports on the programs the interpreter runs go to this descriptor from
// now on (-1: nowhere). Programs receive it as the status channel.
void setStatusFd(int fd);

// Blocks the signals through which the console reaches the running program
// (console/ConsoleProtocol.h) and takes them on a descriptor instead. Call
// before the first command.
void setUpSignals();
// Readable when such a signal has arrived.
int signalFd();
// Acts on the signals that arrived while no program runs: SIGTERM and
// SIGHUP end the interpreter, the others have nothing to reach.
void takeIdleSignals();

// Runs one command (program and arguments, as split from the line) and
// waits for it to end. Leading NAME=value words set variables for that
// program only (console::kJournalVariable, say); the interpreter's own
// QUILL_STATUS_FD and the password it takes off the line win over them. The program leads a process
// group of its own and dies with the interpreter; what it leaves running in that group is ended
// with it. Its output goes where the interpreter's goes; its input is
// empty. Problems are printed as one line of text. On the status channel
// the command yields "started" and then "exited" or "signalled", or
// "unstarted".
void runCommand(std::vector<std::string> args);

// Writes all of text to standard output.
void print(const std::string& text);

}  // namespace quill::cmd
