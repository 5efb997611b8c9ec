#pragma once

#include <QByteArray>
#include <QString>

namespace quill::preflight {

// The program that runs a script typed as "sqlcmd" in the console.
enum class ScriptClient {
    QuillSqlcmd,     // ours: knows --start-batch, the status channel and the journal
    MicrosoftSqlcmd  // knows -f, nothing of the rest
};

// Which client the console's interpreter starts for "sqlcmd", decided as it
// decides: the first executable file named "sqlcmd" in the PATH it inherits
// (an empty entry is its working folder; no PATH at all means
// /usr/local/bin:/usr/bin:/bin), else quill-sqlcmd beside it.
ScriptClient scriptClient(const QByteArray& pathVariable, const QString& interpreterFolder,
                          bool pathIsSet = true);
// The same for this process's environment, which the interpreter inherits.
ScriptClient scriptClient(const QString& interpreterFolder);

// The run's command line with the options a script needs: -f i:<codePage>
// (input only: the output stays in the console's encoding) when a code page
// is to be named, and for quill-sqlcmd --start-batch <n> past the first
// batch. Microsoft's sqlcmd cannot start later: run it on the remainder
// script instead (writeRemainderScript), from its first batch.
QString withScriptOptions(const QString& commandLine, ScriptClient client, int codePage,
                          qint64 startBatch = 1);

}  // namespace quill::preflight
