#include "console/Console.h"
#include "console/ConsoleProtocol.h"
#include "console/StartThread.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace quill {

namespace {

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

struct ReaderContext {
    std::shared_ptr<ConsoleInstance> instance;
    Console::Handlers handlers;
};

// Cuts the status channel's bytes into records. A line too long to be a
// record is skipped whole.
class StatusLines {
public:
    void take(const char* data, std::size_t size, const Console::StatusHandler& handler) {
        for (std::size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (c != '\n') {
                if (line_.size() < console::kMaxRecord)
                    line_ += c;
                else
                    overlong_ = true;
                continue;
            }
            if (!overlong_ && handler)
                if (std::optional<console::StatusRecord> record = console::parseStatusRecord(line_))
                    handler(*record);
            line_.clear();
            overlong_ = false;
        }
    }

private:
    std::string line_;
    bool overlong_ = false;
};

// Hands on every record the channel holds now. False once the channel has
// ended.
bool drainStatus(int fd, StatusLines& lines, const Console::StatusHandler& handler) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            lines.take(buffer, std::size_t(n), handler);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && errno == EAGAIN;
    }
}

// How long output may still come after the interpreter has died (from what
// it ran, which is being killed); then the output counts as ended.
constexpr auto kOutputAfterDeath = std::chrono::milliseconds(1000);

void* readerThread(void* param) {
    std::unique_ptr<ReaderContext> context(static_cast<ReaderContext*>(param));
    ConsoleInstance& console = *context->instance;
    const Console::Handlers& handlers = context->handlers;
    std::vector<char> buffer(Console::kChunkSize);
    StatusLines lines;
    // The process group of the program the interpreter runs now, as its
    // records tell: if the interpreter dies, the program's group goes too.
    pid_t programGroup = 0;
    const Console::StatusHandler onRecord = [&](const console::StatusRecord& record) {
        if (record.tag == "started" && record.numbers.size() == 1)
            programGroup = pid_t(record.numbers[0]);
        else if (record.tag == "exited" || record.tag == "signalled" || record.tag == "unstarted")
            programGroup = 0;
        if (handlers.status)
            handlers.status(record);
    };
    int statusFd = console.statusRead;  // -1 once the channel has ended
    int exitFd = console.interpreterExit;
    std::optional<std::chrono::steady_clock::time_point> deadline;
    bool ended = false;
    for (;;) {
        int timeoutMs = -1;
        if (deadline)
            timeoutMs =
                int(std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                               *deadline - std::chrono::steady_clock::now())
                                               .count()));
        pollfd fds[4] = {{console.stdoutRead, POLLIN, 0},
                         {console.stopEvent, POLLIN, 0},
                         {statusFd, POLLIN, 0},
                         {exitFd, POLLIN, 0}};
        const int ready = ::poll(fds, 4, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents != 0)
            break;
        if (ready == 0) {
            // The interpreter is gone and so, by now, should be its output.
            if (statusFd >= 0)
                drainStatus(statusFd, lines, onRecord);
            ended = true;
            break;
        }
        if (fds[3].revents != 0) {
            exitFd = -1;
            if (programGroup > 0)
                ::kill(-programGroup, SIGKILL);
            deadline = std::chrono::steady_clock::now() + kOutputAfterDeath;
        }
        if (fds[0].revents == 0) {
            if (statusFd >= 0 && fds[2].revents != 0 && !drainStatus(statusFd, lines, onRecord))
                statusFd = -1;
            continue;
        }
        ssize_t n = ::read(console.stdoutRead, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        // A record written before these bytes is in the channel by now: it
        // goes first. (One written just after them may go first too.)
        if (statusFd >= 0 && !drainStatus(statusFd, lines, onRecord))
            statusFd = -1;
        if (n <= 0) {
            ended = true;
            break;
        }
        // Zero bytes too: they are output like any other, and cutting the
        // chunk at one would lose the rest of a whole read.
        console.latestOutput = QByteArray(buffer.data(), qsizetype(n));
        handlers.output(console.latestOutput);
    }
    if (ended && handlers.ended)
        handlers.ended();
    return nullptr;
}

// Writes everything, retrying short writes. A broken pipe (the interpreter
// is gone) must not raise SIGPIPE in the program: the signal is held back
// on this thread and a pending one it caused is taken away again.
bool writeAll(int fd, const QByteArray& bytes) {
    sigset_t pipeOnly, previous;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    sigset_t pending;
    sigpending(&pending);
    bool pipeWasPending = sigismember(&pending, SIGPIPE) == 1;

    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EPIPE && !pipeWasPending) {
                timespec none{0, 0};
                sigtimedwait(&pipeOnly, nullptr, &none);
            }
            break;
        }
        data += n;
        left -= n;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return left == 0;
}

