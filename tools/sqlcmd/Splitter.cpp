#include "Splitter.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Variables.h"

namespace quill::sqlcmd {

namespace {

// One bit per lexer state: the bytes that may end a run of ordinary text.
constexpr std::uint8_t kDollar = 0x40;
constexpr std::array<std::uint8_t, 256> kSpecial = [] {
    std::array<std::uint8_t, 256> t{};
    t['\n'] = 0x3F;
    t['\''] |= 0x01 | 0x02;
    t['"'] |= 0x01 | 0x04;
    t['['] |= 0x01;
    t['/'] |= 0x01 | 0x10;
    t['-'] |= 0x01;
    t[']'] |= 0x08;
    t['*'] |= 0x10;
    t['$'] |= kDollar;
    return t;
}();

constexpr std::size_t kBlock = 16;

// Bit k is set when p[k] matters to some lexer state. The hot loop looks
// at these candidates only, sixteen bytes at a time.
inline std::uint32_t candidates(const char* p) {
#if defined(__SSE2__)
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    auto eq = [&](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    const __m128i m =
        _mm_or_si128(_mm_or_si128(_mm_or_si128(eq('\n'), eq('\'')), _mm_or_si128(eq('"'), eq('['))),
                     _mm_or_si128(_mm_or_si128(eq(']'), eq('/')),
                                  _mm_or_si128(_mm_or_si128(eq('-'), eq('*')), eq('$'))));
    return static_cast<std::uint32_t>(_mm_movemask_epi8(m));
#else
    std::uint32_t bits = 0;
    for (std::size_t k = 0; k < kBlock; ++k) {
        bits |= static_cast<std::uint32_t>(kSpecial[static_cast<unsigned char>(p[k])] != 0) << k;
    }
    return bits;
#endif
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

std::string_view trimLeft(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && isBlank(s[i])) {
        ++i;
    }
    return s.substr(i);
}

std::string_view trimRight(std::string_view s) {
    std::size_t n = s.size();
    while (n > 0 && isBlank(s[n - 1])) {
        --n;
    }
    return s.substr(0, n);
}

// Nothing left but blanks and an optional "--" comment.
bool onlyComment(std::string_view s) {
    s = trimLeft(s);
    return s.empty() || s.substr(0, 2) == "--";
}

// Cuts a trailing "--" comment that follows a blank.
std::string_view withoutComment(std::string_view s) {
    for (std::size_t i = 1; i + 1 < s.size(); ++i) {
        if (s[i] == '-' && s[i + 1] == '-' && isBlank(s[i - 1])) {
            return trimRight(s.substr(0, i));
        }
    }
    return trimRight(s);
}

bool startsWithWord(std::string_view s, std::string_view word) {
    if (s.size() < word.size()) {
        return false;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (lower(s[i]) != word[i]) {
            return false;
        }
    }
    return true;
}

std::string_view token(std::string_view& s) {
    s = trimLeft(s);
    std::size_t i = 0;
    while (i < s.size() && !isBlank(s[i])) {
        ++i;
    }
    std::string_view t = s.substr(0, i);
    s = s.substr(i);
    return t;
}

}  // namespace

long Batch::sourceLine(long batchLine) const {
    const LineSpan* best = nullptr;
    for (const auto& span : lines) {
        if (span.batchLine <= batchLine) {
            best = &span;
        }
    }
    return best ? best->sourceLine + (batchLine - best->batchLine) : batchLine;
}

long Batch::topLine(long batchLine) const {
    const LineSpan* best = nullptr;
    for (const auto& span : lines) {
        if (span.batchLine <= batchLine) {
            best = &span;
        }
    }
    if (!best) {
        return batchLine;
    }
    return best->topLine ? best->topLine : best->sourceLine + (batchLine - best->batchLine);
}

Splitter::Splitter(const Variables& vars) : vars_(vars) {
    clearBatch();
}

void Splitter::clearBatch() {
    batch_.text.clear();
    batch_.lines.assign(1, LineSpan{1, line_, savedLines_.empty() ? 0 : includeLine_});
    batch_.undefined.clear();
    batch_.overflow = false;
    batch_.overflowBytes = 0;
    batch_.nonBlank = false;
    batch_.sessionLines.clear();
    batchLine_ = 1;
}

Batch Splitter::takeBatch() {
    Batch taken = std::move(batch_);
    batch_ = Batch{};
    // The next batch is likely as large: grow it once, not by doubling.
    batch_.text.reserve(taken.overflow ? 0 : taken.text.size());
    clearBatch();
    return taken;
}

void Splitter::append(const char* data, std::size_t n) {
    if (n == 0) {
        return;
    }
    if (!batch_.nonBlank) {
        batch_.nonBlank = std::any_of(data, data + n, [](char c) {
            return !(c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v');
        });
    }
    if (!batch_.overflow && batch_.text.size() + n > limit_) {
        batch_.overflow = true;
        batch_.overflowBytes = batch_.text.size();
        std::string().swap(batch_.text);
    }
    if (batch_.overflow) {
        batch_.overflowBytes += n;
        return;
    }
    batch_.text.append(data, n);
}

void Splitter::appendValue(const std::string& value) {
    append(value.data(), value.size());
    long newlines = 0;
    for (char c : value) {
        newlines += c == '\n';
    }
    if (newlines > 0) {
        batchLine_ += newlines;
        batch_.lines.push_back(LineSpan{batchLine_, line_, savedLines_.empty() ? 0 : includeLine_});
    }
}

void Splitter::fail(std::string message) {
    error_ = std::move(message);
    errorLine_ = line_;
}

void Splitter::reset() {
    state_ = Normal;
    commentDepth_ = 0;
    lineStart_ = true;
    line_ = 1;
    savedLines_.clear();
    includeLine_ = 0;
    clearBatch();
}

void Splitter::beginSource() {
    if (savedLines_.empty()) {
        includeLine_ = command_.line;
    }
    savedLines_.push_back(line_);
    line_ = 1;
    lineStart_ = true;
    batch_.lines.push_back(LineSpan{batchLine_, line_, includeLine_});
}

void Splitter::endSource() {
    if (!lineStart_) {
        append("\n", 1);
        ++batchLine_;
        lineStart_ = true;
    }
    if (state_ == LineComment) {
        state_ = Normal;
    }
    if (!savedLines_.empty()) {
        line_ = savedLines_.back();
        savedLines_.pop_back();
    }
    batch_.lines.push_back(LineSpan{batchLine_, line_, savedLines_.empty() ? 0 : includeLine_});
}

bool Splitter::substituteArg(std::string& arg) {
    if (!substitute_ || arg.find("$(") == std::string::npos) {
        return true;
    }
    std::string out;
    std::size_t i = 0;
    while (i < arg.size()) {
        std::size_t at = arg.find("$(", i);
        if (at == std::string::npos) {
            out.append(arg, i, std::string::npos);
            break;
        }
        out.append(arg, i, at - i);
        std::size_t end = arg.find(')', at + 2);
        if (end == std::string::npos ||
            !Variables::validName(std::string_view(arg).substr(at + 2, end - at - 2))) {
            fail("$(");
            return false;
        }
        const std::string* value = vars_.find(std::string_view(arg).substr(at + 2, end - at - 2));
        if (value) {
            out += *value;
        } else {
            out.append(arg, at, end + 1 - at);
        }
        i = end + 1;
    }
    arg = std::move(out);
    return true;
}

Splitter::LineKind Splitter::classifyLine(std::string_view rest, bool sourceEnd,
                                          std::size_t& lineLength, std::size_t& sessionAt) {
    const std::size_t n = rest.size();
    std::size_t j = 0;
    while (j < n && isBlank(rest[j])) {
        ++j;
    }
    if (j == n) {
        return sourceEnd ? LineKind::Text : LineKind::NeedMore;
    }
    // 1: the word and a boundary; 0: not the word; -1: cannot tell yet.
    auto word = [&](std::string_view w, bool parenEnds) {
        for (std::size_t k = 0; k < w.size(); ++k) {
            if (j + k >= n) {
                return sourceEnd ? 0 : -1;
            }
            if (lower(rest[j + k]) != w[k]) {
                return 0;
            }
        }
        std::size_t at = j + w.size();
        if (at >= n) {
            return sourceEnd ? 1 : -1;
        }
        char c = rest[at];
        return (isBlank(c) || c == '\r' || c == '\n' || (parenEnds && c == '(')) ? 1 : 0;
    };
    int candidate = 0;
    bool colonless = true;
    switch (lower(rest[j])) {
        case 'g':
            candidate = word("go", false);
            break;
        case 'e':
            candidate = word("exit", true);
            break;
        case 'q':
            candidate = word("quit", false);
            break;
        case 'r':
            candidate = word("reset", false);
            break;
        case ':':
            candidate = 1;
            colonless = false;
            break;
        case '!':
            if (j + 1 >= n) {
                candidate = sourceEnd ? 0 : -1;
            } else {
                candidate = rest[j + 1] == '!' ? 1 : 0;
            }
            break;
        default:
            break;
    }
    if (candidate == 0) {
        if (recordSession_) {
            int session = 0;
            switch (lower(rest[j])) {
                case 'u':
                    session = word("use", false);
                    break;
                case 's':
                    session = word("set", false);
                    break;
                case 'c':
                    session = word("create", false);
                    break;
                case 'a':
                    session = word("alter", false);
                    break;
                default:
                    break;
            }
            if (session < 0) {
                return LineKind::NeedMore;
            }
            if (session > 0) {
                sessionAt = j;
            }
        }
        return LineKind::Text;
    }
    if (candidate < 0) {
        return LineKind::NeedMore;
    }
    const void* nl = std::memchr(rest.data() + j, '\n', n - j);
    if (!nl && !sourceEnd) {
        return LineKind::NeedMore;
    }
    std::size_t end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - rest.data()) : n;
    lineLength = nl ? end + 1 : n;
    std::string_view content = rest.substr(j, end - j);
    if (!content.empty() && content.back() == '\r') {
        content.remove_suffix(1);
    }
    if (!parseCommand(content, colonless)) {
        return error_.empty() ? LineKind::Text : LineKind::Error;
    }
    return LineKind::Command;
}

// Fills command_ from a command line (leading blanks and terminator removed).
// Returns false when the line is not a command; error_ is then set if the
// line was a malformed one.
bool Splitter::parseCommand(std::string_view line, bool colonless) {
    error_.clear();
    command_ = Command{};
    command_.line = line_;
    auto bad = [&](std::string_view near) {
        if (!colonless || near == "GO") {
            fail(std::string(near));
        }
        return false;
    };

    std::string_view rest = colonless ? line : line.substr(1);
    if (rest.substr(0, 2) == "!!") {  // "!! cmd" and ":!! cmd" alike
        command_.kind = Command::Kind::Shell;
        command_.value = std::string(trimLeft(rest.substr(2)));
        return true;
    }
    std::size_t nameEnd = 0;
    while (nameEnd < rest.size() && !isBlank(rest[nameEnd]) && rest[nameEnd] != '(') {
        ++nameEnd;
    }
    std::string name;
    for (char c : rest.substr(0, nameEnd)) {
        name += lower(c);
    }
    const std::string_view written = line.substr(0, nameEnd + (colonless ? 0 : 1));
    std::string_view args = rest.substr(nameEnd);

    if (colonless && name == "go") {
        std::string_view a = trimLeft(args);
        if (a.empty() || a.substr(0, 2) == "--") {
            command_.kind = Command::Kind::Go;
            return true;
        }
        std::string_view count = token(a);
        if (!onlyComment(a) || count.size() > 9) {
            return bad("GO");
        }
        long n = 0;
        for (char c : count) {
            if (c < '0' || c > '9') {
                return bad("GO");
            }
            n = n * 10 + (c - '0');
        }
        if (n < 1) {
            return bad("GO");
        }
        command_.kind = Command::Kind::Go;
        command_.repeat = n;
        return true;
    }
    if (name == "exit") {
        std::string_view a = trimLeft(args);
        command_.kind = Command::Kind::Exit;
        if (onlyComment(a)) {
            return true;
        }
        if (a.front() != '(') {
            return bad(written);
        }
        // The query runs to the matching parenthesis, quotes respected.
        int depth = 0;
        char quote = 0;
        std::size_t close = std::string_view::npos;
        for (std::size_t i = 0; i < a.size() && close == std::string_view::npos; ++i) {
            char c = a[i];
            if (quote) {
                quote = c == quote ? 0 : quote;
            } else if (c == '\'' || c == '"') {
                quote = c;
            } else if (c == '(') {
                ++depth;
            } else if (c == ')' && --depth == 0) {
                close = i;
            }
        }
        if (close == std::string_view::npos || !onlyComment(a.substr(close + 1))) {
            return bad(written);
        }
        command_.hasValue = true;
        command_.value = std::string(a.substr(1, close - 1));
        if (!substituteArg(command_.value)) {
            return false;
        }
        return true;
    }
    if (name == "quit" || name == "reset" || (!colonless && name == "listvar")) {
        if (!onlyComment(args)) {
            return bad(written);
        }
        command_.kind = name == "quit"    ? Command::Kind::Quit
                        : name == "reset" ? Command::Kind::Reset
                                          : Command::Kind::ListVar;
        return true;
    }
    if (colonless) {
        return false;
    }
    if (name == "setvar") {
        std::string_view a = args;
        std::string_view var = token(a);
        if (!Variables::validName(var)) {
            return bad(written);
        }
        command_.kind = Command::Kind::SetVar;
        command_.name = std::string(var);
        a = trimLeft(a);
        if (onlyComment(a)) {
            return true;
        }
        std::string value;
        if (a.front() == '"') {
            std::size_t i = 1;
            bool closed = false;
            while (i < a.size()) {
                if (a[i] == '"') {
                    if (i + 1 < a.size() && a[i + 1] == '"') {
                        value += '"';
                        i += 2;
                        continue;
                    }
                    closed = true;
                    ++i;
                    break;
                }
                value += a[i++];
            }
            if (!closed) {
                return bad(written);
            }
            a = a.substr(i);
        } else {
            value = std::string(token(a));
        }
        if (!onlyComment(a)) {
            return bad(written);
        }
        if (!substituteArg(value)) {
            return false;
        }
        command_.value = std::move(value);
        command_.hasValue = true;
        return true;
    }
    if (name == "r") {
        std::string_view a = trimLeft(args);
        std::string path;
        if (!a.empty() && a.front() == '"') {
            std::size_t close = a.find('"', 1);
            if (close == std::string_view::npos || !onlyComment(a.substr(close + 1))) {
                return bad(written);
            }
            path = std::string(a.substr(1, close - 1));
        } else {
            path = std::string(withoutComment(a));
        }
        if (path.empty() || args.empty() || !(isBlank(args.front()) || args.front() == '"')) {
            return bad(written);
        }
        if (!substituteArg(path)) {
            return false;
        }
        command_.kind = Command::Kind::Include;
        command_.value = std::move(path);
        return true;
    }
    if (name == "on") {
        std::string_view a = args;
        std::string_view what = token(a);
        std::string_view action = token(a);
        std::string act;
        for (char c : action) {
            act += lower(c);
        }
        if (!startsWithWord(what, "error") || what.size() != 5 ||
            (act != "exit" && act != "ignore") || !onlyComment(a)) {
            return bad(written);
        }
        command_.kind = Command::Kind::OnError;
        command_.value = act;
        return true;
    }
    static constexpr std::string_view kKnown[] = {
        "connect", "ed", "error", "help", "list", "out", "perftrace", "serverlist", "xml"};
    for (std::string_view k : kKnown) {
        if (name == k) {
            command_.kind = Command::Kind::Unsupported;
            command_.name = std::string(written);
            return true;
        }
    }
    return bad(written);
}

namespace {

// A position in the text and the candidate bits of the block around it.
struct Cursor {
    const char* p;
    std::size_t n;
    std::size_t i = 0;
    std::size_t blockAt = SIZE_MAX - kBlock;
    std::uint32_t bits = 0;

