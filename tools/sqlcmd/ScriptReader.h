#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "Splitter.h"

namespace quill::sqlcmd {

struct Options;
class Variables;

// Defines the client's SQLCMD* variables from the options, then the -v ones.
// Returns why a -v variable cannot be set, or nothing.
std::optional<std::string> defineVariables(const Options& options, Variables& variables);

// Where a numbered batch stands in the script. Batches are numbered from 1 in
// script order, over every input; a batch of white space only is never sent
// and gets no number; GO n gives one batch. Lines are those of the top-level
// input (text read from a :r file stands on the top-level :r line); offsets
// count the input's bytes as stored, earlier inputs included.
struct BatchPlace {
    long number = 0;
    long firstLine = 1;       // where its text starts
    long lastLine = 1;        // where its text ends (its GO line not included)
    long endLine = 1;         // the line that ended it: its GO, :r or exit line, else lastLine
    long nextLine = 1;        // where the text after it starts
    long long endOffset = 0;  // input bytes up to the end of endLine
};

// One thing the script asks for, in script order.
struct Step {
    enum class Kind {
        Batch,      // run `batch`, `repeat` times
        ExitQuery,  // exit(query): run `batch` for the exit code; the script ends
        OnError,    // :on error; text is "exit" or "ignore"
        Print,      // text for the output (:listvar)
        Warning,    // a warning of the client's own (!! refused)
        Fatal,      // the script cannot go on; text says why
    };
    Kind kind = Kind::Batch;
    Batch batch;
    long repeat = 1;
    // Batch, ExitQuery: the batch's place. Other kinds: only `number`, the
    // batch that comes next.
    BatchPlace place;
    std::string text;
};

// Reads the inputs (-Q/-q text, the -i files with their :r files, or standard
// input), decodes and splits them, and hands out the steps in order. Plain
// and single-threaded; it prints nothing: failures arrive as Fatal steps.
class ScriptReader {
public:
    // Takes a step; false stops the reading.
    using Sink = std::function<bool(Step&&)>;

    ScriptReader(const Options& options, Variables& variables);
    ~ScriptReader();
    ScriptReader(const ScriptReader&) = delete;
    ScriptReader& operator=(const ScriptReader&) = delete;

    // $(name) substitution from the first line on; a :setvar turns it on anyway.
    void setSubstitution(bool on) { substituteFromStart_ = on; }
    // Batch text beyond this many bytes is counted, not kept (Batch::overflow).
    void setBatchLimit(std::size_t bytes) { splitter_.setBatchLimit(bytes); }
    // Fill Batch::sessionLines (see SessionState).
    void setRecordSession(bool on) { splitter_.setRecordSession(on); }
    // Checked before each step and each chunk read; true stops the reading.
    // May be called from another thread than the reader's.
    void setStopCheck(std::function<bool()> check) { stopCheck_ = std::move(check); }

    // Reads everything, in order, until the end, an exit, a fatal error or
    // a stop. Without -i files, standard input is read only when asked.
    void read(const Sink& sink, bool standardInput);

    // Whether the last read met a :setvar.
    bool sawSetvar() const { return sawSetvar_; }

private:
    struct Source;
    enum class Flow { Continue, Stop };

    Flow readTopLevel(Source& source);
    Flow processFile(const std::string& path, int depth);
    Flow processSource(Source& source, int depth);
    Flow onCommand(const Command& command, Source& source, int depth);
    // Hands out the pending batch, unless it is blank. `command`: what ended
    // it (null: the end of the top-level input).
    Flow emitBatch(Step::Kind kind, long repeat, const Command* command,
                   const std::string& extraText = {});
    Flow emit(Step&& step);
    Flow emitText(Step::Kind kind, std::string text);
    Flow fatal(std::string text);
    std::string syntaxError(const Source& source) const;
    bool stopping() const { return stopCheck_ && stopCheck_(); }

    const Options& options_;
    Variables& variables_;
    Splitter splitter_;
    const Sink* sink_ = nullptr;
    std::function<bool()> stopCheck_;
    bool substituteFromStart_ = false;
    bool sawSetvar_ = false;
    long nextNumber_ = 1;
    long batchFirstLine_ = 1;  // top-level line where the pending batch began
    Source* top_ = nullptr;    // the top-level input being read
    long long inputBase_ = 0;  // bytes of the inputs read before top_
};

// What a scan of the -i files found.
struct ScanResult {
    bool ok = true;
    std::string error;        // why the script cannot run (ok false)
    bool stopped = false;     // the stop check asked to stop
    bool substitute = false;  // $(name) substitution from the first line on
    long batches = 0;         // numbered batches, as a run numbers them
};

// Reads the -i files to their end (or an exit) without a server and without
// keeping batch text: every encoding error, sqlcmd syntax error or missing
// :r file is found before anything runs. `onBatch` sees every numbered batch
// in order; when a :setvar appears after text that it would have changed,
// the scan restarts with substitution from the first line, and numbers
// start again at 1. Returning false from `onBatch` ends the scan early (ok).
ScanResult scanScript(const Options& options, const Variables& variables,
                      const std::function<bool(const BatchPlace&)>& onBatch = {},
                      const std::function<bool()>& stopCheck = {});

}  // namespace quill::sqlcmd
