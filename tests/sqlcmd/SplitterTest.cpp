#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Splitter.h"
#include "Variables.h"

using namespace quill::sqlcmd;

namespace {

// What a script turns into: batches as "text@startLine[xN]" and commands.
struct Result {
    std::vector<std::string> pieces;
    std::string error;  // "near@line"
};

// Feeds the script in chunks of `chunk` bytes, as a file reader would.
Result split(std::string_view script, std::size_t chunk, Variables* vars = nullptr,
             bool substitute = false) {
    Variables none;
    Splitter s(vars ? *vars : none);
    s.setSubstitution(substitute);
    Result r;
    auto emit = [&](long repeat) {
        if (!s.batch().blank()) {
            std::string piece = s.batch().text + "@" + std::to_string(s.batch().startLine());
            if (repeat > 1) {
                piece += "x" + std::to_string(repeat);
            }
            for (auto& [name, line] : s.batch().undefined) {
                piece += " undefined:" + name + ":" + std::to_string(line);
            }
            r.pieces.push_back(piece);
        }
        s.clearBatch();
    };
    std::string buffer;
    std::size_t fed = 0;
    for (;;) {
        const bool end = fed == script.size();
        Splitter::Event ev;
        std::size_t used = s.scan(buffer, end, ev);
        buffer.erase(0, used);
        if (ev == Splitter::Event::Error) {
            r.error = s.error() + "@" + std::to_string(s.errorLine());
            return r;
        }
        if (ev == Splitter::Event::Command) {
            const Command& c = s.command();
            switch (c.kind) {
                case Command::Kind::Go:
                    emit(c.repeat);
                    break;
                case Command::Kind::Reset:
                    s.clearBatch();
                    break;
                case Command::Kind::SetVar:
                    if (vars && c.hasValue) {
                        vars->set(c.name, c.value);
                    }
                    r.pieces.push_back(":setvar " + c.name + "=" + c.value + "@" +
                                       std::to_string(c.line));
                    break;
                default:
                    r.pieces.push_back("cmd" + std::to_string(static_cast<int>(c.kind)) + " " +
                                       c.name + "|" + c.value + "@" + std::to_string(c.line));
            }
            continue;
        }
        if (end) {
            emit(1);
            return r;
        }
        std::size_t n = std::min(chunk, script.size() - fed);
        buffer.append(script.substr(fed, n));
        fed += n;
    }
}

struct Case {
    const char* name;
    std::string script;
    std::vector<std::string> pieces;
};

class SplitterCases : public testing::TestWithParam<Case> {};

TEST_P(SplitterCases, SameResultForEveryChunkSize) {
    const Case& c = GetParam();
    for (std::size_t chunk :
         {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}, std::size_t{4096}}) {
        Result r = split(c.script, chunk);
        EXPECT_EQ(r.error, "") << "chunk " << chunk;
        EXPECT_EQ(r.pieces, c.pieces) << "chunk " << chunk;
    }
}