    // Moves to the next byte that matters under `mask`; false at the end.
    bool next(std::uint8_t mask) {
        for (;;) {
            if (i - blockAt < kBlock) {
                std::uint32_t b = bits & (~0u << (i - blockAt));
                while (b) {
                    const std::size_t at = blockAt + static_cast<std::size_t>(__builtin_ctz(b));
                    if (kSpecial[static_cast<unsigned char>(p[at])] & mask) {
                        i = at;
                        return true;
                    }
                    b &= b - 1;
                }
                i = blockAt + kBlock;
            }
            if (n - i < kBlock) {
                for (; i < n; ++i) {
                    if (kSpecial[static_cast<unsigned char>(p[i])] & mask) {
                        return true;
                    }
                }
                return false;
            }
            blockAt = i;
            bits = candidates(p + i);
        }
    }
};

}  // namespace

// The lexer proper, as one state machine whose state lives in registers.
// It stops on a newline (the cursor on it), on '$' when substituting, at
// the end of the text, or before a byte whose meaning depends on one that
// has not arrived yet.
Splitter::LexStop Splitter::lex(void* cursor, bool sourceEnd, std::uint8_t dollar) {
    Cursor& cur = *static_cast<Cursor*>(cursor);
    const char* const p = cur.p;
    const std::size_t n = cur.n;
    State st = state_;
    int depth = commentDepth_;
    LexStop result = LexStop::End;
    char c = 0;
    // Whether p[cur.i + 1] is there to look at; when it cannot come, the
    // byte at cur.i stands alone.
    auto haveNext = [&] { return cur.i + 1 < n; };

    switch (st) {
        case Normal:
            goto normal;
        case SingleQuote:
            goto single;
        case DoubleQuote:
            goto dbl;
        case Bracket:
            goto bracket;
        case BlockComment:
            goto block;
        case LineComment:
            goto line;
    }

normal:
    st = Normal;
    if (!cur.next(static_cast<std::uint8_t>(0x01 | dollar))) {
        goto out;
    }
    c = p[cur.i];
    if (c == '\n' || c == '$') {
        result = c == '\n' ? LexStop::Newline : LexStop::Dollar;
        goto out;
    }
    if (c == '\'') {
        ++cur.i;
        goto single;
    }
    if (c == '"') {
        ++cur.i;
        goto dbl;
    }
    if (c == '[') {
        ++cur.i;
        goto bracket;
    }
    if (!haveNext()) {  // '-' or '/'
        if (!sourceEnd) {
            result = LexStop::NeedMore;
            goto out;
        }
        ++cur.i;
        goto normal;
    }
    if (c == '-' && p[cur.i + 1] == '-') {
        cur.i += 2;
        goto line;
    }
    if (c == '/' && p[cur.i + 1] == '*') {
        cur.i += 2;
        depth = 1;
        goto block;
    }
    ++cur.i;
    goto normal;

single:
    st = SingleQuote;
    if (!cur.next(static_cast<std::uint8_t>(0x02 | dollar))) {
        goto out;
    }
    c = p[cur.i];
    if (c == '\'') {  // a doubled quote closes and reopens: the same either way
        ++cur.i;
        goto normal;
    }
    result = c == '\n' ? LexStop::Newline : LexStop::Dollar;
    goto out;

dbl:
    st = DoubleQuote;
    if (!cur.next(static_cast<std::uint8_t>(0x04 | dollar))) {
        goto out;
    }
    c = p[cur.i];
    if (c == '"') {
        ++cur.i;
        goto normal;
    }
    result = c == '\n' ? LexStop::Newline : LexStop::Dollar;
    goto out;

bracket:
    st = Bracket;
    if (!cur.next(static_cast<std::uint8_t>(0x08 | dollar))) {
        goto out;
    }
    c = p[cur.i];
    if (c != ']') {
        result = c == '\n' ? LexStop::Newline : LexStop::Dollar;
        goto out;
    }
    if (!haveNext()) {
        if (!sourceEnd) {
            result = LexStop::NeedMore;
            goto out;
        }
        ++cur.i;
        goto normal;
    }
    if (p[cur.i + 1] == ']') {
        cur.i += 2;
        goto bracket;
    }
    ++cur.i;
    goto normal;

block:
    st = BlockComment;
    if (!cur.next(0x10)) {
        goto out;
    }
    c = p[cur.i];
    if (c == '\n') {
        result = LexStop::Newline;
        goto out;
    }
    if (!haveNext()) {
        if (!sourceEnd) {
            result = LexStop::NeedMore;
            goto out;
        }
        ++cur.i;
        goto block;
    }
    if (c == '*' && p[cur.i + 1] == '/') {
        cur.i += 2;
        if (--depth == 0) {
            goto normal;
        }
        goto block;
    }
    if (c == '/' && p[cur.i + 1] == '*') {
        cur.i += 2;
        ++depth;
        goto block;
    }
    ++cur.i;
    goto block;

line:
    st = LineComment;
    if (cur.next(0x20)) {
        result = LexStop::Newline;
    }

out:
    state_ = st;
    commentDepth_ = depth;
    return result;
}

std::size_t Splitter::scan(std::string_view text, bool sourceEnd, Event& event) {
    const char* const p = text.data();
    Cursor cur{p, text.size()};
    std::size_t kept = 0;  // text before this is in the batch already
    bool lineStart = lineStart_;
    long lines = 0;  // newlines passed, not yet added to line_ and batchLine_
    const std::uint8_t dollar = substitute_ ? kDollar : 0;

    auto sync = [&] {
        lineStart_ = lineStart;
        line_ += lines;
        batchLine_ += lines;
        lines = 0;
    };
    auto stop = [&](std::size_t at, Event e) {
        sync();
        append(p + kept, at - kept);
        event = e;
        return at;
    };

    for (;;) {
        if (lineStart) {
            if (cur.i == cur.n) {
                return stop(cur.i, Event::NeedInput);  // nothing of the next line yet
            }
            if (state_ == Normal) {
                sync();
                std::size_t length = 0;
                std::size_t sessionAt = SIZE_MAX;
                switch (classifyLine(text.substr(cur.i), sourceEnd, length, sessionAt)) {
                    case LineKind::NeedMore:
                        return stop(cur.i, Event::NeedInput);
                    case LineKind::Error:
                        return stop(cur.i, Event::Error);
                    case LineKind::Command: {
                        append(p + kept, cur.i - kept);
                        std::string_view line = text.substr(cur.i, length);
                        if (!line.empty() && line.back() == '\n') {
                            std::size_t termAt = line.size() - 1;
                            if (termAt > 0 && line[termAt - 1] == '\r') {
                                --termAt;
                            }
                            ++line_;
                            if (command_.kind != Command::Kind::Go) {
                                // The command's line stays in the batch as an empty
                                // line, so that later line numbers still match.
                                append(line.data() + termAt, line.size() - termAt);
                                ++batchLine_;
                            }
                        }
                        event = Event::Command;
                        return cur.i + length;
                    }
                    case LineKind::Text:
                        if (sessionAt != SIZE_MAX && !batch_.overflow) {
                            batch_.sessionLines.push_back(batch_.text.size() + (cur.i - kept) +
                                                          sessionAt);
                        }
                        break;
                }
            }
            lineStart = false;
        }

        switch (lex(&cur, sourceEnd, dollar)) {
            case LexStop::End:
                return stop(cur.n, Event::NeedInput);
            case LexStop::NeedMore:
                return stop(cur.i, Event::NeedInput);
            case LexStop::Newline:
                ++cur.i;
                ++lines;
                lineStart = true;
                if (state_ == LineComment) {
                    state_ = Normal;
                }
                continue;
            case LexStop::Dollar:
                break;
        }

        // $(name), outside comments, while substituting.
        const std::size_t i = cur.i;
        const std::size_t n = cur.n;
        if (i + 1 >= n && !sourceEnd) {
            return stop(i, Event::NeedInput);
        }
        if (i + 1 >= n || p[i + 1] != '(') {
            ++cur.i;
            continue;
        }
        std::size_t j = i + 2;
        while (j < n && isNameChar(p[j])) {
            ++j;
        }
        if (j == n && !sourceEnd) {
            return stop(i, Event::NeedInput);
        }
        std::string_view name(p + i + 2, j - i - 2);
        sync();
        if (j == n || p[j] != ')' || !Variables::validName(name)) {
            fail("$(");
            return stop(i, Event::Error);
        }
        append(p + kept, i - kept);
        if (const std::string* value = vars_.find(name)) {
            appendValue(*value);
        } else {
            append(p + i, j + 1 - i);
            batch_.undefined.emplace_back(std::string(name), line_);
        }
        cur.i = j + 1;
        kept = cur.i;
    }
}

}  // namespace quill::sqlcmd
