#include "Bytes.h"

#include <bit>
#include <cstring>

namespace standin {

void ByteWriter::u16(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v));
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
}

void ByteWriter::u32(std::uint32_t v) {
    u16(static_cast<std::uint16_t>(v));
    u16(static_cast<std::uint16_t>(v >> 16));
}

void ByteWriter::u64(std::uint64_t v) {
    u32(static_cast<std::uint32_t>(v));
    u32(static_cast<std::uint32_t>(v >> 32));
}

void ByteWriter::u16be(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
    out_.push_back(static_cast<std::uint8_t>(v));
}

void ByteWriter::u32be(std::uint32_t v) {
    u16be(static_cast<std::uint16_t>(v >> 16));
    u16be(static_cast<std::uint16_t>(v));
}

void ByteWriter::utf16(std::u16string_view s) {
    std::size_t at = out_.size();
    out_.resize(at + 2 * s.size());
    for (char16_t c : s) {
        out_[at++] = static_cast<std::uint8_t>(c);
        out_[at++] = static_cast<std::uint8_t>(c >> 8);
    }
}

void ByteWriter::bVarchar(std::u16string_view s) {
    s = s.substr(0, 255);
    u8(static_cast<std::uint8_t>(s.size()));
    utf16(s);
}

void ByteWriter::usVarchar(std::u16string_view s) {
    s = s.substr(0, 65535);
    u16(static_cast<std::uint16_t>(s.size()));
    utf16(s);
}

void ByteWriter::patchU16(std::size_t pos, std::uint16_t v) {
    out_[pos] = static_cast<std::uint8_t>(v);
    out_[pos + 1] = static_cast<std::uint8_t>(v >> 8);
}

std::span<const std::uint8_t> ByteReader::take(std::size_t n) {
    if (!ok_ || n > data_.size() - pos_) {
        ok_ = false;
        return {};
    }
    auto s = data_.subspan(pos_, n);
    pos_ += n;
    return s;
}

std::uint8_t ByteReader::u8() {
    auto s = take(1);
    return s.empty() ? 0 : s[0];
}

std::uint16_t ByteReader::u16() {
    auto s = take(2);
    return s.empty() ? 0 : static_cast<std::uint16_t>(s[0] | s[1] << 8);
}

std::uint32_t ByteReader::u32() {
    std::uint32_t lo = u16();
    std::uint32_t hi = u16();
    return lo | hi << 16;
}

std::uint64_t ByteReader::u64() {
    std::uint64_t lo = u32();
    std::uint64_t hi = u32();
    return lo | hi << 32;
}

std::uint16_t ByteReader::u16be() {
    auto s = take(2);
    return s.empty() ? 0 : static_cast<std::uint16_t>(s[0] << 8 | s[1]);
}

std::u16string ByteReader::utf16(std::size_t chars) {
    if (chars > data_.size()) {  // also guards 2 * chars against overflow
        ok_ = false;
        return {};
    }
    return utf16FromBytes(take(2 * chars));
}

void ByteReader::seek(std::size_t pos) {
    if (pos > data_.size())
        ok_ = false;
    else
        pos_ = pos;
}

std::u16string utf16FromBytes(std::span<const std::uint8_t> b) {
    std::u16string s(b.size() / 2, u'\0');
    if (s.empty())
        return s;  // an empty span may have no data pointer at all
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(s.data(), b.data(), 2 * s.size());
    } else {
        for (std::size_t i = 0; i < s.size(); ++i)
            s[i] = static_cast<char16_t>(b[2 * i] | b[2 * i + 1] << 8);
    }
    return s;
}

std::string toUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string fromUtf8(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
        char32_t c = extra == 0 ? b : extra == 1 ? b & 0x1F : extra == 2 ? b & 0x0F : b & 0x07;
        bool good = extra >= 0 && i + extra < s.size();
        for (int k = 1; good && k <= extra; ++k) {
            auto n = static_cast<unsigned char>(s[i + k]);
            good = (n & 0xC0) == 0x80;
            c = c << 6 | (n & 0x3F);
        }
        static const char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (!good || c < minimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += extra + 1;
    }
    return out;
}

}  // namespace standin
