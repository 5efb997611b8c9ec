#include "exec/ReadOffset.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <charconv>
#include <string>
#include <string_view>
#include <vector>

namespace quill::exec {

namespace {

std::string procPath(pid_t pid, const char* what) {
    return "/proc/" + std::to_string(pid) + "/" + what;
}

// A small /proc file, whole.
std::string readSmall(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char buffer[4096];
    std::string out;
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        out.append(buffer, std::size_t(n));
    ::close(fd);
    return out;
}

// The processes a process started, as far as /proc tells.
std::vector<pid_t> childrenOf(pid_t pid) {
    std::vector<pid_t> out;
    const std::string text = readSmall(procPath(pid, "task/") + std::to_string(pid) + "/children");
    const char* at = text.data();
    const char* end = at + text.size();
    while (at < end) {
        pid_t child = 0;
        auto [next, ec] = std::from_chars(at, end, child);
        if (ec == std::errc() && child > 0)
            out.push_back(child);
        at = next == at ? at + 1 : next;
    }
    return out;
}

}  // namespace

ReadOffsetProbe::ReadOffsetProbe(pid_t pid, const QString& path) : pid_(pid) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        fileKnown_ = true;
        device_ = st.st_dev;
        inode_ = st.st_ino;
    }
}

bool ReadOffsetProbe::holds(pid_t pid, int fd) const {
    struct stat st {};
    const std::string link = procPath(pid, "fd/") + std::to_string(fd);
    return ::stat(link.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_;
}

bool ReadOffsetProbe::find() {
    std::vector<pid_t> candidates{pid_};
    for (pid_t child : childrenOf(pid_))
        candidates.push_back(child);
    for (pid_t pid : candidates) {
        DIR* dir = ::opendir(procPath(pid, "fd").c_str());
        if (!dir)
            continue;
        while (const dirent* entry = ::readdir(dir)) {
            int fd = -1;
            const std::string_view name(entry->d_name);
            auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), fd);
            if (ec != std::errc() || end != name.data() + name.size() || !holds(pid, fd))
                continue;
            holder_ = pid;
            fd_ = fd;
            ::closedir(dir);
            return true;
        }
        ::closedir(dir);
    }
    return false;
}

std::optional<qint64> ReadOffsetProbe::offset() {
    if (!fileKnown_)
        return std::nullopt;
    // The descriptor may have been closed, or its number reused, since.
    if ((fd_ < 0 || !holds(holder_, fd_)) && !find())
        return std::nullopt;
    const std::string info = readSmall(procPath(holder_, "fdinfo/") + std::to_string(fd_));
    const std::size_t at = info.find("pos:");
    if (at == std::string::npos)
        return std::nullopt;
    std::size_t digits = at + 4;
    while (digits < info.size() && (info[digits] == ' ' || info[digits] == '\t'))
        ++digits;
    qint64 pos = 0;
    auto [end, ec] = std::from_chars(info.data() + digits, info.data() + info.size(), pos);
    if (ec != std::errc())
        return std::nullopt;
    return pos;
}

QString ReadOffsetProbe::programName(pid_t pid) {
    char target[4096];
    const ssize_t n = ::readlink(procPath(pid, "exe").c_str(), target, sizeof target - 1);
    if (n <= 0)
        return {};
    const QString path = QFile::decodeName(QByteArray(target, qsizetype(n)));
    return path.mid(path.lastIndexOf('/') + 1);
}

}  // namespace quill::exec
