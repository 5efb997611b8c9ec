#include <gtest/gtest.h>

#include <string>

#include "app/skin/EmbeddedBlocks.h"
#include "app/skin/SkinFormat.h"

using namespace quill::skin;

namespace {

const std::string kGood =
    ".SHE 1\r\n"
    "# comment\n"
    "[colors]\n"
    "  text  #102030 \n"
    "accent #A0b0C0\n"
    "[palette]\n"
    "WindowText text\n"
    "Disabled:Text accent\n"
    "[style]\n"
    "QLabel { color: @text; } /* a@@b */ QPushButton { background: @accent; }";

}  // namespace

TEST(SkinFormat, ReadsColoursPaletteAndStyle) {
    ParseError error;
    std::optional<Skin> skin = parseSkin(kGood, &error);
    ASSERT_TRUE(skin) << error.line << ": " << error.message;
    ASSERT_EQ(skin->colors.size(), 2u);
    EXPECT_EQ(skin->colors[0].name, "text");
    EXPECT_EQ(skin->colors[0].rgb, 0x102030u);
    EXPECT_EQ(skin->colors[1].rgb, 0xa0b0c0u);
    ASSERT_EQ(skin->palette.size(), 2u);
    EXPECT_EQ(skin->palette[0].group, "");
    EXPECT_EQ(skin->palette[0].role, "WindowText");
    EXPECT_EQ(skin->palette[1].group, "Disabled");
    EXPECT_EQ(skin->palette[1].color, 1u);

    EXPECT_EQ(expandStyle(*skin, {0x102030, 0xa0b0c0}),
              "QLabel { color: #102030; } /* a@b */ QPushButton { background: #a0b0c0; }");
    EXPECT_EQ(expandStyle(*skin, {0x000001, 0xffffff}),
              "QLabel { color: #000001; } /* a@b */ QPushButton { background: #ffffff; }");
}

TEST(SkinFormat, EmbeddedSkinIsValid) {
    std::span<const std::byte> data = embeddedSkinData();
    std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    ASSERT_EQ(text.substr(0, 4), ".SHE");
    ParseError error;
    std::optional<Skin> skin = parseSkin(text, &error);
    ASSERT_TRUE(skin) << error.line << ": " << error.message;
    EXPECT_FALSE(skin->palette.empty());
    std::vector<std::uint32_t> colors;
    for (const SkinColor& c : skin->colors)
        colors.push_back(c.rgb);
    EXPECT_EQ(expandStyle(*skin, colors).find('@'), std::string::npos);
}

TEST(SkinFormat, RefusesMalformedData) {
    struct Case {
        std::string data;
        int line;
        std::string message;
    };
    const Case cases[] = {
        {"", 1, "not skin data"},
        {"SHE. 1\n", 1, "not skin data"},
        {".SHE\n", 1, "missing format version"},
        {".SHE1\n", 1, "missing format version"},
        {".SHE x\n", 1, "missing format version"},
        {".SHE 2\n", 1, "unsupported format version"},
        {".SHE 1\nstray\n", 2, "unexpected line"},
        {".SHE 1\n[colors]\na #12345\n", 3, "bad colour value"},
        {".SHE 1\n[colors]\na #12345g\n", 3, "bad colour value"},
        {".SHE 1\n[colors]\na #123456 extra\n", 3, "expected <name> #rrggbb"},
        {".SHE 1\n[colors]\n9a #123456\n", 3, "expected <name> #rrggbb"},
        {".SHE 1\n[colors]\na #123456\na #654321\n", 4, "colour defined twice"},
        {".SHE 1\n[colors]\na #123456\n[palette]\nWindow b\n", 5, "unknown colour"},
        {".SHE 1\n[colors]\na #123456\n[palette]\nBright:Window a\n", 5, "unknown colour group"},
        {".SHE 1\n[colors]\na #123456\n[palette]\nWin-dow a\n", 5, "bad role name"},
        {".SHE 1\n[colors]\na #123456\n[style]\nA { }\nB { color: @b; }\n", 6,
         "unknown colour in style"},
        {".SHE 1\n[style]\nA { color: @; }\n", 3, "unknown colour in style"},
        {std::string(".SHE 1\n\0", 8), 0, "skin data holds a zero byte"},
        {".SHE 1\n" + std::string(kMaxSkinBytes, '#'), 0, "skin data too large"},
    };
    for (const Case& c : cases) {
        ParseError error;
        EXPECT_FALSE(parseSkin(c.data, &error)) << c.data.substr(0, 60);
        EXPECT_EQ(error.line, c.line) << c.data.substr(0, 60);
        EXPECT_EQ(error.message, c.message) << c.data.substr(0, 60);
    }
}
