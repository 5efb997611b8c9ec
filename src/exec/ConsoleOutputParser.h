#pragma once

#include <QByteArray>
#include <vector>

namespace quill::exec {

// What the console's output means for the window, in the order it arrived.
struct OutputEvent {
    enum Kind { Banner, Text, Echo, Completed };
    Kind kind;
    QByteArray bytes;  // Text: the output as printed

    bool operator==(const OutputEvent&) const = default;
};

// The command lines whose echo is kept out of the log (UTF-8, without the
// line break). An empty one is not looked for.
struct EchoedLines {
    QByteArray sqlServerForm;
    QByteArray windowsForm;
};

// Reads the interpreter's output as one stream, however it was cut into
// chunks, and tells the window what to do with it:
//  - the start-up banner (the text up to the first prompt, when it holds the
//    banner phrase) becomes Banner and is not shown;
//  - each echoed command line is taken out (its line break stays) and
//    becomes Echo;
//  - each prompt, with the line break before it, becomes Completed;
//  - everything else is Text, the bytes as printed; a UTF-8 character cut
//    between chunks arrives whole in one Text.
// Text searches ignore the case of A to Z. A tail that may be the start of a
// prompt or an echo is held back until the next chunk shows what it is.
// One parser serves one interpreter from its start.
class ConsoleOutputParser {
public:
    void feed(QByteArrayView chunk, const EchoedLines& echoes, std::vector<OutputEvent>& events);
    // The output has ended: whatever was held back is text after all.
    void finish(std::vector<OutputEvent>& events);

private:
    enum class Phase { StartUp, InBanner, Running };
    struct Pattern {
        QByteArray bytes;
        enum Role { Prompt, Echo, BannerPhrase } role;
    };

    std::vector<Pattern> patterns(const EchoedLines& echoes) const;
    void emitText(QByteArrayView bytes, std::vector<OutputEvent>& events);

    Phase phase_ = Phase::StartUp;
    QByteArray held_;
    QByteArray partialCharacter_;  // the first bytes of a character the next text completes
};

}  // namespace quill::exec
