#pragma once

#include <cstddef>
#include <span>

namespace quill::skin {

// What the loader checks in an image before the dynamic loader sees it: it
// must be a shared object this process could run, with its header tables
// inside the block.
enum class ImageCheck {
    Ok,
    TooShort,    // shorter than an ELF header
    NotElf,      // no ELF magic
    WrongClass,  // 32/64-bit class differs from this process's
    WrongByteOrder,
    WrongMachine,
    NotSharedObject,
    BadProgramHeaders,  // missing, or ending beyond the block
    BadSectionHeaders,  // ending beyond the block
};

ImageCheck checkImage(std::span<const std::byte> image);

const char* describe(ImageCheck check);

}  // namespace quill::skin
