#include "Interrupt.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <thread>

#include "console/StatusChannel.h"

namespace quill::sqlcmd {

namespace {

std::atomic<int> g_signals{0};
std::atomic<long long> g_firstAt{0};  // steady clock, nanoseconds

long long nowNs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);  // async-signal-safe
    return static_cast<long long>(t.tv_sec) * 1000000000 + t.tv_nsec;
}
int g_pipe[2] = {-1, -1};
pthread_t g_mainThread;

void onSigint(int) {
    const int savedErrno = errno;
    if (!pthread_equal(pthread_self(), g_mainThread)) {
        // Only the main thread's wait for the server is to be interrupted.
        pthread_kill(g_mainThread, SIGINT);
    } else {
        if (g_signals.fetch_add(1, std::memory_order_relaxed) == 0) {
            g_firstAt.store(nowNs(), std::memory_order_relaxed);
        }
        const char note = 'i';
        (void)!::write(g_pipe[1], &note, 1);
    }
    errno = savedErrno;
}

// Waits for the pipe up to `timeoutMs` (-1: no limit); the byte read, or 0.
char waitForNote(int timeoutMs) {
    pollfd p{g_pipe[0], POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    char note = 0;
    if (r > 0 && ::read(g_pipe[0], &note, 1) != 1) {
        note = 0;
    }
    return note;
}

std::thread g_watchdog;

}  // namespace

Interrupt::Interrupt(std::function<void()> forceExit, std::chrono::milliseconds grace) {
    if (::pipe2(g_pipe, O_CLOEXEC) != 0) {
        return;  // no stop then, but the run itself is unharmed
    }
    g_mainThread = pthread_self();
    g_watchdog = std::thread([forceExit = std::move(forceExit), grace] {
        if (waitForNote(-1) != 'i') {
            return;  // the run ended first
        }
        const char next = waitForNote(static_cast<int>(grace.count()));
        if (next == 'q') {
            return;
        }
        // A second SIGINT, or no end in time: the server did not confirm.
        // Should a last write block, the alarm still ends the process.
        ::alarm(2);
        forceExit();
        ::_exit(console::kCancelledExitCode);
    });
    struct sigaction action {};
    action.sa_handler = onSigint;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the wait for the server must see EINTR
    ::sigaction(SIGINT, &action, nullptr);
}

Interrupt::~Interrupt() {
    if (g_pipe[1] < 0) {
        return;
    }
    // A SIGINT this late finds the run over: its exit status stands.
    std::signal(SIGINT, SIG_IGN);
    const char note = 'q';
    (void)!::write(g_pipe[1], &note, 1);
    g_watchdog.join();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

bool Interrupt::requested() {
    return g_signals.load(std::memory_order_relaxed) > 0;
}

bool Interrupt::overdue() {
    if (!requested()) {
        return false;
    }
    const long long at = g_firstAt.load(std::memory_order_relaxed);
    return at != 0 && nowNs() - at >= std::chrono::nanoseconds(kLetFinish).count();
}

}  // namespace quill::sqlcmd