pid_t spawnInterpreter(const QByteArray& program, const QByteArray& workingDirectory, int stdinRead,
                       int stdoutWrite, int statusWrite) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, stdinRead, 0);
    posix_spawn_file_actions_adddup2(&actions, stdoutWrite, 1);
    posix_spawn_file_actions_adddup2(&actions, stdoutWrite, 2);
    posix_spawn_file_actions_adddup2(&actions, statusWrite, console::kStatusFd);
    // Nothing else of the program reaches the interpreter, even descriptors
    // some library opened without close-on-exec.
    posix_spawn_file_actions_addclosefrom_np(&actions, console::kStatusFd + 1);
    if (!workingDirectory.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.constData());

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    // The interpreter ends itself when this process ends.
    QByteArray dieWith = "--die-with=" + QByteArray::number(::getpid());
    QByteArray statusFd = console::kStatusFdOption + QByteArray::number(console::kStatusFd);
    char* argv[] = {const_cast<char*>(program.constData()), dieWith.data(), statusFd.data(),
                    nullptr};
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.constData(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : 0;
}

// Waits up to timeoutMs for a child to end, without collecting it.
bool waitForExit(pid_t pid, int timeoutMs) {
    const int pidFd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (pidFd < 0)
        return false;
    pollfd fd{pidFd, POLLIN, 0};
    int rc;
    while ((rc = ::poll(&fd, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    ::close(pidFd);
    return rc > 0;
}

}  // namespace

ConsoleInstance::~ConsoleInstance() {
    closeFd(stdinRead);
    closeFd(stdoutRead);
    closeFd(stdinWrite);
    closeFd(stdoutWrite);
    closeFd(statusRead);
    closeFd(statusWrite);
    closeFd(interpreterExit);
    closeFd(stopEvent);
}

Console::Console(QString interpreter, QString workingDirectory)
    : interpreter_(std::move(interpreter)), workingDirectory_(std::move(workingDirectory)) {}

Console::~Console() {
    stopConsole();
}

void Console::startConsole(OutputHandler handler) {
    startConsole(Handlers{std::move(handler), {}, {}});
}

void Console::startConsole(Handlers handlers) {
    stopConsole();

    auto console = std::make_shared<ConsoleInstance>();
    int in[2], out[2], status[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        return;
    console->stdinRead = in[0];
    console->stdinWrite = in[1];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return;
    console->stdoutRead = out[0];
    console->stdoutWrite = out[1];
    if (::pipe2(status, O_CLOEXEC) != 0)
        return;
    console->statusRead = status[0];
    console->statusWrite = status[1];
    // The reader drains the channel without waiting; writers keep blocking
    // writes, so that no record is lost.
    ::fcntl(console->statusRead, F_SETFL, O_NONBLOCK);
    console->stopEvent = ::eventfd(0, EFD_CLOEXEC);
    if (console->stopEvent < 0)
        return;

    console->processId =
        spawnInterpreter(QFile::encodeName(interpreter_), QFile::encodeName(workingDirectory_),
                         console->stdinRead, console->stdoutWrite, console->statusWrite);
    // The interpreter holds its own copies now; the reader sees end of file
    // once it and the programs it started are gone.
    closeFd(console->stdinRead);
    closeFd(console->stdoutWrite);
    closeFd(console->statusWrite);
    if (console->processId == 0)
        return;
    console->interpreterExit = int(::syscall(SYS_pidfd_open, console->processId, 0));

    auto* context = new ReaderContext{console, std::move(handlers)};
    if (!startThread(readerThread, context, false, nullptr))
        delete context;
    instance_ = std::move(console);
}

bool Console::sendCommandLine(const QString& text) {
    if (!instance_ || instance_->stdinWrite < 0)
        return false;
    return writeAll(instance_->stdinWrite, text.toUtf8() + "\r\n");
}

bool Console::interruptCommand() {
    return instance_ && instance_->processId > 0 &&
           ::kill(instance_->processId, console::kInterruptSignal) == 0;
}

bool Console::killCommand() {
    return instance_ && instance_->processId > 0 &&
           ::kill(instance_->processId, console::kKillProgramSignal) == 0;
}

void Console::stopConsole() {
    if (!instance_)
        return;
    std::shared_ptr<ConsoleInstance> console = std::move(instance_);
    // The reader leaves first, so that a deliberate stop is not news.
    uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(console->stopEvent, &one, sizeof one);
    closeFd(console->stdinWrite);
    if (console->processId > 0) {
        // The interpreter kills its program's process group and waits for
        // the program before it ends: once it is gone, nothing it ran goes on.
        ::kill(console->processId, SIGTERM);
        if (!waitForExit(console->processId, kStopWaitMs))
            ::kill(console->processId, SIGKILL);
        while (::waitpid(console->processId, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

pid_t Console::interpreterPid() const {
    return instance_ ? instance_->processId : 0;
}

}  // namespace quill
