// Feeds arbitrary bytes through the decoder and the splitter in chunks whose
// sizes come from the input, and checks what must hold whatever the input:
// the splitter always makes progress, text outside commands reaches the
// batches unchanged, and the lines it marks for a resumed run's session
// state lie in the batch text (which SessionState then reads).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sqlcmd/Decoder.h"
#include "sqlcmd/SessionState.h"
#include "sqlcmd/Splitter.h"
#include "sqlcmd/Variables.h"

using namespace quill::sqlcmd;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t chunk = 1 + data[0] % 64;
    const bool substitute = data[1] & 1;
    std::string_view input(reinterpret_cast<const char*>(data + 2), size - 2);

    Decoder decoder(data[1] & 2 ? 1252 : 0);
    std::string text;
    if (!decoder.decode(input, true, text)) {
        return 0;
    }

    Variables vars;
    vars.set("v", "value\nwith a line");
    Splitter splitter(vars);
    splitter.setSubstitution(substitute);
    splitter.setBatchLimit(data[1] & 4 ? 16 : SIZE_MAX);
    splitter.setRecordSession(data[1] & 8);
    SessionState session;
    auto take = [&] {
        const Batch batch = splitter.takeBatch();
        for (std::size_t at : batch.sessionLines) {
            if (!batch.overflow && at >= batch.text.size()) {
                std::abort();
            }
        }
        session.take(batch);
        return batch.text.size();
    };
    std::string buffer;
    std::size_t fed = 0;
    std::size_t batchBytes = 0;
    for (;;) {
        const bool end = fed == text.size();
        Splitter::Event event;
        const std::size_t used = splitter.scan(buffer, end, event);
        if (used > buffer.size()) {
            std::abort();
        }
        buffer.erase(0, used);
        if (event == Splitter::Event::Error) {
            return 0;
        }
        if (event == Splitter::Event::Command) {
            const Command& c = splitter.command();
            if (c.kind == Command::Kind::Go || c.kind == Command::Kind::Reset) {
                (void)splitter.batch().sourceLine(3);
                (void)splitter.batch().topLine(3);
                batchBytes += take();
            }
            continue;
        }
        if (end) {
            // Only whole lines may stay behind, and only when the input ended.
            if (!buffer.empty()) {
                std::abort();
            }
            break;
        }
        const std::size_t n = std::min(chunk, text.size() - fed);
        buffer.append(text, fed, n);
        fed += n;
    }
    const bool overflow = splitter.batch().overflow;
    batchBytes += take();
    if (!substitute && batchBytes > text.size() && !overflow) {
        std::abort();  // without substitution, batches hold nothing that was not input
    }
    (void)session.statements();
    return 0;
}
