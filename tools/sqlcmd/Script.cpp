#include "Script.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Decoder.h"
#include "Options.h"
#include "Printer.h"
#include "Variables.h"

namespace quill::sqlcmd {

namespace {

constexpr std::size_t kReadSize = 1 << 20;
constexpr int kMaxIncludeDepth = 32;
// Before the server's packet size is known (pre-scan): keep no text at all.
constexpr std::size_t kNoText = 0;

// Bytes the text takes as UTF-16, which is how it travels.
std::size_t utf16Bytes(const std::string& utf8) {
    std::size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80) {
            units += c >= 0xF0 ? 2 : 1;
        }
    }
    return units * 2;
}

std::string fileError(const std::string& path, int err) {
    return "Error occurred while opening or operating on file " + path +
           " (Reason: " + std::strerror(err) + ").";
}

}  // namespace

struct Script::Source {
    explicit Source(int codePage) : decoder(codePage) {}
    ~Source() {
        if (ownsFd && fd >= 0) {
            ::close(fd);
        }
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    // Reads and decodes more input after what is still unconsumed; false with
    // `error` set when reading or decoding fails. `line` is the line the
    // unconsumed text starts on.
    bool fill(long line, std::string& error) {
        text.erase(0, pos);
        pos = 0;
        const std::size_t before = text.size();
        while (text.size() == before && !eof) {
            raw.resize(kReadSize);
            ssize_t n;
            do {
                n = ::read(fd, raw.data(), raw.size());
            } while (n < 0 && errno == EINTR);
            if (n < 0) {
                error = fileError(name, errno);
                return false;
            }
            eof = n == 0;
            if (!decoder.decode(std::string_view(raw.data(), static_cast<std::size_t>(n)), eof,
                                text)) {
                // The text decoded before the bad byte tells its line.
                line += static_cast<long>(std::count(text.begin(), text.end(), '\n'));
                error = "The file " + name + " cannot be read as " +
                        encodingName(decoder.encoding()) + ": " + decoder.errorText() +
                        " at byte offset " + std::to_string(decoder.errorOffset()) + " (line " +
                        std::to_string(line) + ").";
                if (decoder.encoding() == Encoding::Utf8 && codePageGiven == false) {
                    error +=
                        " If it was saved in a Windows code page, name that code page with -f, "
                        "for example -f 936 (Chinese GBK) or -f 1252 (Western European).";
                }
                return false;
            }
        }
        return true;
    }

    std::string name;  // for messages; empty for text given on the command line
    int fd = -1;
    bool ownsFd = false;
    bool codePageGiven = false;
    Decoder decoder;
    std::string raw;
    std::string text;
    std::size_t pos = 0;
    bool eof = false;
};

Script::Script(const Options& options, Variables& variables, Printer& printer)
    : options_(options), variables_(variables), printer_(printer), splitter_(variables) {}

Script::~Script() = default;

Script::Flow Script::fatal(std::string text) {
    printer_.error(text);
    exitCode_ = 1;
    return Flow::Stop;
}

int Script::prepare() {
    bool scannable = options_.inputs.empty() ? options_.exitAfterQuery : true;
    for (const auto& path : options_.inputs) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            fatal(fileError(path, errno));
            return exitCode_;
        }
        struct stat st;
        int err = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
        scannable = scannable && err == 0 && S_ISREG(st.st_mode);
        ::close(fd);
        if (err) {
            fatal(fileError(path, err));
            return exitCode_;
        }
    }
    const bool substitute = !options_.noSubstitution && !options_.variables.empty();
    substituteFromStart_ = substitute;
    if (!scannable) {
        return 0;
    }
    // The pre-scan runs the script without a server and keeps no batch text.
    const Variables saved = variables_;
    splitter_.setBatchLimit(kNoText);
    for (int pass = 0; pass < 2; ++pass) {
        sawSetvar_ = false;
        splitter_.setSubstitution(substituteFromStart_);
        int code = runAll();
        variables_ = saved;
        if (code != 0) {
            return code;
        }
        // Variables defined later in the script apply from its first line.
        if (!sawSetvar_ || substituteFromStart_ || options_.noSubstitution) {
            break;
        }
        substituteFromStart_ = true;
    }
    return 0;
}

