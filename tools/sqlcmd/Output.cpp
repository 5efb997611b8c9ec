#include "Output.h"

#include <iconv.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace quill::sqlcmd {

namespace {
constexpr std::size_t kWriteAt = 64 * 1024;
constexpr auto kDelay = std::chrono::milliseconds(20);

void* openConverter(int codePage) {
    if (codePage == 0 || codePage == 65001) {
        return nullptr;
    }
    std::string name = codePage == 1200   ? "UTF-16LE"
                       : codePage == 1201 ? "UTF-16BE"
                                          : "CP" + std::to_string(codePage);
    name += "//TRANSLIT";
    iconv_t cd = iconv_open(name.c_str(), "UTF-8");
    return cd == reinterpret_cast<iconv_t>(-1) ? nullptr : cd;
}

void writeAll(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;  // a closed reader: nothing more can be shown
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
}
}  // namespace

bool Output::supported(int outputCodePage) {
    if (outputCodePage == 0 || outputCodePage == 65001) {
        return true;
    }
    void* cd = openConverter(outputCodePage);
    if (cd) {
        iconv_close(static_cast<iconv_t>(cd));
    }
    return cd != nullptr;
}

Output::Output(int mainFd, int errorFd, int outputCodePage)
    : mainFd_(mainFd),
      errorFd_(errorFd),
      iconv_(openConverter(outputCodePage)),
      writer_([this] { run(); }) {}

Output::~Output() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        writeLocked();
    }
    wake_.notify_one();
    writer_.join();
    if (iconv_) {
        iconv_close(static_cast<iconv_t>(iconv_));
    }
}

void Output::append(int fd, std::string_view text) {
    std::unique_lock lock(mutex_);
    if (fd != pendingFd_ && !pending_.empty()) {
        writeLocked();
    }
    const bool wasEmpty = pending_.empty();
    pendingFd_ = fd;
    if (iconv_) {
        // Whole messages arrive here, so no character is ever split.
        char* in = const_cast<char*>(text.data());
        std::size_t inLeft = text.size();
        while (inLeft > 0) {
            const std::size_t base = pending_.size();
            pending_.resize(base + inLeft * 4 + 16);
            char* out = pending_.data() + base;
            std::size_t outLeft = inLeft * 4 + 16;
            std::size_t r = iconv(static_cast<iconv_t>(iconv_), &in, &inLeft, &out, &outLeft);
            pending_.resize(static_cast<std::size_t>(out - pending_.data()));
            if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
                // Not in the output code page: one '?' for the whole character.
                pending_ += '?';
                do {
                    ++in;
                    --inLeft;
                } while (inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80);
            }
        }
    } else {
        pending_.append(text);
    }
    if (pending_.size() >= kWriteAt) {
        writeLocked();
    } else if (wasEmpty) {
        lock.unlock();
        wake_.notify_one();
    }
}

void Output::flush() {
    std::lock_guard lock(mutex_);
    writeLocked();
}

void Output::writeLast(std::string_view text) {
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (lock.owns_lock()) {
        writeLocked();
    }
    writeAll(mainFd_, text.data(), text.size());
}

void Output::writeLocked() {
    if (!pending_.empty()) {
        writeAll(pendingFd_, pending_.data(), pending_.size());
        pending_.clear();
    }
}

void Output::run() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
        wake_.wait(lock, [this] { return stop_ || !pending_.empty(); });
        // Let a burst of lines gather into one write.
        wake_.wait_for(lock, kDelay, [this] { return stop_; });
        writeLocked();
    }
}

}  // namespace quill::sqlcmd
