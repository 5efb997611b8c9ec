// quill-sqlcmd end to end, against quill-standin through FreeTDS.
#include <QRegularExpression>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ClientHarness.h"
#include "ScriptGen.h"

using namespace quill::test;
namespace fs = std::filesystem;

namespace {

const std::string kSsmsScript =
    "USE [master]\r\nGO\r\n"
    "/****** Object:  Database [销售]    Script Date: 2024/3/1 10:00:00 ******/\r\n"
    "CREATE DATABASE [销售]\r\nGO\r\n"
    "USE [销售]\r\nGO\r\n"
    "SET ANSI_NULLS ON\r\nGO\r\nSET QUOTED_IDENTIFIER ON\r\nGO\r\n"
    "CREATE TABLE [dbo].[客户](\r\n\t[id] [int] IDENTITY(1,1) NOT NULL,\r\n"
    "\t[名称] [nvarchar](50) NULL,\r\n\t[备注] [nvarchar](max) NULL\r\n) ON [PRIMARY]\r\nGO\r\n"
    "SET IDENTITY_INSERT [dbo].[客户] ON \r\n"
    "INSERT [dbo].[客户] ([id], [名称], [备注]) VALUES (1, N'牛津深圳版小学英语', N'line "
    "one\r\nGO\r\nline three')\r\n"
    "INSERT [dbo].[客户] ([id], [名称], [备注]) VALUES (2, N'it''s', N'/* not a comment')\r\n"
    "/* GO inside a comment\r\nGO\r\n*/\r\n"
    "SET IDENTITY_INSERT [dbo].[客户] OFF\r\nGO\r\n"
    "PRINT N'完成'\r\n"
    "SELECT COUNT(*) AS n FROM [dbo].[客户]\r\n";

TEST_F(ClientTest, RunsAnSsmsScriptFromAPathWithBlanksAndChinese) {
    StandinServer server;
    ASSERT_TRUE(server.isRunning()) << server.startError().toStdString();
    const std::string path = file("path with blanks/中文.sql", "\xEF\xBB\xBF" + kSsmsScript);
    // As the console runs it: the password in the environment only.
    ClientRun r = run({"-S", server.serverText().toStdString(), "-Usa", "-i", path},
                      {{"SQLCMDPASSWORD", server.password().toStdString()}});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out,
              "Changed database context to 'master'.\n"
              "Changed database context to '销售'.\n"
              "\n(1 rows affected)\n"
              "\n(1 rows affected)\n"
              "完成\n"
              "n          \n"
              "-----------\n"
              "          2\n"
              "\n(1 rows affected)\n");
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> got = batches(server);
    ASSERT_EQ(got.size(), 8u);
    EXPECT_EQ(got[0], "USE [master]\r\n");
    EXPECT_EQ(got[1],
              "/****** Object:  Database [销售]    Script Date: 2024/3/1 10:00:00 "
              "******/\r\nCREATE DATABASE [销售]\r\n");
    EXPECT_EQ(
        got[6],
        "SET IDENTITY_INSERT [dbo].[客户] ON \r\n"
        "INSERT [dbo].[客户] ([id], [名称], [备注]) VALUES (1, N'牛津深圳版小学英语', N'line "
        "one\r\nGO\r\nline three')\r\n"
        "INSERT [dbo].[客户] ([id], [名称], [备注]) VALUES (2, N'it''s', N'/* not a comment')\r\n"
        "/* GO inside a comment\r\nGO\r\n*/\r\n"
        "SET IDENTITY_INSERT [dbo].[客户] OFF\r\n");
    EXPECT_EQ(got[7], "PRINT N'完成'\r\nSELECT COUNT(*) AS n FROM [dbo].[客户]\r\n");
}

