#pragma once

#include <cstddef>

namespace quill::sqlcmd {

// Why utf16FromUtf8 stopped.
enum class Utf16Stop {
    InputEnd,    // everything was converted
    OutputFull,  // the next character does not fit
    Other,       // a byte it leaves to a slower, exact converter: an invalid or
                 // incomplete sequence, an overlong form or a surrogate
};

// Converts UTF-8 to UTF-16LE, as iconv does (pointers and counts advance
// over what was converted), for as long as the input is plain, valid UTF-8
// and the output has room. Stateless: another converter can go on where it
// stopped. Sixteen ASCII bytes at a time.
Utf16Stop utf16FromUtf8(const char*& in, std::size_t& inLeft, char*& out, std::size_t& outLeft);

// iconv(3) for UTF-8 to UTF-16LE, with the same results to the byte:
// utf16FromUtf8 as far as it goes, then `exact` (glibc's descriptor for the
// same pair) where it stops for anything but a full output.
std::size_t iconvUtf16(void* exact, char** inbuf, std::size_t* inbytesleft, char** outbuf,
                       std::size_t* outbytesleft);

}  // namespace quill::sqlcmd
