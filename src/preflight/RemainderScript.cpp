#include "preflight/RemainderScript.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

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

// ASCII text in the script's code units.
std::string unitsOf(std::string_view ascii, const Layout& layout) {
    std::string out;
    for (char c : ascii) {
        for (std::size_t k = 0; k < layout.unit; ++k) {
            const bool low = layout.bigEndian ? k + 1 == layout.unit : k == 0;
            out += low ? c : '\0';
        }
    }
    return out;
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
    long startOfNext = 0, startOfPrevious = 0;
    ScanOptions options;
    options.codePage = codePage;
    options.onCommand = [&](const sqlcmd::Command& c) {
        if ((c.kind == Kind::SetVar || c.kind == Kind::OnError) && c.line < nextLine)
            preamble.push_back(c.line);
    };
    options.onBatch = [&](long number, long startLine) {
        if (number == nextBatch)
            startOfNext = startLine;
        else if (number == nextBatch - 1)
            startOfPrevious = startLine;
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
    // A GO of its own after the commands, so that the first batch sent is
    // the script's batch as it stands, without their empty lines before it.
    if (ok && !preamble.empty()) {
        const std::string go =
            unitsOf(facts.lineEndings == LineEndings::Lf ? "GO\n" : "GO\r\n", layout);
        ok = writeAll(fd, go.data(), go.size());
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
    result.preambleLines = static_cast<long>(preamble.size()) + (preamble.empty() ? 0 : 1);
    result.lineShift = static_cast<long>(nextLine) - 1 - result.preambleLines;
    return result;
}

}  // namespace quill::preflight
