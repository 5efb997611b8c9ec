#include "ScriptReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Decoder.h"
#include "Options.h"
#include "Variables.h"

namespace quill::sqlcmd {

namespace {

constexpr std::size_t kReadSize = 1 << 20;
constexpr int kMaxIncludeDepth = 32;

std::string fileError(const std::string& path, int err) {
    return "Error occurred while opening or operating on file " + path +
           " (Reason: " + std::strerror(err) + ").";
}

}  // namespace

std::optional<std::string> defineVariables(const Options& o, Variables& vars) {
    vars.setBuiltin("SQLCMDSERVER", o.server, true);
    vars.setBuiltin("SQLCMDUSER", o.user, true);
    vars.setBuiltin("SQLCMDDBNAME", o.database, true);
    vars.setBuiltin("SQLCMDWORKSTATION", o.workstation, true);
    vars.setBuiltin("SQLCMDPACKETSIZE",
                    std::to_string(o.packetSize > 0 ? o.packetSize : kDefaultPacketSize), true);
    vars.setBuiltin("SQLCMDLOGINTIMEOUT", std::to_string(o.loginTimeout), false);
    vars.setBuiltin("SQLCMDSTATTIMEOUT", std::to_string(o.queryTimeout), false);
    vars.setBuiltin("SQLCMDHEADERS", std::to_string(o.headers), false);
    vars.setBuiltin("SQLCMDCOLSEP", o.columnSeparator, false);
    vars.setBuiltin("SQLCMDCOLWIDTH", std::to_string(o.width), false);
    vars.setBuiltin("SQLCMDERRORLEVEL", std::to_string(o.messageLevel), false);
    vars.setBuiltin("SQLCMDMAXVARTYPEWIDTH", std::to_string(o.maxVarWidth), false);
    vars.setBuiltin("SQLCMDMAXFIXEDTYPEWIDTH", std::to_string(o.maxFixedWidth), false);
    for (const auto& [name, value] : o.variables) {
        if (!Variables::validName(name) || vars.isReadOnly(name)) {
            return "'-v " + name + "': not a variable that can be set.";
        }
        vars.set(name, value);
    }
    return std::nullopt;
}

// One input being read: its bytes, decoded to UTF-8 a chunk at a time.
struct ScriptReader::Source {
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
        rawBase = rawOffset(pos);
        counted = 0;
        countedRaw = 0;
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
            const bool ok = decoder.decode(
                std::string_view(raw.data(), static_cast<std::size_t>(n)), eof, text);
            if (!bomCounted && decoder.encoding() != Encoding::Unknown) {
                rawBase += static_cast<long long>(decoder.bomLength());
                bomCounted = true;
            }
            if (!ok) {
                // The text decoded before the bad byte tells its line.
                line += static_cast<long>(std::count(text.begin(), text.end(), '\n'));
                error = "The file " + name + " cannot be read as " +
                        encodingName(decoder.encoding()) + ": " + decoder.errorText() +
                        " at byte offset " + std::to_string(decoder.errorOffset()) + " (line " +
                        std::to_string(line) + ").";
                if (decoder.encoding() == Encoding::Utf8 && !codePageGiven) {
                    error +=
                        " If it was saved in a Windows code page, name that code page with -f, "
                        "for example -f 936 (Chinese GBK) or -f 1252 (Western European).";
                }
                return false;
            }
        }
        return true;
    }

    // Input bytes before text[at]. `at` only moves forward between fills.
    long long rawOffset(std::size_t at) {
        if (at > counted) {
            countedRaw += static_cast<long long>(
                decoder.rawLength(std::string_view(text).substr(counted, at - counted)));
            counted = at;
        }
        return rawBase + countedRaw;
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

    long long rawBase = 0;  // input bytes before text[0]
    std::size_t counted = 0;
    long long countedRaw = 0;
    bool bomCounted = false;
};

ScriptReader::ScriptReader(const Options& options, Variables& variables)
    : options_(options), variables_(variables), splitter_(variables) {}

ScriptReader::~ScriptReader() = default;

ScriptReader::Flow ScriptReader::emit(Step&& step) {
    if (stopping() || !(*sink_)(std::move(step))) {
        return Flow::Stop;
    }
    return Flow::Continue;
}

ScriptReader::Flow ScriptReader::emitText(Step::Kind kind, std::string text) {
    Step step;
    step.kind = kind;
    step.place.number = nextNumber_;
    step.text = std::move(text);
    return emit(std::move(step));
}

ScriptReader::Flow ScriptReader::fatal(std::string text) {
    emitText(Step::Kind::Fatal, std::move(text));
    return Flow::Stop;
}

void ScriptReader::read(const Sink& sink, bool standardInput) {
    sink_ = &sink;
    sawSetvar_ = false;
    nextNumber_ = 1;
    inputBase_ = 0;
    splitter_.setSubstitution(substituteFromStart_);
    if (!options_.query.empty()) {
        Source s(0);
        s.text = options_.query;
        s.eof = true;
        if (readTopLevel(s) == Flow::Stop || options_.exitAfterQuery) {
            return;
        }
    }
    if (!options_.inputs.empty()) {
        for (const auto& path : options_.inputs) {
            if (processFile(path, 0) == Flow::Stop) {
                return;
            }
        }
    } else if (standardInput) {
        Source s(options_.inputCodePage);
        s.name = "(standard input)";
        s.fd = STDIN_FILENO;
        s.codePageGiven = options_.inputCodePage != 0;
        readTopLevel(s);
    }
}

