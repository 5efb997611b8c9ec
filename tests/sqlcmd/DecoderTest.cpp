#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "Decoder.h"

using namespace quill::sqlcmd;

namespace {

struct Decoded {
    bool ok;
    std::string text;
    Encoding encoding;
    std::uint64_t offset;
    std::uint64_t line;
};

// Decodes `raw` fed `chunk` bytes at a time.
Decoded decode(std::string_view raw, int codePage = 0, std::size_t chunk = 1 << 20) {
    Decoder d(codePage);
    Decoded r{true, {}, Encoding::Unknown, 0, 0};
    std::size_t at = 0;
    do {
        std::size_t n = std::min(chunk, raw.size() - at);
        bool end = at + n == raw.size();
        if (!d.decode(raw.substr(at, n), end, r.text)) {
            r.ok = false;
            break;
        }
        at += n;
    } while (at < raw.size());
    if (raw.empty()) {
        r.ok = d.decode({}, true, r.text);
    }
    r.encoding = d.encoding();
    r.offset = d.errorOffset();
    // After a failure the output ends with the text before the bad byte.
    r.line = 1 + static_cast<std::uint64_t>(std::count(r.text.begin(), r.text.end(), '\n'));
    return r;
}

std::string bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b) {
        s += static_cast<char>(c);
    }
    return s;
}

const std::string kChinese = "中文";  // U+4E2D U+6587

TEST(Decoder, ReadsEachEncodingWhateverTheChunkSize) {
    struct Case {
        const char* name;
        std::string raw;
        int codePage;
        Encoding encoding;
    } cases[] = {
        {"plain utf8", "select N'" + kChinese + "'\r\n", 0, Encoding::Utf8},
        {"empty", "", 0, Encoding::Utf8},
        {"utf8 bom",
         "\xEF\xBB\xBF"
         "select N'" +
             kChinese + "'\r\n",
         0, Encoding::Utf8Bom},
        {"utf16le bom",
         bytes({0xFF, 0xFE, 's', 0,    'e', 0,    'l',  0,    'e',  0,    'c', 0,    't', 0,    ' ',
                0,    'N',  0,   '\'', 0,   0x2D, 0x4E, 0x87, 0x65, '\'', 0,   '\r', 0,   '\n', 0}),
         0, Encoding::Utf16LE},
        {"utf16be bom",
         bytes({0xFE, 0xFF, 0, 's',  0,    'e',  0,    'l',  0, 'e',  0, 'c',  0, 't', 0, ' ',
                0,    'N',  0, '\'', 0x4E, 0x2D, 0x65, 0x87, 0, '\'', 0, '\r', 0, '\n'}),
         0, Encoding::Utf16BE},
        {"utf32le bom",
         bytes({0xFF, 0xFE, 0, 0, 's',  0,    0, 0, 'e',  0, 0, 0, 'l',  0, 0, 0, 'e',  0, 0, 0,
                'c',  0,    0, 0, 't',  0,    0, 0, ' ',  0, 0, 0, 'N',  0, 0, 0, '\'', 0, 0, 0,
                0x2D, 0x4E, 0, 0, 0x87, 0x65, 0, 0, '\'', 0, 0, 0, '\r', 0, 0, 0, '\n', 0, 0, 0}),
         0, Encoding::Utf32LE},
        {"gbk with -f 936", "select N'" + bytes({0xD6, 0xD0, 0xCE, 0xC4}) + "'\r\n", 936,
         Encoding::CodePage},
        {"-f 65001", "select N'" + kChinese + "'\r\n", 65001, Encoding::Utf8},
        {"bom beats -f",
         "\xEF\xBB\xBF"
         "select N'" +
             kChinese + "'\r\n",
         936, Encoding::Utf8Bom},
    };
    for (const auto& c : cases) {
        for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{1024}}) {
            Decoded d = decode(c.raw, c.codePage, chunk);
            ASSERT_TRUE(d.ok) << c.name << " chunk " << chunk;
            EXPECT_EQ(d.encoding, c.encoding) << c.name;
            EXPECT_EQ(d.text, c.raw.empty() ? "" : "select N'" + kChinese + "'\r\n")
                << c.name << " chunk " << chunk;
        }
    }
}

TEST(Decoder, SupplementaryCharactersFromUtf16) {
    // U+1F600 as a surrogate pair.
    Decoded d = decode(bytes({0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE}), 0, 1);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.text, "\xF0\x9F\x98\x80");
}

TEST(Decoder, Windows1252WithMinusF) {
    Decoded d = decode("caf\xE9 \x80\n", 1252);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.text, "caf\xC3\xA9 \xE2\x82\xAC\n");
}

