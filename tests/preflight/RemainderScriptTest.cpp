// The remainder of a script, run by quill-sqlcmd against the stand-in, sends
// exactly the batches from the start on, with the variables set above it.
#include <gtest/gtest.h>

#include "Encode.h"
#include "Splitter.h"
#include "preflight/RemainderScript.h"
#include "preflight/ScriptScanner.h"
#include "sqlcmd/ClientHarness.h"

using namespace quill::preflight;
using quill::test::encodeAs;

namespace {

// Eight batches, a blank one among them, variables set and changed on the
// way, a line "GO" inside a literal.
std::string script(const std::string& eol) {
    std::string s;
    auto line = [&](const std::string& l) { s += l + eol; };
    line(":setvar Tag 甲");
    line(":on error ignore");
    for (int batch = 1; batch <= 8; ++batch) {
        if (batch == 3)
            line(":setvar Tag 乙");
        if (batch == 4) {
            line("GO");  // a blank batch, never counted
            line("SELECT N'多行");
            line("GO");
            line("文本' AS v");
        }
        line("SELECT N'$(Tag) 第" + std::to_string(batch) + "批' AS v");
        line("GO");
    }
    return s;
}

class RemainderScriptTest : public quill::test::ClientTest {
protected:
    std::vector<std::string> runScript(const std::string& path, int codePage) {
        quill::test::StandinServer server;
        EXPECT_TRUE(server.isRunning()) << server.startError().toStdString();
        std::vector<std::string> args = plus(login(server), {"-i", path});
        if (codePage != 0)
            args = plus(args, {"-f", "i:" + std::to_string(codePage)});
        const quill::test::ClientRun run = this->run(args);
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        return batches(server);
    }
};

TEST_F(RemainderScriptTest, RunsExactlyTheBatchesFromTheStartOnInTheScriptsEncoding) {
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"UTF-8, LF", script("\n")},
        {"UTF-16LE, CRLF", "\xFF\xFE" + encodeAs(script("\r\n"), "UTF-16LE")},
        {"GBK, CRLF", encodeAs(script("\r\n"), "GBK")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = file("script.sql", c.bytes);
        // Where batch 5 would start after a break: the line after batch 4's GO.
        long lastGo = 0, nextLine = 0;
        ScanOptions options;
        options.onCommand = [&](const quill::sqlcmd::Command& command) {
            if (command.kind == quill::sqlcmd::Command::Kind::Go)
                lastGo = command.line;
        };
        options.onBatch = [&](long number, long) {
            if (number == 4)
                nextLine = lastGo + 1;
        };
        const ScriptFacts facts = scanScriptFile(path, options);
        ASSERT_TRUE(facts.runnable());

        const std::vector<std::string> whole = runScript(path, facts.codePage);
        // The pre-flight counts the batches the client sends.
        ASSERT_EQ(whole.size(), static_cast<std::size_t>(facts.batches));
        ASSERT_EQ(facts.batches, 8);
        EXPECT_NE(whole[4].find("乙 第5批"), std::string::npos) << whole[4];

        const std::string rest = dir_ / "rest.sql";
        const Remainder r = writeRemainderScript(path, 5, nextLine, facts.codePage, rest);
        ASSERT_EQ(r.outcome, Remainder::Outcome::Written);
        EXPECT_EQ(r.preambleLines, 4);  // two :setvar, :on error, GO
        EXPECT_EQ(r.lineShift, nextLine - 1 - 4);
        EXPECT_EQ(scanScriptFile(rest).encoding, facts.encoding);

        const std::vector<std::string> resumed = runScript(rest, facts.codePage);
        EXPECT_EQ(resumed, std::vector<std::string>(whole.begin() + 4, whole.end()));
    }
}

// As Management Studio writes a script: the rest must run in the script's
// database and with the options set above it, not in the login's default.
TEST_F(RemainderScriptTest, TheRestRunsInTheDatabaseAndWithTheOptionsTheBatchesBeforeItSet) {
    const std::string text =
        "USE [master]\r\nGO\r\nCREATE DATABASE [订单库]\r\nGO\r\nUSE [订单库]\r\nGO\r\n"
        "SET ANSI_NULLS ON\r\nGO\r\nSET QUOTED_IDENTIFIER OFF\r\nGO\r\n"
        "SET QUOTED_IDENTIFIER ON\r\nGO\r\n"
        "INSERT [dbo].[单] VALUES (N'一')\r\nGO\r\nINSERT [dbo].[单] VALUES (N'二')\r\nGO\r\n";
    const std::pair<const char*, std::string> cases[] = {
        {"GBK", encodeAs(text, "GBK")},
        {"UTF-16LE", "\xFF\xFE" + encodeAs(text, "UTF-16LE")},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        const std::string path = file("ssms.sql", bytes);
        const ScriptFacts facts = scanScriptFile(path);
        const std::string rest = dir_ / "rest.sql";
        // Batch 8, the second INSERT, starts on line 15.
        const Remainder r = writeRemainderScript(path, 8, 15, facts.codePage, rest);
        ASSERT_EQ(r.outcome, Remainder::Outcome::Written);
        EXPECT_EQ(r.preambleLines, 4);  // USE, two SETs, GO
        EXPECT_EQ(runScript(rest, facts.codePage),
                  std::vector<std::string>(
                      {"USE [订单库]\r\nSET ANSI_NULLS ON\r\nSET QUOTED_IDENTIFIER ON\r\n",
                       "INSERT [dbo].[单] VALUES (N'二')\r\n"}));
    }
}

TEST_F(RemainderScriptTest, RefusesWhatItCannotWriteFaithfully) {
    const std::string path = file("script.sql", script("\n"));
    const std::string rest = (dir_ / "rest.sql").string();
    // Batch 5 does not start on line 3.
    EXPECT_EQ(writeRemainderScript(path, 5, 3, 0, rest).outcome, Remainder::Outcome::Mismatch);
    EXPECT_EQ(writeRemainderScript(path, 9, 40, 0, rest).outcome, Remainder::Outcome::NothingLeft);
    const std::string including = file("including.sql", "SELECT 1\nGO\n:r other.sql\nGO\n");
    EXPECT_EQ(writeRemainderScript(including, 2, 3, 0, rest).outcome, Remainder::Outcome::Includes);
    EXPECT_EQ(writeRemainderScript(path, 1, 1, 0, (dir_ / "no" / "rest.sql").string()).outcome,
              Remainder::Outcome::WriteFailed);
}

}  // namespace