TEST_F(ClientTest, ErrorsCarryFileLinesAndSetExitCodes) {
    StandinServer server;
    ASSERT_TRUE(server.isRunning());
    // The bad statement is on line 3 of its batch, line 5 of the file.
    const std::string path = file("errors.sql",
                                  "print 'one'\nGO\n\n-- why\nselect from\nGO\n"
                                  "raiserror('custom', 16, 3)\nGO\nprint 'last'\n");
    const QRegularExpression syntax(
        "^one\nMsg 102, Level 15, State 1, Server [^,\n]+, Line 5\nIncorrect syntax near "
        "'from'.\n");

    ClientRun plain = run(plus(login(server), {"-i", path}));
    EXPECT_EQ(plain.exitCode, 0);
    EXPECT_TRUE(syntax.match(QString::fromStdString(plain.out)).hasMatch()) << plain.out;
    EXPECT_NE(plain.out.find(", Line 7\ncustom\nlast\n"), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("Msg 50000, Level 16, State 3, Server "), std::string::npos)
        << plain.out;

    ClientRun stop = run(plus(login(server), {"-b", "-i", path}));
    EXPECT_EQ(stop.exitCode, 1);
    EXPECT_EQ(stop.out.find("custom"), std::string::npos) << stop.out;

    ClientRun level = run(plus(login(server), {"-V", "16", "-i", path}));
    EXPECT_EQ(level.exitCode, 16);
    EXPECT_NE(level.out.find("last"), std::string::npos);

    ClientRun toStderr = run(plus(login(server), {"-r0", "-i", path}));
    EXPECT_NE(toStderr.err.find("Msg 102"), std::string::npos);
    EXPECT_EQ(toStderr.out.find("Msg 102"), std::string::npos);
    EXPECT_NE(toStderr.out.find("one\n"), std::string::npos);

    ClientRun abort =
        run(plus(login(server), {"-Q", "raiserror('stop here', 10, 127)\nGO\nprint 'never'"}));
    EXPECT_EQ(abort.exitCode, 50000 & 0xFF);
    EXPECT_EQ(abort.out, "stop here\n");
}

TEST_F(ClientTest, LoginFailuresAndUsageErrors) {
    StandinServer server;
    ASSERT_TRUE(server.isRunning());
    const std::string path = file("one.sql", "select 1\n");
    ClientRun bad = run(
        {"-S", server.serverText().toStdString(), "-U", "sa", "-P", "Wrong-Pass-9", "-i", path});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(bad.out + bad.err,
              "Sqlcmd: Error: FreeTDS DB-Library : Login failed for user 'sa'.\n");

    ClientRun noDb = run(plus(login(server), {"-d", "nosuchdb", "-i", path}));
    EXPECT_EQ(noDb.exitCode, 1);
    // One line says why.
    EXPECT_EQ(noDb.out + noDb.err,
              "Sqlcmd: Error: FreeTDS DB-Library : Cannot open database \"nosuchdb\" requested by "
              "the login. The login failed.\n");
    EXPECT_TRUE(batches(server).empty());

    ClientRun unknown = run({"-Z", "x"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.err.find("Sqlcmd: '-Z'"), std::string::npos);
}

TEST_F(ClientTest, PasswordLeavesTheProcessArguments) {
    StandinServer::Options slow;
    slow.latencyMs = 1500;
    StandinServer server(slow);
    ASSERT_TRUE(server.isRunning());
    std::string cmdline;
    ClientRun r = run(plus(login(server), {"-Q", "select 1"}), {}, 60, [&](pid_t pid) {
        // Logged in means the options were read; the slow query keeps it alive.
        ASSERT_TRUE(server.waitForLog(" login ", 10000));
        cmdline = readFile("/proc/" + std::to_string(pid) + "/cmdline");
    });
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    ASSERT_FALSE(cmdline.empty());
    EXPECT_EQ(cmdline.find(server.password().toStdString()), std::string::npos);
    EXPECT_NE(cmdline.find("-S"), std::string::npos);
}

TEST_F(ClientTest, EncodingsReachTheServerIntactOrStopWithAReason) {
    StandinServer server;
    ASSERT_TRUE(server.isRunning());
    // UTF-16LE with a byte-order mark, as SSMS saves "Unicode text".
    std::string utf16 = "\xFF\xFE";
    for (char16_t c : std::u16string(u"PRINT N'汉字 ok'\r\n")) {
        utf16 += static_cast<char>(c & 0xFF);
        utf16 += static_cast<char>(c >> 8);
    }
    ClientRun r16 = run(plus(login(server), {"-i", file("u16.sql", utf16)}));
    EXPECT_EQ(r16.exitCode, 0);
    EXPECT_EQ(r16.out, "汉字 ok\n");

    // GBK ("ANSI" on a Chinese Windows): refused without -f, nothing sent.
    const std::string gbk = file("gbk.sql", "PRINT N'\xBA\xBA\xD7\xD6'\r\n");
    const int before = static_cast<int>(server.logEvents("login").size());
    ClientRun refused = run(plus(login(server), {"-i", gbk}));
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.out.find("at byte offset 8 (line 1)"), std::string::npos) << refused.out;
    EXPECT_NE(refused.out.find("-f 936"), std::string::npos);
    EXPECT_EQ(static_cast<int>(server.logEvents("login").size()), before);

    ClientRun inputOnly = run(plus(login(server), {"-f", "i:936", "-i", gbk}));
    EXPECT_EQ(inputOnly.exitCode, 0);
    EXPECT_EQ(inputOnly.out, "汉字\n");
    // One code page is for input and output alike.
    ClientRun both = run(plus(login(server), {"-f", "936", "-i", gbk}));
    EXPECT_EQ(both.out, "\xBA\xBA\xD7\xD6\n");
}

