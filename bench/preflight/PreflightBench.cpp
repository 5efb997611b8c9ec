// The pre-flight scan of a dropped script: seconds and peak memory on a
// generated SSMS-style script of about 2 GB (UTF-8, UTF-16LE as SSMS saves
// "Unicode text", and GBK as it saves "ANSI" on Chinese Windows), each from
// a cold page cache (the file's pages dropped) and a warm one. The scan runs
// in a child process, so the peak RSS is the scan's own. Each figure is
// printed with its ratio to the target (a 2 GB script in 5 s), and with the
// CPU time, which the load of a shared machine moves less than the wall time.
// QUILL_BENCH_KEEP=1 keeps the scripts.
//
//   preflight_bench [MB] [folder]    defaults: 2048, $TMPDIR or /tmp
#include <fcntl.h>
#include <iconv.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "preflight/ScriptScanner.h"

using namespace quill::preflight;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kTargetSeconds = 5.0;  // for 2 GB

std::string convert(const std::string& utf8, const char* to) {
    iconv_t cd = iconv_open(to, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error(std::string("no iconv for ") + to);
    std::string out(utf8.size() * 4 + 8, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size(), outLeft = out.size();
    char* o = out.data();
    if (iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<std::size_t>(-1))
        throw std::runtime_error(std::string("cannot convert to ") + to);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

// An SSMS "schema and data" script: the database with its data-file paths,
// a table with Chinese names, then INSERTs with a GO every 1,000 rows.
void generate(const std::string& path, const char* encoding, std::uint64_t bytes) {
    auto enc = [&](const std::string& s) { return convert(s, encoding); };
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        throw std::runtime_error("cannot write " + path);
    const bool utf16 = std::string(encoding) == "UTF-16LE";
    std::string head = utf16 ? "\xFF\xFE" : "";
    head +=
        enc("USE [master]\r\nGO\r\n"
            "CREATE DATABASE [商城] ON PRIMARY ( NAME = N'商城', FILENAME = N'C:\\Program Files\\"
            "Microsoft SQL Server\\MSSQL\\DATA\\商城.mdf' )\r\n LOG ON ( NAME = N'商城_log', "
            "FILENAME = N'C:\\Program Files\\Microsoft SQL Server\\MSSQL\\DATA\\商城_log.ldf' )\r\n"
            "GO\r\nUSE [商城]\r\nGO\r\nCREATE TABLE [dbo].[订单]([编号] [int] NOT NULL, [客户] "
            "[nvarchar](50) NULL, [金额] [decimal](18, 2) NULL) ON [PRIMARY]\r\nGO\r\n");
    std::fwrite(head.data(), 1, head.size(), f);
    const std::string prefix = enc("INSERT [dbo].[订单] ([编号], [客户], [金额]) VALUES (");
    const std::string middle = enc(", N'北京市海淀区客户 ");
    const std::string suffix = enc("', CAST(1234.50 AS Decimal(18, 2)))\r\n");
    const std::string go = enc("GO\r\n");
    std::string block;
    std::uint64_t written = head.size();
    for (long row = 1; written < bytes; ++row) {
        std::string n;
        for (char c : std::to_string(row)) {
            n += c;
            if (utf16)
                n += '\0';
        }
        block += prefix + n + middle + n + suffix;
        if (row % 1000 == 0)
            block += go;
        if (block.size() > (1 << 20)) {
            std::fwrite(block.data(), 1, block.size(), f);
            written += block.size();
            block.clear();
        }
    }
    std::fwrite(block.data(), 1, block.size(), f);
    std::fflush(f);
    ::fdatasync(fileno(f));
    std::fclose(f);
}

struct Measure {
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKb = 0;
    ScriptFacts facts;
};

Measure scanInChild(const std::string& path, bool cold) {
    if (cold) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        throw std::runtime_error("pipe");
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const ScriptFacts facts = scanScriptFile(path);
        long numbers[4] = {facts.batches, facts.lines, facts.codePage,
                           long(facts.databaseFiles.size())};
        (void)!::write(pipeFds[1], numbers, sizeof numbers);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    long numbers[4] = {};
    (void)!::read(pipeFds[0], numbers, sizeof numbers);
    ::close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Measure m;
    m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    m.peakKb = usage.ru_maxrss;
    m.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    m.facts.batches = numbers[0];
    m.facts.lines = numbers[1];
    m.facts.codePage = int(numbers[2]);
    m.facts.databaseFiles.resize(std::size_t(numbers[3]));
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 2048;
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = argc > 2 ? argv[2] : (tmp && *tmp ? tmp : "/tmp");
    const double target = kTargetSeconds * double(megabytes) / 2048;
    std::printf("pre-flight scan of a %llu MB SSMS-style script (target %.1f s)\n",
                static_cast<unsigned long long>(megabytes), target);
    for (const char* encoding : {"UTF-8", "UTF-16LE", "GBK"}) {
        const std::string path = folder + "/quill-preflight-bench-" + encoding + ".sql";
        try {
            generate(path, encoding, megabytes << 20);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "preflight_bench: %s\n", e.what());
            return 1;
        }
        for (bool cold : {true, false}) {
            const Measure m = scanInChild(path, cold);
            std::printf(
                "  %-8s %-4s %6.2f s (CPU %5.2f s)  %5.2fx target  peak RSS %4ld MB  "
                "(%ld batches, %ld lines, -f %d, %zu data-file paths)\n",
                encoding, cold ? "cold" : "warm", m.seconds, m.cpuSeconds, target / m.seconds,
                m.peakKb / 1024, m.facts.batches, m.facts.lines, m.facts.codePage,
                m.facts.databaseFiles.size());
        }
        if (!std::getenv("QUILL_BENCH_KEEP"))
            ::unlink(path.c_str());
    }
    return 0;
}
