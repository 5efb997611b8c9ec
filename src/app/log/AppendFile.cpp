#include "app/log/AppendFile.h"

#include <fcntl.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <limits>

namespace quill::logbox {

namespace {

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

std::shared_ptr<AppendFile> AppendFile::scratch(const QString& folder) {
    QString problem;
    if (QDir().mkpath(folder)) {
        // Unlinked at once: the spool never outlives the program, even a crashed one.
        QByteArray name = QFile::encodeName(QDir(folder).filePath(".log-spool-XXXXXX"));
        const int fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) {
            ::unlink(name.constData());
            return std::shared_ptr<AppendFile>(new AppendFile(fd, 0, false));
        }
        problem = systemError(errno);
    } else {
        problem = QStringLiteral("cannot create %1").arg(folder);
    }
    std::shared_ptr<AppendFile> memory(new AppendFile(-1, 0, false));
    memory->problem_ = problem;
    memory->writeAt_ = std::numeric_limits<qsizetype>::max();
    return memory;
}

std::shared_ptr<AppendFile> AppendFile::open(const QString& path, QString* error) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = systemError(errno);
        return nullptr;
    }
    const off_t end = ::lseek(fd, 0, SEEK_END);
    return std::shared_ptr<AppendFile>(new AppendFile(fd, end > 0 ? quint64(end) : 0, true));
}

AppendFile::~AppendFile() {
    if (fd_ < 0)
        return;
    // A run's log keeps what was appended, as far as the disk allows.
    if (keep_)
        flush();
    ::close(fd_);
}

void AppendFile::append(QByteArrayView bytes) {
    tail_.append(bytes.data(), bytes.size());
    if (tail_.size() >= writeAt_)
        flush();
}

bool AppendFile::flush() {
    if (fd_ < 0)
        return tail_.isEmpty();
    qsizetype done = 0;
    while (done < tail_.size()) {
        const ssize_t n = ::write(fd_, tail_.constData() + done, size_t(tail_.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            problem_ = systemError(n < 0 ? errno : ENOSPC);
            break;
        }
        done += n;
        written_ += quint64(n);
    }
    tail_.remove(0, done);
    if (tail_.isEmpty()) {
        problem_.clear();
        writeAt_ = kTailLimit;
        return true;
    }
    // The disk refused: keep the bytes and try again once another full tail has come.
    writeAt_ = tail_.size() + kTailLimit;
    return false;
}

qint64 AppendFile::readFrom(int fd, quint64 written, const QByteArray& tail, quint64 offset,
                            char* out, qint64 length) {
    qint64 done = 0;
    while (done < length && offset < written) {
        const qint64 want = qint64(std::min<quint64>(quint64(length - done), written - offset));
        const ssize_t n = ::pread(fd, out + done, size_t(want), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return done;
        done += n;
        offset += quint64(n);
    }
    if (done < length && offset >= written && offset - written < quint64(tail.size())) {
        const qint64 n = std::min<qint64>(length - done, tail.size() - qint64(offset - written));
        std::memcpy(out + done, tail.constData() + (offset - written), size_t(n));
        done += n;
    }
    return done;
}

qint64 AppendFile::read(quint64 offset, char* out, qint64 length) const {
    return readFrom(fd_, written_, tail_, offset, out, length);
}

AppendFile::Frozen AppendFile::freeze() const {
    Frozen frozen;
    frozen.file_ = shared_from_this();
    frozen.written_ = written_;
    frozen.tail_ = tail_;
    return frozen;
}

qint64 AppendFile::Frozen::read(quint64 offset, char* out, qint64 length) const {
    return readFrom(file_->fd_, written_, tail_, offset, out, length);
}

}  // namespace quill::logbox
