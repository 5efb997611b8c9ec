#include "Launch.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "console/CommandLine.h"
#include "console/ConsoleProtocol.h"
#include "console/StatusChannel.h"

extern char** environ;

namespace quill::cmd {
namespace {

// The signals through which the console reaches the program, and SIGCHLD,
// arrive here instead of at handlers: they are blocked for the interpreter's
// life, so none is lost between a fork and the wait that follows it.
int g_signals = -1;
int g_statusFd = -1;

void report(std::string_view tag, const std::vector<long long>& numbers = {}) {
    console::StatusWriter(g_statusFd).write(tag, numbers);
}

// Kills the program's group (all of it, or what the program left running)
// and collects the program, whose id names the group and stays its own
// until then.
int collect(pid_t program) {
    ::kill(-program, SIGKILL);
    int status = 0;
    while (::waitpid(program, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Acts on the signals that have arrived; program is the running one, or 0.
void takeSignals(pid_t program) {
    signalfd_siginfo info;
    while (::read(g_signals, &info, sizeof info) == sizeof info) {
        const int signal = int(info.ssi_signo);
        if (signal == console::kInterruptSignal && program > 0) {
            ::kill(-program, SIGINT);
        } else if (signal == console::kKillProgramSignal && program > 0) {
            ::kill(-program, SIGKILL);
        } else if (signal == SIGTERM || signal == SIGHUP) {
            if (program > 0)
                collect(program);  // killed there
            std::_Exit(128 + signal);
        }
    }
}

bool isExecutableFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::string findOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    for (;;) {
        std::size_t end = dirs.find(':', start);
        std::string dir =
            dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (isExecutableFile(candidate))
            return candidate;
        if (end == std::string::npos)
            return {};
        start = end + 1;
    }
}

std::string ownDirectory() {
    char buffer[4096];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    std::string self(buffer, std::size_t(n));
    return self.substr(0, self.rfind('/'));
}

std::string baseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

bool isSqlcmdName(const std::string& name) {
    return ::strcasecmp(name.c_str(), "sqlcmd") == 0;
}

// "sqlcmd" is Microsoft's client when one is on the PATH, else ours: beside
// the interpreter in the build tree, in the programs' folder once installed.
std::string resolve(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return isExecutableFile(name) ? name : std::string();
    std::string found = findOnPath(isSqlcmdName(name) ? "sqlcmd" : name);
    if (found.empty() && isSqlcmdName(name)) {
        const std::string own = ownDirectory();
        for (const std::string& ours :
             {own + "/quill-sqlcmd", own + "/" QUILL_BIN_FROM_CMD "/quill-sqlcmd"})
            if (isExecutableFile(ours))
                return ours;
    }
    return found;
}

bool isSqlClient(const std::string& typed, const std::string& resolved) {
    std::string base = baseName(resolved);
    return isSqlcmdName(baseName(typed)) || isSqlcmdName(base) || base == "quill-sqlcmd";
}

// Takes -P<password> (or -P <password>) out of the arguments, so the
// password never shows in the process list. Returns true when one was given.
bool takePassword(std::vector<std::string>& args, std::string& password) {
    bool given = false;
    for (std::size_t i = 1; i < args.size();) {
        if (args[i].rfind("-P", 0) != 0) {
            ++i;
            continue;
        }
        given = true;
        password = args[i].substr(2);
        args.erase(args.begin() + long(i));
        if (password.empty() && i < args.size() && args[i].rfind('-', 0) != 0) {
            password = args[i];
            args.erase(args.begin() + long(i));
        }
    }
    return given;
}

// The interpreter's environment without the named variables, then the
// given "NAME=value" entries.
std::vector<std::string> environmentWith(const std::vector<std::string>& names,
                                         const std::vector<std::string>& entries) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        bool replaced = false;
        for (const std::string& name : names)
            replaced = replaced || (std::strncmp(*e, name.c_str(), name.size()) == 0 &&
                                    (*e)[name.size()] == '=');
        if (!replaced)
            env.emplace_back(*e);
    }
    env.insert(env.end(), entries.begin(), entries.end());
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// In the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void execProgram(const char* path, char* const argv[], char* const envp[],
                              pid_t interpreter, int execErrorFd) {
    // A group of its own, so that a stop reaches whatever it starts too, and
    // death with the interpreter, even when the interpreter is killed
    // outright. If the interpreter died before the request took hold, the
    // parent is no longer it.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != interpreter)
        ::_exit(127);

    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    for (int s = 1; s < NSIG; ++s)
        if (s != SIGKILL && s != SIGSTOP)
            ::sigaction(s, &plain, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    const int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull > 0) {
        ::dup2(devNull, 0);
        ::close(devNull);
    }
    // Nothing else of the interpreter's reaches the program; the exec error
    // pipe closes itself on a successful exec.
    ::close_range(g_statusFd >= 0 ? console::kStatusFd + 1 : console::kStatusFd, ~0U,
                  CLOSE_RANGE_CLOEXEC);

    ::execve(path, argv, envp);
    const int error = errno;
    [[maybe_unused]] ssize_t ignored = ::write(execErrorFd, &error, sizeof error);
    ::_exit(127);
}

// Waits until the program has ended, passing the console's signals on to
// its group meanwhile, and collects it. Returns its wait status.
int waitForProgram(pid_t pid) {
    for (;;) {
        // Ended? It stays uncollected, so its id cannot go to another process.
        siginfo_t info{};
        if (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid)
            return collect(pid);
        if (g_signals < 0) {  // no signal channel: wait, unreachable
            while (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
            }
            continue;
        }
        pollfd fd{g_signals, POLLIN, 0};
        if (::poll(&fd, 1, -1) > 0)
            takeSignals(pid);
    }
}

}  // namespace

void setStatusFd(int fd) {
    // Programs find the channel on kStatusFd; the interpreter keeps it there too.
    if (fd >= 0 && fd != console::kStatusFd) {
        const bool moved = ::dup2(fd, console::kStatusFd) == console::kStatusFd;
        ::close(fd);
        fd = moved ? console::kStatusFd : -1;
    }
    g_statusFd = fd;
}

void setUpSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {console::kInterruptSignal, console::kKillProgramSignal, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&set, s);
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    g_signals = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

int signalFd() {
    return g_signals;
}

void takeIdleSignals() {
    takeSignals(0);
}

void print(const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(1, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            std::exit(1);
        }
        data += n;
        left -= std::size_t(n);
    }
}

