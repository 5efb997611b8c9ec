#pragma once

#include <iconv.h>

#include <stdexcept>
#include <string>

namespace quill::test {

// UTF-8 text in another encoding (an iconv name: "GBK", "BIG5", "UTF-16LE", ...).
inline std::string encodeAs(const std::string& utf8, const char* encoding) {
    iconv_t cd = iconv_open(encoding, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error(std::string("no iconv for ") + encoding);
    std::string out(utf8.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    const std::size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1))
        throw std::runtime_error(std::string("cannot encode as ") + encoding);
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace quill::test
