// Throughput of the input path without a server: the splitter alone, and
// decoding (UTF-8 validation or UTF-16 conversion) plus splitting, over a
// script held in memory and fed in 1 MB chunks as the client reads it.
// Timed in CPU time, best of five: the machine is shared.
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "Decoder.h"
#include "Splitter.h"
#include "Variables.h"

using namespace quill::sqlcmd;

namespace {

constexpr std::size_t kChunk = 1 << 20;

// Splits text fed in chunks, keeping the unconsumed tail as the client's
// reader does; returns the number of batches.
long split(const std::string& text) {
    Variables vars;
    Splitter s(vars);
    std::string buffer;
    std::size_t pos = 0;
    std::size_t fed = 0;
    long batches = 0;
    for (;;) {
        const bool end = fed == text.size();
        Splitter::Event ev;
        pos += s.scan(std::string_view(buffer).substr(pos), end, ev);
        if (ev == Splitter::Event::Command) {
            batches += !s.batch().blank();
            s.clearBatch();
            continue;
        }
        if (ev == Splitter::Event::Error || end) {
            return batches + !s.batch().blank();
        }
        buffer.erase(0, pos);
        pos = 0;
        const std::size_t n = std::min(kChunk, text.size() - fed);
        buffer.append(text, fed, n);
        fed += n;
    }
}

// Decodes 1 MB at a time into the splitter's buffer, as the client does.
long decodeAndSplit(const std::string& raw) {
    Decoder d;
    Variables vars;
    Splitter s(vars);
    std::string text;
    std::size_t pos = 0;
    std::size_t at = 0;
    bool eof = false;
    long batches = 0;
    for (;;) {
        Splitter::Event ev;
        pos += s.scan(std::string_view(text).substr(pos), eof, ev);
        if (ev == Splitter::Event::Command) {
            batches += !s.batch().blank();
            s.clearBatch();
            continue;
        }
        if (ev == Splitter::Event::Error || eof) {
            return batches + !s.batch().blank();
        }
        text.erase(0, pos);
        pos = 0;
        const std::size_t n = std::min(kChunk, raw.size() - at);
        eof = at + n == raw.size();
        if (!d.decode(std::string_view(raw).substr(at, n), eof, text)) {
            std::fprintf(stderr, "decode failed: %s\n", d.errorText().c_str());
            std::exit(1);
        }
        at += n;
    }
}

std::string decodeAll(const std::string& raw) {
    Decoder d;
    std::string out;
    out.reserve(raw.size());
    for (std::size_t at = 0; at < raw.size(); at += kChunk) {
        const std::size_t n = std::min(kChunk, raw.size() - at);
        if (!d.decode(std::string_view(raw).substr(at, n), at + n == raw.size(), out)) {
            std::fprintf(stderr, "decode failed: %s\n", d.errorText().c_str());
            std::exit(1);
        }
    }
    return out;
}

double cpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

template <typename F>
double best(F f, int rounds = 5) {
    double bestSeconds = 1e9;
    for (int i = 0; i < rounds; ++i) {
        const double t0 = cpuSeconds();
        f();
        bestSeconds = std::min(bestSeconds, cpuSeconds() - t0);
    }
    return bestSeconds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s script.sql...\n", argv[0]);
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        const std::string raw = ss.str();
        const std::string text = decodeAll(raw);
        long batches = 0;
        const double splitOnly = best([&] { batches = split(text); });
        const double decodeSplit = best([&] { decodeAndSplit(raw); });
        const double gb = static_cast<double>(raw.size()) / 1e9;
        std::printf(
            "%s: %.0f MB, %ld batches; splitter alone %.2f GB/s; decode+split %.2f GB/s (CPU "
            "time)\n",
            argv[i], static_cast<double>(raw.size()) / 1e6, batches,
            static_cast<double>(text.size()) / 1e9 / splitOnly, gb / decodeSplit);
    }
    return 0;
}