const Case kCases[] = {
    {"go_alone", "select 1\nGO\nselect 2\n", {"select 1\n@1", "select 2\n@3"}},
    {"go_any_case_blanks_tabs",
     "a\n  go\t\nb\n\tGo \nc\ngO -- done\n",
     {"a\n@1", "b\n@3", "c\n@5"}},
    {"go_count", "insert t values(1)\nGO 3\n", {"insert t values(1)\n@1x3"}},
    {"go_count_comment", "x\nGO\t12 -- twelve\n", {"x\n@1x12"}},
    {"crlf_kept_in_batch", "a\r\nb\r\nGO\r\nc\r\n", {"a\r\nb\r\n@1", "c\r\n@4"}},
    {"last_batch_without_go", "a\nGO\nb", {"a\n@1", "b@3"}},
    {"empty_batches_not_sent", "GO\n\n  \nGO\r\nGO\nx\n", {"x\n@6"}},
    {"comment_only_batch_is_sent", "-- c\nGO\n", {"-- c\n@1"}},
    {"not_go", "GOTO x\nGO;\nGO--x\nselect 'GO'\n", {"GOTO x\nGO;\nGO--x\nselect 'GO'\n@1"}},
    {"go_in_string", "select 'a\nGO\nb'\nGO\n", {"select 'a\nGO\nb'\n@1"}},
    {"go_in_nstring_with_escapes",
     "insert t values(N'it''s\nGO\n')\nGO\n",
     {"insert t values(N'it''s\nGO\n')\n@1"}},
    {"go_in_double_quotes", "select \"x\nGO\n\"\nGO\n", {"select \"x\nGO\n\"\n@1"}},
    {"go_in_brackets", "select [a]]\nGO\n]\nGO\nb\n", {"select [a]]\nGO\n]\n@1", "b\n@5"}},
    {"go_in_block_comment", "/*\nGO\n*/\nx\nGO\n", {"/*\nGO\n*/\nx\n@1"}},
    {"go_in_nested_block_comment",
     "/* /* */\nGO\n*/\nx\nGO\ny\n",
     {"/* /* */\nGO\n*/\nx\n@1", "y\n@6"}},
    {"go_after_line_comment", "x -- 'not a quote\nGO\n", {"x -- 'not a quote\n@1"}},
    {"comment_markers_in_strings", "select '/*', '--'\nGO\n", {"select '/*', '--'\n@1"}},
    {"unterminated_string_sent_as_is", "select 'abc\nGO\n", {"select 'abc\nGO\n@1"}},
    {"unterminated_comment_sent_as_is", "x /* abc\nGO\n", {"x /* abc\nGO\n@1"}},
    {"go_after_comment_on_same_line_is_text", "/* c */ GO\nx\n", {"/* c */ GO\nx\n@1"}},
    {"chinese", "insert t values(N'牛津深圳版')\nGO\n", {"insert t values(N'牛津深圳版')\n@1"}},
    {"blank_lines_keep_numbers",
     "\n\nselect x\nGO\n\n\nselect y\n",
     {"\n\nselect x\n@1", "\n\nselect y\n@5"}},
    {"dollar_without_substitution", "select '$(x)', $(y\nGO\n", {"select '$(x)', $(y\n@1"}},
    {"exit_like_tsql_is_text", "exit = 1\nexec x\nquitter\n", {"exit = 1\nexec x\nquitter\n@1"}},
    {"reset_drops_batch", "a\nreset\nb\nGO\n", {"b\n@3"}},
    {"commands_keep_line_numbers", "a\n:setvar x 1\nb\nGO\n", {":setvar x=1@2", "a\n\nb\n@1"}},
    {"colon_commands",
     ":on error exit\n:r \"my file.sql\"\n:r other.sql -- c\n:listvar\n",
     {"cmd3 |exit@1", "cmd2 |my file.sql@2", "cmd2 |other.sql@3", "cmd7 |@4"}},
    {"exit_forms", "exit\n", {"cmd4 |@1"}},
    {"exit_query",
     "select 1\n:EXIT(select count(*) from t where a = ')')\n",
     {"cmd4 |select count(*) from t where a = ')'@2", "select 1\n\n@1"}},
    {"quit", "x\n  QUIT -- bye\n", {"cmd5 |@2", "x\n\n@1"}},
    {"unsupported_and_shell", ":connect srv\n!! ls\n", {"cmd9 :connect|@1", "cmd8 |ls@2"}},
    {"shell_with_colon_too", ":!! dir /b\n  :!!ls\n", {"cmd8 |dir /b@1", "cmd8 |ls@2"}},
};

INSTANTIATE_TEST_SUITE_P(Rules, SplitterCases, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& i) { return i.param.name; });

TEST(Splitter, SyntaxErrors) {
    struct {
        const char* script;
        const char* error;
    } cases[] = {
        {"x\nGO 0\n", "GO@2"},           {"x\nGO x\n", "GO@2"},
        {"x\nGO 1 2\n", "GO@2"},         {":setvar\n", ":setvar@1"},
        {":setvar 1x a\n", ":setvar@1"}, {":setvar x \"open\n", ":setvar@1"},
        {"\n:bogus\n", ":bogus@2"},      {":exit(select 1\n", ":exit@1"},
        {":on error maybe\n", ":on@1"},  {":r\n", ":r@1"},
    };
    for (const auto& c : cases) {
        for (std::size_t chunk : {std::size_t{1}, std::size_t{64}}) {
            EXPECT_EQ(split(c.script, chunk).error, c.error) << c.script;
        }
    }
}