int Script::run(Executor& executor) {
    executor_ = &executor;
    // UTF-8 takes at least two thirds of the UTF-16 bytes, so text beyond 1.5
    // times the limit can never be sent and need not be kept.
    splitter_.setBatchLimit(executor.batchLimit() / 2 * 3);
    splitter_.setSubstitution(substituteFromStart_);
    return runAll();
}

int Script::runAll() {
    exitCode_ = 0;
    levelCode_ = 0;
    onErrorExit_ = options_.stopOnError;
    Flow flow = Flow::Continue;
    if (!options_.query.empty()) {
        Source s(0);
        s.text = options_.query;
        s.eof = true;
        s.fd = -1;
        splitter_.reset();
        flow = processSource(s, 0);
        if (flow == Flow::Continue) {
            flow = runBatch(1);
        }
        if (flow == Flow::Stop || options_.exitAfterQuery) {
            return exitCode_ ? exitCode_ : levelCode_;
        }
    }
    if (!options_.inputs.empty()) {
        for (const auto& path : options_.inputs) {
            if (processFile(path, 0) == Flow::Stop) {
                break;
            }
        }
    } else if (executor_) {  // standard input cannot be read twice: no pre-scan
        Source s(options_.inputCodePage);
        s.name = "(standard input)";
        s.fd = STDIN_FILENO;
        s.codePageGiven = options_.inputCodePage != 0;
        splitter_.reset();
        if (processSource(s, 0) == Flow::Continue) {
            runBatch(1);
        }
    }
    printer_.flush();
    return exitCode_ ? exitCode_ : levelCode_;
}

Script::Flow Script::processFile(const std::string& path, int depth) {
    if (depth > kMaxIncludeDepth) {
        return fatal(":r nesting is deeper than " + std::to_string(kMaxIncludeDepth) +
                     " files at " + path + "; does a file include itself?");
    }
    Source s(options_.inputCodePage);
    s.name = path;
    s.codePageGiven = options_.inputCodePage != 0;
    s.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    s.ownsFd = s.fd >= 0;
    struct stat st;
    if (s.fd < 0 || ::fstat(s.fd, &st) != 0) {
        return fatal(fileError(path, errno));
    }
    if (S_ISDIR(st.st_mode)) {
        return fatal(fileError(path, EISDIR));
    }
    if (depth == 0) {
        splitter_.reset();
        Flow flow = processSource(s, depth);
        return flow == Flow::Continue ? runBatch(1) : flow;
    }
    splitter_.beginSource();
    Flow flow = processSource(s, depth);
    splitter_.endSource();
    return flow;
}

void Script::reportSyntaxError(const Source& source) {
    std::string text = "Syntax error at line " + std::to_string(splitter_.errorLine()) +
                       " near command '" + splitter_.error() + "'";
    if (!source.name.empty()) {
        text += " in file '" + source.name + "'";
    }
    fatal(text + ".");
}

Script::Flow Script::processSource(Source& source, int depth) {
    for (;;) {
        Splitter::Event event;
        std::string_view available(source.text.data() + source.pos,
                                   source.text.size() - source.pos);
        source.pos += splitter_.scan(available, source.eof, event);
        if (event == Splitter::Event::Error) {
            reportSyntaxError(source);
            return Flow::Stop;
        }
        if (event == Splitter::Event::Command) {
            if (onCommand(splitter_.command(), source, depth) == Flow::Stop) {
                return Flow::Stop;
            }
            continue;
        }
        if (source.eof) {
            return Flow::Continue;
        }
        std::string error;
        if (!source.fill(splitter_.line(), error)) {
            return fatal(error);
        }
    }
}

