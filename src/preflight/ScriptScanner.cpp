#include "preflight/ScriptScanner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>

#include "Decoder.h"
#include "Splitter.h"
#include "Variables.h"

namespace quill::preflight {

using sqlcmd::Command;
using sqlcmd::Decoder;
using sqlcmd::Encoding;
using sqlcmd::Splitter;

FileSource::FileSource(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        error_ = errno;
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        error_ = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return;
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

FileSource::~FileSource() {
    if (fd_ >= 0)
        ::close(fd_);
}

long long FileSource::read(std::uint64_t offset, char* buffer, std::size_t n) {
    if (error_) {
        errno = error_;
        return -1;
    }
    for (;;) {
        const ssize_t got = ::pread(fd_, buffer, n, static_cast<off_t>(offset));
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

long long MemorySource::read(std::uint64_t offset, char* buffer, std::size_t n) {
    if (offset >= bytes_.size())
        return 0;
    n = std::min<std::size_t>(n, bytes_.size() - offset);
    std::memcpy(buffer, bytes_.data() + offset, n);
    return static_cast<long long>(n);
}

const CommandUse* ScriptFacts::command(std::string_view name) const {
    for (const CommandUse& c : commands)
        if (c.name == name)
            return &c;
    return nullptr;
}

bool ScriptFacts::runnable() const {
    if (readError || cancelled || needsCodePage || decodeFailure || syntaxError)
        return false;
    return std::none_of(commands.begin(), commands.end(),
                        [](const CommandUse& c) { return c.refused; });
}

namespace {

constexpr std::size_t kChunk = 1 << 20;
// Batch text kept for the data-file check and the blank test; larger
// batches are only counted. CREATE DATABASE is far smaller.
constexpr std::size_t kKeptBatchText = 64 << 10;
constexpr std::size_t kSampleBytes = 120;

// The guesses for a file without a byte-order mark that is not UTF-8. GBK
// (936) is what Chinese Windows saves as "ANSI" and what every client knows;
// GB18030 (54936) reads the same bytes and more.
constexpr int kGuesses[] = {936, 54936};

bool looksLikeBom(const unsigned char* b, std::size_t n) {
    return (n >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) ||
           (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) ||
           (n >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 0xFE && b[3] == 0xFF);
}

TextEncoding textEncoding(Encoding e) {
    switch (e) {
        case Encoding::Utf8Bom:
            return TextEncoding::Utf8Bom;
        case Encoding::Utf16LE:
            return TextEncoding::Utf16LE;
        case Encoding::Utf16BE:
            return TextEncoding::Utf16BE;
        case Encoding::Utf32LE:
            return TextEncoding::Utf32LE;
        case Encoding::Utf32BE:
            return TextEncoding::Utf32BE;
        case Encoding::CodePage:
            return TextEncoding::CodePage;
        case Encoding::Utf8:
        case Encoding::Unknown:
            break;
    }
    return TextEncoding::Utf8;
}

// The built-in variables quill-sqlcmd defines before the script starts.
void defineBuiltins(sqlcmd::Variables& vars) {
    for (const char* name :
         {"SQLCMDSERVER", "SQLCMDUSER", "SQLCMDDBNAME", "SQLCMDWORKSTATION", "SQLCMDPACKETSIZE",
          "SQLCMDLOGINTIMEOUT", "SQLCMDSTATTIMEOUT", "SQLCMDHEADERS", "SQLCMDCOLSEP",
          "SQLCMDCOLWIDTH", "SQLCMDERRORLEVEL", "SQLCMDMAXVARTYPEWIDTH", "SQLCMDMAXFIXEDTYPEWIDTH"})
        vars.set(name, "");
}

std::string lowerCase(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The name a command is reported under.
std::string commandName(const Command& c) {
    using Kind = Command::Kind;
    switch (c.kind) {
        case Kind::SetVar:
            return ":setvar";
        case Kind::Include:
            return ":r";
        case Kind::OnError:
            return ":on error";
        case Kind::Exit:
            return "exit";
        case Kind::Quit:
            return "quit";
        case Kind::Reset:
            return "reset";
        case Kind::ListVar:
            return ":listvar";
        case Kind::Shell:
            return "!!";
        case Kind::Unsupported:
            return lowerCase(c.name);
        case Kind::Go:
            break;
    }
    return "go";
}

class Scan {
public:
    Scan(ByteSource& source, const ScanOptions& options)
        // A small script needs no megabyte; a multiple of four keeps code
        // units whole in every block.
        : source_(source),
          options_(options),
          raw_(std::min<std::uint64_t>(kChunk, (source.size() + 4) & ~std::uint64_t(3)), '\0') {}

    ScriptFacts run();

private:
    enum class End { Done, Failed, Stopped, Cancelled, ReadError };

    void reset(bool variablesOnly);
    End pass(Decoder& decoder, std::uint64_t from, int codePage);
    void notice(std::size_t from);
    std::string sampleLine(int codePage);
    long lineAtOffset(std::uint64_t offset, int unitWidth, bool bigEndian);
    bool split(bool end);
    bool onCommand(const Command& c);
    void endBatch(bool always);
    void failAt(const Decoder& decoder, std::uint64_t from, int codePage);
    DecodeFailure::Kind failureKind(const Decoder& decoder, std::uint64_t offset);
    void finish();
    void scanVariables();

    ByteSource& source_;
    const ScanOptions& options_;
    ScriptFacts facts_;
    std::string raw_;

    // State of one reading of the text, from its start.
    sqlcmd::Variables vars_;
    std::unique_ptr<Splitter> splitter_;
    bool variablesOnly_ = false;  // the second pass: $(…) as the client will see it
    bool checkPrivateUse_ = false;
    bool privateUse_ = false;
    long privateUseLine_ = 0;
    std::string text_;
    std::size_t pos_ = 0;
    long newlines_ = 0;
    long crlf_ = 0;
    char lastChar_ = 0;
    bool nonAscii_ = false;
    bool sawSetvar_ = false;
    // Whether the callbacks hear of this reading: not while guessing the
    // code page, since a guess may start over.
    bool live_ = true;
};

void Scan::reset(bool variablesOnly) {
    if (!variablesOnly) {
        const std::uint64_t size = facts_.size;
        facts_ = ScriptFacts{};
        facts_.size = size;
    }
    vars_ = sqlcmd::Variables();
    defineBuiltins(vars_);
    splitter_ = std::make_unique<Splitter>(vars_);
    splitter_->setBatchLimit(kKeptBatchText);
    splitter_->setSubstitution(variablesOnly);
    splitter_->setRecordSession(bool(options_.onBatchText));
    variablesOnly_ = variablesOnly;
    privateUse_ = false;
    text_.clear();
    pos_ = 0;
    newlines_ = 0;
    crlf_ = 0;
    lastChar_ = 0;
    nonAscii_ = false;
    sawSetvar_ = false;
}

// Offset of the first byte of 0x80 or above, or n.
std::size_t firstHighByte(const char* p, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        if (word & 0x8080808080808080ull)
            break;
    }
    while (i < n && static_cast<unsigned char>(p[i]) < 0x80)
        ++i;
    return i;
}

// Offset of the first private-use character (U+E000..U+F8FF: EE xx xx, or
// EF 80..A3 xx in UTF-8), or n.
std::size_t firstPrivateUse(const char* p, std::size_t n) {
    const void* ee = std::memchr(p, 0xEE, n);
    std::size_t first = ee ? static_cast<std::size_t>(static_cast<const char*>(ee) - p) : n;
    for (const char* q = p; (q = static_cast<const char*>(std::memchr(q, 0xEF, first - (q - p))));
         ++q) {
        const auto next = static_cast<unsigned char>(q + 1 < p + n ? q[1] : 0);
        if (next >= 0x80 && next <= 0xA3)
            return static_cast<std::size_t>(q - p);
    }
    return first;
}

// Line endings, $( references, non-ASCII text and private-use characters
// in newly decoded text.
void Scan::notice(std::size_t from) {
    if (variablesOnly_ || from >= text_.size())
        return;
    const char* const base = text_.data();
    const char* const end = base + text_.size();
    const long linesBefore = newlines_;
    auto lineOf = [&](const char* at) {
        return linesBefore + 1 + static_cast<long>(std::count(base + from, at, '\n'));
    };
    auto reference = [&](const char* at) {
        if (facts_.variableReferences++ == 0)
            facts_.firstVariableLine = lineOf(at);
    };
    for (const char* p = base + from; (p = static_cast<const char*>(std::memchr(p, '\n', end - p)));
         ++p) {
        ++newlines_;
        crlf_ += (p > base + from ? p[-1] : lastChar_) == '\r';
    }
    if (lastChar_ == '$' && base[from] == '(')
        reference(base + from);
    for (const char* p = base + from; (p = static_cast<const char*>(std::memchr(p, '$', end - p)));
         ++p)
        if (p + 1 < end && p[1] == '(')
            reference(p);
    if (!nonAscii_ && firstHighByte(base + from, text_.size() - from) < text_.size() - from)
        nonAscii_ = true;
    if (checkPrivateUse_ && !privateUse_) {
        const std::size_t i = from + firstPrivateUse(base + from, text_.size() - from);
        if (i < text_.size()) {
            privateUse_ = true;
            privateUseLine_ = lineOf(base + i);
        }
    }
    lastChar_ = text_.back();
}

// The first line with non-ASCII text, decoded: the one place where a wrong
// guess of the code page would show.
std::string Scan::sampleLine(int codePage) {
    std::uint64_t first = 0;
    for (;; first += raw_.size()) {
        const long long n = source_.read(first, raw_.data(), raw_.size());
        if (n <= 0)
            return {};
        const std::size_t i = firstHighByte(raw_.data(), static_cast<std::size_t>(n));
        if (i < static_cast<std::size_t>(n)) {
            first += i;
            break;
        }
    }
    // Everything before the first high byte is ASCII, so any byte there
    // starts a character.
    constexpr std::uint64_t kBack = 200;
    const std::uint64_t from = first > kBack ? first - kBack : 0;
    std::string line(kBack + 4 * kSampleBytes, '\0');
    const long long n = source_.read(from, line.data(), line.size());
    line.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    std::size_t start = line.rfind('\n', static_cast<std::size_t>(first - from));
    start = start == std::string::npos ? 0 : start + 1;
    const std::size_t stop = line.find_first_of("\r\n", start);
    Decoder decoder(codePage);
    std::string text;
    decoder.decode(std::string_view(line).substr(start, stop - start), true, text);
    std::size_t lead = text.find_first_not_of(" \t");
    text.erase(0, lead == std::string::npos ? text.size() : lead);
    if (text.size() > kSampleBytes) {
        std::size_t cut = kSampleBytes;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;  // never in the middle of a character
        text.resize(cut);
    }
    return text;
}

void Scan::endBatch(bool always) {
    const sqlcmd::Batch& batch = splitter_->batch();
    if (!always && batch.blank()) {
        splitter_->clearBatch();
        return;
    }
    if (variablesOnly_) {
        for (const auto& reference : batch.undefined) {
            const std::string name = lowerCase(reference.first);
            const bool known =
                std::any_of(facts_.undefinedVariables.begin(), facts_.undefinedVariables.end(),
                            [&](const auto& u) { return lowerCase(u.first) == name; });
            if (!known)
                facts_.undefinedVariables.push_back(reference);
        }
        splitter_->clearBatch();
        return;
    }
    const long number = ++facts_.batches;
    const std::uint64_t bytes = batch.overflow ? batch.overflowBytes : batch.text.size();
    if (bytes > facts_.largestBatchBytes) {
        facts_.largestBatchBytes = bytes;
        facts_.largestBatch = number;
        facts_.largestBatchLine = batch.startLine();
    }
    if (!batch.overflow && mayNameDatabaseFiles(batch.text)) {
        for (DatabaseFile f : findDatabaseFiles(batch.text)) {
            f.line = batch.sourceLine(f.line);
            facts_.databaseFiles.push_back(std::move(f));
        }
    }
    if (live_ && options_.onBatch)
        options_.onBatch(number, batch.startLine());
    if (live_ && options_.onBatchText)
        options_.onBatchText(batch);
    splitter_->clearBatch();
}

// Follows the commands as quill-sqlcmd does, as far as they decide what is
// sent; false where the client would stop reading.
bool Scan::onCommand(const Command& c) {
    using Kind = Command::Kind;
    if (variablesOnly_) {
        if (c.kind == Kind::SetVar) {
            c.hasValue ? vars_.set(c.name, c.value) : vars_.remove(c.name);
        } else if (c.kind == Kind::Go) {
            endBatch(false);
        } else if (c.kind == Kind::Reset) {
            splitter_->clearBatch();
        }
        return c.kind != Kind::Exit && c.kind != Kind::Quit;
    }
    if (live_ && options_.onCommand)
        options_.onCommand(c);
    if (c.kind == Kind::Go) {
        endBatch(false);
        return true;
    }
    const std::string name = commandName(c);
    auto use = std::find_if(facts_.commands.begin(), facts_.commands.end(),
                            [&](const CommandUse& u) { return u.name == name; });
    if (use == facts_.commands.end()) {
        facts_.commands.push_back({name, 0, c.line, c.kind == Kind::Unsupported});
        use = facts_.commands.end() - 1;
    }
    ++use->count;
    switch (c.kind) {
        case Kind::SetVar:
            sawSetvar_ = true;
            return true;
        case Kind::Include:
            // Not followed: the client resolves the path from its own
            // folder, and the included batches are not counted here.
            facts_.batchesExact = false;
            return true;
        case Kind::Reset:
            splitter_->clearBatch();
            return true;
        case Kind::Exit:
            // exit(query) sends the batch with the query.
            if (c.hasValue && (!splitter_->batch().blank() ||
                               c.value.find_first_not_of(" \t") != std::string::npos))
                endBatch(true);
            facts_.stopLine = c.line;
            return false;
        case Kind::Quit:
            facts_.stopLine = c.line;
            return false;
        default:
            return true;
    }
}

bool Scan::split(bool end) {
    for (;;) {
        Splitter::Event event;
        pos_ += splitter_->scan(std::string_view(text_).substr(pos_), end, event);
        if (event == Splitter::Event::Error) {
            if (!facts_.syntaxError)
                facts_.syntaxError = SyntaxError{splitter_->errorLine(), splitter_->error()};
            facts_.batchesExact = false;
            return false;
        }
        if (event == Splitter::Event::Command) {
            if (!onCommand(splitter_->command()))
                return false;
            continue;
        }
        break;
    }
    text_.erase(0, pos_);
    pos_ = 0;
    if (end)
        endBatch(false);
    return true;
}

DecodeFailure::Kind Scan::failureKind(const Decoder& decoder, std::uint64_t offset) {
    if (decoder.errorText().find("not supported") != std::string::npos)
        return DecodeFailure::Kind::Unsupported;
    if (decoder.errorText().find("ends inside") != std::string::npos)
        return DecodeFailure::Kind::Truncated;
    unsigned char unit[4] = {1, 1, 1, 1};
    std::size_t width = 1;
    switch (decoder.encoding()) {
        case Encoding::Utf16LE:
        case Encoding::Utf16BE:
            width = 2;
            break;
        case Encoding::Utf32LE:
        case Encoding::Utf32BE:
            width = 4;
            break;
        default:
            break;
    }
    if (source_.read(offset, reinterpret_cast<char*>(unit), width) ==
            static_cast<long long>(width) &&
        std::all_of(unit, unit + width, [](unsigned char b) { return b == 0; }))
        return DecodeFailure::Kind::Nul;
    return DecodeFailure::Kind::Invalid;
}

// Counts the line feeds before offset in the raw bytes: in every encoding
// the client reads, a line feed is one code unit that nothing else contains.
long Scan::lineAtOffset(std::uint64_t offset, int unitWidth, bool bigEndian) {
    long line = 1;
    const auto width = static_cast<std::uint64_t>(unitWidth);
    for (std::uint64_t at = 0; at < offset;) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(raw_.size(), offset - at));
        const long long n = source_.read(at, raw_.data(), want);
        if (n <= 0)
            break;
        const auto* u = reinterpret_cast<const unsigned char*>(raw_.data());
        // Whole units only; the chunk size is a multiple of every width.
        for (std::size_t i = 0; i + width <= static_cast<std::uint64_t>(n); i += width) {
            bool lineFeed = true;
            for (std::uint64_t k = 0; k < width; ++k) {
                const bool low = bigEndian ? k + 1 == width : k == 0;
                lineFeed = lineFeed && u[i + k] == (low ? 0x0A : 0x00);
            }
            line += lineFeed;
        }
        at += static_cast<std::uint64_t>(n);
    }
    return line;
}

void Scan::failAt(const Decoder& decoder, std::uint64_t from, int codePage) {
    DecodeFailure f;
    // The decoder counts from where it started reading.
    f.offset = from + decoder.errorOffset();
    f.kind = failureKind(decoder, f.offset);
    f.codePage = codePage;
    int width = 1;
    const Encoding e = decoder.encoding();
    if (e == Encoding::Utf16LE || e == Encoding::Utf16BE)
        width = 2;
    else if (e == Encoding::Utf32LE || e == Encoding::Utf32BE)
        width = 4;
    f.line = lineAtOffset(f.offset, width, e == Encoding::Utf16BE || e == Encoding::Utf32BE);
    facts_.decodeFailure = f;
}

Scan::End Scan::pass(Decoder& decoder, std::uint64_t from, int codePage) {
    std::uint64_t offset = from;
    for (;;) {
        if (options_.cancel && options_.cancel->load(std::memory_order_relaxed)) {
            facts_.cancelled = true;
            return End::Cancelled;
        }
        const long long n = source_.read(offset, raw_.data(), raw_.size());
        if (n < 0) {
            facts_.readError = errno ? errno : EIO;
            return End::ReadError;
        }
        const bool end = n == 0;
        const std::size_t before = text_.size();
        const bool ok =
            decoder.decode(std::string_view(raw_.data(), static_cast<std::size_t>(n)), end, text_);
        notice(before);
        if (privateUse_) {
            DecodeFailure f;
            f.kind = DecodeFailure::Kind::PrivateUse;
            f.offset = offset;
            f.line = privateUseLine_;
            f.codePage = codePage;
            facts_.decodeFailure = f;
            return End::Failed;
        }
        if (!ok) {
            split(false);
            failAt(decoder, from, codePage);
            return End::Failed;
        }
        if (!split(end))
            return End::Stopped;
        if (end)
            return End::Done;
        offset += static_cast<std::uint64_t>(n);
    }
}

void Scan::finish() {
    facts_.lines = newlines_ + (lastChar_ != 0 && lastChar_ != '\n' ? 1 : 0);
    if (newlines_ == 0)
        facts_.lineEndings = LineEndings::None;
    else if (crlf_ == newlines_)
        facts_.lineEndings = LineEndings::Crlf;
    else if (crlf_ == 0)
        facts_.lineEndings = LineEndings::Lf;
    else
        facts_.lineEndings = LineEndings::Mixed;
}

// quill-sqlcmd replaces $(name) only in scripts with :setvar; then a broken
// reference stops it before it runs anything, and an undefined one is
// warned about. A second reading, with replacement on from the first line
// as the client does, finds both.
void Scan::scanVariables() {
    if (!sawSetvar_ || facts_.variableReferences == 0 || facts_.syntaxError)
        return;
    reset(true);
    Decoder decoder(facts_.codePage == 65001 ? 0 : facts_.codePage);
    pass(decoder, 0, facts_.codePage);
}

ScriptFacts Scan::run() {
    facts_.size = source_.size();
    reset(false);
    unsigned char head[4] = {};
    const long long got = source_.read(0, reinterpret_cast<char*>(head), sizeof head);
    if (got < 0) {
        facts_.readError = errno ? errno : EIO;
        return facts_;
    }
    const auto headSize = static_cast<std::size_t>(got);

    auto settle = [&](const Decoder& decoder, int codePage) {
        facts_.encoding = textEncoding(decoder.encoding());
        switch (facts_.encoding) {
            case TextEncoding::Utf8:
            case TextEncoding::Utf8Bom:
                facts_.codePage = 65001;
                break;
            case TextEncoding::CodePage:
                facts_.codePage = codePage;
                break;
            default:
                // A byte-order mark speaks for itself; without one, UTF-16
                // must be named.
                facts_.codePage = looksLikeBom(head, headSize) ? 0 : codePage;
                break;
        }
    };

    int codePage = options_.codePage;
    if (codePage == 0 && !looksLikeBom(head, headSize) && headSize >= 2) {
        // Text in UTF-16 without a byte-order mark starts with a NUL half.
        if (head[0] != 0 && head[1] == 0)
            codePage = 1200;
        else if (head[0] == 0 && head[1] != 0)
            codePage = 1201;
    }
    auto readWith = [&](int codePage) {
        Decoder decoder(codePage == 65001 ? 0 : codePage);
        const End end = pass(decoder, 0, codePage);
        settle(decoder, codePage);
        if (end == End::Done || end == End::Stopped || end == End::Failed)
            finish();
        if (end == End::Done || end == End::Stopped) {
            scanVariables();
            if (facts_.encoding == TextEncoding::CodePage)
                facts_.sample = sampleLine(facts_.codePage);
        }
        return facts_;
    };
    if (codePage != 0 || looksLikeBom(head, headSize))
        return readWith(codePage);

    // No byte-order mark and no code page given: UTF-8 if it is valid,
    // else the Chinese code pages, else ask.
    live_ = !options_.onCommand && !options_.onBatch;
    Decoder utf8;
    End end = pass(utf8, 0, 0);
    settle(utf8, 0);
    if (end == End::Failed && facts_.decodeFailure->kind == DecodeFailure::Kind::Invalid) {
        for (int guess : kGuesses) {
            const DecodeFailure failed = *facts_.decodeFailure;
            // Text read so far carries on in the new code page only where
            // both read it alike: plain ASCII before it, or GBK before
            // GB18030, and no byte there that would pass for a byte-order mark.
            unsigned char at[4] = {};
            const long long n = source_.read(failed.offset, reinterpret_cast<char*>(at), 4);
            const bool carryOn = failed.kind == DecodeFailure::Kind::Invalid &&
                                 (guess != kGuesses[0] || !nonAscii_) &&
                                 !looksLikeBom(at, n > 0 ? static_cast<std::size_t>(n) : 0);
            if (!carryOn)
                reset(false);
            facts_.decodeFailure.reset();
            checkPrivateUse_ = true;
            Decoder decoder(guess);
            end = pass(decoder, carryOn ? failed.offset : 0, guess);
            settle(decoder, guess);
            if (end != End::Failed)
                break;
            const DecodeFailure::Kind kind = facts_.decodeFailure->kind;
            if (kind != DecodeFailure::Kind::Invalid && kind != DecodeFailure::Kind::PrivateUse &&
                kind != DecodeFailure::Kind::Unsupported)
                break;  // a NUL or a cut character: no code page mends that
            if (guess == kGuesses[std::size(kGuesses) - 1]) {
                facts_.needsCodePage = true;
                facts_.codePage = 0;
            }
        }
        checkPrivateUse_ = false;
    }
    if (!live_ && (end == End::Done || end == End::Stopped)) {
        // Once more, in the code page found, for the callbacks.
        live_ = true;
        const int found = facts_.codePage;
        reset(false);
        return readWith(found);
    }
    finish();
    if (end == End::Done || end == End::Stopped) {
        scanVariables();
        if (facts_.encoding == TextEncoding::CodePage)
            facts_.sample = sampleLine(facts_.codePage);
    }
    return facts_;
}

}  // namespace

ScriptFacts scanScript(ByteSource& source, const ScanOptions& options) {
    return Scan(source, options).run();
}

ScriptFacts scanScriptFile(const std::string& path, const ScanOptions& options) {
    FileSource source(path);
    if (source.error()) {
        ScriptFacts facts;
        facts.readError = source.error();
        return facts;
    }
    return scanScript(source, options);
}

}  // namespace quill::preflight