TEST_F(ClientTest, UnterminatedStringIsSentAndTheServerSaysSo) {
    StandinServer server;
    ASSERT_TRUE(server.isRunning());
    ClientRun r =
        run(plus(login(server), {"-i", file("open.sql", "print 'fine'\nGO\nselect 'abc\nGO\n")}));
    EXPECT_EQ(r.exitCode, 0);
    const std::vector<std::string> got = batches(server);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1], "select 'abc\nGO\n");
    EXPECT_NE(r.out.find("Msg "), std::string::npos) << r.out;
}

TEST_F(ClientTest, ServerGoingAwayEndsTheRunWithAnError) {
    StandinServer::Options slow;
    slow.latencyMs = 300;
    StandinServer server(slow);
    ASSERT_TRUE(server.isRunning());
    std::string script;
    for (int i = 0; i < 50; ++i) {
        script += "print 'batch " + std::to_string(i) + "'\nGO\n";
    }
    const auto started = std::chrono::steady_clock::now();
    ClientRun r = run(plus(login(server), {"-i", file("long.sql", script)}), {}, 60, [&](pid_t) {
        ASSERT_TRUE(server.waitForLog("batch print 'batch 2'", 10000));
        server.stop();
    });
    EXPECT_FALSE(r.timedOut);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE((r.out + r.err).find("Sqlcmd: Error:"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(r.out.find("batch 40"), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

TEST_F(ClientTest, ResultSetsInSqlcmdColumns) {
    StandinServer server;
    ASSERT_TRUE(server.isRunning());
    ClientRun r = run(plus(login(server),
                           {"-Q",
                            "SELECT 1 AS id, N'苹果' AS name, CAST(1.5 AS decimal(10,2)) AS price, "
                            "CAST('2024-01-02' AS datetime) AS made, CAST(1 AS bit) AS ok, "
                            "0x0A0B AS bin UNION ALL SELECT 22, NULL, 10, '2024-01-03', 0, 0x01"}));
    EXPECT_EQ(r.exitCode, 0);
    // UNION ALL with int makes the bit an int and the decimal(10,2) a decimal(12,2).
    EXPECT_EQ(r.out,
              "id          name price          made                    ok          bin   \n"
              "----------- ---- -------------- ----------------------- ----------- ------\n"
              "          1 苹果             1.50 2024-01-02 00:00:00.000           1 0x0A0B\n"
              "         22 NULL          10.00 2024-01-03 00:00:00.000           0 0x01  \n"
              "\n(2 rows affected)\n");
    ClientRun trimmed =
        run(plus(login(server), {"-W", "-s", ",", "-h", "-1", "-Q", "SELECT 1 AS a, N'x y' AS b"}));
    EXPECT_EQ(trimmed.out, "1,x y\n\n(1 rows affected)\n");
}

TEST_F(ClientTest, GeneratedInsertScriptsInBothEncodings) {
    StandinServer server;
    ASSERT_TRUE(server.isRunning());
    for (bool utf16 : {false, true}) {
        quill::test::InsertScript script;
        script.database = utf16 ? "Wide" : "Narrow";
        script.rows = 2500;
        script.goEvery = 1000;
        script.utf16 = utf16;
        const std::string path = (dir_ / (script.database + ".sql")).string();
        quill::test::writeInsertScript(path, script);
        ClientRun r = run(plus(login(server), {"-i", path}));
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_EQ(countOf(r.out, "(1 rows affected)"), 2500);
        ClientRun check =
            run(plus(login(server), {"-d", script.database, "-h", "-1", "-W", "-Q",
                                     "SET NOCOUNT ON SELECT COUNT(*) FROM [dbo].[订单]"}));
        EXPECT_EQ(check.out, "2500\n\n") << check.out << check.err;
    }
}

}  // namespace
