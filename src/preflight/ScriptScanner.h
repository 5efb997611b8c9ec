#pragma once

// The pre-flight scan of a dropped script: what it is (size, encoding, line
// endings), how quill-sqlcmd will split it (batches, commands, variables) and
// what is likely to fail on another server (data-file paths), read in one
// streaming pass without holding the file in memory. Plain C++ on the
// client's own decoder and splitter, so that batches are numbered exactly as
// the client numbers them.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "preflight/DatabaseFiles.h"

namespace quill::sqlcmd {
struct Batch;
struct Command;
}  // namespace quill::sqlcmd

namespace quill::preflight {

// Bytes to scan, read at any offset (the encoding decision may start over).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Up to n bytes at offset; 0 at the end; -1 with errno set on failure.
    virtual long long read(std::uint64_t offset, char* buffer, std::size_t n) = 0;
};

class FileSource final : public ByteSource {
public:
    explicit FileSource(const std::string& path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // errno when the file could not be opened as a regular file; else 0.
    int error() const { return error_; }
    std::uint64_t size() const override { return size_; }
    long long read(std::uint64_t offset, char* buffer, std::size_t n) override;

private:
    int fd_ = -1;
    int error_ = 0;
    std::uint64_t size_ = 0;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    long long read(std::uint64_t offset, char* buffer, std::size_t n) override;

private:
    std::string_view bytes_;
};

enum class TextEncoding { Utf8, Utf8Bom, Utf16LE, Utf16BE, Utf32LE, Utf32BE, CodePage };
enum class LineEndings { None, Crlf, Lf, Mixed };

// Where and why the text could not be read.
struct DecodeFailure {
    enum class Kind {
        Invalid,     // a byte sequence the encoding does not have
        Nul,         // a NUL character, which no client accepts
        Truncated,   // the file ends inside a character
        PrivateUse,  // decodes only to private-use characters: not this code page
        Unsupported  // this system cannot decode the code page
    };
    Kind kind = Kind::Invalid;
    std::uint64_t offset = 0;  // of the first bad byte (PrivateUse: of the 1 MiB block holding it)
    long line = 0;
    int codePage = 0;  // the code page tried; 0: UTF-8 or what the byte-order mark said
};

// A sqlcmd command the script uses.
struct CommandUse {
    std::string name;  // ":setvar", ":r", ":on error", "!!", "exit", ":connect", ...
    long count = 0;
    long firstLine = 0;
    bool refused = false;  // quill-sqlcmd refuses to run a script that has it
};

struct SyntaxError {
    long line = 0;
    std::string near;  // the command, or "$(" for a broken variable reference
};

struct ScriptFacts {
    std::uint64_t size = 0;
    int readError = 0;  // errno when the file could not be read; nothing else is known then

    TextEncoding encoding = TextEncoding::Utf8;
    // The input code page to name to the client (-f i:<codePage>); 0 when the
    // byte-order mark tells it. UTF-8 is named (65001), since Microsoft's
    // sqlcmd would otherwise read it in the locale's code page.
    int codePage = 0;
    // Nothing fitted without help: ask the user for a code page, then scan
    // again with it. decodeFailure says where the last guess failed.
    bool needsCodePage = false;
    std::optional<DecodeFailure> decodeFailure;
    // A legacy code page was guessed: the first line with non-ASCII text as
    // decoded (UTF-8, cut short), so that the user can see whether it reads.
    std::string sample;

    LineEndings lineEndings = LineEndings::None;
    long lines = 0;

    // Batches as quill-sqlcmd numbers them: non-blank, from 1; GO n is one.
    long batches = 0;
    // False when the count stops short (a syntax error) or leaves out files
    // included with :r.
    bool batchesExact = true;
    std::uint64_t largestBatchBytes = 0;  // as UTF-8 text
    long largestBatch = 0;
    long largestBatchLine = 0;  // the line it starts on

    std::vector<CommandUse> commands;
    long variableReferences = 0;  // "$(" anywhere in the text
    long firstVariableLine = 0;
    // With :setvar, quill-sqlcmd replaces $(name): references with no value
    // anywhere above them (their name and first line).
    std::vector<std::pair<std::string, long>> undefinedVariables;
    // The first thing quill-sqlcmd refuses as a syntax error; it runs nothing then.
    std::optional<SyntaxError> syntaxError;
    long stopLine = 0;  // exit or quit: nothing after this line runs

    std::vector<DatabaseFile> databaseFiles;
    bool cancelled = false;

    const CommandUse* command(std::string_view name) const;
    // Whether quill-sqlcmd would start on it at all.
    bool runnable() const;
};

struct ScanOptions {
    int codePage = 0;  // the user's choice; 0: decide
    const std::atomic<bool>* cancel = nullptr;
    // For the remainder script: every command and every counted batch (its
    // number and first line), in file order.
    std::function<void(const sqlcmd::Command&)> onCommand;
    std::function<void(long number, long startLine)> onBatch;
    // Right after onBatch: the batch's text as kept (a batch over 64 KiB
    // only overflows), with the lines where USE and SET statements start.
    std::function<void(const sqlcmd::Batch&)> onBatchText;
};

ScriptFacts scanScript(ByteSource& source, const ScanOptions& options = {});
ScriptFacts scanScriptFile(const std::string& path, const ScanOptions& options = {});

}  // namespace quill::preflight