TEST(Decoder, RefusesWhatDoesNotDecodeAndSaysWhere) {
    struct Case {
        const char* name;
        std::string raw;
        int codePage;
        std::uint64_t offset;
        std::uint64_t line;
    } cases[] = {
        {"gbk read as utf8", "select 1\nselect N'" + bytes({0xD6, 0xD0}) + "'\n", 0, 18, 2},
        {"overlong", "ab\n\n" + bytes({0xC0, 0xAF}), 0, 4, 3},
        {"surrogate in utf8", "x" + bytes({0xED, 0xA0, 0x80}), 0, 1, 1},
        {"nul byte", std::string("ab\0c", 4), 0, 2, 1},
        {"cut at end", "ab" + bytes({0xE4, 0xB8}), 0, 2, 1},
        {"utf16 lone low surrogate", bytes({0xFF, 0xFE, 'a', 0, 0x00, 0xDC}), 0, 4, 1},
        {"utf16 high then plain", bytes({0xFF, 0xFE, 0x3D, 0xD8, 'a', 0}), 0, 2, 1},
        {"utf16 odd length", bytes({0xFF, 0xFE, 'a', 0, 'b'}), 0, 4, 1},
        {"utf16 nul", bytes({0xFF, 0xFE, 'a', 0, 0, 0}), 0, 4, 1},
        {"1252 undefined byte", "ok\n\x81", 1252, 3, 2},
        {"gbk cut at end", "x" + bytes({0xD6}), 936, 1, 1},
        {"gbk nul", "a\n" + bytes({0xD6, 0xD0}) + "\n" + std::string("b\0", 2), 936, 6, 3},
    };
    for (const auto& c : cases) {
        for (std::size_t chunk : {std::size_t{1}, std::size_t{4096}}) {
            Decoded d = decode(c.raw, c.codePage, chunk);
            EXPECT_FALSE(d.ok) << c.name;
            EXPECT_EQ(d.offset, c.offset) << c.name << " chunk " << chunk;
            EXPECT_EQ(d.line, c.line) << c.name << " chunk " << chunk;
        }
    }
}

// The ASCII fast path reads 16 bytes at a time: whatever stops it must be
// found wherever it sits in such a block.
TEST(Decoder, FindsEachSpecialByteWhereverItSitsInABlock) {
    for (std::size_t at = 0; at < 40; ++at) {
        const std::string before(at, 'a'), after(40 - at, 'b');
        const std::string wide = before + kChinese + after;
        Decoded good = decode(wide);
        EXPECT_TRUE(good.ok) << at;
        EXPECT_EQ(good.text, wide) << at;
        for (int bad : {0xFF, 0x00, 0x80}) {
            Decoded d = decode(before + bytes({bad}) + after);
            EXPECT_FALSE(d.ok) << at << " " << bad;
            EXPECT_EQ(d.offset, at) << at << " " << bad;
        }
    }
}

std::string utf16(std::u16string_view text, bool le) {
    std::string out = le ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t c : text) {
        const char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
        out += le ? low : high;
        out += le ? high : low;
    }
    return out;
}

// UTF-16 reads eight ASCII characters at a time: the same holds there.
TEST(Decoder, FindsEachUtf16CharacterWhereverItSitsInABlock) {
    for (bool le : {true, false}) {
        // From 1: "FF FE 00 00" would be UTF-32's byte-order mark.
        for (std::size_t at = 1; at < 20; ++at) {
            const std::u16string before(at, u'a'), after(20 - at, u'b');
            Decoded good = decode(utf16(before + u"中\x7F" + after, le));
            EXPECT_TRUE(good.ok) << at;
            EXPECT_EQ(good.text, std::string(at, 'a') + "中\x7F" + std::string(20 - at, 'b'));
            for (char16_t bad : {u'\0', u'\xDC00'}) {
                Decoded d = decode(utf16(before + bad + after, le));
                EXPECT_FALSE(d.ok) << at;
                EXPECT_EQ(d.offset, 2 + 2 * at) << at;
            }
        }
    }
}

// Offsets in the file: how many bytes each piece of decoded text came from.
TEST(Decoder, TellsTheInputBytesOfDecodedText) {
    const std::string text =
        "INSERT [dbo].[订单] VALUES (N'客户 é 😀', 1)\r\n-- a longer ASCII tail";
    const std::u16string wide =
        u"INSERT [dbo].[订单] VALUES (N'客户 é \U0001F600', 1)\r\n-- a longer ASCII tail";
    struct Case {
        const char* name;
        std::string raw;
        int codePage;
        std::size_t bom;
    } cases[] = {
        {"utf8", text, 0, 0},
        {"utf8 bom", "\xEF\xBB\xBF" + text, 0, 3},
        {"utf16le", utf16(wide, true), 0, 2},
        {"utf16be", utf16(wide, false), 0, 2},
    };
    for (const auto& c : cases) {
        Decoder d(c.codePage);
        std::string out;
        ASSERT_TRUE(d.decode(c.raw, true, out)) << c.name;
        EXPECT_EQ(d.bomLength(), c.bom) << c.name;
        EXPECT_EQ(d.rawLength(out), c.raw.size() - c.bom) << c.name;
    }
    // GBK: two bytes a Chinese character.
    Decoder gbk(936);
    std::string out;
    ASSERT_TRUE(gbk.decode("x\xD6\xD0\xCE\xC4y", true, out));
    EXPECT_EQ(gbk.rawLength(out), 6u);
}

TEST(Decoder, KnowsWhichCodePagesItCanRead) {
    EXPECT_TRUE(Decoder::supported(936));
    EXPECT_TRUE(Decoder::supported(1252));
    EXPECT_TRUE(Decoder::supported(1200));
    EXPECT_FALSE(Decoder::supported(4242));
}

}  // namespace
