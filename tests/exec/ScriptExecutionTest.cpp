#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

#include "console/Console.h"
#include "core/ProgramState.h"
#include "exec/ScriptExecution.h"
#include "support/FakeForm.h"
#include "support/Paths.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;
using namespace quill::exec;
using quill::test::processGone;
using quill::test::waitUntil;

namespace {

const QByteArray kPrompt = "C:\\WINDOWS\\system32>";
const QByteArray kStartUp = "Quill\r\n保留所有权利。\r\n\r\n" + kPrompt;
const QString kBannerLog = " -------------Quillrun-------------- \n\n";
const QString kCompletionLog = "\n处理完成，根据返回信息查看。";

// Stands in for sqlcmd: shows its arguments and the password it was given,
// then runs the "script" as shell commands, so each test decides what the
// client does.
const char kClientDouble[] = R"sh(#!/bin/sh
printf 'args:'
for a in "$@"; do printf ' [%s]' "$a"; last=$a; done
printf '\npassword: [%s]\n' "${SQLCMDPASSWORD-unset}"
. "$last"
)sh";

class CountingForm : public test::FakeForm {
public:
    void appendLog(const QString& text) override {
        ++appends;
        FakeForm::appendLog(text);
    }
    int appends = 0;
};

class ScriptExecutionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        state.setConnected(1);
        form.setEnabled(Control::按钮4, true);
    }
    void TearDown() override { console.stopConsole(); }

    QString makeScript(const QString& name, const QByteArray& text = "echo '中文 select 1'\n") {
        QString path = dir.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(text);
        return path;
    }

    // A console whose interpreter finds the double as sqlcmd, with the
    // script dropped; returns once its first prompt has been handled.
    void startWithDouble(const QString& script) {
        QDir(dir.path()).mkdir("bin");
        QFile client(dir.filePath("bin/sqlcmd"));
        ASSERT_TRUE(client.open(QIODevice::WriteOnly));
        client.write(kClientDouble);
        client.close();
        client.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // The interpreter takes the program's environment when it starts.
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(dir.filePath("bin")) + ":" + path);
        form.setText(Control::编辑框5, script);
        console.startConsole(execution.consoleHandlers());
        qputenv("PATH", path);
    }

    bool idle() {
        return waitUntil([&] { return form.text(Control::按钮4) == "执行SQL脚本"; }, 10000);
    }

    QTemporaryDir dir;
    CountingForm form;
    ProgramState state;
    test::ScriptedMessageBoxes boxes;
    Console console{test::binPath("quill-cmd"), QDir::homePath()};
    ScriptExecution execution{form, console, state, boxes};
};

TEST_F(ScriptExecutionTest, WithoutTheScriptOrAConnectionOnlyTheStatusChanges) {
    form.setText(Control::编辑框4, "earlier output");
    struct Case {
        QString path;
        int connected;
        const char* status;
    };
    const Case cases[] = {{"", 1, kScriptMissing},
                          {"请将SQL脚本用鼠标拖入此处", 1, kScriptMissing},
                          {dir.filePath("missing.sql"), 1, kScriptMissing},
                          {makeScript("here.sql"), 0, kConnectFirst}};
    for (const Case& c : cases) {
        state.setConnected(c.connected);
        form.setText(Control::编辑框5, c.path);
        form.setStatus(1, "");
        execution.executeScript();
        EXPECT_EQ(form.status(1), c.status);
        EXPECT_TRUE(form.isEnabled(Control::按钮4));
        EXPECT_EQ(form.text(Control::编辑框4), "earlier output");
        EXPECT_FALSE(execution.runUnderWay());
    }
}

TEST_F(ScriptExecutionTest, RefusesALineBreakThatWouldStartAnotherCommand) {
    form.setAuthIndex(1);
    form.setText(Control::编辑框5, makeScript("evil\nrm -rf x\n.sql"));
    execution.executeScript();
    EXPECT_EQ(form.status(1), kLineBreakInCommand);
    EXPECT_TRUE(form.isEnabled(Control::按钮4));

    form.setText(Control::编辑框5, makeScript("fine.sql"));
    form.setText(Control::编辑框3, "pass\r\nrm -rf x");
    execution.executeScript();
    EXPECT_EQ(form.status(1), kLineBreakInCommand);
}

TEST_F(ScriptExecutionTest, WithoutAnInterpreterTheRunIsRefusedAndTheButtonStays) {
    form.setText(Control::编辑框5, makeScript("s.sql"));
    execution.executeScript();  // never started
    EXPECT_EQ(form.status(1), kConsoleGone);
    EXPECT_TRUE(form.isEnabled(Control::按钮4));

    console.startConsole(execution.consoleHandlers());
    const pid_t pid = console.interpreterPid();
    ASSERT_GT(pid, 0);
    ::kill(pid, SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return processGone(pid); }));
    execution.executeScript();  // ended under us
    EXPECT_EQ(form.status(1), kConsoleGone);
    EXPECT_TRUE(form.isEnabled(Control::按钮4));
    EXPECT_FALSE(execution.runUnderWay());
}

