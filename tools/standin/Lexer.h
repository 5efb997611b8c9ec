#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Values.h"

namespace standin {

struct Token {
    enum class Kind : std::uint8_t {
        End,
        Word,        // keyword or plain identifier
        QuotedName,  // [name] or, with QUOTED_IDENTIFIER on, "name"
        String,      // 'text' or N'text'
        Integer,
        Decimal,
        Float,
        Binary,    // 0x...
        Variable,  // @name
        Global,    // @@name
        Symbol,    // operators and punctuation
        Error,     // unclosed quote or comment; see Lexer::error()
    };
    Kind kind = Kind::End;
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    std::int32_t line = 1;
};

// Splits T-SQL text into tokens on demand, skipping blanks and comments
// (nested /* */ comments included). Lines count from 1.
class Lexer {
public:
    explicit Lexer(std::u16string_view text, bool quotedIdentifier = true)
        : text_(text), quotedIdentifier_(quotedIdentifier) {}

    Token next();
    // From just after an opening parenthesis: steps over the text up to the
    // matching closing one (over literals, quoted names and comments) and
    // returns that closing parenthesis, or nullopt, not moving, when the
    // text ends first.
    std::optional<Token> skipParenthesized();
    // Continues from `offset` (a token boundary) with another QUOTED_IDENTIFIER
    // setting, which changes what double quotes mean.
    void restart(std::uint32_t offset, std::int32_t line, bool quotedIdentifier);

    std::u16string_view text(const Token& t) const { return text_.substr(t.offset, t.length); }
    // The name a Word or QuotedName stands for, without quotes or escapes.
    std::u16string name(const Token& t) const;
    // The content of a String token.
    std::u16string string(const Token& t) const;
    bool isNational(const Token& t) const {
        return t.kind == Token::Kind::String && (text_[t.offset] | 0x20) == u'n';
    }
    // Case-insensitive test of a Word or Symbol against an ASCII spelling.
    bool is(const Token& t, std::string_view spelling) const;
    const SqlError& error() const { return error_; }

private:
    bool atLineBreak(std::size_t i) const;
    Token quoted(std::size_t start, std::int32_t line, char16_t close, Token::Kind kind);

    std::u16string_view text_;
    std::size_t pos_ = 0;
    std::int32_t line_ = 1;
    bool quotedIdentifier_;
    SqlError error_;
};

}  // namespace standin
