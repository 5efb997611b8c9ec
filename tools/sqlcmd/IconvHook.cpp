// FreeTDS converts every batch it sends from the client's UTF-8 to UTF-16LE
// with iconv(3), and glibc's iconv goes through UCS-4 in two steps: a third
// of quill-sqlcmd's time on a data script went there. The executable
// defines iconv_open, iconv and iconv_close, which the dynamic linker binds
// DB-Library's calls to; they convert that one pair with utf16FromUtf8 and
// leave the rest of it (an invalid or incomplete sequence) and every other
// pair to glibc, so that the result is glibc's to the byte.
#include <dlfcn.h>
#include <iconv.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "Utf16.h"

namespace {

struct Real {
    decltype(&::iconv_open) open;
    decltype(&::iconv) convert;
    decltype(&::iconv_close) close;
};

template <typename F>
F next(const char* name) {
    void* f = ::dlvsym(RTLD_NEXT, name, "GLIBC_2.2.5");
    return reinterpret_cast<F>(f ? f : ::dlsym(RTLD_NEXT, name));
}

const Real& real() {
    static const Real r{next<decltype(&::iconv_open)>("iconv_open"),
                        next<decltype(&::iconv)>("iconv"),
                        next<decltype(&::iconv_close)>("iconv_close")};
    return r;
}

// A UTF-8 to UTF-16LE descriptor: glibc's, for what the fast path leaves.
struct Fast {
    iconv_t real;
};

std::array<std::atomic<Fast*>, 16> g_fast{};

Fast* fastOf(iconv_t cd) {
    for (auto& slot : g_fast) {
        if (slot.load(std::memory_order_acquire) == static_cast<void*>(cd)) {
            return static_cast<Fast*>(static_cast<void*>(cd));
        }
    }
    return nullptr;
}

}  // namespace

extern "C" {

iconv_t iconv_open(const char* tocode, const char* fromcode) noexcept {
    iconv_t cd = real().open(tocode, fromcode);
    if (cd == reinterpret_cast<iconv_t>(-1) || std::strcmp(tocode, "UTF-16LE") != 0 ||
        std::strcmp(fromcode, "UTF-8") != 0) {
        return cd;
    }
    Fast* fast = new Fast{cd};
    for (auto& slot : g_fast) {
        Fast* empty = nullptr;
        if (slot.compare_exchange_strong(empty, fast, std::memory_order_acq_rel)) {
            return static_cast<iconv_t>(static_cast<void*>(fast));
        }
    }
    delete fast;  // all slots taken: glibc's alone
    return cd;
}

size_t iconv(iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf,
             size_t* outbytesleft) noexcept {
    Fast* fast = fastOf(cd);
    if (!fast) {
        return real().convert(cd, inbuf, inbytesleft, outbuf, outbytesleft);
    }
    return quill::sqlcmd::iconvUtf16(fast->real, inbuf, inbytesleft, outbuf, outbytesleft);
}

int iconv_close(iconv_t cd) noexcept {
    Fast* fast = fastOf(cd);
    if (!fast) {
        return real().close(cd);
    }
    for (auto& slot : g_fast) {
        Fast* mine = fast;
        if (slot.compare_exchange_strong(mine, nullptr, std::memory_order_acq_rel)) {
            break;
        }
    }
    const int result = real().close(fast->real);
    delete fast;
    return result;
}

}  // extern "C"
