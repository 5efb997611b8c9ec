#pragma once

#include <QString>

namespace quill::stats {

// Columns a character takes in a monospaced view: 2 for East Asian wide and
// fullwidth characters (CJK ideographs, kana, Hangul, CJK punctuation,
// fullwidth forms), 0 for combining marks and zero-width characters, 1 for
// the rest.
int displayWidth(char32_t c);

// The sum over the text's characters (surrogate pairs count as one).
int displayWidth(const QString& text);

}  // namespace quill::stats
