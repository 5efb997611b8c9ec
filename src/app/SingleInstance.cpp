#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QFileInfo>
#include <cerrno>

namespace quill {

namespace {

QString lockPath(const QString& name) {
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty() && QFileInfo(runtimeDir).isDir())
        return runtimeDir + "/" + name + ".lock";
    return QString("/tmp/%1-%2.lock").arg(name).arg(getuid());
}

}  // namespace

QString instanceMarkPath(const QString& name) {
    return lockPath(name.isEmpty() ? QString("Quillstep") : name);
}

bool isAnotherInstanceRunning(const QString& name) {
    const QByteArray path = instanceMarkPath(name).toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return false;  // ours now; fd deliberately kept open
    const bool heldElsewhere = errno == EWOULDBLOCK;
    ::close(fd);
    return heldElsewhere;
}

}  // namespace quill
