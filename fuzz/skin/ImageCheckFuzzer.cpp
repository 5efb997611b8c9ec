// Arbitrary blocks through the image checks; whatever passes must really
// hold a shared object header for this machine with its tables inside.
#include <elf.h>

#include <cstdlib>
#include <cstring>

#include "app/skin/ImageCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    auto block = std::as_bytes(std::span(data, size));
    if (quill::skin::checkImage(block) != quill::skin::ImageCheck::Ok)
        return 0;
    Elf64_Ehdr h;
    if (size < sizeof h)
        std::abort();
    std::memcpy(&h, data, sizeof h);
    if (std::memcmp(h.e_ident, ELFMAG, SELFMAG) != 0 || h.e_type != ET_DYN)
        std::abort();
    if (h.e_phnum == 0 || h.e_phoff > size || (size - h.e_phoff) / sizeof(Elf64_Phdr) < h.e_phnum)
        std::abort();
    return 0;
}
