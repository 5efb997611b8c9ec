// Arbitrary skin data through the parser; a skin it accepts must expand
// without a colour reference left over.
#include <cstdlib>
#include <string_view>

#include "app/skin/SkinFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::optional<quill::skin::Skin> skin = quill::skin::parseSkin(text);
    if (!skin)
        return 0;
    std::vector<std::uint32_t> colors;
    for (const auto& color : skin->colors) {
        if (color.rgb > 0xFFFFFF)
            std::abort();
        colors.push_back(color.rgb);
    }
    for (const auto& entry : skin->palette)
        if (entry.color >= colors.size())
            std::abort();
    for (const auto& piece : skin->style)
        if (piece.color && *piece.color >= colors.size())
            std::abort();
    quill::skin::expandStyle(*skin, colors);
    return 0;
}
