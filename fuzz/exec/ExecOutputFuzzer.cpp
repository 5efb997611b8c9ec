// Feeds arbitrary bytes through the console's output parser and the error
// finder in chunks whose size comes from the input, and checks what must
// hold whatever the input: how the stream is cut changes neither the text
// nor the errors found in it, nor their lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "exec/ConsoleOutputParser.h"
#include "exec/MessageParser.h"

using namespace quill::exec;

namespace {

struct Result {
    QByteArray text;
    int events = 0;
    std::vector<ScriptMessage> errors;
    std::vector<qint64> lines;
    QString lastLine;
};

Result parse(QByteArrayView stream, qsizetype chunk) {
    const EchoedLines echoes{"sqlcmd -S\"h,1\" -i \"a.sql\"", {}};
    ConsoleOutputParser parser;
    MessageParser messages;
    Result result;
    std::vector<OutputEvent> events;
    auto take = [&] {
        for (const OutputEvent& e : events) {
            if (e.kind == OutputEvent::Text) {
                result.text += e.bytes;
                messages.feed(e.bytes, result.errors, &result.lines);
            } else {
                result.text += char('\x1' + int(e.kind));
                ++result.events;
            }
        }
        events.clear();
    };
    for (qsizetype at = 0; at < stream.size(); at += chunk) {
        parser.feed(stream.sliced(at, std::min(chunk, stream.size() - at)), echoes, events);
        take();
    }
    parser.finish(events);
    take();
    messages.finish(result.errors, &result.lines);
    result.lastLine = messages.lastLine();
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const qsizetype chunk = 1 + data[0] % 64;
    const QByteArrayView stream(data + 1, qsizetype(size - 1));
    const Result cut = parse(stream, chunk);
    const Result whole = parse(stream, stream.size() + 1);
    if (cut.text != whole.text || cut.events != whole.events || cut.errors != whole.errors ||
        cut.lines != whole.lines || cut.lastLine != whole.lastLine)
        std::abort();
    return 0;
}
