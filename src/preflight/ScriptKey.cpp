#include "preflight/ScriptKey.h"

#include <sys/stat.h>

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace quill::preflight {

namespace {
constexpr qint64 kEdge = 1 << 20;
}

std::optional<ScriptKey> scriptKeyOf(const QString& path) {
    QFile file(path);
    struct stat st;
    if (!file.open(QIODevice::ReadOnly) || ::fstat(file.handle(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    ScriptKey key;
    key.path = QFileInfo(path).absoluteFilePath();
    key.size = st.st_size;
    key.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const QByteArray head = file.read(kEdge);
    if (head.size() != qMin(key.size, kEdge))
        return std::nullopt;
    hash.addData(head);
    if (key.size > kEdge) {
        if (!file.seek(qMax(kEdge, key.size - kEdge)))
            return std::nullopt;
        const QByteArray tail = file.read(kEdge);
        if (tail.isEmpty())
            return std::nullopt;
        hash.addData(tail);
    }
    key.digest = hash.result().toHex();
    return key;
}

}  // namespace quill::preflight
