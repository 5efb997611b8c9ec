#include "db/DsnFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace quill::db {

namespace {
constexpr char kFileName[] = "~sqlsrv.dsn";
}

QByteArray DsnFile::temporaryDirectory() {
    QByteArray dir = qgetenv("TMPDIR");
    if (dir.isEmpty())
        dir = "/tmp";
    if (!dir.endsWith('/'))
        dir += '/';
    return dir;
}

DsnFile::DsnFile(const QByteArray& text) {
    const QByteArray dir = temporaryDirectory();
    path_ = dir + kFileName;
    if (create(path_, text) || errno != EEXIST)
        return;

    QByteArray pattern = dir + "quill-dsn-XXXXXX";
    if (!mkdtemp(pattern.data()))
        return;
    privateDir_ = pattern;
    path_ = privateDir_ + '/' + kFileName;
    create(path_, text);
}

DsnFile::~DsnFile() {
    if (created_)
        unlink(path_.constData());
    if (!privateDir_.isEmpty())
        rmdir(privateDir_.constData());
}

bool DsnFile::create(const QByteArray& path, const QByteArray& text) {
    int fd = open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    created_ = true;
    qsizetype done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.constData() + done, size_t(text.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    written_ = done == text.size();
    close(fd);
    return true;
}

}  // namespace quill::db
