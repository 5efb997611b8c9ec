#include "Utf16.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quill::sqlcmd {

Utf16Stop utf16FromUtf8(const char*& in, std::size_t& inLeft, char*& out, std::size_t& outLeft) {
    const auto* p = reinterpret_cast<const unsigned char*>(in);
    const unsigned char* const end = p + inLeft;
    auto* o = reinterpret_cast<unsigned char*>(out);
    const unsigned char* const oEnd = o + outLeft;
    Utf16Stop stop = Utf16Stop::InputEnd;
    while (p < end) {
#if defined(__SSE2__)
        // ASCII: zero-extend sixteen bytes to sixteen code units, and keep
        // those before the first byte that is not ASCII (the rest of the
        // store is written over).
        while (end - p >= 16 && oEnd - o >= 32) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i zero = _mm_setzero_si128();
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi8(v, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16), _mm_unpackhi_epi8(v, zero));
            const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
            const int ascii = high ? __builtin_ctz(high) : 16;
            p += ascii;
            o += 2 * ascii;
            if (high) {
                break;
            }
        }
        if (p == end) {
            break;
        }
#endif
        const unsigned c = p[0];
        if (c < 0x80) {
            if (oEnd - o < 2) {
                stop = Utf16Stop::OutputFull;
                break;
            }
            o[0] = static_cast<unsigned char>(c);
            o[1] = 0;
            o += 2;
            ++p;
            continue;
        }
        // Only the well-formed forms; anything else goes to the exact converter.
        std::uint32_t cp;
        int length;
        if (c >= 0xC2 && c <= 0xDF) {
            if (end - p < 2 || (p[1] & 0xC0) != 0x80) {
                stop = Utf16Stop::Other;
                break;
            }
            cp = ((c & 0x1F) << 6) | (p[1] & 0x3F);
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            if (end - p < 3 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80) {
                stop = Utf16Stop::Other;
                break;
            }
            cp = ((c & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
            if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) {
                stop = Utf16Stop::Other;
                break;
            }
            length = 3;
        } else if (c >= 0xF0 && c <= 0xF4) {
            if (end - p < 4 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80 ||
                (p[3] & 0xC0) != 0x80) {
                stop = Utf16Stop::Other;
                break;
            }
            cp = ((c & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
            if (cp < 0x10000 || cp > 0x10FFFF) {
                stop = Utf16Stop::Other;
                break;
            }
            length = 4;
        } else {
            stop = Utf16Stop::Other;
            break;
        }
        if (cp < 0x10000) {
            if (oEnd - o < 2) {
                stop = Utf16Stop::OutputFull;
                break;
            }
            o[0] = static_cast<unsigned char>(cp);
            o[1] = static_cast<unsigned char>(cp >> 8);
            o += 2;
        } else {
            if (oEnd - o < 4) {
                stop = Utf16Stop::OutputFull;
                break;
            }
            const std::uint32_t v = cp - 0x10000;
            const std::uint32_t high = 0xD800 + (v >> 10), low = 0xDC00 + (v & 0x3FF);
            o[0] = static_cast<unsigned char>(high);
            o[1] = static_cast<unsigned char>(high >> 8);
            o[2] = static_cast<unsigned char>(low);
            o[3] = static_cast<unsigned char>(low >> 8);
            o += 4;
        }
        p += length;
    }
    inLeft -= static_cast<std::size_t>(p - reinterpret_cast<const unsigned char*>(in));
    outLeft -= static_cast<std::size_t>(o - reinterpret_cast<unsigned char*>(out));
    in = reinterpret_cast<const char*>(p);
    out = reinterpret_cast<char*>(o);
    return stop;
}

std::size_t iconvUtf16(void* exact, char** inbuf, std::size_t* inbytesleft, char** outbuf,
                       std::size_t* outbytesleft) {
    const auto cd = static_cast<iconv_t>(exact);
    if (!inbuf || !*inbuf || !outbuf || !*outbuf) {
        return iconv(cd, inbuf, inbytesleft, outbuf, outbytesleft);
    }
    const char* in = *inbuf;
    const Utf16Stop stop = utf16FromUtf8(in, *inbytesleft, *outbuf, *outbytesleft);
    *inbuf = const_cast<char*>(in);
    switch (stop) {
        case Utf16Stop::InputEnd:
            return 0;
        case Utf16Stop::OutputFull:
            errno = E2BIG;
            return static_cast<std::size_t>(-1);
        case Utf16Stop::Other:
            break;
    }
    // The conversion keeps no state, so the exact converter takes over here.
    return iconv(cd, inbuf, inbytesleft, outbuf, outbytesleft);
}

}  // namespace quill::sqlcmd