TEST(Splitter, SubstitutesVariablesOutsideComments) {
    Variables vars;
    vars.set("Db", "Sales");
    Result r = split("use [$(db)] -- $(db)\nselect N'$(DB)' /* $(db) */\nGO\n", 3, &vars, true);
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.pieces.size(), 1u);
    EXPECT_EQ(r.pieces[0], "use [Sales] -- $(db)\nselect N'Sales' /* $(db) */\n@1");
}

TEST(Splitter, SetvarAppliesToLaterLinesAndUndefinedStay) {
    Variables vars;
    Result r =
        split("select '$(a)'\n:setvar a \"x \"\"y\"\"\"\nselect '$(a)', '$(b)'\n", 5, &vars, true);
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.pieces.size(), 2u);
    EXPECT_EQ(r.pieces[1],
              "select '$(a)'\n\nselect 'x \"y\"', '$(b)'\n@1 undefined:a:1 undefined:b:3");
}

TEST(Splitter, MalformedVariableIsAnErrorWhenSubstituting) {
    for (const char* script : {"select $('#grid')\n", "select $( x)\n", "select '$(x"}) {
        Variables vars;
        EXPECT_EQ(split(script, 2, &vars, true).error, "$(@1") << script;
        EXPECT_EQ(split(script, 2, &vars, false).error, "") << script;
    }
}

TEST(Splitter, VariableInCommandArgument) {
    Variables vars;
    vars.set("dir", "/tmp/x");
    Result r = split(":r $(dir)/a.sql\n", 4, &vars, true);
    ASSERT_EQ(r.pieces.size(), 1u);
    EXPECT_EQ(r.pieces[0], "cmd2 |/tmp/x/a.sql@1");
}

TEST(Splitter, MapsServerLinesThroughIncludedSources) {
    Variables vars;
    Splitter s(vars);
    Splitter::Event ev;
    // line 1: a, line 2: :r, then two included lines, then line 3 of the parent.
    ASSERT_EQ(s.scan("a\n:r x\n", false, ev), 7u);
    ASSERT_EQ(ev, Splitter::Event::Command);
    s.beginSource();
    ASSERT_EQ(s.scan("i1\ni2", true, ev), 5u);
    s.endSource();
    ASSERT_EQ(s.scan("b\n", true, ev), 2u);
    EXPECT_EQ(s.batch().text, "a\n\ni1\ni2\nb\n");
    EXPECT_EQ(s.batch().sourceLine(1), 1);
    EXPECT_EQ(s.batch().sourceLine(3), 1);  // first included line
    EXPECT_EQ(s.batch().sourceLine(4), 2);
    EXPECT_EQ(s.batch().sourceLine(5), 3);  // back in the parent
}

TEST(Splitter, OversizedBatchIsCountedNotKept) {
    Variables vars;
    Splitter s(vars);
    s.setBatchLimit(10);
    Splitter::Event ev;
    std::string text = "0123456789abcdef\nGO\nsmall\n";
    std::size_t used = s.scan(text, true, ev);
    ASSERT_EQ(ev, Splitter::Event::Command);
    EXPECT_TRUE(s.batch().overflow);
    EXPECT_EQ(s.batch().overflowBytes, 17u);
    EXPECT_TRUE(s.batch().text.empty());
    EXPECT_FALSE(s.batch().blank());
    s.clearBatch();
    s.scan(std::string_view(text).substr(used), true, ev);
    EXPECT_FALSE(s.batch().overflow);
    EXPECT_EQ(s.batch().text, "small\n");

    // Blank however long: the pre-flight, which keeps less text than the
    // client, must skip it as the client does, or their batch numbers part.
    s.reset();
    const std::string blanks =
        std::string(12, ' ') + "\r\n\t\t\n" + std::string(12, ' ') + "\nGO\n";
    s.scan(blanks, true, ev);
    ASSERT_EQ(ev, Splitter::Event::Command);
    EXPECT_TRUE(s.batch().overflow);
    EXPECT_TRUE(s.batch().blank());
}

}  // namespace
