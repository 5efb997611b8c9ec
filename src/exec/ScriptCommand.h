#pragma once

#include <QString>

namespace quill::exec {

// The sqlcmd command lines of the execute button. Login, password and path
// stand in double quotes, so blanks and special characters reach sqlcmd as
// they are.

// SQL Server authentication: sqlcmd -U"<login>" -P"<password>" -i "<path>".
QString sqlServerCommandLine(const QString& login, const QString& password, const QString& path);

// Windows authentication: sqlcmd -i "<path>".
QString windowsCommandLine(const QString& path);

}  // namespace quill::exec
