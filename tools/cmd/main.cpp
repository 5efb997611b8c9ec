// quill-cmd: a small interactive command interpreter for Quillstep's console.
// It reads command lines from standard input until its end, echoes each one,
// runs it as a program with arguments (never through a shell) and then
// prints a line break and its prompt. Its banner and prompt are the texts
// the script output handler looks for.
//
//   quill-cmd [--die-with=<pid>] [--status-fd=<fd>]

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Launch.h"
#include "console/CommandLine.h"
#include "console/ConsoleProtocol.h"

using namespace quill;

namespace {

// --die-with=<pid>: end together with that process (the program whose
// console this is), even when it is killed outright. The signal is SIGTERM,
// on which the running program's process group goes first.
void dieWith(const char* arg) {
    pid_t parent = pid_t(std::atol(arg));
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent)
        std::_Exit(0);
}

// --status-fd=<fd>: the console's status channel; anything else is no channel.
void useStatusFd(const char* arg) {
    char* end = nullptr;
    const long fd = std::strtol(arg, &end, 10);
    if (end != arg && *end == '\0' && fd >= 0 && fd < 1024 && ::fcntl(int(fd), F_GETFD) >= 0)
        cmd::setStatusFd(int(fd));
}

bool startsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

void runLine(std::string line) {
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    cmd::print(line + console::kLineBreak);
    cmd::runCommand(console::splitCommandLine(line));
    cmd::print(std::string(console::kLineBreak) + console::kPrompt);
}

}  // namespace

int main(int argc, char** argv) {
    cmd::setUpSignals();
    for (int i = 1; i < argc; ++i) {
        if (startsWith(argv[i], "--die-with="))
            dieWith(argv[i] + std::strlen("--die-with="));
        else if (startsWith(argv[i], console::kStatusFdOption))
            useStatusFd(argv[i] + std::strlen(console::kStatusFdOption));
    }

    cmd::print(std::string("Quill 命令解释器 [版本 2.0]\r\n(c) Quillstep 开发者。") +
               console::kBannerPhrase + "。" + console::kLineBreak + console::kLineBreak +
               console::kPrompt);

    std::string pending;
    char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{0, POLLIN, 0}, {cmd::signalFd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        if (fds[1].revents != 0)
            cmd::takeIdleSignals();
        if (fds[0].revents == 0)
            continue;
        ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buffer, std::size_t(n));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            runLine(std::move(line));
        }
    }
    if (!pending.empty())
        runLine(std::move(pending));
    return 0;
}
