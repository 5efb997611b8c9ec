#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "core/Form.h"
#include "core/ProgramState.h"

namespace quill {

// (Not connected, and a run under way: exec::kConnectFirst, exec::kDropDuringRun.)
extern const char* const kDropSqlFile;
extern const char* const kScriptFilePrefix;

// The dropped paths as one text: a single path as it is, several each
// followed by "\r\n".
QString droppedFilesText(const QStringList& paths);

// 拖放对象1 received files: while connected, no run is under way and the
// text ends in ".sql" (any letter case), it becomes the script path and a
// console is started for it; otherwise only the status says why not. A run
// under way goes on: a new console would leave its client running unseen.
void onScriptFilesDropped(Form& form, const ProgramState& state, const QString& files,
                          bool runUnderWay, const std::function<void()>& startConsole);

}  // namespace quill