TEST_F(ScriptExecutionTest, OutputReachesTheLogInOrderAndPiledUpOutputInOneInsertion) {
    QByteArray stream = kStartUp;
    QString expected = kBannerLog;
    for (int i = 0; i < 20000; ++i) {
        QByteArray line = "第 " + QByteArray::number(i) + " 行 (1 rows affected)\r\n";
        stream += line;
        expected += QString::fromUtf8(line).replace("\r\n", "\n");
    }
    // The last line break goes with the prompt; with no run, the prompt adds nothing.
    stream += kPrompt;
    expected.chop(1);

    auto handler = execution.consoleHandlers().output;
    // The reader cuts anywhere, characters included.
    std::thread reader([&] {
        for (qsizetype at = 0; at < stream.size(); at += 257)
            handler(stream.mid(at, 257));
    });
    EXPECT_TRUE(waitUntil([&] { return form.text(Control::编辑框4).size() == expected.size(); }));
    reader.join();
    EXPECT_EQ(form.text(Control::编辑框4), expected);
    EXPECT_LT(form.appends, int(stream.size() / 257 / 10));
}

TEST_F(ScriptExecutionTest, OnlyTheNewestInstanceIsShown) {
    auto first = execution.consoleHandlers();
    auto second = execution.consoleHandlers();
    first.output(kStartUp);
    first.output(QByteArray(512 * 1024, 'x'));  // more than one load: must not wait for room
    first.ended();
    second.output("new start\r\n");
    EXPECT_TRUE(waitUntil([&] { return form.text(Control::编辑框4).contains("new start"); }));
    test::pumpEvents(20);
    EXPECT_EQ(form.text(Control::编辑框4), "new start");
}

// Waits for a condition without letting the event loop drain any output.
bool withoutEvents(const std::function<bool()>& pred) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!pred() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    return pred();
}

TEST_F(ScriptExecutionTest, AReaderWaitingForRoomIsReleasedWhenTheWindowGoes) {
    auto gone = std::make_unique<ScriptExecution>(form, console, state, boxes);
    auto handler = gone->consoleHandlers().output;
    auto delivered = std::make_shared<std::atomic<int>>(0);
    std::thread reader([handler, delivered] {
        for (int i = 0; i < 8; ++i) {
            handler(QByteArray(128 * 1024, 'x'));  // nobody drains
            ++*delivered;
        }
    });
    // One load waits unread, so the reader is held at the second.
    EXPECT_TRUE(withoutEvents([&] { return *delivered == 1; }));
    gone.reset();
    const bool released = withoutEvents([&] { return *delivered == 8; });
    EXPECT_TRUE(released);
    if (released)
        reader.join();
    else
        reader.detach();  // owns what it uses
}

TEST_F(ScriptExecutionTest, RunsOnTheConnectedServerAndSaysWhenTheScriptIsReadyAndDone) {
    const QString script = makeScript("我的 脚本/run me.sql");
    form.setAuthIndex(1);
    form.setText(Control::编辑框2, "SA");
    form.setText(Control::编辑框3, "s3cret \"pw\"");
    state.setConnectedServer("127.0.0.1,14333");
    startWithDouble(script);
    // A click before the interpreter's first prompt: that prompt does not end the run.
    execution.executeScript();
    EXPECT_EQ(form.text(Control::按钮4), "停止执行");
    EXPECT_TRUE(form.isEnabled(Control::按钮4));
    EXPECT_EQ(form.status(1), kScriptRunning);
    ASSERT_TRUE(idle());
    EXPECT_EQ(form.status(1), kScriptFinished);

    const QString run = "\nargs: [-S127.0.0.1,14333] [-USA] [-i] [" + script +
                        "]\npassword: [s3cret \"pw\"]\n中文 select 1\n" + kCompletionLog;
    EXPECT_EQ(form.text(Control::编辑框4), kBannerLog + run);

    // The first prompt after a drop only says the script is ready.
    form.setText(Control::编辑框4, "");
    startWithDouble(script);
    ASSERT_TRUE(waitUntil([&] { return form.status(1).startsWith("SQL脚本已就绪"); }));
    EXPECT_EQ(form.status(1), readyStatus("run me.sql", QFileInfo(script).size()));
    EXPECT_EQ(form.text(Control::编辑框4), kBannerLog);

    form.setAuthIndex(0);
    execution.executeScript();
    ASSERT_TRUE(idle());
    EXPECT_EQ(form.status(1), kScriptFinished);
    EXPECT_EQ(form.text(Control::编辑框4), kBannerLog + "\nargs: [-S127.0.0.1,14333] [-i] [" +
                                               script + "]\npassword: [unset]\n中文 select 1\n" +
                                               kCompletionLog)
        << form.text(Control::编辑框4).toStdString();
}

