#include "app/skin/ImageCheck.h"

#include <elf.h>

#include <bit>
#include <cstdint>
#include <cstring>

namespace quill::skin {
namespace {

#if UINTPTR_MAX == UINT64_MAX
using Ehdr = Elf64_Ehdr;
using Phdr = Elf64_Phdr;
using Shdr = Elf64_Shdr;
constexpr unsigned char kClass = ELFCLASS64;
#else
using Ehdr = Elf32_Ehdr;
using Phdr = Elf32_Phdr;
using Shdr = Elf32_Shdr;
constexpr unsigned char kClass = ELFCLASS32;
#endif

constexpr unsigned char kByteOrder =
    std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB;

#if defined(__x86_64__)
constexpr std::uint16_t kMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr std::uint16_t kMachine = EM_AARCH64;
#elif defined(__i386__)
constexpr std::uint16_t kMachine = EM_386;
#elif defined(__arm__)
constexpr std::uint16_t kMachine = EM_ARM;
#elif defined(__riscv)
constexpr std::uint16_t kMachine = EM_RISCV;
#elif defined(__powerpc64__)
constexpr std::uint16_t kMachine = EM_PPC64;
#else
#error "unknown machine: add its ELF machine number"
#endif

// Whether count entries of entrySize bytes from offset end within size.
bool tableFits(std::uint64_t offset, std::uint64_t count, std::uint64_t entrySize,
               std::size_t size) {
    std::uint64_t bytes = 0, end = 0;
    return !__builtin_mul_overflow(count, entrySize, &bytes) &&
           !__builtin_add_overflow(offset, bytes, &end) && end <= size;
}

template <class T>
T readAt(std::span<const std::byte> image, std::size_t offset) {
    T value;
    std::memcpy(&value, image.data() + offset, sizeof value);
    return value;
}

}  // namespace

ImageCheck checkImage(std::span<const std::byte> image) {
    // 64 bytes is the size of the 64-bit header; a 32-bit one is smaller.
    if (image.size() < 64 || image.size() < sizeof(Ehdr))
        return ImageCheck::TooShort;
    const auto h = readAt<Ehdr>(image, 0);
    if (std::memcmp(h.e_ident, ELFMAG, SELFMAG) != 0)
        return ImageCheck::NotElf;
    if (h.e_ident[EI_CLASS] != kClass)
        return ImageCheck::WrongClass;
    if (h.e_ident[EI_DATA] != kByteOrder)
        return ImageCheck::WrongByteOrder;
    if (h.e_machine != kMachine)
        return ImageCheck::WrongMachine;
    if (h.e_type != ET_DYN)
        return ImageCheck::NotSharedObject;

    if (h.e_phnum == 0 || h.e_phentsize != sizeof(Phdr) ||
        !tableFits(h.e_phoff, h.e_phnum, h.e_phentsize, image.size()))
        return ImageCheck::BadProgramHeaders;

    if (h.e_shoff != 0) {
        if (h.e_shentsize != sizeof(Shdr))
            return ImageCheck::BadSectionHeaders;
        std::uint64_t count = h.e_shnum;
        if (count == 0) {
            // Extended numbering: the real count is in the first section header.
            if (!tableFits(h.e_shoff, 1, sizeof(Shdr), image.size()))
                return ImageCheck::BadSectionHeaders;
            count = readAt<Shdr>(image, h.e_shoff).sh_size;
        }
        if (!tableFits(h.e_shoff, count, sizeof(Shdr), image.size()))
            return ImageCheck::BadSectionHeaders;
    }
    return ImageCheck::Ok;
}

const char* describe(ImageCheck check) {
    switch (check) {
        case ImageCheck::Ok:
            return "image accepted";
        case ImageCheck::TooShort:
            return "image too short";
        case ImageCheck::NotElf:
            return "not an ELF image";
        case ImageCheck::WrongClass:
            return "ELF class of another word size";
        case ImageCheck::WrongByteOrder:
            return "ELF image of another byte order";
        case ImageCheck::WrongMachine:
            return "ELF image for another machine";
        case ImageCheck::NotSharedObject:
            return "not a shared object";
        case ImageCheck::BadProgramHeaders:
            return "program headers missing or beyond the image";
        case ImageCheck::BadSectionHeaders:
            return "section headers beyond the image";
    }
    return "unknown check";
}

}  // namespace quill::skin
