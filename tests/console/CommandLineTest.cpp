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

TEST(CommandLine, OnlyNameEqualsValueWordsAreAssignments) {
    const std::pair<const char*, bool> words[] = {
        {"QUILL_JOURNAL=/tmp/j", true}, {"_x=", true},     {"a1=b=c", true},
        {"=x", false},                  {"1a=x", false},   {"-v=x", false},
        {"sqlcmd", false},              {"a-b=x", false},  {"名=x", false},
    };
    for (const auto& [word, assignment] : words)
        EXPECT_EQ(isAssignmentWord(word), assignment) << word;
    // What assignmentWord writes reads back as one.
    const std::vector<std::string> args =
        splitCommandLine(assignmentWord("SQLCMDPASSWORD", "p w\"") + " prog");
    ASSERT_EQ(args.size(), 2u);
    EXPECT_TRUE(isAssignmentWord(args[0]));
    EXPECT_EQ(args[0], "SQLCMDPASSWORD=p w\"");
}

}  // namespace