// What decides how a script runs (the pre-flight) tells the execution the
// file the client reads and the client's own variables, or why nothing
// runs; and has its say in the log after the banner and after the run.
TEST_F(ScriptExecutionTest, TheHooksDecideWhatRunsAndAddToTheLog) {
    struct Hooks : RunHooks {
        QString consoleReady() override { return "检查结果\r\n"; }
        std::variant<RunPlan, QString> planRun(const QString&) override {
            if (refuse)
                return QString("不执行");
            return RunPlan{planned, {}, {{"QUILL_JOURNAL", "/tmp/进度 j"}}};
        }
        void runRecord(const console::StatusRecord& record) override {
            records << QString::fromStdString(record.tag);
        }
        QString runEnded(const RunOutcome&) override { return "\r\n可以继续"; }
        bool refuse = true;
        QString planned;
        QStringList records;
    } hooks;
    execution.setHooks(&hooks);
    hooks.planned = makeScript("rest.sql", "echo \"journal: [$QUILL_JOURNAL]\"\n");
    startWithDouble(makeScript("dropped.sql"));
    ASSERT_TRUE(
        waitUntil([&] { return form.text(Control::编辑框4) == kBannerLog + "检查结果\n"; }));

    execution.executeScript();
    EXPECT_EQ(form.status(1), "不执行");
    EXPECT_FALSE(execution.runUnderWay());

    hooks.refuse = false;
    execution.executeScript();
    ASSERT_TRUE(idle());
    EXPECT_EQ(form.text(Control::编辑框4), kBannerLog + "检查结果\n\nargs: [-i] [" + hooks.planned +
                                               "]\npassword: [unset]\njournal: [/tmp/进度 j]\n" +
                                               kCompletionLog + "\n可以继续")
        << form.text(Control::编辑框4).toStdString();
    EXPECT_EQ(hooks.records, QStringList({"started", "exited"}));
}

TEST_F(ScriptExecutionTest, WhenTheInterpreterDiesMidRunTheRunBreaksOff) {
    startWithDouble(makeScript("s.sql", "echo started; sleep 60\n"));
    execution.executeScript();
    ASSERT_TRUE(waitUntil([&] { return form.text(Control::编辑框4).contains("started"); }));
    ::kill(console.interpreterPid(), SIGKILL);
    ASSERT_TRUE(idle());
    EXPECT_TRUE(form.status(1).startsWith("执行中断：命令解释器意外退出"));
    EXPECT_TRUE(form.isEnabled(Control::按钮4));
}

TEST_F(ScriptExecutionTest, StopAsksThenInterruptsThenKills) {
    // Long enough for the shell's trap to run on a slow sanitizer build; the
    // second run below waits it out before the kill.
    execution.setStopWaits(2000, 3000);
    // Takes Ctrl+C as quill-sqlcmd does: cancels batch 7 and says so.
    startWithDouble(makeScript(
        "s.sql", "trap 'echo cancelled 7 30 >&3; exit 130' INT\necho running\nsleep 60\n"));
    execution.executeScript();
    ASSERT_TRUE(waitUntil([&] { return form.text(Control::编辑框4).contains("running"); }));

    // Cancel in the box: the run goes on.
    boxes.setNextAnswer(IdCancel);
    execution.executeScript();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, "警告：");
    EXPECT_EQ(boxes.shown[0].flags, mb::OkCancel | mb::IconExclamation | mb::TaskModal);
    EXPECT_TRUE(execution.runUnderWay());
    EXPECT_EQ(form.status(1), kScriptRunning);
    // A disconnect disables 按钮4; the run keeps its stop button.
    form.setEnabled(Control::按钮4, false);
    execution.afterDisconnect();
    EXPECT_TRUE(form.isEnabled(Control::按钮4));

    boxes.setNextAnswer(IdOk);
    execution.executeScript();
    EXPECT_EQ(form.status(1), kStopping);
    EXPECT_FALSE(form.isEnabled(Control::按钮4));
    ASSERT_TRUE(idle());
    EXPECT_TRUE(form.status(1).startsWith("已停止执行：第 7 批（脚本第 30 行起）已取消"))
        << form.status(1).toStdString();

    // Ignores Ctrl+C, as a client waiting on the server may: killed after the wait.
    makeScript("s.sql", "trap '' INT\necho running again\nsleep 60\n");
    execution.executeScript();
    ASSERT_TRUE(waitUntil([&] { return form.text(Control::编辑框4).contains("running again"); }));
    execution.executeScript();
    ASSERT_TRUE(idle());
    EXPECT_EQ(form.status(1), "已停止执行。");
    EXPECT_TRUE(form.isEnabled(Control::按钮4));
    EXPECT_EQ(boxes.shown.size(), 3u);
}

}  // namespace
