#include "console/Console.h"
#include "console/StartThread.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <cstring>
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
    Console::OutputHandler handler;
};

void* readerThread(void* param) {
    std::unique_ptr<ReaderContext> context(static_cast<ReaderContext*>(param));
    ConsoleInstance& console = *context->instance;
    std::vector<char> buffer(Console::kChunkSize);
    for (;;) {
        pollfd fds[2] = {{console.stdoutRead, POLLIN, 0}, {console.stopEvent, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents != 0)
            break;
        ssize_t n = ::read(console.stdoutRead, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        console.latestOutput =
            QByteArray(buffer.data(), qsizetype(::strnlen(buffer.data(), size_t(n))));
        context->handler(console.latestOutput);
    }
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
                       int stdoutWrite) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, stdinRead, 0);
    posix_spawn_file_actions_adddup2(&actions, stdoutWrite, 1);
    posix_spawn_file_actions_adddup2(&actions, stdoutWrite, 2);
    // Nothing else of the program reaches the interpreter, even descriptors
    // some library opened without close-on-exec.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
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
    char* argv[] = {const_cast<char*>(program.constData()), dieWith.data(), nullptr};
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.constData(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : 0;
}

}  // namespace

ConsoleInstance::~ConsoleInstance() {
    closeFd(stdinRead);
    closeFd(stdoutRead);
    closeFd(stdinWrite);
    closeFd(stdoutWrite);
    closeFd(stopEvent);
}

Console::Console(QString interpreter, QString workingDirectory)
    : interpreter_(std::move(interpreter)), workingDirectory_(std::move(workingDirectory)) {}

Console::~Console() {
    stopConsole();
}

void Console::startConsole(OutputHandler handler) {
    stopConsole();

    auto console = std::make_shared<ConsoleInstance>();
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        return;
    console->stdinRead = in[0];
    console->stdinWrite = in[1];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return;
    console->stdoutRead = out[0];
    console->stdoutWrite = out[1];
    console->stopEvent = ::eventfd(0, EFD_CLOEXEC);
    if (console->stopEvent < 0)
        return;

    console->processId =
        spawnInterpreter(QFile::encodeName(interpreter_), QFile::encodeName(workingDirectory_),
                         console->stdinRead, console->stdoutWrite);
    // The interpreter holds its own copies now; the reader sees end of file
    // once it and the programs it started are gone.
    closeFd(console->stdinRead);
    closeFd(console->stdoutWrite);
    if (console->processId == 0)
        return;

    auto* context = new ReaderContext{console, std::move(handler)};
    if (!startThread(readerThread, context, false, nullptr))
        delete context;
    instance_ = std::move(console);
}

bool Console::sendCommandLine(const QString& text) {
    if (!instance_ || instance_->stdinWrite < 0)
        return false;
    return writeAll(instance_->stdinWrite, text.toUtf8() + "\r\n");
}

void Console::stopConsole() {
    if (!instance_)
        return;
    std::shared_ptr<ConsoleInstance> console = std::move(instance_);
    closeFd(console->stdinWrite);
    if (console->processId > 0) {
        ::kill(console->processId, SIGKILL);
        while (::waitpid(console->processId, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(console->stopEvent, &one, sizeof one);
}

pid_t Console::interpreterPid() const {
    return instance_ ? instance_->processId : 0;
}

}  // namespace quill
