#include "db/ConnectText.h"

#include <iconv.h>
#include <langinfo.h>

#include <QString>
#include <cctype>

namespace quill::db {

namespace {

constexpr char kDriver[] = "SQL Server";
// unixODBC copies a FILEDSN connect string into a 2048-byte buffer.
constexpr qsizetype kFileDsnLimit = 2047;
// The completed string comes back through a buffer of at most 32767 bytes;
// anything over half of that might not fit.
constexpr qsizetype kMaxDriverString = 16383;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool needsBraces(const QByteArray& v) {
    for (char c : v)
        if (c == ';' || c == '{' || c == '}' || c == '=')
            return true;
    return !v.isEmpty() && (isBlank(v.front()) || isBlank(v.back()));
}

// Keys the driver manager acts on itself; none may come out of a value.
bool isDriverManagerKey(const QByteArray& key) {
    for (const char* k : {"DSN", "FILEDSN", "SAVEFILE", "DMEnvAttr", "DMConnAttr", "DMStmtAttr"})
        if (key.compare(k, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool driverManagerReadsAsBuilt(const QByteArray& s, bool withFileDsn) {
    bool sawDriver = false;
    for (const auto& [key, value] : driverManagerPairs(s)) {
        if (key.compare("DRIVER", Qt::CaseInsensitive) == 0) {
            if (value != kDriver)
                return false;
            sawDriver = true;
        } else if (key.compare("FILEDSN", Qt::CaseInsensitive) == 0) {
            if (!withFileDsn)
                return false;
        } else if (isDriverManagerKey(key)) {
            return false;
        }
    }
    return sawDriver;
}

// The narrow text unixODBC parses when given a wide connect string: the
// locale's character set through iconv, or the low byte of each UTF-16 unit
// where iconv fails. Both are checked, as either may be the one it uses.
std::vector<QByteArray> driverManagerViews(const QByteArray& utf8) {
    const QString text = QString::fromUtf8(utf8);
    QByteArray lowBytes;
    for (QChar c : text)
        lowBytes += char(c.unicode() & 0xFF);
    std::vector<QByteArray> views{lowBytes};

    iconv_t cd = iconv_open(nl_langinfo(CODESET), "UTF-16LE");
    if (cd == iconv_t(-1))
        return views;
    QByteArray in(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    QByteArray out(in.size() * 2 + 4, '\0');
    char* ip = in.data();
    char* op = out.data();
    size_t inLeft = size_t(in.size());
    size_t outLeft = size_t(out.size());
    if (iconv(cd, &ip, &inLeft, &op, &outLeft) != size_t(-1))
        views.push_back(out.left(op - out.data()));
    iconv_close(cd);
    return views;
}

}  // namespace

ServerAddress serverAddress(const QString& server) {
    const qsizetype commaAt = server.indexOf(',');
    QString host = commaAt < 0 ? server : server.left(commaAt);
    QString port = commaAt < 0 ? QString() : server.mid(commaAt + 1);
    const qsizetype instanceAt = host.indexOf('\\');
    const QString machine = instanceAt < 0 ? host : host.left(instanceAt);
    if (machine == "." || machine.compare("(local)", Qt::CaseInsensitive) == 0)
        host.replace(0, machine.size(), "127.0.0.1");
    // A named instance finds its port through the browser service.
    if (port.isEmpty() && instanceAt < 0 && !host.isEmpty())
        port = "1433";
    return {host, port};
}

QByteArray quoteValue(const QByteArray& value) {
    return needsBraces(value) ? '{' + value + '}' : value;
}

std::vector<std::pair<QByteArray, QByteArray>> driverManagerPairs(const QByteArray& s) {
    std::vector<std::pair<QByteArray, QByteArray>> pairs;
    qsizetype i = 0;
    const qsizetype n = s.size();
    for (;;) {
        while (i < n && (std::isspace(static_cast<unsigned char>(s[i])) || s[i] == ';'))
            ++i;
        qsizetype eq = s.indexOf('=', i);
        if (i >= n || eq < 0)
            break;
        QByteArray key = s.mid(i, eq - i);
        QByteArray value;
        i = eq + 1;
        if (i < n && s[i] == '{') {
            // Up to a closing brace that is not doubled; "}}" stands for "}".
            ++i;
            while (i < n && (s[i] != '}' || (i + 1 < n && s[i + 1] == '}'))) {
                if (s[i] == '}')
                    ++i;
                value += s[i++];
            }
            if (i < n)
                ++i;
        } else {
            qsizetype end = s.indexOf(';', i);
            if (end < 0)
                end = n;
            value = s.mid(i, end - i);
            i = end;
        }
        bool replaced = false;
        for (auto& [k, v] : pairs) {
            if (k.compare(key, Qt::CaseInsensitive) == 0) {
                v = value;
                replaced = true;
            }
        }
        if (!replaced)
            pairs.emplace_back(key, value);
    }
    return pairs;
}

std::optional<QByteArray> dsnText(const OpenParameters& p, const QByteArray& computerName) {
    const ServerAddress address = serverAddress(p.server);
    const QByteArray server = address.host.toUtf8();
    const QByteArray port = address.port.toUtf8();
    const QByteArray user = p.user.toUtf8();
    const QByteArray database = p.database.toUtf8();
    for (const QByteArray* v : {&server, &port, &user, &database, &computerName})
        if (v->contains('\r') || v->contains('\n'))
            return std::nullopt;

    QByteArray text = QByteArray("[ODBC]\r\nDRIVER=") + kDriver + "\r\nSERVER=" + server;
    if (!port.isEmpty())
        text += "\r\nPORT=" + port;
    if (!user.isEmpty())
        text += "\r\nUID=" + user;
    if (!database.isEmpty())
        text += "\r\nDATABASE=" + database;
    if (!computerName.isEmpty())
        text += "\r\nWSID=" + computerName;
    return text + "\r\n";
}

std::optional<ConnectStrings> connectStrings(const OpenParameters& p,
                                             const QByteArray& computerName,
                                             const QByteArray& dsnPath) {
    bool braced = false;
    bool unreadable = false;
    auto quoted = [&](const QByteArray& v) {
        QByteArray q = quoteValue(v);
        if (q.size() != v.size()) {
            braced = true;
            unreadable |= v.contains("};");
        }
        unreadable |= v.contains('\0');
        return q;
    };
    auto element = [&](const char* key, const QString& value) {
        return value.isEmpty() ? QByteArray()
                               : QByteArray(";") + key + "=" + quoted(value.toUtf8());
    };

    // The port goes apart from the host: FreeTDS would send "host,port" as
    // the login's server name with a NUL in place of the comma, which some
    // servers refuse.
    const ServerAddress address = serverAddress(p.server);
    QByteArray tail = QByteArray(";DRIVER=") + kDriver + ";SERVER=" + quoted(address.host.toUtf8());
    tail += element("PORT", address.port);
    tail += element("UID", p.user) + element("PWD", p.password) + element("DATABASE", p.database);
    if (!computerName.isEmpty())
        tail += ";WSID=" + quoted(computerName);
    // Names and messages arrive as UTF-8 whatever the process locale.
    tail += ";ClientCharset=UTF-8";

    const QByteArray fileDsn = "FILEDSN=" + quoted(dsnPath);
    ConnectStrings s;
    s.connectString = "ODBC;" + fileDsn + tail + ";";
    if (unreadable)
        return std::nullopt;

    const QByteArray withFile = fileDsn + tail + ";";
    bool ascii = true;
    for (char c : withFile)
        ascii &= static_cast<unsigned char>(c) < 0x80;
    const bool keepFile = ascii && !braced && withFile.size() <= kFileDsnLimit;
    s.driverString = keepFile ? withFile : tail.mid(1) + ";";
    if (s.driverString.size() > kMaxDriverString)
        return std::nullopt;
    for (const QByteArray& view : driverManagerViews(s.driverString))
        if (!driverManagerReadsAsBuilt(view, keepFile))
            return std::nullopt;
    return s;
}

}  // namespace quill::db
