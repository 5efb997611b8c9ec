#pragma once

#include <string>
#include <vector>

namespace quill::cmd {

// Reports on the programs the interpreter runs go to this descriptor from
// now on (-1: nowhere). Programs receive it as the status channel.
void setStatusFd(int fd);

// Lets the console reach the running program through the interpreter's
// signals (console/ConsoleProtocol.h). Call before the first command.
void installSignalHandlers();

// Kills the running program's process group, if a program runs, and waits
// for the program. Safe in a signal handler.
void endRunningProgram();

// Runs one command (program and arguments, as split from the line) and
// waits for it to end. The program leads a process group of its own and
// dies with the interpreter; what it leaves running in that group is ended
// with it. Its output goes where the interpreter's goes; its input is
// empty. Problems are printed as one line of text. On the status channel
// the command yields "started" and then "exited" or "signalled", or
// "unstarted".
void runCommand(std::vector<std::string> args);

// Writes all of text to standard output.
void print(const std::string& text);

}  // namespace quill::cmd
