#include "Decoder.h"

#include <iconv.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quill::sqlcmd {

namespace {

#if !defined(__SSE2__)
constexpr std::uint64_t kHigh = 0x8080808080808080ull;
constexpr std::uint64_t kOnes = 0x0101010101010101ull;
#endif

// Code pages read by our own decoders rather than iconv.
Encoding builtin(int codePage) {
    switch (codePage) {
        case 65001:
            return Encoding::Utf8;
        case 1200:
            return Encoding::Utf16LE;
        case 1201:
            return Encoding::Utf16BE;
        case 12000:
            return Encoding::Utf32LE;
        case 12001:
            return Encoding::Utf32BE;
        default:
            return Encoding::Unknown;
    }
}

// The double-byte code pages (CJK); the others have one byte a character.
bool doubleByte(int codePage) {
    switch (codePage) {
        case 932:
        case 936:
        case 949:
        case 950:
        case 1361:
        case 20932:
        case 20936:
        case 51949:
        case 54936:
            return true;
        default:
            return false;
    }
}

std::size_t sequenceLength(unsigned char lead) {
    return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
}

char* putUtf8(char* o, std::uint32_t cp) {
    if (cp < 0x80) {
        *o++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *o++ = static_cast<char>(0xC0 | (cp >> 6));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *o++ = static_cast<char>(0xE0 | (cp >> 12));
        *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *o++ = static_cast<char>(0xF0 | (cp >> 18));
        *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return o;
}

std::string hexByte(unsigned char b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", b);
    return buf;
}

}  // namespace

std::string iconvName(int codePage) {
    switch (codePage) {
        case 20127:
            return "ASCII";
        case 20936:
            return "GB2312";
        case 54936:
            return "GB18030";
        case 20932:
            return "EUC-JP";
        case 51949:
            return "EUC-KR";
        case 65000:
            return "UTF-7";
        default:
            break;
    }
    if (codePage >= 28591 && codePage <= 28599) {
        return "ISO-8859-" + std::to_string(codePage - 28590);
    }
    return "CP" + std::to_string(codePage);
}

const char* encodingName(Encoding e) {
    switch (e) {
        case Encoding::Utf8:
            return "UTF-8";
        case Encoding::Utf8Bom:
            return "UTF-8 with byte-order mark";
        case Encoding::Utf16LE:
            return "UTF-16LE";
        case Encoding::Utf16BE:
            return "UTF-16BE";
        case Encoding::Utf32LE:
            return "UTF-32LE";
        case Encoding::Utf32BE:
            return "UTF-32BE";
        case Encoding::CodePage:
            return "code page";
        case Encoding::Unknown:
            break;
    }
    return "unknown";
}

std::size_t validUtf8Prefix(std::string_view s, bool& truncated) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    std::size_t i = 0;
    truncated = false;
    for (;;) {
        // Sixteen plain ASCII bytes (none of them NUL) at a time.
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        while (i + 16 <= n) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const int special = _mm_movemask_epi8(_mm_or_si128(v, _mm_cmpeq_epi8(v, zero)));
            if (special != 0) {
                // Straight to the first byte that needs a look: the ASCII
                // before it is fine, and CJK text has some in every 16 bytes.
                i += static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(special)));
                break;
            }
            i += 16;
        }
#else
        while (i + 8 <= n) {
            std::uint64_t v;
            std::memcpy(&v, p + i, 8);
            if (((v | ((v - kOnes) & ~v)) & kHigh) != 0) {
                break;
            }
            i += 8;
        }
#endif
        if (i >= n) {
            return n;
        }
        const unsigned char c = p[i];
        if (c < 0x80) {
            if (c == 0) {
                return i;
            }
            ++i;
            continue;
        }
        std::size_t len;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) {
                lo = 0xA0;
            } else if (c == 0xED) {
                hi = 0x9F;
            }
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) {
                lo = 0x90;
            } else if (c == 0xF4) {
                hi = 0x8F;
            }
        } else {
            return i;
        }
        for (std::size_t k = 1; k < len; ++k) {
            if (i + k >= n) {
                truncated = true;
                return i;
            }
            const unsigned char b = p[i + k];
            if (k == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF)) {
                return i;
            }
        }
        i += len;
    }
}

