#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quill::sqlcmd {

class Variables;

// A sqlcmd command: a line of its own that starts outside any quote or comment.
struct Command {
    enum class Kind {
        Go,           // GO [n]
        SetVar,       // :setvar name ["value"]
        Include,      // :r path
        OnError,      // :on error exit|ignore
        Exit,         // [:]exit[(query)]
        Quit,         // [:]quit
        Reset,        // [:]reset
        ListVar,      // :listvar
        Shell,        // [:]!! command: always refused
        Unsupported,  // a known sqlcmd command this client does not run
    };
    Kind kind = Kind::Go;
    long line = 0;          // line in the current source
    long repeat = 1;        // GO n
    std::string name;       // SetVar: the variable; Unsupported: the command
    std::string value;      // SetVar value, Include path, OnError action, Exit query
    bool hasValue = false;  // SetVar with a value, Exit with parentheses
};

// Where batch lines come from, so that server line numbers map back to the file.
struct LineSpan {
    long batchLine;    // first batch line of the span (1-based)
    long sourceLine;   // the source line it came from
    long topLine = 0;  // inside a :r file: the line of the top-level :r; 0 otherwise
};

struct Batch {
    std::string text;
    std::vector<LineSpan> lines;
    // $(name) references that had no value; left in the text as written.
    std::vector<std::pair<std::string, long>> undefined;
    // Set when the text outgrew the splitter's limit: the text is incomplete.
    bool overflow = false;
    std::size_t overflowBytes = 0;
    // Something other than white space came in, kept or not.
    bool nonBlank = false;
    // With Splitter::setRecordSession: where lines that begin with USE, SET,
    // CREATE or ALTER outside quotes and comments start in `text`.
    std::vector<std::size_t> sessionLines;

    long startLine() const { return lines.empty() ? 1 : lines.front().sourceLine; }
    // The source line of a 1-based batch line.
    long sourceLine(long batchLine) const;
    // The line of the top-level file a batch line stands on; text from a :r
    // file stands on the top-level :r line.
    long topLine(long batchLine) const;
    // Nothing but white space: not worth sending.
    bool blank() const { return !nonBlank; }
};

// Streams decoded (UTF-8) script text into batches and commands, line by line,
// with the lexer state (quotes, brackets, nested block comments) carried across
// lines, chunks and included files.
class Splitter {
public:
    enum class Event {
        NeedInput,  // everything usable was consumed; give more text or end the source
        Command,    // command() holds a command; its line was consumed
        Error,      // error() describes a sqlcmd syntax error; its line was not consumed
    };

    explicit Splitter(const Variables& vars);

    // $(name) substitution in text and command arguments.
    void setSubstitution(bool on) { substitute_ = on; }
    bool substitution() const { return substitute_; }
    // Text beyond this many bytes is counted but not kept (Batch::overflow).
    void setBatchLimit(std::size_t bytes) { limit_ = bytes; }
    // Fill Batch::sessionLines (a resumed run sets the skipped batches'
    // database and SET options again).
    void setRecordSession(bool on) { recordSession_ = on; }

    // Scans text from the current source. Returns how many bytes were consumed;
    // the rest must be offered again, with more text after it. With sourceEnd,
    // the text is the last of the source and NeedInput means all was consumed.
    std::size_t scan(std::string_view text, bool sourceEnd, Event& event);

    // A new top-level file: fresh lexer state, line 1, empty batch.
    void reset();
    // A nested source (:r) starts or ends; the lexer state carries over, as
    // if the included text stood in place of the :r line. beginSource comes
    // right after the :r command was returned.
    void beginSource();
    void endSource();
    long line() const { return line_; }
    // Whether the next byte starts a line (line() has not begun yet).
    bool atLineStart() const { return lineStart_; }
    // How many :r files deep the current source is.
    std::size_t depth() const { return savedLines_.size(); }
    // line() in the top-level source, or the top-level :r line when nested.
    long topLine() const { return savedLines_.empty() ? line_ : includeLine_; }

    const Command& command() const { return command_; }
    const std::string& error() const { return error_; }
    long errorLine() const { return errorLine_; }

    const Batch& batch() const { return batch_; }
    // Starts a new, empty batch at the current line.
    void clearBatch();
    // Hands out the batch and starts a new one, as clearBatch does.
    Batch takeBatch();

private:
    enum State : std::uint8_t {
        Normal,
        SingleQuote,
        DoubleQuote,
        Bracket,
        BlockComment,
        LineComment
    };
    enum class LineKind { Text, Command, NeedMore, Error };
    enum class LexStop { End, Newline, Dollar, NeedMore };

    LexStop lex(void* cursor, bool sourceEnd, std::uint8_t dollar);
    LineKind classifyLine(std::string_view rest, bool sourceEnd, std::size_t& lineLength,
                          std::size_t& sessionAt);
    bool parseCommand(std::string_view line, bool colonless);
    bool substituteArg(std::string& arg);
    void append(const char* data, std::size_t n);
    void appendValue(const std::string& value);
    void fail(std::string message);

    const Variables& vars_;
    bool substitute_ = false;
    bool recordSession_ = false;
    std::size_t limit_ = SIZE_MAX;

    State state_ = Normal;
    int commentDepth_ = 0;
    bool lineStart_ = true;
    long line_ = 1;
    long batchLine_ = 1;
    std::vector<long> savedLines_;
    long includeLine_ = 0;  // the top-level :r line while nested

    Batch batch_;
    Command command_;
    std::string error_;
    long errorLine_ = 0;
};

}  // namespace quill::sqlcmd
