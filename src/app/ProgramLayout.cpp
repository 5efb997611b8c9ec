#include "app/ProgramLayout.h"

#include <QDir>
#include <QFileInfo>

namespace quill {

namespace {

bool isExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

}  // namespace

ProgramLayout programLayout(const QString& programDir) {
    const QDir dir(programDir);
    const QString beside = dir.filePath("quill-cmd");
    if (isExecutableFile(beside))
        return {beside, false, true};
    const QString installed =
        QDir::cleanPath(dir.filePath(QStringLiteral(QUILL_CMD_FROM_BIN "/quill-cmd")));
    if (isExecutableFile(installed))
        return {installed, true, true};
    return {beside, false, false};
}

}  // namespace quill