Decoder::Decoder(int codePage) : codePage_(codePage) {}

Decoder::~Decoder() {
    if (iconv_) {
        iconv_close(static_cast<iconv_t>(iconv_));
    }
}

bool Decoder::supported(int codePage) {
    if (builtin(codePage) != Encoding::Unknown) {
        return true;
    }
    iconv_t cd = iconv_open("UTF-8", iconvName(codePage).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    iconv_close(cd);
    return true;
}

bool Decoder::fail(std::uint64_t offset, std::string text) {
    errorOffset_ = offset;
    errorText_ = std::move(text);
    return false;
}

bool Decoder::decode(std::string_view raw, bool end, std::string& out) {
    if (encoding_ != Encoding::Unknown) {
        switch (encoding_) {
            case Encoding::Utf8:
            case Encoding::Utf8Bom:
                return decodeUtf8(raw, end, out);
            case Encoding::Utf16LE:
            case Encoding::Utf16BE:
                return decodeUtf16(raw, end, out);
            case Encoding::Utf32LE:
            case Encoding::Utf32BE:
                return decodeUtf32(raw, end, out);
            case Encoding::CodePage:
                return decodeCodePage(raw, end, out);
            case Encoding::Unknown:
                break;
        }
    }
    // The first four bytes decide; a short file decides at its end.
    std::string head = std::move(pending_);
    pending_.clear();
    head.append(raw);
    if (head.size() < 4 && !end) {
        pending_ = std::move(head);
        return true;
    }
    auto starts = [&](const char* bom, std::size_t n) {
        return head.size() >= n && std::memcmp(head.data(), bom, n) == 0;
    };
    std::size_t bom = 0;
    if (starts("\xFF\xFE\x00\x00", 4)) {
        encoding_ = Encoding::Utf32LE, bom = 4;
    } else if (starts("\x00\x00\xFE\xFF", 4)) {
        encoding_ = Encoding::Utf32BE, bom = 4;
    } else if (starts("\xEF\xBB\xBF", 3)) {
        encoding_ = Encoding::Utf8Bom, bom = 3;
    } else if (starts("\xFF\xFE", 2)) {
        encoding_ = Encoding::Utf16LE, bom = 2;
    } else if (starts("\xFE\xFF", 2)) {
        encoding_ = Encoding::Utf16BE, bom = 2;
    } else if (codePage_ == 0) {
        encoding_ = Encoding::Utf8;
    } else if (Encoding e = builtin(codePage_); e != Encoding::Unknown) {
        encoding_ = e;
    } else {
        iconv_t cd = iconv_open("UTF-8", iconvName(codePage_).c_str());
        if (cd == reinterpret_cast<iconv_t>(-1)) {
            return fail(
                0, "code page " + std::to_string(codePage_) + " is not supported on this system");
        }
        iconv_ = cd;
        encoding_ = Encoding::CodePage;
    }
    consumed_ = bom;
    bomLength_ = bom;
    codePageWidth_ = doubleByte(codePage_) ? 2 : 1;
    return decode(std::string_view(head).substr(bom), end, out);
}

std::uint64_t Decoder::rawLength(std::string_view decoded) const {
    if (encoding_ == Encoding::Utf8 || encoding_ == Encoding::Utf8Bom ||
        encoding_ == Encoding::Unknown) {
        return decoded.size();
    }
    // Characters counted by their UTF-8 lead bytes: continuation bytes are
    // 0x80-0xBF, four-byte leads 0xF0-0xF4.
    std::uint64_t continuation = 0, ascii = 0, supplementary = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= decoded.size(); i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(decoded.data() + i));
        // As signed bytes: continuation < -64 <= other non-ASCII < 0 <= ASCII.
        const auto count = [](__m128i mask) {
            return static_cast<std::uint64_t>(
                __builtin_popcount(static_cast<unsigned>(_mm_movemask_epi8(mask))));
        };
        continuation += count(_mm_cmplt_epi8(v, _mm_set1_epi8(-64)));
        ascii += count(_mm_cmpgt_epi8(v, _mm_set1_epi8(-1)));
        supplementary += count(_mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(-17)),
                                             _mm_cmplt_epi8(v, _mm_setzero_si128())));
    }
