#include "exec/ConsoleOutputParser.h"

#include <array>
#include <utility>

#include "console/ConsoleProtocol.h"

namespace quill::exec {
namespace {

constexpr char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}
constexpr char upperAscii(char c) {
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

// The first length bytes of pattern stand in text at the given position,
// apart from the case of A to Z.
bool matchesAt(const QByteArray& text, qsizetype at, const QByteArray& pattern, qsizetype length) {
    const char* t = text.constData() + at;
    const char* p = pattern.constData();
    for (qsizetype i = 0; i < length; ++i)
        if (lowerAscii(t[i]) != lowerAscii(p[i]))
            return false;
    return true;
}

// Where an unfinished UTF-8 character at the end of text starts; size()
// when the text ends on a character boundary.
qsizetype unfinishedCharacterAt(const QByteArray& text) {
    for (qsizetype at = text.size() - 1; at >= 0 && at >= text.size() - 3; --at) {
        const uchar c = uchar(text[at]);
        if ((c & 0xC0) == 0x80)
            continue;  // a continuation byte: look further back
        const qsizetype length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return text.size() - at < length ? at : text.size();
    }
    return text.size();
}

}  // namespace

std::vector<ConsoleOutputParser::Pattern> ConsoleOutputParser::patterns(
    const EchoedLines& echoes) const {
    using namespace console;
    // The prompt with the line break before it comes first: at the same
    // place, the longer match is taken.
    std::vector<Pattern> out{{QByteArray(kLineBreak) + kPrompt, Pattern::Prompt},
                             {kPrompt, Pattern::Prompt}};
    if (phase_ == Phase::InBanner)
        return out;
    if (!echoes.sqlServerForm.isEmpty())
        out.push_back({echoes.sqlServerForm + kLineBreak, Pattern::Echo});
    if (!echoes.windowsForm.isEmpty())
        out.push_back({echoes.windowsForm + kLineBreak, Pattern::Echo});
    // Only the interpreter's start-up text can be its banner; the same words
    // in a script's output are output.
    if (phase_ == Phase::StartUp)
        out.push_back({kBannerPhrase, Pattern::BannerPhrase});
    return out;
}

void ConsoleOutputParser::feed(QByteArrayView chunk, const EchoedLines& echoes,
                               std::vector<OutputEvent>& events) {
    QByteArray text = std::exchange(held_, {});
    text.append(chunk);
    const qsizetype size = text.size();
    qsizetype done = 0;

    for (;;) {
        const std::vector<Pattern> wanted = patterns(echoes);
        std::array<bool, 256> firstByte{};
        for (const Pattern& p : wanted) {
            firstByte[uchar(lowerAscii(p.bytes.front()))] = true;
            firstByte[uchar(upperAscii(p.bytes.front()))] = true;
        }

        const Pattern* found = nullptr;
        qsizetype at = done;
        for (; at < size && !found; ++at) {
            if (!firstByte[uchar(text[at])])
                continue;
            for (const Pattern& p : wanted)
                if (size - at >= p.bytes.size() && matchesAt(text, at, p.bytes, p.bytes.size()) &&
                    (!found || p.bytes.size() > found->bytes.size()))
                    found = &p;
        }
        if (!found)
            break;
        --at;

        if (phase_ != Phase::InBanner)
            emitText(QByteArrayView(text).sliced(done, at - done), events);
        done = at + found->bytes.size();
        // The echo is known by its whole line, but only the command goes: the
        // output after it then starts on a line of its own.
        if (found->role == Pattern::Echo)
            done -= qsizetype(sizeof console::kLineBreak - 1);
        switch (found->role) {
            case Pattern::Prompt:
                events.push_back({OutputEvent::Completed, {}});
                phase_ = Phase::Running;
                break;
            case Pattern::Echo:
                events.push_back({OutputEvent::Echo, {}});
                break;
            case Pattern::BannerPhrase:
                events.push_back({OutputEvent::Banner, {}});
                partialCharacter_.clear();
                phase_ = Phase::InBanner;
                break;
        }
    }

    // Hold back the earliest tail that could still grow into a pattern.
    const std::vector<Pattern> wanted = patterns(echoes);
    qsizetype longest = 0;
    for (const Pattern& p : wanted)
        longest = std::max(longest, p.bytes.size());
    qsizetype hold = size;
    for (qsizetype at = std::max(done, size - longest + 1); at < size && hold == size; ++at)
        for (const Pattern& p : wanted)
            if (size - at < p.bytes.size() && matchesAt(text, at, p.bytes, size - at)) {
                hold = at;
                break;
            }
    if (phase_ != Phase::InBanner)
        emitText(QByteArrayView(text).sliced(done, hold - done), events);
    held_ = text.sliced(hold);
}

void ConsoleOutputParser::finish(std::vector<OutputEvent>& events) {
    if (phase_ != Phase::InBanner)
        emitText(std::exchange(held_, {}), events);
    held_.clear();
    const QByteArray rest = std::exchange(partialCharacter_, {});
    if (rest.isEmpty())
        return;
    if (!events.empty() && events.back().kind == OutputEvent::Text)
        events.back().bytes += rest;
    else
        events.push_back({OutputEvent::Text, rest});
}

// A character cut between two texts waits for its other bytes, so that each
// Text can be read as UTF-8 by itself.
void ConsoleOutputParser::emitText(QByteArrayView bytes, std::vector<OutputEvent>& events) {
    if (bytes.isEmpty())
        return;
    QByteArray text = std::exchange(partialCharacter_, {});
    text.append(bytes);
    const qsizetype unfinished = unfinishedCharacterAt(text);
    partialCharacter_ = text.sliced(unfinished);
    text.truncate(unfinished);
    if (text.isEmpty())
        return;
    if (!events.empty() && events.back().kind == OutputEvent::Text)
        events.back().bytes += text;
    else
        events.push_back({OutputEvent::Text, std::move(text)});
}

}  // namespace quill::exec
