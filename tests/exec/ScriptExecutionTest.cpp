#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <thread>

#include "console/Console.h"
#include "exec/ScriptExecution.h"
#include "support/FakeForm.h"
#include "support/Paths.h"
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
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString makeScript(const QString& name) {
        QString path = dir.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("select 1\n");
        return path;
    }

    QTemporaryDir dir;
    CountingForm form;
    Console console{test::binPath("quill-cmd"), QDir::homePath()};
    ScriptExecution execution{form, console};
};

TEST_F(ScriptExecutionTest, WithoutTheScriptOnlyTheStatusChanges) {
    form.setEnabled(Control::按钮4, true);
    form.setText(Control::编辑框4, "earlier output");
    const QString paths[] = {"", "请将SQL脚本用鼠标拖入此处", dir.filePath("missing.sql")};
    for (const QString& path : paths) {
        form.setText(Control::编辑框5, path);
        form.setStatus(1, "");
        execution.executeScript();
        EXPECT_EQ(form.status(1), "SQL脚本不存在");
        EXPECT_TRUE(form.isEnabled(Control::按钮4));
        EXPECT_EQ(form.text(Control::编辑框4), "earlier output");
    }
}

TEST_F(ScriptExecutionTest, RefusesALineBreakThatWouldStartAnotherCommand) {
    form.setEnabled(Control::按钮4, true);
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
    form.setEnabled(Control::按钮4, true);
    form.setText(Control::编辑框5, makeScript("s.sql"));
    execution.executeScript();  // never started
    EXPECT_EQ(form.status(1), kConsoleGone);
    EXPECT_TRUE(form.isEnabled(Control::按钮4));

    console.startConsole(execution.outputHandler());
    const pid_t pid = console.interpreterPid();
    ASSERT_GT(pid, 0);
    ::kill(pid, SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return processGone(pid); }));
    execution.executeScript();  // ended under us
    EXPECT_EQ(form.status(1), kConsoleGone);
    EXPECT_TRUE(form.isEnabled(Control::按钮4));
}

TEST_F(ScriptExecutionTest, OutputReachesTheLogInOrderAndPiledUpOutputInOneInsertion) {
    QByteArray stream = kStartUp;
    QString expected = kBannerLog + kCompletionLog;
    for (int i = 0; i < 20000; ++i) {
        QByteArray line = "第 " + QByteArray::number(i) + " 行 (1 rows affected)\r\n";
        stream += line;
        expected += QString::fromUtf8(line).replace("\r\n", "\n");
    }
    stream += "\r\n" + kPrompt;
    expected += kCompletionLog;

    auto handler = execution.outputHandler();
    // The reader cuts anywhere, characters included.
    std::thread reader([&] {
        for (qsizetype at = 0; at < stream.size(); at += 257)
            handler(stream.mid(at, 257));
    });
    EXPECT_TRUE(waitUntil([&] {
        return form.isEnabled(Control::按钮4) &&
               form.text(Control::编辑框4).endsWith(kCompletionLog) &&
               form.text(Control::编辑框4).size() == expected.size();
    }));
    reader.join();
    EXPECT_EQ(form.text(Control::编辑框4), expected);
    EXPECT_EQ(form.status(1), kScriptFinished);
    EXPECT_LT(form.appends, int(stream.size() / 257 / 10));
}

TEST_F(ScriptExecutionTest, OnlyTheNewestInstanceIsShown) {
    auto first = execution.outputHandler();
    auto second = execution.outputHandler();
    first(kStartUp);
    first(QByteArray(512 * 1024, 'x'));  // more than one load: must not wait for room
    second("new start\r\n");
    EXPECT_TRUE(waitUntil([&] { return form.text(Control::编辑框4).contains("new start"); }));
    test::pumpEvents(20);
    EXPECT_EQ(form.text(Control::编辑框4), "new start");
}

TEST_F(ScriptExecutionTest, AReaderWaitingForRoomIsReleasedWhenTheWindowGoes) {
    auto gone = std::make_unique<ScriptExecution>(form, console);
    auto handler = gone->outputHandler();
    std::thread reader([&] {
        for (int i = 0; i < 8; ++i)
            handler(QByteArray(128 * 1024, 'x'));  // nobody drains
    });
    test::pumpEvents(0);
    gone.reset();
    reader.join();
    SUCCEED();
}

// A stand-in sqlcmd that shows what it was given.
const char kClientDouble[] = R"sh(#!/bin/sh
printf 'args:'
for a in "$@"; do printf ' [%s]' "$a"; last=$a; done
printf '\npassword: [%s]\n' "${SQLCMDPASSWORD-unset}"
printf '中文 %s\n' "$(cat "$last")"
)sh";

TEST_F(ScriptExecutionTest, RunsTheScriptThroughTheConsoleTwice) {
    QDir(dir.path()).mkdir("bin");
    QFile client(dir.filePath("bin/sqlcmd"));
    ASSERT_TRUE(client.open(QIODevice::WriteOnly));
    client.write(kClientDouble);
    client.close();
    client.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir.filePath("bin")) + ":" + path);

    const QString script = makeScript("我的 脚本/run me.sql");
    form.setAuthIndex(1);
    form.setText(Control::编辑框2, "SA");
    form.setText(Control::编辑框3, "s3cret \"pw\"");
    form.setText(Control::编辑框5, script);
    console.startConsole(execution.outputHandler());
    qputenv("PATH", path);

    ASSERT_TRUE(waitUntil([&] { return form.isEnabled(Control::按钮4); }));
    EXPECT_EQ(form.text(Control::编辑框4), kBannerLog + kCompletionLog);
    EXPECT_EQ(form.status(1), kScriptFinished);

    const QString run = "\nargs: [-USA] [-i] [" + script +
                        "]\npassword: [s3cret \"pw\"]\n中文 select 1\n" + kCompletionLog;
    for (int i = 1; i <= 2; ++i) {
        execution.executeScript();
        EXPECT_FALSE(form.isEnabled(Control::按钮4));
        EXPECT_EQ(form.status(1), kScriptRunning);
        ASSERT_TRUE(waitUntil([&] { return form.isEnabled(Control::按钮4); }))
            << form.text(Control::编辑框4).toStdString();
        EXPECT_EQ(form.status(1), kScriptFinished);
    }
    EXPECT_EQ(form.text(Control::编辑框4), kBannerLog + kCompletionLog + run + run);

    form.setAuthIndex(0);
    execution.executeScript();
    ASSERT_TRUE(waitUntil([&] { return form.isEnabled(Control::按钮4); }));
    EXPECT_TRUE(form.text(Control::编辑框4)
                    .endsWith("\nargs: [-i] [" + script + "]\npassword: [unset]\n中文 select 1\n" +
                              kCompletionLog))
        << form.text(Control::编辑框4).toStdString();
}

}  // namespace
