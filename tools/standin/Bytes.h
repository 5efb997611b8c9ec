#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

using Bytes = std::vector<std::uint8_t>;

// Appends TDS wire values. Integers are little-endian unless the name says
// otherwise; text goes out as UTF-16LE.
class ByteWriter {
public:
    explicit ByteWriter(Bytes& out) : out_(out) {}

    void u8(std::uint8_t v) { out_.push_back(v); }
    void u16(std::uint16_t v);
    void u32(std::uint32_t v);
    void u64(std::uint64_t v);
    void u16be(std::uint16_t v);
    void u32be(std::uint32_t v);
    void bytes(std::span<const std::uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }
    void utf16(std::u16string_view s);
    // Length-prefixed text: one length byte (B_VARCHAR) or two (US_VARCHAR),
    // counted in characters. Longer text is cut at the limit.
    void bVarchar(std::u16string_view s);
    void usVarchar(std::u16string_view s);

    std::size_t size() const { return out_.size(); }
    // Overwrites a 16-bit little-endian value written earlier at pos.
    void patchU16(std::size_t pos, std::uint16_t v);

private:
    Bytes& out_;
};

// Reads TDS wire values with bounds checks: every read past the end fails
// and leaves the reader failed, so callers check ok() once at the end.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}

    std::uint8_t u8();
    std::uint16_t u16();
    std::uint32_t u32();
    std::uint64_t u64();
    std::uint16_t u16be();
    std::span<const std::uint8_t> take(std::size_t n);
    std::u16string utf16(std::size_t chars);
    void skip(std::size_t n) { take(n); }

    bool ok() const { return ok_; }
    void fail() { ok_ = false; }
    bool atEnd() const { return pos_ >= data_.size(); }
    std::size_t pos() const { return pos_; }
    std::size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }
    void seek(std::size_t pos);

private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// UTF-16LE bytes to text (an odd trailing byte is dropped).
std::u16string utf16FromBytes(std::span<const std::uint8_t> b);

// UTF-8 <-> UTF-16 for the log, the command line and the catalog file.
// Invalid input becomes U+FFFD.
std::string toUtf8(std::u16string_view s);
std::u16string fromUtf8(std::string_view s);

}  // namespace standin
