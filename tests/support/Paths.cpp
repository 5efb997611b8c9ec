#include "support/Paths.h"

#include <QCoreApplication>
#include <QDir>

namespace quill::test {

QString binDir() {
    QString dir = qEnvironmentVariable("QUILL_BIN_DIR");
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath() + "/../bin";
    return QDir(dir).absolutePath();
}

QString binPath(const QString& name) {
    return binDir() + "/" + name;
}

QString sourceDir() {
    return qEnvironmentVariable("QUILL_SOURCE_DIR");
}

}  // namespace quill::test