void runCommand(std::vector<std::string> args) {
    std::vector<std::string> assignments;
    while (!args.empty() && console::isAssignmentWord(args.front())) {
        assignments.push_back(std::move(args.front()));
        args.erase(args.begin());
    }
    if (args.empty()) {
        report("exited", {0});  // nothing to run succeeds
        return;
    }
    std::string program = resolve(args[0]);
    if (program.empty()) {
        print("找不到程序：" + args[0] + "\r\n");
        report("unstarted");
        return;
    }

    // A stale channel variable from outside must not send a program
    // writing to whatever its descriptor 3 is.
    std::vector<std::string> names{console::kStatusFdVariable};
    std::vector<std::string> entries;
    if (g_statusFd >= 0)
        entries.push_back(std::string(console::kStatusFdVariable) + "=" +
                          std::to_string(console::kStatusFd));
    std::string password;
    if (isSqlClient(args[0], program) && takePassword(args, password)) {
        names.push_back("SQLCMDPASSWORD");
        entries.push_back("SQLCMDPASSWORD=" + password);
    }
    // The line's own variables (the last of a name counts), except those
    // the interpreter sets itself.
    for (auto a = assignments.rbegin(); a != assignments.rend(); ++a) {
        std::string name = a->substr(0, a->find('='));
        if (std::find(names.begin(), names.end(), name) != names.end())
            continue;
        names.push_back(std::move(name));
        entries.push_back(std::move(*a));
    }
    std::vector<std::string> env = environmentWith(names, entries);
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = pointers(env);

    int execError[2];
    if (::pipe2(execError, O_CLOEXEC) != 0) {
        print("无法运行 " + args[0] + "：" + std::strerror(errno) + "\r\n");
        report("unstarted");
        return;
    }
    const pid_t interpreter = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0)
        execProgram(program.c_str(), argv.data(), envp.data(), interpreter, execError[1]);
    const int forkError = errno;
    if (pid > 0)
        ::setpgid(pid, pid);  // also here, so that the group exists before a signal needs it
    ::close(execError[1]);
    if (pid < 0) {
        ::close(execError[0]);
        print("无法运行 " + args[0] + "：" + std::strerror(forkError) + "\r\n");
        report("unstarted");
        return;
    }

    int execErrno = 0;
    ssize_t n;
    while ((n = ::read(execError[0], &execErrno, sizeof execErrno)) < 0 && errno == EINTR) {
    }
    ::close(execError[0]);
    if (n == sizeof execErrno) {
        waitForProgram(pid);
        print("无法运行 " + args[0] + "：" + std::strerror(execErrno) + "\r\n");
        report("unstarted");
        return;
    }

    report("started", {pid});
    const int status = waitForProgram(pid);
    if (WIFSIGNALED(status))
        report("signalled", {WTERMSIG(status)});
    else
        report("exited", {WEXITSTATUS(status)});
}

}  // namespace quill::cmd
