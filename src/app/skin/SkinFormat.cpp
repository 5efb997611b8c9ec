#include "app/skin/SkinFormat.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace quill::skin {
namespace {

constexpr std::size_t kMaxNameLength = 64;

bool isNameStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool isNameChar(char c) {
    return isNameStart(c) || (c >= '0' && c <= '9');
}
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

bool isName(std::string_view s) {
    return !s.empty() && s.size() <= kMaxNameLength && isNameStart(s[0]) &&
           std::all_of(s.begin() + 1, s.end(), isNameChar);
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Splits "a b" into its two blank-separated words; false for any other count.
bool splitPair(std::string_view line, std::string_view& first, std::string_view& second) {
    auto end = std::find_if(line.begin(), line.end(), isBlank);
    first = std::string_view(line.begin(), end);
    second = trim(std::string_view(end, line.end()));
    return !first.empty() && !second.empty() && std::none_of(second.begin(), second.end(), isBlank);
}

std::optional<std::uint32_t> parseRgb(std::string_view s) {
    if (s.size() != 7 || s[0] != '#')
        return std::nullopt;
    std::uint32_t value = 0;
    auto [ptr, ec] = std::from_chars(s.data() + 1, s.data() + s.size(), value, 16);
    if (ec != std::errc() || ptr != s.data() + s.size())
        return std::nullopt;
    return value;
}

bool isGroup(std::string_view s) {
    return s == "Active" || s == "Inactive" || s == "Disabled";
}

class Parser {
public:
    Parser(std::string_view data, ParseError* error) : rest_(data), error_(error) {}

    std::optional<Skin> run() {
        if (!checkWhole() || !readHeader())
            return std::nullopt;

        enum class Section { None, Colors, Palette } section = Section::None;
        while (!rest_.empty()) {
            std::string_view line = trim(nextLine());
            if (line.empty() || line.front() == '#')
                continue;
            if (line == "[colors]" && section == Section::None) {
                section = Section::Colors;
            } else if (line == "[palette]" && section != Section::Palette) {
                section = Section::Palette;
            } else if (line == "[style]") {
                return readStyle() ? std::optional<Skin>(std::move(skin_)) : std::nullopt;
            } else if (section == Section::Colors) {
                if (!readColor(line))
                    return std::nullopt;
            } else if (section == Section::Palette) {
                if (!readPaletteEntry(line))
                    return std::nullopt;
            } else {
                fail(line_, "unexpected line");
                return std::nullopt;
            }
        }
        return std::move(skin_);
    }

private:
    std::string_view nextLine() {
        ++line_;
        std::size_t end = rest_.find('\n');
        std::string_view line = rest_.substr(0, end);
        rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
        return line;
    }

    bool checkWhole() {
        if (rest_.size() > kMaxSkinBytes)
            return fail(0, "skin data too large");
        if (rest_.find('\0') != std::string_view::npos)
            return fail(0, "skin data holds a zero byte");
        return true;
    }

    bool readHeader() {
        std::string_view header = nextLine();
        if (header.substr(0, kSkinMagic.size()) != kSkinMagic)
            return fail(1, "not skin data");
        header.remove_prefix(kSkinMagic.size());
        if (header.empty() || !isBlank(header.front()))
            return fail(1, "missing format version");
        std::string_view version = trim(header);
        int number = 0;
        auto [ptr, ec] = std::from_chars(version.data(), version.data() + version.size(), number);
        if (ec != std::errc() || ptr != version.data() + version.size())
            return fail(1, "missing format version");
        if (number != kSkinVersion)
            return fail(1, "unsupported format version");
        return true;
    }

    bool readColor(std::string_view line) {
        std::string_view name, value;
        if (!splitPair(line, name, value) || !isName(name))
            return fail(line_, "expected <name> #rrggbb");
        std::optional<std::uint32_t> rgb = parseRgb(value);
        if (!rgb)
            return fail(line_, "bad colour value");
        if (findColor(name))
            return fail(line_, "colour defined twice");
        skin_.colors.push_back({std::string(name), *rgb});
        return true;
    }

    bool readPaletteEntry(std::string_view line) {
        std::string_view key, colorName;
        if (!splitPair(line, key, colorName))
            return fail(line_, "expected [<Group>:]<Role> <colour>");
        std::string_view group;
        if (std::size_t colon = key.find(':'); colon != std::string_view::npos) {
            group = key.substr(0, colon);
            key.remove_prefix(colon + 1);
            if (!isGroup(group))
                return fail(line_, "unknown colour group");
        }
        if (!isName(key))
            return fail(line_, "bad role name");
        std::optional<std::size_t> color = findColor(colorName);
        if (!color)
            return fail(line_, "unknown colour");
        skin_.palette.push_back({std::string(group), std::string(key), *color});
        return true;
    }

    bool readStyle() {
        std::string literal;
        for (std::size_t i = 0; i < rest_.size(); ++i) {
            char c = rest_[i];
            if (c == '\n')
                ++line_;
            if (c != '@') {
                literal += c;
                continue;
            }
            if (i + 1 < rest_.size() && rest_[i + 1] == '@') {
                literal += '@';
                ++i;
                continue;
            }
            std::size_t end = i + 1;
            while (end < rest_.size() && isNameChar(rest_[end]))
                ++end;
            std::optional<std::size_t> color = findColor(rest_.substr(i + 1, end - i - 1));
            if (!color)
                return fail(line_ + 1, "unknown colour in style");
            skin_.style.push_back({std::move(literal), color});
            literal.clear();
            i = end - 1;
        }
        if (!literal.empty())
            skin_.style.push_back({std::move(literal), std::nullopt});
        return true;
    }

    std::optional<std::size_t> findColor(std::string_view name) const {
        for (std::size_t i = 0; i < skin_.colors.size(); ++i)
            if (skin_.colors[i].name == name)
                return i;
        return std::nullopt;
    }

    bool fail(int line, const char* message) {
        if (error_)
            *error_ = {line, message};
        return false;
    }

    std::string_view rest_;
    ParseError* error_;
    int line_ = 0;
    Skin skin_;
};

}  // namespace

std::optional<Skin> parseSkin(std::string_view data, ParseError* error) {
    return Parser(data, error).run();
}

std::string expandStyle(const Skin& skin, const std::vector<std::uint32_t>& colors) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (const StylePiece& piece : skin.style) {
        out += piece.text;
        if (!piece.color || *piece.color >= colors.size())
            continue;
        std::uint32_t rgb = colors[*piece.color];
        std::array<char, 7> text{'#'};
        for (int i = 0; i < 6; ++i)
            text[1 + i] = kHex[(rgb >> (20 - 4 * i)) & 0xF];
        out.append(text.data(), text.size());
    }
    return out;
}

}  // namespace quill::skin
