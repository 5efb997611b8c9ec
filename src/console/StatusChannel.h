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
// From the client (quill-sqlcmd), while it runs a script. Batches are
// numbered from 1 in the order the script's splitter yields them (a GO n
// batch is one batch); --start-batch takes the same numbers.
//   input <bytes> <batches>
//       after its pre-scan: the script's size in bytes, and how many batches
//       it holds (-1 when it cannot tell in advance)
//   progress <done> <offset>
//       batches 1..done have finished on the server; offset: bytes of the
//       script file consumed up to the end of batch <done>. Coalesced: at
//       most about ten a second, and once more when the script ends
//   failed <n> <errors> <firstLine> <lastLine>
//       batch n finished with <errors> messages of severity 11 or more; its
//       text stands on lines firstLine..lastLine of the script file (1-based,
//       without its GO line). Written at once, for every such batch
//   cancelled <n> <firstLine>
//       a SIGINT stopped the client at batch n (starting on firstLine): the
//       batch was cancelled on the server, or, when the stop fell between
//       two batches, never sent; the client then exits with kCancelledExitCode
// Lines and offsets are those of the top-level script file; a batch that
// comes from a file included with :r counts at its :r line.
//
// The journal: when kJournalVariable names a file, the client keeps in it,
// after every batch the server finished, where a new run would have to
// start (see JournalEntry). It is rewritten in place with one pwrite(2) per
// batch, so it is exact even when the client is killed: a batch is in it
// only after the server finished it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill::console {

inline constexpr int kStatusFd = 3;
inline constexpr char kStatusFdVariable[] = "QUILL_STATUS_FD";
inline constexpr char kJournalVariable[] = "QUILL_JOURNAL";
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

// What a journal holds: the next batch to send and the script line it
// starts on (the line after the last finished batch's GO).
struct JournalEntry {
    long long nextBatch = 1;
    long long nextLine = 1;
};

// The journal's whole content for an entry: fixed width, so that rewriting
// it in place never leaves a longer old tail behind.
std::string formatJournal(const JournalEntry& entry);
// Nothing when the text is not a journal.
std::optional<JournalEntry> parseJournal(std::string_view text);

}  // namespace quill::console
