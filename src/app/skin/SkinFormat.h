#pragma once

// The skin data format read by the skin component. Plain text, UTF-8:
//
//   .SHE 1                      magic and format version, the first line
//   # comment                   comments and blank lines are skipped
//   [colors]                    named colours: <name> #rrggbb
//   window   #eef2f7
//   [palette]                   palette roles: [<Group>:]<Role> <colour name>
//   Window   window
//   Disabled:Text  muted
//   [style]                     style sheet up to the end of the data;
//   QWidget { color: @text; }   @name stands for a colour, @@ for '@'
//
// Sections come in this order; [palette] and [style] may be left out.
// Colours are named rather than written into the style sheet so that a hue,
// saturation or brightness shift reaches every colour the skin uses.
//
// Qt-free on purpose: the skin data comes from the caller of the component,
// and this parser is fuzzed on its own.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill::skin {

inline constexpr std::string_view kSkinMagic = ".SHE";
inline constexpr int kSkinVersion = 1;
// Larger skin data is refused without being read.
inline constexpr std::size_t kMaxSkinBytes = 1 << 20;

struct SkinColor {
    std::string name;
    std::uint32_t rgb = 0;  // 0xRRGGBB
};

struct PaletteEntry {
    std::string group;      // "Active", "Inactive", "Disabled", or empty for all groups
    std::string role;       // a QPalette::ColorRole key, such as "Window"
    std::size_t color = 0;  // index into Skin::colors
};

// A piece of the style sheet: literal text, or a reference to a colour.
struct StylePiece {
    std::string text;
    std::optional<std::size_t> color;  // index into Skin::colors
};

struct Skin {
    std::vector<SkinColor> colors;
    std::vector<PaletteEntry> palette;
    std::vector<StylePiece> style;
};

struct ParseError {
    int line = 0;  // 1-based; 0 when the data as a whole is wrong
    std::string message;
};

// Reads skin data. On failure, *error (when given) says where and why.
std::optional<Skin> parseSkin(std::string_view data, ParseError* error = nullptr);

// The style sheet with each colour reference replaced by "#rrggbb" taken from
// colors (one entry per Skin::colors entry, possibly shifted).
std::string expandStyle(const Skin& skin, const std::vector<std::uint32_t>& colors);

}  // namespace quill::skin
