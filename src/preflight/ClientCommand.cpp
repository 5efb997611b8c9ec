#include "preflight/ClientCommand.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>

namespace quill::preflight {

ScriptClient scriptClient(const QByteArray& pathVariable, const QString& interpreterFolder,
                          bool pathIsSet) {
    const QByteArray path = pathIsSet ? pathVariable : QByteArray("/usr/local/bin:/usr/bin:/bin");
    for (const QByteArray& entry : path.split(':')) {
        QString dir = entry.isEmpty() ? QStringLiteral(".") : QString::fromLocal8Bit(entry);
        if (QDir::isRelativePath(dir))
            dir = QDir(interpreterFolder).filePath(dir);
        const QString candidate = dir + "/sqlcmd";
        const QFileInfo info(candidate);
        if (info.isFile() && ::access(QFile::encodeName(candidate).constData(), X_OK) == 0)
            return ScriptClient::MicrosoftSqlcmd;
    }
    return ScriptClient::QuillSqlcmd;
}

ScriptClient scriptClient(const QString& interpreterFolder) {
    return scriptClient(qgetenv("PATH"), interpreterFolder, qEnvironmentVariableIsSet("PATH"));
}

QString withScriptOptions(const QString& commandLine, ScriptClient client, int codePage,
                          qint64 startBatch) {
    QString line = commandLine;
    if (codePage > 0)
        line += QStringLiteral(" -f i:%1").arg(codePage);
    if (client == ScriptClient::QuillSqlcmd && startBatch > 1)
        line += QStringLiteral(" --start-batch %1").arg(startBatch);
    return line;
}

}  // namespace quill::preflight
