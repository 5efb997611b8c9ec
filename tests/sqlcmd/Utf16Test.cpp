#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <random>
#include <string>

#include "Utf16.h"

using namespace quill::sqlcmd;

namespace {

using Convert = std::size_t (*)(iconv_t, char**, std::size_t*, char**, std::size_t*);

std::size_t fast(iconv_t cd, char** in, std::size_t* inLeft, char** out, std::size_t* outLeft) {
    return iconvUtf16(cd, in, inLeft, out, outLeft);
}
std::size_t glibc(iconv_t cd, char** in, std::size_t* inLeft, char** out, std::size_t* outLeft) {
    return iconv(cd, in, inLeft, out, outLeft);
}

// Everything a caller sees, converting `input` through outputs of `room`
// bytes and stepping over a bad byte as DB-Library does: the output, and
// each error with where it stood.
std::string transcript(Convert convert, const std::string& input, std::size_t room) {
    static iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string log;
    std::string buffer(room, '\0');
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    for (int guard = 0; guard < 100000; ++guard) {
        char* out = buffer.data();
        std::size_t outLeft = room;
        errno = 0;
        const std::size_t r = convert(cd, &in, &inLeft, &out, &outLeft);
        const int err = errno;
        log.append(buffer.data(), room - outLeft);
        if (r != static_cast<std::size_t>(-1)) {
            log += "|ok " + std::to_string(r);
            break;
        }
        log += "|" + std::to_string(err) + "@" + std::to_string(input.size() - inLeft);
        if (err == EILSEQ || err == EINVAL) {
            if (inLeft == 0) {
                break;
            }
            ++in;
            --inLeft;
        } else if (err != E2BIG || out == buffer.data()) {
            break;
        }
    }
    return log;
}

TEST(Utf16, SameAsGlibcToTheByte) {
    std::vector<std::string> inputs = {
        "",
        "INSERT [dbo].[T] ([id]) VALUES (1)\r\n",
        "INSERT [dbo].[订单] ([id], [客户]) VALUES (1, N'客户 1')\r\n",
        "emoji 😀 and ÄÖÜ ß, a long run of ASCII text after it to cross blocks",
        "\xC0\x80 overlong",
        "\xE0\x80\x80 overlong",
        "\xED\xA0\x80 surrogate",
        "\xF4\x90\x80\x80 beyond U+10FFFF",
        "\xF8\x88\x80\x80\x80 five bytes",
        "stray \x80 continuation",
        "cut at the end \xE4\xB8",
        "cut \xE4\xB8 in the middle",
    };
    // And random mixes of the above's pieces.
    std::mt19937 random(7);
    const std::string pieces[] = {"a",    "abcdefghijklmnopq", "é", "汉",  "😀", "\xE4",
                                  "\x80", "\xED\xA0\x80",      " ", "\r\n"};
    for (int i = 0; i < 300; ++i) {
        std::string s;
        const int n = static_cast<int>(random() % 40);
        for (int k = 0; k < n; ++k) {
            s += pieces[random() % std::size(pieces)];
        }
        inputs.push_back(s);
    }
    for (const auto& input : inputs) {
        for (std::size_t room :
             {std::size_t{2}, std::size_t{3}, std::size_t{5}, std::size_t{33}, std::size_t{4096}}) {
            ASSERT_EQ(transcript(fast, input, room), transcript(glibc, input, room))
                << testing::PrintToString(input) << " in " << room << "-byte outputs";
        }
    }
}

}  // namespace
