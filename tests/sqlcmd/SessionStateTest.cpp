#include <gtest/gtest.h>

#include <string>

#include "SessionState.h"
#include "Splitter.h"
#include "Variables.h"

using namespace quill::sqlcmd;

namespace {

// The statements that restore what the script's batches set.
std::string restored(std::string_view script) {
    Variables vars;
    Splitter splitter(vars);
    splitter.setRecordSession(true);
    SessionState state;
    Splitter::Event event;
    std::size_t at = 0;
    for (;;) {
        at += splitter.scan(script.substr(at), true, event);
        if (event == Splitter::Event::Command) {
            state.take(splitter.takeBatch());
            continue;
        }
        state.take(splitter.takeBatch());
        return state.statements();
    }
}

TEST(SessionState, TakesTheLastDatabaseAndEverySetOptionOnce) {
    struct Case {
        const char* name;
        std::string script;
        std::string statements;
    } cases[] = {
        {"an SSMS script",
         "USE [master]\r\nGO\r\nUSE [销售]\r\nGO\r\nSET ANSI_NULLS ON\r\nGO\r\nSET "
         "QUOTED_IDENTIFIER "
         "ON\r\nGO\r\nSET IDENTITY_INSERT [dbo].[客户] ON \r\nINSERT [dbo].[客户] ([id]) VALUES "
         "(1)\r\nGO\r\n",
         "USE [销售]\nSET ANSI_NULLS ON\nSET QUOTED_IDENTIFIER ON\nSET IDENTITY_INSERT "
         "[dbo].[客户] "
         "ON\n"},
        {"the last value, in the order last set",
         "SET IDENTITY_INSERT [A] ON\nset identity_insert [a] OFF;\nSET IDENTITY_INSERT [B] ON\n",
         "set identity_insert [a] OFF\nSET IDENTITY_INSERT [B] ON\n"},
        {"a trailing comment goes", "  use Shop -- the data\nGO\n", "use Shop\n"},
        {"not from strings or comments",
         "insert t values(N'\nUSE other\n')\n/*\nSET NOCOUNT ON\n*/\n--\nSET\n", ""},
        {"not a statement with more after it",
         "SET NOCOUNT ON; DELETE FROM t\nSET @x = 1\nUSE a b\nSET ANSI_NULLS\nUSE\n", ""},
        {"not from a procedure's body",
         "SET ANSI_NULLS ON\nGO\nCREATE PROCEDURE p AS\nSET NOCOUNT ON\nSELECT 1\nGO\n",
         "SET ANSI_NULLS ON\n"},
        {"but after a table",
         "CREATE TABLE [t]([a] int)\nSET ANSI_PADDING OFF\nGO\nCREATE OR ALTER VIEW v AS\nSELECT "
         "1\n",
         "SET ANSI_PADDING OFF\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(restored(c.script), c.statements) << c.name;
    }
}

}  // namespace
