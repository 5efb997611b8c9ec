#include "Lexer.h"

#include <array>

namespace standin {
namespace {

enum : std::uint8_t { kBlank = 1, kDigit = 2, kNameStart = 4, kNameChar = 8 };

// Classes of the ASCII characters.
constexpr std::array<std::uint8_t, 128> kClasses = [] {
    std::array<std::uint8_t, 128> t{};
    for (char c : {' ', '\t', '\r', '\n', '\f', '\v', '\0'})
        t[static_cast<std::size_t>(c)] = kBlank;
    for (char c = '0'; c <= '9'; ++c)
        t[static_cast<std::size_t>(c)] = kDigit | kNameChar;
    for (char c = 'a'; c <= 'z'; ++c)
        t[static_cast<std::size_t>(c)] = kNameStart | kNameChar;
    for (char c = 'A'; c <= 'Z'; ++c)
        t[static_cast<std::size_t>(c)] = kNameStart | kNameChar;
    for (char c : {'_', '#'})
        t[static_cast<std::size_t>(c)] = kNameStart | kNameChar;
    for (char c : {'@', '$'})
        t[static_cast<std::size_t>(c)] = kNameChar;
    return t;
}();

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

bool isBlank(char16_t c) {
    if (c < 128)
        return kClasses[c] & kBlank;
    return c == 0xA0 || c == 0x3000 || c == 0xFEFF;
}

// Letters of any script may start and continue identifiers.
bool isNameStart(char16_t c) {
    if (c < 128)
        return kClasses[c] & kNameStart;
    return !isBlank(c);
}

bool isNameChar(char16_t c) {
    if (c < 128)
        return kClasses[c] & kNameChar;
    return !isBlank(c);
}

bool isHexDigit(char16_t c) {
    return isDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

}  // namespace

void Lexer::restart(std::uint32_t offset, std::int32_t line, bool quotedIdentifier) {
    pos_ = offset;
    line_ = line;
    quotedIdentifier_ = quotedIdentifier;
}

bool Lexer::atLineBreak(std::size_t i) const {
    return text_[i] == u'\n' ||
           (text_[i] == u'\r' && (i + 1 >= text_.size() || text_[i + 1] != u'\n'));
}

Token Lexer::quoted(std::size_t start, std::int32_t line, char16_t close, Token::Kind kind) {
    std::size_t i = pos_ + 1;
    std::int32_t lines = 0;
    while (i < text_.size()) {
        if (text_[i] == close) {
            if (i + 1 < text_.size() && text_[i + 1] == close) {
                i += 2;
                continue;
            }
            pos_ = i + 1;
            line_ += lines;
            return Token{kind, static_cast<std::uint32_t>(start),
                         static_cast<std::uint32_t>(pos_ - start), line};
        }
        if (atLineBreak(i))
            ++lines;
        ++i;
    }
    std::u16string rest(text_.substr(pos_ + 1));
    error_ =
        SqlError{105, 15, u"Unclosed quotation mark after the character string '" + rest + u"'."};
    pos_ = text_.size();
    return Token{Token::Kind::Error, static_cast<std::uint32_t>(start),
                 static_cast<std::uint32_t>(pos_ - start), line};
}

Token Lexer::next() {
    const std::size_t n = text_.size();
    for (;;) {
        while (pos_ < n && isBlank(text_[pos_])) {
            if (atLineBreak(pos_))
                ++line_;
            ++pos_;
        }
        if (pos_ + 1 < n && text_[pos_] == u'-' && text_[pos_ + 1] == u'-') {
            while (pos_ < n && text_[pos_] != u'\n' && text_[pos_] != u'\r')
                ++pos_;
            continue;
        }
        if (pos_ + 1 < n && text_[pos_] == u'/' && text_[pos_ + 1] == u'*') {
            std::int32_t startLine = line_;
            std::size_t start = pos_;
            int depth = 0;
            while (pos_ < n) {
                if (pos_ + 1 < n && text_[pos_] == u'/' && text_[pos_ + 1] == u'*') {
                    ++depth;
                    pos_ += 2;
                } else if (pos_ + 1 < n && text_[pos_] == u'*' && text_[pos_ + 1] == u'/') {
                    pos_ += 2;
                    if (--depth == 0)
                        break;
                } else {
                    if (atLineBreak(pos_))
                        ++line_;
                    ++pos_;
                }
            }
            if (depth > 0) {
                error_ = SqlError{113, 15, u"Missing end comment mark '*/'."};
                return Token{Token::Kind::Error, static_cast<std::uint32_t>(start),
                             static_cast<std::uint32_t>(n - start), startLine};
            }
            continue;
        }
        break;
    }
    const std::size_t start = pos_;
    const std::int32_t line = line_;
    auto make = [&](Token::Kind k) {
        return Token{k, static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(pos_ - start),
                     line};
    };
    if (pos_ >= n)
        return make(Token::Kind::End);
    const char16_t c = text_[pos_];
    const char16_t c1 = pos_ + 1 < n ? text_[pos_ + 1] : u'\0';

    if (c == u'\'')
        return quoted(start, line, u'\'', Token::Kind::String);
    if ((c == u'N' || c == u'n') && c1 == u'\'') {
        ++pos_;
        return quoted(start, line, u'\'', Token::Kind::String);
    }
    if (c == u'[')
        return quoted(start, line, u']', Token::Kind::QuotedName);
    if (c == u'"')
        return quoted(start, line, u'"',
                      quotedIdentifier_ ? Token::Kind::QuotedName : Token::Kind::String);
    if (c == u'0' && (c1 == u'x' || c1 == u'X')) {
        pos_ += 2;
        while (pos_ < n && isHexDigit(text_[pos_]))
            ++pos_;
        return make(Token::Kind::Binary);
    }
    if (isDigit(c) || (c == u'.' && isDigit(c1))) {
        Token::Kind kind = Token::Kind::Integer;
        while (pos_ < n && isDigit(text_[pos_]))
            ++pos_;
        if (pos_ < n && text_[pos_] == u'.') {
            kind = Token::Kind::Decimal;
            ++pos_;
            while (pos_ < n && isDigit(text_[pos_]))
                ++pos_;
        }
        if (pos_ < n && (text_[pos_] == u'e' || text_[pos_] == u'E')) {
            std::size_t e = pos_ + 1;
            if (e < n && (text_[e] == u'+' || text_[e] == u'-'))
                ++e;
            if (e < n && isDigit(text_[e])) {
                pos_ = e;
                while (pos_ < n && isDigit(text_[pos_]))
                    ++pos_;
                kind = Token::Kind::Float;
            }
        }
        return make(kind);
    }
    if (c == u'@') {
        bool global = c1 == u'@';
        pos_ += global ? 2 : 1;
        while (pos_ < n && isNameChar(text_[pos_]))
            ++pos_;
        return make(global ? Token::Kind::Global : Token::Kind::Variable);
    }
    if (isNameStart(c)) {
        while (pos_ < n && isNameChar(text_[pos_]))
            ++pos_;
        return make(Token::Kind::Word);
    }
    static const char16_t* twoCharSymbols[] = {u"<=", u">=", u"<>", u"!=", u"!<", u"!>", u"::"};
    for (const char16_t* s : twoCharSymbols) {
        if (c == s[0] && c1 == s[1]) {
            pos_ += 2;
            return make(Token::Kind::Symbol);
        }
    }
    ++pos_;
    return make(Token::Kind::Symbol);
}

std::optional<Token> Lexer::skipParenthesized() {
    const std::size_t n = text_.size();
    std::size_t i = pos_;
    std::int32_t line = line_;
    int depth = 1;
    while (i < n) {
        const char16_t c = text_[i];
        if (c == u'(') {
            ++depth;
        } else if (c == u')') {
            if (--depth == 0) {
                pos_ = i + 1;
                line_ = line;
                return Token{Token::Kind::Symbol, static_cast<std::uint32_t>(i), 1, line};
            }
        } else if (c == u'\'' || c == u'[' || c == u'"') {
            const char16_t close = c == u'[' ? u']' : c;
            for (++i;; ++i) {
                if (i >= n)
                    return std::nullopt;
                if (text_[i] == close) {
                    if (i + 1 < n && text_[i + 1] == close) {
                        ++i;
                        continue;
                    }
                    break;
                }
                if (atLineBreak(i))
                    ++line;
            }
        } else if (c == u'-' && i + 1 < n && text_[i + 1] == u'-') {
            while (i + 1 < n && text_[i + 1] != u'\n' && text_[i + 1] != u'\r')
                ++i;
        } else if (c == u'/' && i + 1 < n && text_[i + 1] == u'*') {
            return std::nullopt;  // rare inside a group: leave it to the tokens
        } else if (atLineBreak(i)) {
            ++line;
        }
        ++i;
    }
    return std::nullopt;
}

std::u16string Lexer::name(const Token& t) const {
    std::u16string_view raw = text(t);
    if (t.kind != Token::Kind::QuotedName)
        return std::u16string(raw);
    char16_t close = raw.front() == u'[' ? u']' : u'"';
    std::u16string out;
    for (std::size_t i = 1; i + 1 < raw.size(); ++i) {
        out += raw[i];
        if (raw[i] == close)
            ++i;  // a doubled closing quote stands for one
    }
    return out;
}

std::u16string Lexer::string(const Token& t) const {
    std::u16string_view raw = text(t);
    std::size_t open = raw.front() == u'\'' || raw.front() == u'"' ? 0 : 1;
    char16_t quote = raw[open];
    std::u16string out;
    for (std::size_t i = open + 1; i + 1 < raw.size(); ++i) {
        out += raw[i];
        if (raw[i] == quote)
            ++i;
    }
    return out;
}

bool Lexer::is(const Token& t, std::string_view spelling) const {
    if (t.kind != Token::Kind::Word && t.kind != Token::Kind::Symbol)
        return false;
    if (t.length != spelling.size())
        return false;
    for (std::size_t i = 0; i < spelling.size(); ++i) {
        char16_t c = text_[t.offset + i];
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c + 32);
        char16_t s = static_cast<char16_t>(spelling[i]);
        if (s >= u'A' && s <= u'Z')
            s = static_cast<char16_t>(s + 32);
        if (c != s)
            return false;
    }
    return true;
}

}  // namespace standin
