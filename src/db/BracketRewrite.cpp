#include "db/BracketRewrite.h"

namespace quill::db {

QByteArray rewriteBrackets(const QByteArray& s, char quote) {
    QByteArray out;
    out.reserve(s.size() + 8);
    bool inLiteral = false;
    bool inIdentifier = false;
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = s[i];
        const bool doubled = i + 1 < n && s[i + 1] == c;
        if (inIdentifier) {
            if (c == ']' && doubled) {
                out += ']';
                ++i;
            } else if (c == ']') {
                out += quote;
                inIdentifier = false;
            } else if (c == quote && quote != ' ') {
                out += quote;
                out += quote;
            } else {
                out += c;
            }
        } else if (c == '\'') {
            out += c;
            if (doubled) {
                out += c;
                ++i;
            } else {
                inLiteral = !inLiteral;
            }
        } else if (inLiteral || (c != '[' && c != ']')) {
            out += c;
        } else if (doubled) {
            out += c;
            ++i;
        } else {
            out += quote;
            inIdentifier = c == '[';
        }
    }
    return out;
}

}  // namespace quill::db
