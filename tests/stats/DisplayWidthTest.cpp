#include <gtest/gtest.h>

#include "stats/DisplayWidth.h"

using quill::stats::displayWidth;

TEST(DisplayWidth, CharactersTakeTheColumnsATerminalGivesThem) {
    struct Case {
        char32_t c;
        int width;
    };
    const Case cases[] = {
        {U'a', 1},    {U' ', 1},    {U'é', 1},  // precomposed Latin
        {0x0301, 0},                            // combining acute accent
        {0x20DD, 0},                            // enclosing circle
        {0x200B, 0},                            // zero-width space
        {0x1160, 0},                            // Hangul vowel filler joins its syllable
        {0x1100, 2},                            // Hangul leading consonant
        {U'中', 2},   {U'表', 2},   {0x4E00, 2}, {0x9FFF, 2},  // CJK unified, both ends
        {0x3400, 2},                                           // extension A
        {U'。', 2},   {U'、', 2},   {0x3000, 2},               // CJK punctuation, ideographic space
        {0x3099, 0},                                           // combining kana voiced mark
        {0x303F, 1},                                           // half-fill space is narrow
        {U'ア', 2},   {U'ひ', 2},   {U'한', 2},                // kana, Hangul syllable
        {U'Ａ', 2},   {U'！', 2},   {0xFFE5, 2},               // fullwidth forms and signs
        {0xFF76, 1},                                           // halfwidth katakana
        {0x2018, 1},                 // typographic quote: ambiguous, narrow here
        {0x1F600, 2},                // emoticon
        {0x20000, 2}, {0x2A700, 2},  // CJK extensions B, C
        {0x10000, 1},                // Linear B
    };
    for (const Case& c : cases)
        EXPECT_EQ(displayWidth(c.c), c.width) << std::hex << unsigned(c.c);
}

TEST(DisplayWidth, TextsSumTheirCharactersAndPairSurrogates) {
    struct Case {
        QString text;
        int width;
    };
    const Case cases[] = {
        {"", 0},
        {"Orders", 6},
        {"订单明细", 8},
        {"dbo_订单2024", 12},
        {QString::fromUcs4(U"e\u0301"), 1},
        {QString::fromUcs4(U"\U00020000\U00020001"), 4},  // two surrogate pairs
        {QString(QChar(0xD800)), 1},                      // a lone surrogate is one narrow cell
    };
    for (const Case& c : cases)
        EXPECT_EQ(displayWidth(c.text), c.width) << c.text.toStdString();
}
