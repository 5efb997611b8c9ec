#include "Launch.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace quill::cmd {
namespace {

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

std::vector<std::string> environmentWith(const std::string& name, const std::string& value) {
    std::vector<std::string> env;
    std::string prefix = name + "=";
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, prefix.c_str(), prefix.size()) != 0)
            env.emplace_back(*e);
    env.push_back(prefix + value);
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

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
    if (args.empty())
        return;
    std::string program = resolve(args[0]);
    if (program.empty()) {
        print("找不到程序：" + args[0] + "\r\n");
        return;
    }

    std::vector<std::string> env;
    std::string password;
    if (isSqlClient(args[0], program) && takePassword(args, password))
        env = environmentWith("SQLCMDPASSWORD", password);
    else
        for (char** e = environ; *e; ++e)
            env.emplace_back(*e);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = pointers(env);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        print("无法运行 " + args[0] + "：" + std::strerror(rc) + "\r\n");
        return;
    }
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace quill::cmd
