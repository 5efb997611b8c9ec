#include <gtest/gtest.h>

#include "console/CommandLine.h"

using namespace quill::console;

namespace {

TEST(CommandLine, SplitsLikeTheConsoleDoes) {
    struct Case {
        const char* line;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"", {}},
        {"   \t ", {}},
        {"sqlcmd -i x.sql", {"sqlcmd", "-i", "x.sql"}},
        {"  a \t b  ", {"a", "b"}},
        {"-i \"/tmp/my scripts/a b.sql\"", {"-i", "/tmp/my scripts/a b.sql"}},
        {"-U\"sa\" -P\"p w\"", {"-Usa", "-Pp w"}},
        {"\"\"", {""}},
        {"-P\"\" -i", {"-P", "-i"}},
        {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
        {"ab\"c d\"e", {"abc de"}},
        {"\"unclosed quote", {"unclosed quote"}},
        {"C:\\dir\\ \"C:\\a b\\\"", {"C:\\dir\\", "C:\\a b\\"}},
        {"x;touch pwned.sql", {"x;touch", "pwned.sql"}},
        {"$(touch pwned).sql `id` a|b *.sql", {"$(touch", "pwned).sql", "`id`", "a|b", "*.sql"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(splitCommandLine(c.line), c.args) << c.line;
}

TEST(CommandLine, QuotedArgumentsComeBackUnchanged) {
    const std::string arguments[] = {
        "",
        " ",
        "plain",
        "two words",
        "\"",
        "\"\"",
        "a\"b",
        "ends with \"",
        "\\",
        "C:\\path\\",
        "中文 路径/脚本.sql",
        "x;touch pwned.sql",
        "$(touch pwned).sql",
        "tab\there",
    };
    for (const std::string& a : arguments) {
        std::string line = "prog " + quoteArgument(a) + " " + quoteArgument(a);
        EXPECT_EQ(splitCommandLine(line), (std::vector<std::string>{"prog", a, a})) << line;
    }
}

}  // namespace
