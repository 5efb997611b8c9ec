#pragma once

// The console's status channel: a pipe beside the interpreter's standard
// output that carries what the window must know about a run but the log must
// never show. Plain C++: the interpreter and quill-sqlcmd do not link Qt.
//
// The interpreter finds the channel's write end on descriptor kStatusFd and
// hands it on to the client it starts, on the same descriptor, naming it in
// the environment variable kStatusFdVariable. A client that does not know
// the variable (Microsoft's sqlcmd) simply never writes to it.
//
// Each record is one line of printable ASCII ending in '\n', at most
// kMaxRecord bytes, written with a single write(2); pipe writes of that size
// are atomic, so records of the interpreter and of its client never mix.
// Fields are separated by one blank. Numbers are decimal.
//
// From the interpreter, about the program of the line it just echoed:
//   started <pid>          the program runs, as process <pid>, leading its
//                          own process group
//   exited <code>          it ended with this exit status
//   signalled <signal>     it was ended by this signal
//   unstarted              it could not be started (the reason is in the output)
// Every command line yields exactly one of "exited", "signalled" or
// "unstarted", written before the prompt that follows the command.
//
// From the client (quill-sqlcmd), while it runs a script:
//   input <bytes> <batches>
//       after its pre-scan: the script's size in bytes, and how many batches
//       it will send (-1 when it cannot tell in advance)
//   batch <n> <firstLine> <lastLine> <offset>
//       batch n (1-based, in the order sent) is about to go to the server;
//       its text stands on lines firstLine..lastLine of the script file
//       (1-based, without its GO line); offset: bytes of the script file
//       consumed up to the end of this batch
//   done <n> <errors>
//       the server finished batch n (every repetition of GO n); errors: how
//       many of its messages had severity 11 or more
//   cancelled <n>
//       the client was interrupted (SIGINT) while batch n ran, and the server
//       confirmed the cancel; the client then exits with kCancelledExitCode

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill::console {

inline constexpr int kStatusFd = 3;
inline constexpr char kStatusFdVariable[] = "QUILL_STATUS_FD";
inline constexpr std::size_t kMaxRecord = 256;

// Exit status of quill-sqlcmd after a SIGINT stopped the script.
inline constexpr int kCancelledExitCode = 130;

struct StatusRecord {
    std::string tag;                 // "started", "exited", "batch", ...
    std::vector<long long> numbers;  // the fields, in order
};

// One record as written, with its trailing line break.
std::string formatStatusRecord(std::string_view tag, const std::vector<long long>& numbers);

// Parses one line (without its line break). Nothing for a line that is not
// a tag followed by decimal numbers.
std::optional<StatusRecord> parseStatusRecord(std::string_view line);

// Writes records to the descriptor named in kStatusFdVariable; does nothing
// when the variable is unset or names no open descriptor. Safe to use from
// several threads: each record is one write.
class StatusWriter {
public:
    // Reads the environment once.
    static StatusWriter fromEnvironment();
    explicit StatusWriter(int fd = -1) : fd_(fd) {}

    bool active() const { return fd_ >= 0; }
    void write(std::string_view tag, const std::vector<long long>& numbers) const;

private:
    int fd_;
};

}  // namespace quill::console
