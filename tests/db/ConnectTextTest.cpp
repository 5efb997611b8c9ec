#include <gtest/gtest.h>

#include <map>

#include "db/ConnectText.h"

using namespace quill::db;

namespace {

// Key/value pairs as FreeTDS reads a connect string: a braced value runs to
// the first "};", an unbraced one to the first ";".
std::map<QByteArray, QByteArray> freetdsPairs(const QByteArray& s) {
    std::map<QByteArray, QByteArray> pairs;
    qsizetype i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ';')
            ++i;
        qsizetype eq = s.indexOf('=', i);
        if (eq < 0)
            break;
        QByteArray key = s.mid(i, eq - i).toUpper();
        qsizetype end;
        if (eq + 1 < s.size() && s[eq + 1] == '{') {
            end = s.indexOf("};", eq + 2);
            pairs[key] = s.mid(eq + 2, end - eq - 2);
            i = end + 2;
        } else {
            end = s.indexOf(';', eq + 1);
            if (end < 0)
                end = s.size();
            pairs[key] = s.mid(eq + 1, end - eq - 1);
            i = end + 1;
        }
    }
    return pairs;
}

const QByteArray kPath = "/tmp/~sqlsrv.dsn";

}  // namespace

TEST(ConnectText, WorkedExampleFileAndStrings) {
    OpenParameters p{"127.0.0.1", "sa", "secret", {}};
    EXPECT_EQ(
        *dsnText(p, "WS01"),
        "[ODBC]\r\nDRIVER=SQL Server\r\nSERVER=127.0.0.1\r\nPORT=1433\r\nUID=sa\r\nWSID=WS01\r\n");
    auto s = connectStrings(p, "WS01", kPath);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->connectString,
              "ODBC;FILEDSN=/tmp/~sqlsrv.dsn;DRIVER=SQL "
              "Server;SERVER=127.0.0.1;PORT=1433;UID=sa;PWD=secret;WSID=WS01;"
              "ClientCharset=UTF-8;");
    EXPECT_EQ(s->driverString, s->connectString.mid(5));
}

TEST(ConnectText, EmptyValuesAndNoComputerNameLeaveTheirKeysOut) {
    OpenParameters p{"db1,1500", {}, {}, {}};
    EXPECT_EQ(*dsnText(p, {}), "[ODBC]\r\nDRIVER=SQL Server\r\nSERVER=db1\r\nPORT=1500\r\n");
    auto s = connectStrings(p, {}, kPath);
    ASSERT_TRUE(s);
    EXPECT_EQ(
        s->driverString,
        "FILEDSN=/tmp/~sqlsrv.dsn;DRIVER=SQL Server;SERVER=db1;PORT=1500;ClientCharset=UTF-8;");

    OpenParameters withDb{"db1,1500", "u", "p", "Sales"};
    EXPECT_EQ(*dsnText(withDb, "h"),
              "[ODBC]\r\nDRIVER=SQL "
              "Server\r\nSERVER=db1\r\nPORT=1500\r\nUID=u\r\nDATABASE=Sales\r\nWSID=h\r\n");
    EXPECT_TRUE(connectStrings(withDb, "h", kPath)
                    ->driverString.contains(";UID=u;PWD=p;DATABASE=Sales;WSID=h;"));
}

TEST(ConnectText, TheFileNeverHoldsThePassword) {
    OpenParameters p{"s", "u", "Pa55-unique", "d"};
    EXPECT_FALSE(dsnText(p, "h")->contains("Pa55-unique"));
    EXPECT_FALSE(dsnText(p, "h")->contains("PWD"));
}

TEST(ConnectText, ServerNamesReachThePortFreeTdsNeeds) {
    struct Case {
        QString server, host, port;
    };
    const Case cases[] = {
        {".", "127.0.0.1", "1433"},
        {"(local)", "127.0.0.1", "1433"},
        {"(LOCAL)", "127.0.0.1", "1433"},
        {".,14330", "127.0.0.1", "14330"},
        {"127.0.0.1", "127.0.0.1", "1433"},
        {"db.example.com,2000", "db.example.com", "2000"},
        {"host\\SQLEXPRESS", "host\\SQLEXPRESS", ""},
        {".\\SQLEXPRESS", "127.0.0.1\\SQLEXPRESS", ""},
        {"host\\SQLEXPRESS,1500", "host\\SQLEXPRESS", "1500"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        const ServerAddress a = serverAddress(c.server);
        EXPECT_EQ(a.host, c.host) << c.server.toStdString();
        EXPECT_EQ(a.port, c.port) << c.server.toStdString();
    }
    // The comma form never reaches the driver: it would go into the login.
    auto s = connectStrings({"127.0.0.1,1533", "sa", "pw", {}}, "h", kPath);
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->driverString.contains(";SERVER=127.0.0.1;PORT=1533;"))
        << s->driverString.toStdString();
    EXPECT_TRUE(dsnText({".", {}, {}, {}}, {})->contains("SERVER=127.0.0.1\r\nPORT=1433\r\n"));
}

