#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

namespace quill::db {

// What an open names: texts as the user typed them; empty ones are left out.
struct OpenParameters {
    QString server;
    QString user;
    QString password;
    QString database;
};

// The connect strings of one open.
struct ConnectStrings {
    // "ODBC;FILEDSN=<path>;DRIVER=SQL Server;SERVER=...;...;"
    QByteArray connectString;
    // What SQLDriverConnect gets: the connect string without "ODBC;". unixODBC
    // rebuilds a FILEDSN string without the braces of quoted values, through
    // a 2 KB buffer and its locale's character set, so FILEDSN is also left
    // out unless the string is plain short ASCII; every key of the file is
    // in the string anyway, where it wins.
    QByteArray driverString;
};

// Where FreeTDS finds a server written as SQL Server tools take it: "host",
// "host,port", "host\\instance", "host\\instance,port".
struct ServerAddress {
    QString host;  // with its "\\instance"; "." and "(local)" are 127.0.0.1
    QString port;  // 1433 when neither a port nor an instance is named
};
ServerAddress serverAddress(const QString& server);

// A value as the driver reads it: unchanged when it holds nothing special,
// else in braces. FreeTDS ends a braced value at the first "};" and keeps
// doubled braces as they are, so a closing brace is not doubled.
QByteArray quoteValue(const QByteArray& value);

// Key/value pairs as unixODBC's driver manager reads a connect string (a
// later key replaces an earlier one of the same name).
std::vector<std::pair<QByteArray, QByteArray>> driverManagerPairs(const QByteArray& connectString);

// The bytes of the temporary file DSN: [ODBC], DRIVER, SERVER, UID,
// DATABASE, WSID lines, each ended by CR LF; never the password. Nothing
// when a value written there holds a line break, which would add lines.
std::optional<QByteArray> dsnText(const OpenParameters& p, const QByteArray& computerName);

// The connect strings for an open with the given parameters, computer name
// (empty: no WSID) and DSN file path. Nothing when the values cannot reach
// the driver intact: a NUL anywhere, a braced value holding "};", a string
// the driver manager would read other keys from, or one too long to hand
// back.
std::optional<ConnectStrings> connectStrings(const OpenParameters& p,
                                             const QByteArray& computerName,
                                             const QByteArray& dsnPath);

}  // namespace quill::db
