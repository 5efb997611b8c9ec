#include "core/Folders.h"

#include <QDir>

namespace quill {

QString xdgFolder(const char* variable, const char* underHome) {
    const QString set = qEnvironmentVariable(variable);
    const QString base = QDir::isAbsolutePath(set) ? set : QDir::homePath() + '/' + underHome;
    return QDir::cleanPath(base + "/Quillstep");
}

}  // namespace quill
