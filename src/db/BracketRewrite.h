#pragma once

#include <QByteArray>

namespace quill::db {

// Turns square-bracket identifiers into the driver's quoted identifiers
// before a statement is sent. Single-quoted literals are copied as they are
// ('' inside or outside one toggles nothing). Outside literals an opening
// bracket becomes `quote` and starts an identifier, "[[" becomes "[", and a
// lone "]" becomes `quote`. Inside an identifier "]]" is a "]", a single
// quote is an ordinary character, `quote` itself is doubled, and "]" ends it
// with `quote`; so "[a]]b]" and "[x"y]" name a]b and x"y. UTF-8 text can be
// walked bytewise: no multibyte sequence holds an ASCII byte.
QByteArray rewriteBrackets(const QByteArray& statement, char quote);

}  // namespace quill::db
