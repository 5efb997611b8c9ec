#pragma once

#include <cstddef>
#include <span>

namespace quill::skin {

// Byte blocks built into the program; they are never written to a file.

// The skin component, libquillskin.so.
std::span<const std::byte> embeddedSkinLibrary();

// The program's skin, in the skin data format (SkinFormat.h).
std::span<const std::byte> embeddedSkinData();

}  // namespace quill::skin
