#include "app/log/DocumentRunLog.h"

namespace quill::logbox {

QString DocumentRunLog::beginRun(const QDateTime& start, const QString& scriptPath,
                                 QString* error) {
    const QString path = store_.startRun(start, scriptPath, error);
    if (path.isEmpty() || !document_.bindRunLog(path, error))
        return {};
    return path;
}

}  // namespace quill::logbox
