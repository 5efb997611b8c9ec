#include <gtest/gtest.h>

#include <QStringList>

#include "exec/RunTexts.h"
#include "exec/ScriptRun.h"

using namespace quill::exec;
using Kind = RunOutcome::Kind;

namespace {

// One thing the console tells a run: "{exited 0}" is a status record,
// "STOP" the user's stop, anything else output.
RunOutcome play(const std::vector<QString>& steps, bool promptCame) {
    ScriptRun run("sqlcmd -i x.sql");
    run.onEcho();
    for (const QString& step : steps) {
        if (step == "STOP") {
            run.requestStop();
        } else if (step.startsWith('{')) {
            auto record = quill::console::parseStatusRecord(step.mid(1).chopped(1).toStdString());
            EXPECT_TRUE(record) << step.toStdString();
            run.onRecord(*record);
        } else {
            run.onText(step.toUtf8());
        }
    }
    return promptCame ? run.finish() : run.breakOff();
}

const QString kThreeErrors =
    "Changed database context to 'Shop'.\n"
    "Msg 208, Level 16, State 1, Server standin, Line 12\nInvalid object name 'nosuch'.\n"
    "Msg 208, Level 16, State 1, Server standin, Line 15\nInvalid object name 'gone'.\n"
    "Msg 207, Level 16, State 1, Server standin, Line 40\nInvalid column name 'x'.\n";

TEST(ScriptRun, TellsWhatTheRunCameToInItsStatus) {
    struct Case {
        const char* name;
        std::vector<QString> steps;
        bool promptCame;
        Kind kind;
        QStringList status;  // what the status must say
    };
    const Case cases[] = {
        {"clean",
         {"(1 rows affected)\n", "{started 7}", "{exited 0}"},
         true,
         Kind::Clean,
         {"SQL文件执行完毕，请在Management Studio中查看。"}},
        {"three failing batches",
         {kThreeErrors, "{exited 0}"},
         true,
         Kind::Errors,
         {"3 个错误", "第 12 行", "Invalid object name 'nosuch'."}},
        {"errors and a failure status (-b)",
         {kThreeErrors, "{exited 1}"},
         true,
         Kind::Errors,
         {"3 个错误"}},
        {"errors the client counted but the output did not show",
         {"{failed 4 2 10 12}", "{exited 0}"},
         true,
         Kind::Errors,
         {"2 个错误"}},
        {"login refused by quill-sqlcmd",
         {"Sqlcmd: Error: FreeTDS DB-Library : Login failed for user 'sa'.\n", "{exited 1}"},
         true,
         Kind::LoginFailed,
         {"登录失败", "Login failed for user 'sa'."}},
        {"login refused, as a server message",
         {"Msg 18456, Level 14, State 1, Server S, Line 1\nLogin failed for user 'sa'.\n",
          "{exited 1}"},
         true,
         Kind::LoginFailed,
         {"登录失败"}},
        {"script file missing",
         {"Sqlcmd: Error: Error occurred while opening or operating on file /x.sql (Reason: No "
          "such file or directory).\n",
          "{exited 1}"},
         true,
         Kind::ClientFailed,
         {"退出码 1", "No such file or directory"}},
        {"a failure status and nothing else",
         {"{exited 2}"},
         true,
         Kind::ClientFailed,
         {"退出码 2"}},
        {"no end record at all", {"output\n"}, true, Kind::ClientFailed, {"退出码未知"}},
        {"killed by the system",
         {"(1 rows affected)\n", "{signalled 9}"},
         true,
         Kind::Killed,
         {"执行中断", "SIGKILL"}},
        {"could not start",
         {"找不到程序：sqlcmd\n", "{unstarted}"},
         true,
         Kind::Unstarted,
         {"无法启动", "找不到程序：sqlcmd"}},
        {"stopped, the client cancelled the batch",
         {"{input 5000 1000}", "{progress 100 900}", "STOP", "{cancelled 101 203}", "{exited 130}"},
         true,
         Kind::Stopped,
         {"已停止执行", "第 101 批", "第 203 行", "已取消", "前 100 批"}},
        {"stopped, the client died of the Ctrl+C",
         {"{progress 100 900}", "STOP", "{signalled 2}"},
         true,
         Kind::Stopped,
         {"第 101 批", "被中断"}},
        {"stopped, the client told nothing",
         {"STOP", "{signalled 9}"},
         true,
         Kind::Stopped,
         {"已停止执行。"}},
        {"a stop too late for the last batch",
         {"{input 50 2}", "STOP", "{progress 2 50}", "{exited 0}"},
         true,
         Kind::Clean,
         {"SQL文件执行完毕"}},
        {"the interpreter went away",
         {"(1 rows affected)\n", "{started 7}"},
         false,
         Kind::BrokeOff,
         {"执行中断", "命令解释器意外退出"}},
        {"the interpreter went away after the client ended",
         {kThreeErrors, "{exited 0}"},
         false,
         Kind::Errors,
         {"3 个错误"}},
        {"stopped, and the interpreter went away", {"STOP"}, false, Kind::Stopped, {"已停止执行"}},
    };
    for (const Case& c : cases) {
        const RunOutcome outcome = play(c.steps, c.promptCame);
        EXPECT_EQ(outcome.kind, c.kind) << c.name;
        const RunReport report = reportRun(outcome);
        for (const QString& needle : c.status)
            EXPECT_TRUE(report.status.contains(needle))
                << c.name << ": " << report.status.toStdString();
        // Only a clean run may claim completion.
        EXPECT_EQ(report.logLine == "\r\n处理完成，根据返回信息查看。", c.kind == Kind::Clean)
            << c.name;
        EXPECT_EQ(report.status.contains("执行完毕，请在"), c.kind == Kind::Clean) << c.name;
    }
}

TEST(ScriptRun, TheReadyTextNamesTheFileAndItsSize) {
    EXPECT_TRUE(readyStatus("降级.sql", 532).contains("降级.sql（532 字节）"));
    EXPECT_EQ(sizeText(1024), "1.00 KB");
    EXPECT_EQ(sizeText(5 * 1024 * 1024 + 512 * 1024), "5.50 MB");
    EXPECT_EQ(sizeText(123LL * 1024 * 1024 * 1024), "123.0 GB");
}

}  // namespace