#endif
    for (; i < decoded.size(); ++i) {
        const auto c = static_cast<unsigned char>(decoded[i]);
        continuation += (c & 0xC0) == 0x80;
        ascii += c < 0x80;
        supplementary += c >= 0xF0;
    }
    const std::uint64_t chars = decoded.size() - continuation;
    switch (encoding_) {
        case Encoding::Utf16LE:
        case Encoding::Utf16BE:
            return 2 * (chars + supplementary);
        case Encoding::Utf32LE:
        case Encoding::Utf32BE:
            return 4 * chars;
        default:
            return ascii +
                   static_cast<std::uint64_t>(codePageWidth_) * (chars - ascii - supplementary) +
                   4 * supplementary;
    }
}

bool Decoder::decodeUtf8(std::string_view raw, bool end, std::string& out) {
    if (!pending_.empty()) {
        // Complete the character cut at the end of the last chunk.
        const std::size_t need =
            sequenceLength(static_cast<unsigned char>(pending_[0])) - pending_.size();
        if (raw.size() < need) {
            pending_.append(raw);
            if (end) {
                return fail(consumed_, "the file ends inside a UTF-8 character");
            }
            return true;
        }
        pending_.append(raw.substr(0, need));
        bool truncated;
        if (validUtf8Prefix(pending_, truncated) != pending_.size()) {
            return fail(consumed_, "byte " + hexByte(static_cast<unsigned char>(pending_[0])) +
                                       " does not start a valid UTF-8 character");
        }
        out.append(pending_);
        consumed_ += pending_.size();
        pending_.clear();
        raw.remove_prefix(need);
    }
    bool truncated;
    const std::size_t valid = validUtf8Prefix(raw, truncated);
    out.append(raw.data(), valid);
    consumed_ += valid;
    if (valid == raw.size()) {
        return true;
    }
    if (truncated && !end) {
        pending_.assign(raw.substr(valid));
        return true;
    }
    if (truncated) {
        return fail(consumed_, "the file ends inside a UTF-8 character");
    }
    const auto bad = static_cast<unsigned char>(raw[valid]);
    if (bad == 0) {
        return fail(consumed_,
                    "a NUL byte; a UTF-16 file without a byte-order mark "
                    "reads with -f 1200");
    }
    return fail(consumed_, "byte " + hexByte(bad) + " is not valid UTF-8");
}

bool Decoder::decodeUtf16(std::string_view raw, bool end, std::string& out) {
    const bool le = encoding_ == Encoding::Utf16LE;
    std::string joined;
    if (!pending_.empty()) {
        joined = pending_;
        joined.append(raw);
        raw = joined;
        pending_.clear();
    }
    const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
    const std::size_t units = raw.size() / 2;
    const std::size_t base = out.size();
    out.resize(base + units * 3 + 4);
    char* o = out.data() + base;
    for (std::size_t k = 0; k < units; ++k) {
#if defined(__SSE2__)
        // Eight ASCII characters (not NUL) at a time: SSMS's "Unicode" files
        // are mostly ASCII.
        while (!highSurrogate_ && units - k >= 8) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * k));
            if (!le) {
                v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
            }
            const __m128i zero = _mm_setzero_si128();
            const __m128i wide = _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFF80)));
            const __m128i bad =
                _mm_or_si128(_mm_xor_si128(_mm_cmpeq_epi16(wide, zero), _mm_set1_epi16(-1)),
                             _mm_cmpeq_epi16(v, zero));
            if (_mm_movemask_epi8(bad) != 0) {
                break;
            }
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(v, v));
            o += 8;
            k += 8;
        }
        if (k == units) {
            break;
        }
