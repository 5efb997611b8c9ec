#include "preflight/RemainderScript.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <iconv.h>

#include "Decoder.h"
#include "SessionState.h"
#include "Splitter.h"
#include "preflight/ScriptScanner.h"

namespace quill::preflight {

namespace {

constexpr std::size_t kBlock = 1 << 20;

struct Layout {
    std::size_t bom = 0;   // bytes of the byte-order mark
    std::size_t unit = 1;  // bytes of a code unit
    bool bigEndian = false;
};

Layout layoutOf(const ScriptFacts& facts) {
    switch (facts.encoding) {
        case TextEncoding::Utf8Bom:
            return {3, 1, false};
        case TextEncoding::Utf16LE:
            return {facts.codePage == 0 ? 2u : 0u, 2, false};
        case TextEncoding::Utf16BE:
            return {facts.codePage == 0 ? 2u : 0u, 2, true};
        case TextEncoding::Utf32LE:
            return {4, 4, false};
        case TextEncoding::Utf32BE:
            return {4, 4, true};
        default:
            return {};
    }
}

// Byte offsets where the given lines (ascending, 1-based) start; a line
// past the end starts at the file's size.
bool lineStarts(FileSource& source, const Layout& layout, const std::vector<long>& lines,
                std::vector<std::uint64_t>& starts) {
    starts.assign(lines.size(), source.size());
    std::size_t next = 0;
    long line = 1;
    while (next < lines.size() && lines[next] <= line)
        starts[next++] = layout.bom;
    std::vector<char> block(kBlock);
    for (std::uint64_t at = layout.bom; next < lines.size() && at < source.size();) {
        const long long n = source.read(at, block.data(), block.size());
        if (n < 0)
            return false;
        if (n == 0)
            break;
        const auto* u = reinterpret_cast<const unsigned char*>(block.data());
        const std::size_t units = static_cast<std::size_t>(n) / layout.unit;
        for (std::size_t i = 0; i < units && next < lines.size(); ++i) {
            const unsigned char* c = u + i * layout.unit;
            bool lineFeed = true;
            for (std::size_t k = 0; k < layout.unit; ++k) {
                const bool low = layout.bigEndian ? k + 1 == layout.unit : k == 0;
                lineFeed = lineFeed && c[k] == (low ? 0x0A : 0x00);
            }
            if (!lineFeed)
                continue;
            ++line;
            while (next < lines.size() && lines[next] == line)
                starts[next++] = at + (i + 1) * layout.unit;
        }
        // Blocks hold whole units: every width divides the block size.
        at += units * layout.unit;
    }
    return true;
}

// UTF-8 text in the script's own encoding.
bool encodeLike(const ScriptFacts& facts, const std::string& utf8, std::string& out) {
    std::string to;
    switch (facts.encoding) {
        case TextEncoding::Utf8:
        case TextEncoding::Utf8Bom:
            out = utf8;
            return true;
        case TextEncoding::Utf16LE:
            to = "UTF-16LE";
            break;
        case TextEncoding::Utf16BE:
            to = "UTF-16BE";
            break;
        case TextEncoding::Utf32LE:
            to = "UTF-32LE";
            break;
        case TextEncoding::Utf32BE:
            to = "UTF-32BE";
            break;
        case TextEncoding::CodePage:
            to = sqlcmd::iconvName(facts.codePage);
            break;
    }
    iconv_t cd = iconv_open(to.c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    out.assign(utf8.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size(), outLeft = out.size();
    char* o = out.data();
    const bool ok = iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<std::size_t>(-1) &&
                    iconv(cd, nullptr, nullptr, &o, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return ok;
}

bool writeAll(int fd, const char* data, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

bool copyRange(FileSource& source, std::uint64_t from, std::uint64_t to, int fd, int& error) {
    std::vector<char> block(kBlock);
    while (from < to) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, to - from));
        const long long n = source.read(from, block.data(), want);
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            return false;
        }
        if (!writeAll(fd, block.data(), static_cast<std::size_t>(n))) {
            error = errno;
            return false;
        }
        from += static_cast<std::uint64_t>(n);
    }
    return true;
}

}  // namespace

Remainder writeRemainderScript(const std::string& script, long long nextBatch, long long nextLine,
                               int codePage, const std::string& out) {
    using Kind = sqlcmd::Command::Kind;
    Remainder result;
    std::vector<long> preamble;
    long startOfNext = 0, startOfPrevious = 0, counted = 0;
    // The database and SET options the skipped batches leave: without them
    // the rest would run in the login's default database.
    sqlcmd::SessionState session;
    ScanOptions options;
    options.codePage = codePage;
    options.onCommand = [&](const sqlcmd::Command& c) {
        if ((c.kind == Kind::SetVar || c.kind == Kind::OnError) && c.line < nextLine)
            preamble.push_back(c.line);
    };
    options.onBatch = [&](long number, long startLine) {
        counted = number;
        if (number == nextBatch)
            startOfNext = startLine;
        else if (number == nextBatch - 1)
            startOfPrevious = startLine;
    };
    options.onBatchText = [&](const sqlcmd::Batch& batch) {
        if (counted < nextBatch)
            session.take(batch);
    };
    FileSource source(script);
    if (source.error()) {
        result.errorNumber = source.error();
        return result;
    }
    const ScriptFacts facts = scanScript(source, options);
    if (facts.readError || facts.decodeFailure || facts.needsCodePage || facts.syntaxError) {
        result.errorNumber = facts.readError;
        return result;
    }
    if (facts.command(":r")) {
        result.outcome = Remainder::Outcome::Includes;
        return result;
    }
    if (nextBatch > facts.batches) {
        result.outcome = Remainder::Outcome::NothingLeft;
        return result;
    }
    // The start line lies after the batch before and no later than the
    // batch itself (blank batches in between are never counted).
    if (nextBatch < 1 || nextLine < 1 || startOfNext < nextLine ||
        (nextBatch > 1 && startOfPrevious >= nextLine)) {
        result.outcome = Remainder::Outcome::Mismatch;
        return result;
    }

    const Layout layout = layoutOf(facts);
    const std::string eol = facts.lineEndings == LineEndings::Lf ? "\n" : "\r\n";
    std::string setup = session.statements();
    const long setupLines = static_cast<long>(std::count(setup.begin(), setup.end(), '\n'));
    std::string header;
    if (!preamble.empty() || setupLines > 0) {
        // A GO of its own after the commands and statements, so that the
        // first batch sent is the script's batch as it stands, without their
        // empty lines before it.
        if (eol != "\n")
            for (std::size_t at = 0; (at = setup.find('\n', at)) != std::string::npos; at += 2)
                setup.replace(at, 1, eol);
        if (!encodeLike(facts, setup + "GO" + eol, header)) {
            result.outcome = Remainder::Outcome::WriteFailed;
            result.errorNumber = EILSEQ;
            return result;
        }
    }
    std::vector<long> wanted;
    for (long line : preamble) {
        wanted.push_back(line);
        wanted.push_back(line + 1);
    }
    wanted.push_back(static_cast<long>(nextLine));
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    std::vector<std::uint64_t> starts;
    if (!lineStarts(source, layout, wanted, starts)) {
        result.errorNumber = errno;
        return result;
    }
    auto startOf = [&](long line) {
        return starts[static_cast<std::size_t>(
            std::lower_bound(wanted.begin(), wanted.end(), line) - wanted.begin())];
    };

    const std::string partial = out + ".part";
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        result.outcome = Remainder::Outcome::WriteFailed;
        result.errorNumber = errno;
        return result;
    }
    int error = 0;
    bool ok = copyRange(source, 0, layout.bom, fd, error);
    for (std::size_t i = 0; ok && i < preamble.size(); ++i)
        ok = copyRange(source, startOf(preamble[i]), startOf(preamble[i] + 1), fd, error);
    if (ok && !header.empty()) {
        ok = writeAll(fd, header.data(), header.size());
        error = ok ? 0 : errno;
    }
    ok = ok && copyRange(source, startOf(static_cast<long>(nextLine)), source.size(), fd, error);
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && std::rename(partial.c_str(), out.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(partial.c_str());
        result.outcome = Remainder::Outcome::WriteFailed;
        result.errorNumber = error;
        return result;
    }
    result.outcome = Remainder::Outcome::Written;
    result.preambleLines =
        static_cast<long>(preamble.size()) + setupLines + (header.empty() ? 0 : 1);
    result.lineShift = static_cast<long>(nextLine) - 1 - result.preambleLines;
    return result;
}

}  // namespace quill::preflight
