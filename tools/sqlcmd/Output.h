#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace quill::sqlcmd {

// Buffered output to two descriptors (results and messages; errors routed by
// -r). Text written is on its descriptor within a few tens of milliseconds,
// even while the program waits for the server, without one system call per
// line: a background thread writes what is pending.
class Output {
public:
    // outputCodePage: 0 or 65001 writes UTF-8 as it is; others convert.
    Output(int mainFd, int errorFd, int outputCodePage = 0);
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    static bool supported(int outputCodePage);

    void write(std::string_view text) { append(mainFd_, text); }
    void writeError(std::string_view text) { append(errorFd_, text); }
    // Writes everything pending now.
    void flush();
    // For a process about to end from another thread: what is pending, then
    // `text`, without waiting for a writer that holds the buffer.
    void writeLast(std::string_view text);

private:
    void append(int fd, std::string_view text);
    void writeLocked();
    void run();

    const int mainFd_;
    const int errorFd_;
    void* iconv_ = nullptr;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::string pending_;
    int pendingFd_ = -1;
    bool stop_ = false;
    std::thread writer_;
};

}  // namespace quill::sqlcmd
