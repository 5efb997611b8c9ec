#pragma once

#include <string_view>

#include "Format.h"

namespace quill::sqlcmd {

class Output;

// Decides where each kind of text goes (-m, -r) and in what form.
class Printer {
public:
    // messageLevel: -m; errorsToStderr: -r (-1 off, 0 errors, 1 everything).
    Printer(Output& output, int messageLevel, int errorsToStderr);

    void serverMessage(const ServerMessage& m);
    // "Sqlcmd: Error: <text>" and "Sqlcmd: Warning: <text>".
    void error(std::string_view text);
    void warning(std::string_view text);
    // sqlcmd's own notes, routed like a message of that kind.
    void message(bool isError, std::string_view text) { route(isError, text); }
    // Results, row counts, echoed input: always the main stream.
    void text(std::string_view text);
    void flush();

private:
    void route(bool isError, std::string_view text);

    Output& output_;
    const int messageLevel_;
    const int errorsToStderr_;
};

}  // namespace quill::sqlcmd