#endif
        const unsigned char* b = p + 2 * k;
        const std::uint32_t u = le ? (b[0] | (b[1] << 8)) : ((b[0] << 8) | b[1]);
        const std::uint64_t at = consumed_ + 2 * k;
        if (highSurrogate_) {
            if (u < 0xDC00 || u > 0xDFFF) {
                out.resize(static_cast<std::size_t>(o - out.data()));
                return fail(at - 2, "an unpaired UTF-16 surrogate");
            }
            o = putUtf8(o, 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (u - 0xDC00));
            highSurrogate_ = 0;
        } else if (u >= 0xD800 && u <= 0xDBFF) {
            highSurrogate_ = u;
        } else if ((u >= 0xDC00 && u <= 0xDFFF) || u == 0) {
            out.resize(static_cast<std::size_t>(o - out.data()));
            return fail(at, u == 0 ? "a NUL character" : "an unpaired UTF-16 surrogate");
        } else {
            o = putUtf8(o, u);
        }
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    consumed_ += units * 2;
    if (raw.size() % 2) {
        pending_.assign(1, raw.back());
    }
    if (end && (highSurrogate_ || !pending_.empty())) {
        return fail(consumed_, "the file ends inside a UTF-16 character");
    }
    return true;
}

bool Decoder::decodeUtf32(std::string_view raw, bool end, std::string& out) {
    const bool le = encoding_ == Encoding::Utf32LE;
    std::string joined;
    if (!pending_.empty()) {
        joined = pending_;
        joined.append(raw);
        raw = joined;
        pending_.clear();
    }
    const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
    const std::size_t units = raw.size() / 4;
    const std::size_t base = out.size();
    out.resize(base + units * 4);
    char* o = out.data() + base;
    for (std::size_t k = 0; k < units; ++k) {
        const unsigned char* b = p + 4 * k;
        const std::uint32_t u =
            le ? (b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t(b[3]) << 24))
               : ((std::uint32_t(b[0]) << 24) | (b[1] << 16) | (b[2] << 8) | b[3]);
        if (u == 0 || u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) {
            out.resize(static_cast<std::size_t>(o - out.data()));
            return fail(consumed_ + 4 * k,
                        u == 0 ? "a NUL character" : "an invalid UTF-32 character");
        }
        o = putUtf8(o, u);
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    consumed_ += units * 4;
    pending_.assign(raw.substr(units * 4));
    if (end && !pending_.empty()) {
        return fail(consumed_, "the file ends inside a UTF-32 character");
    }
    return true;
}

bool Decoder::decodeCodePage(std::string_view raw, bool end, std::string& out) {
    std::string joined;
    if (!pending_.empty()) {
        joined = pending_;
        joined.append(raw);
        raw = joined;
        pending_.clear();
    }
    if (const void* nul = std::memchr(raw.data(), 0, raw.size())) {
        const auto at = static_cast<std::size_t>(static_cast<const char*>(nul) - raw.data());
        // The text up to the NUL goes out too: the caller tells the line by it.
        if (!decodeCodePage(raw.substr(0, at), false, out)) {
            return false;
        }
        return fail(consumed_ + pending_.size(), "a NUL byte");
    }
    auto cd = static_cast<iconv_t>(iconv_);
    char* in = const_cast<char*>(raw.data());
    std::size_t inLeft = raw.size();
    while (inLeft > 0) {
        const std::size_t base = out.size();
        out.resize(base + inLeft * 4 + 16);
        char* o = out.data() + base;
        std::size_t outLeft = inLeft * 4 + 16;
        const std::size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
        const int err = errno;
        out.resize(static_cast<std::size_t>(o - out.data()));
        const std::uint64_t at = consumed_ + (static_cast<std::size_t>(in - raw.data()));
        if (r != static_cast<std::size_t>(-1)) {
            continue;
        }
        if (err == E2BIG) {
            continue;
        }
        if (err == EINVAL && !end) {
            pending_.assign(in, inLeft);
            consumed_ = at;
            return true;
        }
        consumed_ = at;
        if (err == EINVAL) {
            return fail(at, "the file ends inside a character");
        }
        return fail(at, "byte " + hexByte(static_cast<unsigned char>(*in)) +
                            " is not valid in code page " + std::to_string(codePage_));
    }
    consumed_ += raw.size();
    return true;
}

}  // namespace quill::sqlcmd
