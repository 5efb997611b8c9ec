#include "ClientHarness.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/Paths.h"

namespace fs = std::filesystem;

namespace quill::test {

namespace {

// The stand-in log's escapes (\n, \r, \t, \\) undone.
std::string unescape(const QString& detail) {
    const std::string s = detail.toStdString();
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char c = s[++i];
            out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
        } else {
            out += s[i];
        }
    }
    return out;
}

}  // namespace

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

int countOf(const std::string& haystack, const std::string& needle) {
    int n = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + 1)) {
        ++n;
    }
    return n;
}

void ClientTest::SetUp() {
    dir_ =
        fs::temp_directory_path() / ("quill-client-" + std::to_string(::getpid()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
}

void ClientTest::TearDown() {
    fs::remove_all(dir_);
}

std::string ClientTest::file(const std::string& name, const std::string& content) {
    fs::path p = dir_ / fs::u8path(name);
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
}

ClientRun ClientTest::run(const std::vector<std::string>& args,
                          const std::map<std::string, std::string>& env, int timeoutSeconds,
                          const std::function<void(pid_t)>& whileRunning) {
    const std::string program = binPath("quill-sqlcmd").toStdString();
    const fs::path outPath = dir_ / "client.out", errPath = dir_ / "client.err";
    int status[2] = {-1, -1};
    if (captureStatus_ && ::pipe2(status, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe2";
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        if (status[1] >= 0) {
            ::dup2(status[1], 3);  // dup2 clears close-on-exec on the copy
            ::setenv("QUILL_STATUS_FD", "3", 1);
        }
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        for (const char* name : {"SQLCMDSERVER", "SQLCMDUSER", "SQLCMDPASSWORD", "SQLCMDDBNAME",
                                 "SQLCMDLOGINTIMEOUT", "SQLCMDSTATTIMEOUT"}) {
            ::unsetenv(name);
        }
        for (const auto& [k, v] : env) {
            ::setenv(k.c_str(), v.c_str(), 1);
        }
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ClientRun r;
    if (status[1] >= 0) {
        ::close(status[1]);
        ::fcntl(status[0], F_SETFL, O_NONBLOCK);
    }
    // Drains the channel as the console would, so that the client never
    // blocks on it.
    auto drain = [&] {
        char buf[4096];
        ssize_t n;
        while (status[0] >= 0 && (n = ::read(status[0], buf, sizeof buf)) > 0) {
            r.status.append(buf, static_cast<std::size_t>(n));
        }
    };
    if (whileRunning) {
        whileRunning(pid);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int waitStatus = 0;
    rusage usage{};
    while (::wait4(pid, &waitStatus, WNOHANG, &usage) == 0) {
        drain();
        if (std::chrono::steady_clock::now() > deadline) {
            r.timedOut = true;
            ::kill(pid, SIGKILL);
            ::wait4(pid, &waitStatus, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    drain();
    if (status[0] >= 0) {
        ::close(status[0]);
    }
    r.exitCode = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
    r.maxRssKb = usage.ru_maxrss;
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    return r;
}

std::vector<std::string> ClientTest::login(const StandinServer& s) {
    return {"-S", s.serverText().toStdString(), "-U", "sa", "-P", s.password().toStdString()};
}

std::vector<std::string> ClientTest::login(const TestServer& s) {
    return {"-S", s.serverText().toStdString(), "-U", s.login().toStdString(),
            "-P", s.password().toStdString()};
}

std::vector<std::string> ClientTest::plus(std::vector<std::string> a,
                                          const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> ClientTest::batches(const StandinServer& s) {
    std::vector<std::string> out;
    for (const QString& d : s.logEvents("batch")) {
        if (!d.startsWith("SET ANSI_NULLS ON\\nSET ANSI_PADDING ON")) {
            out.push_back(unescape(d));
        }
    }
    return out;
}

}  // namespace quill::test
