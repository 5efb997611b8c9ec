#include <gtest/gtest.h>

#include "console/CommandLine.h"
#include "exec/ScriptCommand.h"

using namespace quill::exec;

namespace {

TEST(ScriptCommand, QuotesLoginPasswordAndPathSoTheyArriveWhole) {
    struct Case {
        QString login, password, path;
        QString line;
    };
    const Case cases[] = {
        {"sa", "pw", "/tmp/a.sql", R"(sqlcmd -U"sa" -P"pw" -i "/tmp/a.sql")"},
        {"", "", "/tmp/a.sql", R"(sqlcmd -U"" -P"" -i "/tmp/a.sql")"},
        {"sa", "p\"w", "/home/u/我的 脚本/x;touch pwned.sql",
         R"(sqlcmd -U"sa" -P"p""w" -i "/home/u/我的 脚本/x;touch pwned.sql")"},
        {"d o\\m", " $(id) ", "/tmp/$(touch pwned).sql",
         R"(sqlcmd -U"d o\m" -P" $(id) " -i "/tmp/$(touch pwned).sql")"},
    };
    for (const Case& c : cases) {
        QString line = sqlServerCommandLine(c.login, c.password, c.path);
        EXPECT_EQ(line, c.line);
        std::vector<std::string> expected{"sqlcmd", ("-U" + c.login).toStdString(),
                                          ("-P" + c.password).toStdString(), "-i",
                                          c.path.toStdString()};
        EXPECT_EQ(quill::console::splitCommandLine(line.toStdString()), expected)
            << line.toStdString();

        EXPECT_EQ(quill::console::splitCommandLine(windowsCommandLine(c.path).toStdString()),
                  (std::vector<std::string>{"sqlcmd", "-i", c.path.toStdString()}));
    }
}

}  // namespace
