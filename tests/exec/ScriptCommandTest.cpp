#include <gtest/gtest.h>

#include "console/CommandLine.h"
#include "exec/ScriptCommand.h"

using namespace quill::exec;

namespace {

TEST(ScriptCommand, QuotesServerLoginPasswordAndPathSoTheyArriveWhole) {
    struct Case {
        QString server, login, password, path;
        QString line;
        std::string serverArgument;  // empty: no -S
    };
    const Case cases[] = {
        {"127.0.0.1,14333", "sa", "pw", "/tmp/a.sql",
         R"(sqlcmd -S"127.0.0.1,14333" -U"sa" -P"pw" -i "/tmp/a.sql")", "-S127.0.0.1,14333"},
        {"", "", "", "/tmp/a.sql", R"(sqlcmd -U"" -P"" -i "/tmp/a.sql")", ""},
        {" db01\\实例 ", "sa", "p\"w", "/home/u/我的 脚本/x;touch pwned.sql",
         R"(sqlcmd -S"db01\实例" -U"sa" -P"p""w" -i "/home/u/我的 脚本/x;touch pwned.sql")",
         "-Sdb01\\实例"},
        {"-x", "d o\\m", " $(id) ", "/tmp/$(touch pwned).sql",
         R"(sqlcmd -S"-x" -U"d o\m" -P" $(id) " -i "/tmp/$(touch pwned).sql")", "-S-x"},
    };
    for (const Case& c : cases) {
        QString line = sqlServerCommandLine(c.server, c.login, c.password, c.path);
        EXPECT_EQ(line, c.line);
        std::vector<std::string> server;
        if (!c.serverArgument.empty())
            server.push_back(c.serverArgument);
        std::vector<std::string> expected{"sqlcmd"};
        expected.insert(expected.end(), server.begin(), server.end());
        for (const QString& a : {"-U" + c.login, "-P" + c.password, QString("-i"), c.path})
            expected.push_back(a.toStdString());
        EXPECT_EQ(quill::console::splitCommandLine(line.toStdString()), expected)
            << line.toStdString();

        expected = {"sqlcmd"};
        expected.insert(expected.end(), server.begin(), server.end());
        expected.insert(expected.end(), {"-i", c.path.toStdString()});
        EXPECT_EQ(
            quill::console::splitCommandLine(windowsCommandLine(c.server, c.path).toStdString()),
            expected);
    }
}

}  // namespace
