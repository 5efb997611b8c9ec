#pragma once

// The texts and signals by which the command interpreter (quill-cmd), the
// console runner and the script output handler understand each other.
// Plain C++: the interpreter does not link Qt.

#include <csignal>

namespace quill::console {

// Stands in the interpreter's start-up banner.
inline constexpr char kBannerPhrase[] = "保留所有权利";

// Printed when the interpreter is ready for the next line, so it marks the
// end of every command.
inline constexpr char kPrompt[] = "C:\\WINDOWS\\system32>";

// Ends the echo of each line and comes before every prompt but the first.
inline constexpr char kLineBreak[] = "\r\n";

// The interpreter runs each program as the leader of a process group of its
// own, which dies with the interpreter. The console reaches that program
// through the interpreter, which alone can name it without a race (the
// program's id stays its own until the interpreter has collected it):
//   kInterruptSignal    passes a Ctrl+C to the program's process group;
//   kKillProgramSignal  kills the program's process group outright;
//   SIGTERM             kills the program's process group, waits for the
//                       program, and ends the interpreter. The interpreter
//                       also receives it when its own program dies.
inline constexpr int kInterruptSignal = SIGINT;
inline constexpr int kKillProgramSignal = SIGUSR1;

// The argument that hands the interpreter its status channel's descriptor
// (see StatusChannel.h): "--status-fd=3".
inline constexpr char kStatusFdOption[] = "--status-fd=";

}  // namespace quill::console
