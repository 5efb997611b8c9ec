#include "Printer.h"

#include <string>

#include "Output.h"

namespace quill::sqlcmd {

Printer::Printer(Output& output, int messageLevel, int errorsToStderr)
    : output_(output), messageLevel_(messageLevel), errorsToStderr_(errorsToStderr) {}

void Printer::route(bool isError, std::string_view text) {
    if (errorsToStderr_ == 1 || (errorsToStderr_ == 0 && isError)) {
        output_.writeError(text);
    } else {
        output_.write(text);
    }
}

void Printer::serverMessage(const ServerMessage& m) {
    const bool isError = m.severity > 10;
    if (isError && messageLevel_ > 0 && m.severity < messageLevel_) {
        return;
    }
    route(isError, formatMessage(m, isError || messageLevel_ == -1));
}

void Printer::error(std::string_view text) {
    route(true, "Sqlcmd: Error: " + std::string(text) + "\n");
}

void Printer::warning(std::string_view text) {
    route(false, "Sqlcmd: Warning: " + std::string(text) + "\n");
}

void Printer::text(std::string_view text) {
    output_.write(text);
}

void Printer::flush() {
    output_.flush();
}

}  // namespace quill::sqlcmd
