#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Splitter.h"

namespace quill::sqlcmd {

struct Options;
class Printer;
class Variables;

// What running one batch came to.
struct ExecResult {
    int maxSeverity = 0;            // highest severity of the errors (>= 11); 0: none
    std::optional<long> abortCode;  // RAISERROR with state 127: stop, exit with this
    bool connectionLost = false;
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

// Reads the inputs (-i files, -Q/-q text or standard input), splits them and
// runs the batches, following sqlcmd's commands and its rules for errors and
// exit codes.
class Script {
public:
    Script(const Options& options, Variables& variables, Printer& printer);
    ~Script();

    // Checks that every input file can be read and pre-scans regular files
    // (encoding, sqlcmd syntax, :setvar) so that a broken script stops before
    // anything runs. Returns 0 when the script may run, else the exit code.
    int prepare();
    // Runs everything; returns the exit code.
    int run(Executor& executor);

private:
    struct Source;
    enum class Flow { Continue, Stop };

    Flow processFile(const std::string& path, int depth);
    Flow processSource(Source& source, int depth);
    Flow onCommand(const Command& command, Source& source, int depth);
    Flow runBatch(long repeat);
    Flow runExitQuery(const Command& command);
    Flow afterBatch(const ExecResult& result);
    Flow fatal(std::string text);
    void reportSyntaxError(const Source& source);
    int runAll();

    const Options& options_;
    Variables& variables_;
    Printer& printer_;
    Splitter splitter_;
    Executor* executor_ = nullptr;  // null while pre-scanning
    bool sawSetvar_ = false;
    bool substituteFromStart_ = false;
    bool onErrorExit_ = false;
    int exitCode_ = 0;
    int levelCode_ = 0;
};

}  // namespace quill::sqlcmd
