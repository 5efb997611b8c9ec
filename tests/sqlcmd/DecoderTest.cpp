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

TEST(Decoder, KnowsWhichCodePagesItCanRead) {
    EXPECT_TRUE(Decoder::supported(936));
    EXPECT_TRUE(Decoder::supported(1252));
    EXPECT_TRUE(Decoder::supported(1200));
    EXPECT_FALSE(Decoder::supported(4242));
}

}  // namespace
