#include "exec/ScriptCommand.h"

#include "console/CommandLine.h"

namespace quill::exec {
namespace {

QString quoted(const QString& text) {
    return QString::fromStdString(console::quoteArgument(text.toStdString()));
}

// Glued to its switch, so that a name starting with "-" is not read as a switch.
QString serverSwitch(const QString& server) {
    const QString name = server.trimmed();
    return name.isEmpty() ? QString() : " -S" + quoted(name);
}

}  // namespace

QString sqlServerCommandLine(const QString& server, const QString& login, const QString& password,
                             const QString& path) {
    return "sqlcmd" + serverSwitch(server) + " -U" + quoted(login) + " -P" + quoted(password) +
           " -i " + quoted(path);
}

QString windowsCommandLine(const QString& server, const QString& path) {
    return "sqlcmd" + serverSwitch(server) + " -i " + quoted(path);
}

}  // namespace quill::exec
