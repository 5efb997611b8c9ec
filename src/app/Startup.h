#pragma once

class QCoreApplication;
class QTranslator;

namespace quill {

// When XDG_RUNTIME_DIR is unset (a root shell, a service, CI), points it at
// the private folder Qt would fall back to, <tmp>/runtime-<user> with mode
// 0700, creating it when needed: Qt then finds it set and says nothing on
// standard error. The variable stays unset when that folder exists but is
// not a folder of this user's own.
void ensureRuntimeDirectory();

// Qt's own texts in Chinese (the standard buttons 确定, 取消, 是, 否 and the
// edit boxes' context menu), as the program speaks Chinese whatever the
// locale. Returns the translator, which the application owns, or nullptr
// when Qt's translations are not installed.
QTranslator* installQtChinese(QCoreApplication& app);

}  // namespace quill
