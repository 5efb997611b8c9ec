#pragma once

#include <string_view>
#include <vector>

#include "Ast.h"
#include "Lexer.h"

namespace standin {

struct ParseError {
    SqlError error;
    std::int32_t line = 1;
};

struct ParsedBatch {
    std::vector<Statement> statements;
};

// Parses a whole batch before anything runs, as the server compiles a batch
// first: a syntax error anywhere means no statement of it runs.
// quotedIdentifier is the session's QUOTED_IDENTIFIER setting; a SET of it
// inside the batch applies to the text after it.
std::variant<ParsedBatch, ParseError> parseBatch(std::u16string_view text, bool quotedIdentifier);

}  // namespace standin
