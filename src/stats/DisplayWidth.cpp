#include "stats/DisplayWidth.h"

#include <QChar>
#include <algorithm>
#include <iterator>

namespace quill::stats {

namespace {

struct Range {
    char32_t first;
    char32_t last;
};

// East Asian Width W and F, merged into blocks, ascending. Emoji blocks
// count wide as a whole, as terminals and editors draw them.
constexpr Range kWide[] = {
    {0x1100, 0x115F},  // Hangul Jamo leading consonants
    {0x231A, 0x231B},  // watch, hourglass
    {0x2329, 0x232A},  // angle brackets
    {0x2E80, 0x303E},  // CJK radicals, Kangxi, description characters, CJK symbols and punctuation
    {0x3041,
     0x33FF},  // kana, Bopomofo, Hangul compatibility Jamo, Kanbun, enclosed CJK, CJK compatibility
    {0x3400, 0x4DBF},    // CJK extension A
    {0x4E00, 0x9FFF},    // CJK unified ideographs
    {0xA000, 0xA4CF},    // Yi
    {0xA960, 0xA97F},    // Hangul Jamo extended A
    {0xAC00, 0xD7A3},    // Hangul syllables
    {0xF900, 0xFAFF},    // CJK compatibility ideographs
    {0xFE10, 0xFE19},    // vertical forms
    {0xFE30, 0xFE6F},    // CJK compatibility forms, small form variants
    {0xFF00, 0xFF60},    // fullwidth forms
    {0xFFE0, 0xFFE6},    // fullwidth signs
    {0x16FE0, 0x16FE4},  // ideographic symbols
    {0x17000, 0x18CFF},  // Tangut, Khitan
    {0x1B000, 0x1B2FF},  // kana supplements, Nushu
    {0x1F300, 0x1F64F},  // pictographs, emoticons
    {0x1F900, 0x1F9FF},  // supplemental pictographs
    {0x20000, 0x2FFFD},  // CJK extensions B to F, compatibility supplement
    {0x30000, 0x3FFFD},  // CJK extension G and beyond
};

bool isWide(char32_t c) {
    const Range* r = std::upper_bound(std::begin(kWide), std::end(kWide), c,
                                      [](char32_t v, const Range& x) { return v < x.first; });
    return r != std::begin(kWide) && c <= std::prev(r)->last;
}

bool isZeroWidth(char32_t c) {
    switch (QChar::category(c)) {
        case QChar::Mark_NonSpacing:
        case QChar::Mark_Enclosing:
            return true;
        default:
            break;
    }
    // Hangul vowels and trailing consonants join the syllable before them;
    // the others are zero-width spaces, joiners and direction marks.
    return (c >= 0x1160 && c <= 0x11FF) || (c >= 0x200B && c <= 0x200F);
}

}  // namespace

int displayWidth(char32_t c) {
    if (isZeroWidth(c))
        return 0;
    return isWide(c) ? 2 : 1;
}

int displayWidth(const QString& text) {
    int width = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        width += displayWidth(c);
    }
    return width;
}

}  // namespace quill::stats