ScriptReader::Flow ScriptReader::readTopLevel(Source& source) {
    top_ = &source;
    splitter_.reset();
    batchFirstLine_ = 1;
    Flow flow = processSource(source, 0);
    if (flow == Flow::Continue) {
        // The rest of a top-level input runs without a final GO.
        flow = emitBatch(Step::Kind::Batch, 1, nullptr);
    }
    inputBase_ += source.rawOffset(source.pos);
    top_ = nullptr;
    return flow;
}

ScriptReader::Flow ScriptReader::processFile(const std::string& path, int depth) {
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
        return readTopLevel(s);
    }
    splitter_.beginSource();
    Flow flow = processSource(s, depth);
    splitter_.endSource();
    return flow;
}

std::string ScriptReader::syntaxError(const Source& source) const {
    std::string text = "Syntax error at line " + std::to_string(splitter_.errorLine()) +
                       " near command '" + splitter_.error() + "'";
    if (!source.name.empty()) {
        text += " in file '" + source.name + "'";
    }
    return text + ".";
}

ScriptReader::Flow ScriptReader::processSource(Source& source, int depth) {
    for (;;) {
        Splitter::Event event;
        std::string_view available(source.text.data() + source.pos,
                                   source.text.size() - source.pos);
        source.pos += splitter_.scan(available, source.eof, event);
        if (event == Splitter::Event::Error) {
            return fatal(syntaxError(source));
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
        if (stopping()) {
            return Flow::Stop;
        }
        std::string error;
        if (!source.fill(splitter_.line(), error)) {
            return fatal(error);
        }
    }
}

ScriptReader::Flow ScriptReader::onCommand(const Command& c, Source& source, int depth) {
    using Kind = Command::Kind;
    switch (c.kind) {
        case Kind::Go:
            return emitBatch(Step::Kind::Batch, c.repeat, &c);
        case Kind::Reset:
            splitter_.clearBatch();
            batchFirstLine_ = splitter_.topLine();
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
            return emitText(Step::Kind::OnError, c.value);
        case Kind::Exit:
            if (!c.hasValue) {
                return Flow::Stop;  // the pending batch is not run
            }
            if (std::string_view(c.value).find_first_not_of(" \t") == std::string_view::npos) {
                // exit(): run what is pending, return no value.
                emitBatch(Step::Kind::Batch, 1, &c);
                return Flow::Stop;
            }
            emitBatch(Step::Kind::ExitQuery, 1, &c, c.value);
            return Flow::Stop;
        case Kind::Quit:
            return Flow::Stop;
        case Kind::ListVar: {
            std::string text;
            for (const auto& [name, value] : variables_.list()) {
                text += name + " = \"" + value + "\"\n";
            }
            return emitText(Step::Kind::Print, std::move(text));
        }
        case Kind::Shell:
            return emitText(Step::Kind::Warning, "The !! command is disabled; line " +
                                                     std::to_string(c.line) + " was not run.");
        case Kind::Unsupported:
            break;
    }
    return fatal("The command '" + c.name + "' at line " + std::to_string(c.line) +
                 (source.name.empty() ? std::string() : " in file '" + source.name + "'") +
                 " is not supported by quill-sqlcmd.");
}

ScriptReader::Flow ScriptReader::emitBatch(Step::Kind kind, long repeat, const Command* c,
                                           const std::string& extraText) {
    if (extraText.empty() && splitter_.batch().blank()) {
        splitter_.clearBatch();
        batchFirstLine_ = splitter_.topLine();
        return Flow::Continue;
    }
    Step step;
    step.kind = kind;
    step.repeat = repeat;
    BatchPlace& p = step.place;
    p.number = nextNumber_++;
    p.firstLine = batchFirstLine_;
    if (splitter_.depth() > 0) {
        p.endLine = p.lastLine = p.nextLine = splitter_.topLine();
    } else if (c) {
        p.endLine = c->line;
        p.lastLine = kind == Step::Kind::ExitQuery ? c->line : c->line - 1;
        p.nextLine = c->line + 1;
    } else {
        p.endLine = p.lastLine = splitter_.atLineStart() ? splitter_.line() - 1 : splitter_.line();
        p.nextLine = p.lastLine + 1;
    }
    p.lastLine = std::max(p.lastLine, p.firstLine);
    p.endOffset = inputBase_ + top_->rawOffset(top_->pos);
    step.batch = splitter_.takeBatch();
    step.batch.text += extraText;
    batchFirstLine_ = splitter_.topLine();
    return emit(std::move(step));
}

ScanResult scanScript(const Options& options, const Variables& variables,
                      const std::function<bool(const BatchPlace&)>& onBatch,
                      const std::function<bool()>& stopCheck) {
    ScanResult result;
    result.substitute = !options.noSubstitution && !options.variables.empty();
    for (;;) {
        Variables vars = variables;
        ScriptReader reader(options, vars);
        reader.setSubstitution(result.substitute);
        reader.setBatchLimit(0);  // no text is kept
        reader.setStopCheck(stopCheck);
        result.batches = 0;
        bool more = true;
        reader.read(
            [&](Step&& step) {
                if (step.kind == Step::Kind::Fatal) {
                    result.ok = false;
                    result.error = std::move(step.text);
                    return false;
                }
                if (step.kind == Step::Kind::Batch || step.kind == Step::Kind::ExitQuery) {
                    result.batches = step.place.number;
                    more = !onBatch || onBatch(step.place);
                    return more;
                }
                return true;
            },
            false);
        result.stopped = stopCheck && stopCheck();
        // Variables defined later in the script apply from its first line.
        if (!result.ok || !more || result.stopped || !reader.sawSetvar() || result.substitute ||
            options.noSubstitution) {
            return result;
        }
        result.substitute = true;
    }
}

}  // namespace quill::sqlcmd
