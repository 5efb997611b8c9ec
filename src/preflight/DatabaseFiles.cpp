#include "preflight/DatabaseFiles.h"

namespace quill::preflight {

namespace {

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameWord(std::string_view word, std::string_view lowerCase) {
    if (word.size() != lowerCase.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (lower(word[i]) != lowerCase[i])
            return false;
    return true;
}

bool wordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '@' || c == '#' || c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

struct Token {
    enum Kind { Word, Name, String, Symbol, End } kind = End;
    std::string text;  // Word: as written; Name and String: the content
    long line = 0;
};

// Just enough of T-SQL's lexer to tell words, quoted names and literals
// apart, with comments (nested) skipped.
class Lexer {
public:
    explicit Lexer(std::string_view s) : s_(s) {}

    Token next() {
        skipBlanksAndComments();
        Token t;
        t.line = line_;
        if (i_ >= s_.size())
            return t;
        const char c = s_[i_];
        if ((c == 'N' || c == 'n') && i_ + 1 < s_.size() && s_[i_ + 1] == '\'') {
            ++i_;
            return quoted('\'', Token::String, t);
        }
        if (c == '\'')
            return quoted('\'', Token::String, t);
        if (c == '[')
            return quoted(']', Token::Name, t);
        if (c == '"')
            return quoted('"', Token::Name, t);
        if (wordChar(c)) {
            const std::size_t start = i_;
            while (i_ < s_.size() && wordChar(s_[i_]))
                ++i_;
            t.kind = Token::Word;
            t.text = std::string(s_.substr(start, i_ - start));
            return t;
        }
        ++i_;
        t.kind = Token::Symbol;
        t.text = std::string(1, c);
        return t;
    }

private:
    void skipBlanksAndComments() {
        while (i_ < s_.size()) {
            const char c = s_[i_];
            if (c == '\n') {
                ++line_;
                ++i_;
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
                ++i_;
            } else if (c == '-' && i_ + 1 < s_.size() && s_[i_ + 1] == '-') {
                while (i_ < s_.size() && s_[i_] != '\n')
                    ++i_;
            } else if (c == '/' && i_ + 1 < s_.size() && s_[i_ + 1] == '*') {
                int depth = 0;
                do {
                    if (s_.compare(i_, 2, "/*") == 0) {
                        ++depth;
                        i_ += 2;
                    } else if (s_.compare(i_, 2, "*/") == 0) {
                        --depth;
                        i_ += 2;
                    } else {
                        line_ += s_[i_] == '\n';
                        ++i_;
                    }
                } while (depth > 0 && i_ < s_.size());
            } else {
                return;
            }
        }
    }

    // A literal or quoted name; the closing character doubled stands for itself.
    Token quoted(char close, Token::Kind kind, Token t) {
        ++i_;
        t.kind = kind;
        while (i_ < s_.size()) {
            const char c = s_[i_++];
            if (c == close) {
                if (i_ < s_.size() && s_[i_] == close) {
                    t.text += close;
                    ++i_;
                    continue;
                }
                return t;
            }
            line_ += c == '\n';
            t.text += c;
        }
        return t;  // unclosed: the server will say so
    }

    std::string_view s_;
    std::size_t i_ = 0;
    long line_ = 1;
};

}  // namespace

bool mayNameDatabaseFiles(std::string_view sql) {
    // Data batches are large and hold few '=' signs: look only before those.
    for (std::size_t at = sql.find('='); at != std::string_view::npos; at = sql.find('=', at + 1)) {
        std::size_t end = at;
        while (end > 0 && (sql[end - 1] == ' ' || sql[end - 1] == '\t' || sql[end - 1] == '\r' ||
                           sql[end - 1] == '\n'))
            --end;
        if (end >= 8 && sameWord(sql.substr(end - 8, 8), "filename") &&
            (end == 8 || !wordChar(sql[end - 9])))
            return true;
    }
    return false;
}

std::vector<DatabaseFile> findDatabaseFiles(std::string_view sql) {
    std::vector<DatabaseFile> found;
    Lexer lexer(sql);
    // The statement's database while inside CREATE/ALTER DATABASE; the
    // statement ends at the next CREATE, ALTER or USE.
    bool inDatabaseStatement = false;
    std::string database;
    bool afterCreateOrAlter = false;
    for (Token t = lexer.next(); t.kind != Token::End; t = lexer.next()) {
        const bool word = t.kind == Token::Word;
        if (word && afterCreateOrAlter && sameWord(t.text, "database")) {
            const Token name = lexer.next();
            inDatabaseStatement = name.kind == Token::Word || name.kind == Token::Name;
            database = inDatabaseStatement ? name.text : std::string();
            afterCreateOrAlter = false;
            continue;
        }
        afterCreateOrAlter = word && (sameWord(t.text, "create") || sameWord(t.text, "alter"));
        if (afterCreateOrAlter || (word && sameWord(t.text, "use"))) {
            inDatabaseStatement = false;
            continue;
        }
        if (!inDatabaseStatement || !word || !sameWord(t.text, "filename"))
            continue;
        if (Token equals = lexer.next(); equals.kind != Token::Symbol || equals.text != "=")
            continue;
        if (Token path = lexer.next(); path.kind == Token::String)
            found.push_back({database, path.text, path.line});
    }
    return found;
}

}  // namespace quill::preflight