TEST(ConnectText, SpecialValuesReachTheDriverIntactWithoutAddingKeys) {
    const QString values[] = {"a;b}c", "x=y",  "{braced}",  " lead",   "trail ",
                              "}",     "a}}b", "中文;密码", "a} ;x=1", "semi;colon=and{brace"};
    for (const QString& v : values) {
        for (int field = 0; field < 3; ++field) {
            OpenParameters p{"srv,1", "sa", "pw", "db"};
            (field == 0 ? p.password : field == 1 ? p.user : p.database) = v;
            auto s = connectStrings(p, "host", kPath);
            ASSERT_TRUE(s) << v.toStdString();
            auto pairs = freetdsPairs(s->driverString);
            EXPECT_EQ(pairs[field == 0   ? "PWD"
                            : field == 1 ? "UID"
                                         : "DATABASE"],
                      v.toUtf8())
                << v.toStdString();
            EXPECT_EQ(pairs["SERVER"], "srv");
            EXPECT_EQ(pairs["PORT"], "1");
            EXPECT_EQ(pairs["WSID"], "host");
            EXPECT_EQ(pairs.size(), 8u) << s->driverString.toStdString();
            // Braces cannot survive the driver manager's FILEDSN rebuild.
            EXPECT_FALSE(s->driverString.contains("FILEDSN"));
            bool managerSawDriver = false;
            for (const auto& [key, value] : driverManagerPairs(s->driverString)) {
                EXPECT_NE(key.toUpper(), "DSN");
                EXPECT_NE(key.toUpper(), "FILEDSN");
                if (key.toUpper() == "DRIVER")
                    managerSawDriver = value == "SQL Server";
            }
            EXPECT_TRUE(managerSawDriver);
        }
    }
}

TEST(ConnectText, ValuesThatCannotArriveIntactAreRefused) {
    const QString values[] = {
        "x};DumpFile=/tmp/x",        // FreeTDS would end the value early
        "a} ;DRIVER=/tmp/evil.so;",  // the driver manager would load another library
        "a} ;SAVEFILE=/tmp/x",       // ... or write a file
        "a} ;DSN=other",
        QString("nul") + QChar(0) + "byte",
    };
    for (const QString& v : values) {
        EXPECT_FALSE(connectStrings({"s", "u", v, {}}, {}, kPath)) << v.toStdString();
        EXPECT_FALSE(connectStrings({"s", "u", {}, v}, {}, kPath)) << v.toStdString();
    }
}

TEST(ConnectText, KeysHiddenInTheLowBytesOfWideCharactersAreRefused) {
    // Where the driver manager's locale cannot hold a character it keeps the
    // character's low byte: U+0120 U+013B ... read as " ;SAVEFILE=/tmp/x".
    QString hidden = "a}";
    for (char c : QByteArray(" ;SAVEFILE=/tmp/x"))
        hidden += QChar(0x0100 | static_cast<unsigned char>(c));
    EXPECT_FALSE(connectStrings({"s", "u", {}, hidden}, {}, kPath));
    // Chinese names as such are no trouble.
    EXPECT_TRUE(connectStrings({"s", "u", {}, "主库{数据}"}, {}, kPath));
}

TEST(ConnectText, OnlyPlainAsciiStringsNameTheFile) {
    EXPECT_TRUE(
        connectStrings({"s", "u", "p", "Sales"}, "h", kPath)->driverString.startsWith("FILEDSN="));
    EXPECT_FALSE(
        connectStrings({"s", "u", "p", "仓库"}, "h", kPath)->driverString.contains("FILEDSN"));
}

TEST(ConnectText, LineBreaksInFileValuesAreRefused) {
    for (const QString& v : {QString("a\r\nPWD=x"), QString("a\nb"), QString("a\rb")}) {
        EXPECT_FALSE(dsnText({v, {}, {}, {}}, {})) << "server";
        EXPECT_FALSE(dsnText({"s", v, {}, {}}, {})) << "user";
        EXPECT_FALSE(dsnText({"s", {}, {}, v}, {})) << "database";
    }
    // The password never goes to the file.
    EXPECT_TRUE(dsnText({"s", "u", "a\nb", {}}, {}));
}

TEST(ConnectText, LongStringsSkipTheFileAndOverlongOnesAreRefused) {
    auto s = connectStrings({"s", "u", QString(3000, 'x'), {}}, {}, kPath);
    ASSERT_TRUE(s);
    EXPECT_FALSE(s->driverString.contains("FILEDSN"));
    EXPECT_EQ(freetdsPairs(s->driverString)["PWD"].size(), 3000);
    EXPECT_FALSE(connectStrings({"s", "u", QString(20000, 'x'), {}}, {}, kPath));
}
