#pragma once

#include <QString>

namespace quill::exec {

// The sqlcmd command lines of the execute button. Server, login, password
// and path stand in double quotes, so blanks and special characters reach
// sqlcmd as they are. The server is the one the window is connected to, in
// the form the connection used (".", "(local)", "host", "host,port",
// "host\instance"); surrounding blanks are dropped, and an empty one leaves
// -S out, so the client takes its own default.

// SQL Server authentication: sqlcmd -S"<server>" -U"<login>" -P"<password>" -i "<path>".
QString sqlServerCommandLine(const QString& server, const QString& login, const QString& password,
                             const QString& path);

// Windows authentication: sqlcmd -S"<server>" -i "<path>".
QString windowsCommandLine(const QString& server, const QString& path);

}  // namespace quill::exec
