#include "exec/ScriptCommand.h"

#include "console/CommandLine.h"

namespace quill::exec {
namespace {

QString quoted(const QString& text) {
    return QString::fromStdString(console::quoteArgument(text.toStdString()));
}

}  // namespace

QString sqlServerCommandLine(const QString& login, const QString& password, const QString& path) {
    return "sqlcmd -U" + quoted(login) + " -P" + quoted(password) + " -i " + quoted(path);
}

QString windowsCommandLine(const QString& path) {
    return "sqlcmd -i " + quoted(path);
}

}  // namespace quill::exec
