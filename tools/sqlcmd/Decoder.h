#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quill::sqlcmd {

enum class Encoding { Unknown, Utf8, Utf8Bom, Utf16LE, Utf16BE, Utf32LE, Utf32BE, CodePage };

const char* encodingName(Encoding e);

// Turns a script's bytes into UTF-8, chunk by chunk. A byte-order mark decides
// the encoding; without one, the code page given (-f) does, else strict UTF-8.
// Input that does not decode cleanly, or that holds a NUL character, is an
// error: nothing is ever replaced or dropped.
class Decoder {
public:
    // codePage 0: none given.
    explicit Decoder(int codePage = 0);
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Whether -f names a code page this system can decode.
    static bool supported(int codePage);

    // Appends the UTF-8 for `raw` to `out`; bytes of an incomplete character
    // wait for the next call. `end` marks the last chunk. Returns false on
    // invalid input (see errorOffset() and errorText()); `out` then ends with
    // the text before the bad byte, so that the caller can tell its line.
    bool decode(std::string_view raw, bool end, std::string& out);

    Encoding encoding() const { return encoding_; }
    // Bytes of the byte-order mark, once the encoding is known.
    std::size_t bomLength() const { return bomLength_; }
    // How many input bytes the decoded text came from: exact for the Unicode
    // encodings; for code pages, one byte per ASCII character and the code
    // page's usual width for the others.
    std::uint64_t rawLength(std::string_view decoded) const;
    // Byte offset in the input of the first bad byte.
    std::uint64_t errorOffset() const { return errorOffset_; }
    const std::string& errorText() const { return errorText_; }

private:
    bool sniff(std::string_view& raw, bool end);
    bool decodeUtf8(std::string_view raw, bool end, std::string& out);
    bool decodeUtf16(std::string_view raw, bool end, std::string& out);
    bool decodeUtf32(std::string_view raw, bool end, std::string& out);
    bool decodeCodePage(std::string_view raw, bool end, std::string& out);
    bool fail(std::uint64_t offset, std::string text);

    int codePage_;
    int codePageWidth_ = 1;  // bytes of a non-ASCII character in the code page
    std::size_t bomLength_ = 0;
    void* iconv_ = nullptr;
    Encoding encoding_ = Encoding::Unknown;
    std::string pending_;         // an incomplete character from the last chunk
    std::uint64_t consumed_ = 0;  // input bytes before pending_
    std::uint32_t highSurrogate_ = 0;
    std::uint64_t errorOffset_ = 0;
    std::string errorText_;
};

// iconv's name for a Windows code page ("CP936", "GB18030", ...).
std::string iconvName(int codePage);

// Length of the longest prefix of `s` that is valid UTF-8 without NUL bytes
// and ends on a character boundary; `truncated` tells whether what follows is
// a cut (not invalid) sequence.
std::size_t validUtf8Prefix(std::string_view s, bool& truncated);

}  // namespace quill::sqlcmd
