#include "app/ScriptDrop.h"

#include "exec/RunTexts.h"

namespace quill {

const char* const kDropSqlFile = "请拖入*.sql文件";
const char* const kScriptFilePrefix = "SQL文件：";

namespace {

// Compares bytes, folding only A to Z: a name that merely looks like ".sql"
// under Unicode case folding does not end in ".sql".
bool endsWithSql(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    if (bytes.size() < 4)
        return false;
    return bytes.right(4).toLower() == ".sql";
}

}  // namespace

QString droppedFilesText(const QStringList& paths) {
    if (paths.size() == 1)
        return paths.front();
    QString text;
    for (const QString& path : paths)
        text += path + "\r\n";
    return text;
}

void onScriptFilesDropped(Form& form, const ProgramState& state, const QString& files,
                          bool runUnderWay, const std::function<void()>& startConsole) {
    if (runUnderWay) {
        form.setStatus(1, QString::fromUtf8(exec::kDropDuringRun));
        return;
    }
    if (state.connected() != 1) {
        form.setStatus(1, QString::fromUtf8(exec::kConnectFirst));
        return;
    }
    if (!endsWithSql(files)) {
        form.setStatus(1, QString::fromUtf8(kDropSqlFile));
        return;
    }
    form.setText(Control::编辑框5, files);
    startConsole();
    form.setStatus(1, QString::fromUtf8(kScriptFilePrefix) + form.text(Control::编辑框5));
}

}  // namespace quill