Script::Flow Script::onCommand(const Command& c, Source& source, int depth) {
    using Kind = Command::Kind;
    switch (c.kind) {
        case Kind::Go:
            return runBatch(c.repeat);
        case Kind::Reset:
            splitter_.clearBatch();
            return Flow::Continue;
        case Kind::SetVar:
            if (variables_.isReadOnly(c.name)) {
                return fatal("The scripting variable '" + c.name + "' is read-only (line " +
                             std::to_string(c.line) + " in file '" + source.name + "').");
            }
            if (c.hasValue) {
                variables_.set(c.name, c.value);
            } else {
                variables_.remove(c.name);
            }
            sawSetvar_ = true;
            if (!options_.noSubstitution) {
                splitter_.setSubstitution(true);
            }
            return Flow::Continue;
        case Kind::Include:
            return processFile(c.value, depth + 1);
        case Kind::OnError:
            onErrorExit_ = c.value == "exit";
            return Flow::Continue;
        case Kind::Exit:
            if (c.hasValue) {
                return runExitQuery(c);
            }
            return Flow::Stop;
        case Kind::Quit:
            return Flow::Stop;
        case Kind::ListVar:
            if (executor_) {
                std::string text;
                for (const auto& [name, value] : variables_.list()) {
                    text += name + " \"" + value + "\"\n";
                }
                printer_.text(text);
            }
            return Flow::Continue;
        case Kind::Shell:
            if (executor_) {
                printer_.warning("The !! command is disabled; line " + std::to_string(c.line) +
                                 " was not run.");
            }
            return Flow::Continue;
        case Kind::Unsupported:
            break;
    }
    return fatal("The command '" + c.name + "' at line " + std::to_string(c.line) +
                 (source.name.empty() ? std::string() : " in file '" + source.name + "'") +
                 " is not supported by quill-sqlcmd.");
}

Script::Flow Script::runBatch(long repeat) {
    const Batch& batch = splitter_.batch();
    if (!executor_ || batch.blank()) {
        splitter_.clearBatch();
        return Flow::Continue;
    }
    // Text of n bytes takes at most 2n bytes as UTF-16: count only when that
    // could be too much.
    const std::size_t limit = executor_->batchLimit();
    if (batch.overflow || (batch.text.size() > limit / 2 && utf16Bytes(batch.text) > limit)) {
        std::size_t size = batch.overflow ? batch.overflowBytes : batch.text.size();
        printer_.error("The batch that starts at line " + std::to_string(batch.startLine()) +
                       " is larger than the server accepts (" + std::to_string(size) +
                       " bytes of text; at most " + std::to_string(limit) +
                       " bytes as UTF-16). It was not sent.");
        splitter_.clearBatch();
        ExecResult refused;
        refused.maxSeverity = 16;
        return afterBatch(refused);
    }
    for (const auto& [name, line] : batch.undefined) {
        printer_.message(true, "'" + name + "' scripting variable not defined.\n");
    }
    if (!batch.undefined.empty() && onErrorExit_) {
        splitter_.clearBatch();
        exitCode_ = 1;
        return Flow::Stop;
    }
    if (options_.echo) {
        printer_.text(batch.text);
        if (batch.text.back() != '\n') {
            printer_.text("\n");
        }
    }
    ExecResult result = executor_->execute(batch, repeat);
    splitter_.clearBatch();
    return afterBatch(result);
}

Script::Flow Script::runExitQuery(const Command& c) {
    if (!executor_) {
        return Flow::Stop;
    }
    Batch batch = splitter_.batch();
    batch.text += c.value;
    splitter_.clearBatch();
    if (std::string_view(c.value).find_first_not_of(" \t") == std::string_view::npos) {
        // exit(): run the batch, return no value.
        if (!batch.blank()) {
            afterBatch(executor_->execute(batch, 1));
        }
        return Flow::Stop;
    }
    ExecResult result = executor_->executeForValue(batch);
    if (result.connectionLost || result.abortCode) {
        return afterBatch(result);
    }
    exitCode_ = static_cast<int>(result.exitValue.value_or(-100));
    return Flow::Stop;
}

Script::Flow Script::afterBatch(const ExecResult& r) {
    if (r.connectionLost) {
        exitCode_ = 1;
        return Flow::Stop;
    }
    if (r.abortCode) {
        exitCode_ = static_cast<int>(*r.abortCode);
        return Flow::Stop;
    }
    if (r.maxSeverity > 10) {
        const bool counts = options_.errorLevel == 0 || r.maxSeverity >= options_.errorLevel;
        if (options_.errorLevel > 0 && counts) {
            levelCode_ = std::max(levelCode_, r.maxSeverity);
        }
        if (onErrorExit_ && counts) {
            exitCode_ = options_.errorLevel > 0 ? r.maxSeverity : 1;
            return Flow::Stop;
        }
    }
    return Flow::Continue;
}

}  // namespace quill::sqlcmd
