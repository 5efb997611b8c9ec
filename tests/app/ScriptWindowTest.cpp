#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <QWindow>

#include "app/MainWindow.h"
#include "app/RunProgressBar.h"
#include "app/RunWatch.h"
#include "app/log/RunLogStore.h"
#include "console/Console.h"
#include "console/StatusChannel.h"
#include "exec/RunTexts.h"
#include "preflight/Encode.h"
#include "preflight/ResumeStore.h"
#include "preflight/ScriptKey.h"
#include "support/Paths.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;
using quill::test::processGone;
using quill::test::waitUntil;

namespace {

const QString kBannerLog = " -------------Quillrun-------------- \n\n";
const QString kCompletionLog = "\n处理完成，根据返回信息查看。";
const QString kFinished = "SQL文件执行完毕，请在Management Studio中查看。";

// Stands in for Microsoft's sqlcmd: shows its arguments and the script (-i),
// then runs the script's lines that start with "#!" as shell commands.
const char kClientDouble[] = R"sh(#!/bin/sh
printf 'args:'
for a in "$@"; do printf ' [%s]' "$a"; [ "$prev" = -i ] && script=$a; prev=$a; done
printf '\n%s\n' "$(grep -v '^#!' "$script")"
grep '^#!' "$script" | cut -c3- > "$script.sh"
. "$script.sh"
)sh";

class ScriptWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QDir(dir.path()).mkdir("bin");
        QFile client(dir.filePath("bin/sqlcmd"));
        ASSERT_TRUE(client.open(QIODevice::WriteOnly));
        client.write(kClientDouble);
        client.close();
        client.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // The interpreter takes the program's environment when it starts.
        savedPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(dir.filePath("bin")) + ":" + savedPath);

        WindowServices services{boxes, opener, state, [] { return false; }, [](int) {}, console};
        services.choices = &choices;
        window = new MainWindow(services);
        window->show();
    }
    void TearDown() override {
        delete window.data();
        qputenv("PATH", savedPath);
    }

    QString makeScript(const QString& name, const QByteArray& text = "select 1") {
        QString path = dir.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(text);
        return path;
    }

    // The platform's drag events go to the window, which hands them to the
    // widget under the pointer that takes drops, or to none.
    bool dragAccepted(QWidget* over, const QMimeData& data,
                      Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction) {
        QDragEnterEvent enter(over->mapTo(window, over->rect().center()), actions, &data,
                              Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window->windowHandle(), &enter);
        const bool accepted = enter.isAccepted() && enter.dropAction() == Qt::CopyAction;
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(window->windowHandle(), &leave);
        return accepted;
    }
    void drop(QWidget* on, const QMimeData& data) {
        const QPoint at = on->mapTo(window, on->rect().center());
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(window->windowHandle(), &enter);
        QDropEvent event(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(window->windowHandle(), &event);
    }
    static std::unique_ptr<QMimeData> files(const QStringList& paths) {
        auto data = std::make_unique<QMimeData>();
        QList<QUrl> urls;
        for (const QString& p : paths)
            urls << QUrl::fromLocalFile(p);
        data->setUrls(urls);
        return data;
    }

    bool runFinished() {
        return waitUntil(
            [&] {
                return window->按钮4->isEnabled() && window->按钮4->text() == "执行SQL脚本" &&
                       window->status(1) == kFinished;
            },
            10000);
    }
    // The console is ready and the pre-flight report follows its banner.
    bool ready() {
        return waitUntil([&] {
            return window->按钮4->isEnabled() && window->status(1).startsWith("SQL脚本已就绪") &&
                   window->text(Control::编辑框4).startsWith(kBannerLog + "脚本检查：");
        });
    }

    QTemporaryDir dir;
    QByteArray savedPath;
    test::ScriptedMessageBoxes boxes;
    test::ScriptedChoices choices;
    test::RecordingOpener opener;
    ProgramState state;
    Console console{test::binPath("quill-cmd"), QDir::homePath()};
    QPointer<MainWindow> window;
};

TEST_F(ScriptWindowTest, OnlyTheScriptPathBoxTakesFileLists) {
    const QString script = makeScript("a.sql");
    auto fileList = files({script});
    QMimeData text;
    text.setText(script);
    QMimeData webLink;
    webLink.setUrls({QUrl("https://example.com/a.sql")});
    auto mixed = files({script});
    mixed->setUrls(mixed->urls() << QUrl("https://example.com/b.sql"));

    EXPECT_TRUE(dragAccepted(window->编辑框5, *fileList));
    EXPECT_FALSE(dragAccepted(window->编辑框5, *fileList,
                              Qt::MoveAction));  // the file would leave its place
    EXPECT_FALSE(dragAccepted(window->编辑框5, text));
    EXPECT_FALSE(dragAccepted(window->编辑框5, webLink));
    EXPECT_FALSE(dragAccepted(window->编辑框5, *mixed));
    EXPECT_FALSE(dragAccepted(window->编辑框4, *fileList));
    EXPECT_FALSE(dragAccepted(window, *fileList));

    state.setConnected(1);
    drop(window->编辑框4, *fileList);
    drop(window->编辑框5, text);
    EXPECT_EQ(window->text(Control::编辑框5), "请将SQL脚本用鼠标拖入此处");
    EXPECT_EQ(window->status(1), "");
    EXPECT_EQ(console.interpreterPid(), 0);
}

TEST_F(ScriptWindowTest, RefusedDropsOnlySayWhy) {
    const QString script = makeScript("a.sql");
    drop(window->编辑框5, *files({script}));
    EXPECT_EQ(window->status(1), "请先连接数据库后再进行操作。");
    state.setConnected(1);
    drop(window->编辑框5, *files({script, makeScript("b.sql")}));
    EXPECT_EQ(window->status(1), "请拖入*.sql文件");
    EXPECT_EQ(window->text(Control::编辑框5), "请将SQL脚本用鼠标拖入此处");
    EXPECT_EQ(console.interpreterPid(), 0);
}

TEST_F(ScriptWindowTest, DroppedScriptRunsTwiceAndTheConsoleEndsWithTheWindow) {
    const QString script = makeScript("我的 脚本/run it.sql", "print '中文'");
    state.setConnected(1);
    // Percent-escaped as file managers send it.
    auto data = std::make_unique<QMimeData>();
    data->setData("text/uri-list", QUrl::fromLocalFile(script).toEncoded() + "\r\n");
    drop(window->编辑框5, *data);
    EXPECT_EQ(window->text(Control::编辑框5), script);
    ASSERT_TRUE(ready());
    const QString checked = window->text(Control::编辑框4);
    EXPECT_TRUE(checked.contains("UTF-8")) << checked.toStdString();

    window->组合框1->setCurrentIndex(1);
    window->onAuthModeSelected();
    window->编辑框3->setText("pw \"x\"");
    // UTF-8 is named: Microsoft's sqlcmd would read the locale's code page.
    const QString run =
        "\nargs: [-USA] [-i] [" + script + "] [-f] [i:65001]\nprint '中文'\n" + kCompletionLog;
    for (int i = 0; i < 2; ++i) {
        window->按钮4->click();
        EXPECT_EQ(window->按钮4->text(), "停止执行");
        EXPECT_EQ(window->status(1), "SQL文件正在执行中，请等待.....");
        ASSERT_TRUE(runFinished()) << window->text(Control::编辑框4).toStdString();
    }
    EXPECT_EQ(window->text(Control::编辑框4), checked + run + run);
    EXPECT_TRUE(QFile::exists(script));

    // A new drop starts a new console, which clears the log again.
    const pid_t first = console.interpreterPid();
    const QString other = makeScript("other.SQL");
    drop(window->编辑框5, *files({other}));
    EXPECT_TRUE(processGone(first));
    ASSERT_TRUE(ready());
    EXPECT_FALSE(window->text(Control::编辑框4).contains("args:"));

    const pid_t second = console.interpreterPid();
    delete window.data();
    EXPECT_TRUE(processGone(second));
}

TEST_F(ScriptWindowTest, ADropDuringARunIsRefusedAndClosingTheWindowEndsTheClient) {
    const QString script =
        makeScript("long.sql", "#!echo client $$\n#!sleep 60 & echo child $!\n#!wait\n");
    state.setConnected(1);
    drop(window->编辑框5, *files({script}));
    ASSERT_TRUE(ready());
    window->按钮4->click();
    QRegularExpressionMatch pids;
    ASSERT_TRUE(waitUntil([&] {
        pids = QRegularExpression("client (\\d+)\nchild (\\d+)\n")
                   .match(window->text(Control::编辑框4));
        return pids.hasMatch();
    }));

    const pid_t interpreter = console.interpreterPid();
    drop(window->编辑框5, *files({makeScript("next.sql")}));
    EXPECT_EQ(window->status(1), QString::fromUtf8(exec::kDropDuringRun));
    EXPECT_EQ(window->text(Control::编辑框5), script);
    EXPECT_EQ(console.interpreterPid(), interpreter);
    EXPECT_EQ(window->按钮4->text(), "停止执行");

    window->close();  // the box is answered OK
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); }));
    EXPECT_TRUE(processGone(interpreter));
    EXPECT_TRUE(processGone(pids.captured(1).toLong()));
    EXPECT_TRUE(waitUntil([&] { return processGone(pids.captured(2).toLong()); }, 2000));
}

TEST_F(ScriptWindowTest, EachRunKeepsExactlyWhatTheClientPrintedInAFileOfItsOwn) {
    // Every byte value, zero included, line breaks of every kind, no break at the end.
    QByteArray printed;
    for (int i = 0; i < 200000; ++i)
        printed += char((i * 7) % 256);
    printed += "\r\n中文\r50%\n末尾没有换行";
    QFile bytes(dir.filePath("printed.bin"));
    ASSERT_TRUE(bytes.open(QIODevice::WriteOnly));
    bytes.write(printed);
    bytes.close();
    const QString script = makeScript("字节.sql", "#!cat '" + bytes.fileName().toUtf8() + "'\n");
    state.setConnected(1);
    drop(window->编辑框5, *files({script}));
    ASSERT_TRUE(ready());

    QProcess client;
    client.setProcessChannelMode(QProcess::MergedChannels);
    client.start(dir.filePath("bin/sqlcmd"), {"-i", script});
    ASSERT_TRUE(client.waitForFinished());
    // The window adds switches of its own (the code page): the double's line
    // of arguments differs, everything after it is the same.
    const auto afterArguments = [](const QByteArray& output) {
        return output.sliced(output.indexOf('\n') + 1);
    };
    const QByteArray expected = afterArguments(client.readAll());
    ASSERT_TRUE(expected.endsWith(printed));

    QStringList logs;
    for (int run = 0; run < 2; ++run) {
        window->按钮4->click();
        ASSERT_TRUE(runFinished()) << window->status(1).toStdString();
        logs << window->编辑框4->document().runLogPath();
        QFile log(logs.last());
        ASSERT_TRUE(log.open(QIODevice::ReadOnly)) << logs.last().toStdString();
        const QByteArray logged = log.readAll();
        EXPECT_TRUE(logged.startsWith("args: ["));
        EXPECT_TRUE(afterArguments(logged) == expected);
        EXPECT_EQ(QFileInfo(log).dir().path(), logbox::runsFolder());
    }
    EXPECT_NE(logs[0], logs[1]);
    // The box shows it all, around the window's own lines.
    EXPECT_TRUE(
        window->text(Control::编辑框4).endsWith("\n中文50%\n末尾没有换行" + kCompletionLog));

    window->编辑框4->openRunFolder();
    EXPECT_EQ(opener.opened, QStringList{logbox::runsFolder()});
}

// A client that says nothing of its progress (as Microsoft's sqlcmd): the
// window follows its read offset in the script.
TEST_F(ScriptWindowTest, ProgressOfAClientThatReportsNothingComesFromItsReadOffset) {
    const QString gate = dir.filePath("gate");
    ASSERT_EQ(::mkfifo(QFile::encodeName(gate).constData(), 0600), 0);
    // Reads the first 1,000 of its 2,000 bytes, then waits at the gate.
    QByteArray text =
        "#!exec 4<\"$script\"\n#!dd bs=1000 count=1 <&4 >/dev/null 2>&1\n"
        "#!read go < '" +
        QFile::encodeName(gate) + "'\n#!cat <&4 >/dev/null\n";
    text += "--" + QByteArray(2000 - text.size() - 3, '-') + "\n";
    const QString script = makeScript("slow.sql", text);
    state.setConnected(1);
    drop(window->编辑框5, *files({script}));
    ASSERT_TRUE(ready());
    window->按钮4->click();

    RunProgressBar* bar = window->runWatch().progressBar();
    ASSERT_TRUE(waitUntil([&] { return window->status(1).contains("50%"); }))
        << window->status(1).toStdString();
    EXPECT_TRUE(window->status(1).startsWith("SQL文件正在执行中，请等待..... 50%"));
    EXPECT_TRUE(window->status(1).contains("已读 1000 字节/1.95 KB"));
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->share(), 0.5);
    // Nothing of the window moved for the bar.
    EXPECT_GE(bar->y(), window->编辑框4->geometry().bottom() + 1);
    EXPECT_LT(bar->geometry().bottom(), window->按钮4->y());

    QFile open(gate);
    ASSERT_TRUE(open.open(QIODevice::WriteOnly));
    open.write("go\n");
    open.close();
    ASSERT_TRUE(runFinished()) << window->status(1).toStdString();
    EXPECT_FALSE(bar->isVisible());
}

TEST_F(ScriptWindowTest, MissingScriptOnlyChangesTheStatus) {
    const QString script = makeScript("gone.sql");
    state.setConnected(1);
    drop(window->编辑框5, *files({script}));
    ASSERT_TRUE(ready());
    const QString checked = window->text(Control::编辑框4);
    QFile::remove(script);
    window->按钮4->click();
    EXPECT_EQ(window->status(1), "SQL脚本不存在");
    EXPECT_TRUE(window->按钮4->isEnabled());
    EXPECT_EQ(window->text(Control::编辑框4), checked);
}

// What runs is what was checked: a script edited after its drop is checked
// again first.
TEST_F(ScriptWindowTest, AScriptChangedAfterItsDropIsCheckedAgainBeforeItRuns) {
    const QString script = makeScript("edited.sql", "print 'old'");
    state.setConnected(1);
    drop(window->编辑框5, *files({script}));
    ASSERT_TRUE(ready());
    makeScript("edited.sql", "print 'new one'\r\n");
    window->按钮4->click();
    EXPECT_EQ(window->status(1), "脚本在检查之后有改动，正在重新检查，请稍候再执行。");
    EXPECT_EQ(window->按钮4->text(), "执行SQL脚本");
    ASSERT_TRUE(waitUntil([&] { return window->text(Control::编辑框4).contains("CRLF 换行"); }));
    window->按钮4->click();
    ASSERT_TRUE(runFinished());
    EXPECT_TRUE(window->text(Control::编辑框4).contains("print 'new one'"));
}

// A script no client can read says so after the banner, and 按钮4 does
// not hand it to the client.
TEST_F(ScriptWindowTest, AScriptThatCannotBeDecodedIsNeverRun) {
    const QString script = makeScript("nul.sql", QByteArray("SELECT 1\nGO\nSELECT '\0'\nGO\n", 24));
    state.setConnected(1);
    drop(window->编辑框5, *files({script}));
    ASSERT_TRUE(waitUntil([&] { return window->status(1) == "脚本无法执行，原因见检查结果。"; }));
    EXPECT_TRUE(window->text(Control::编辑框4).contains("第 3 行（字节 20）有 NUL 字符"))
        << window->text(Control::编辑框4).toStdString();
    window->按钮4->click();
    EXPECT_EQ(window->status(1), "脚本无法执行，原因见检查结果。");
    EXPECT_EQ(window->按钮4->text(), "执行SQL脚本");
    test::pumpEvents(100);
    EXPECT_FALSE(window->text(Control::编辑框4).contains("args:"));
}

// Big5 is neither UTF-8 nor GBK: the user names the code page, once the
// question left open at the drop comes back at 按钮4, and the run gets it.
TEST_F(ScriptWindowTest, AScriptNoGuessReadsRunsInTheCodePageTheUserNames) {
    const QString script =
        makeScript("big5.sql", QByteArray::fromStdString(test::encodeAs(
                                   "INSERT [資料表] VALUES (N'臺北')\r\nGO\r\n", "BIG5")));
    state.setConnected(1);
    choices.setNextAnswer(-1);  // dismissed at the drop
    drop(window->编辑框5, *files({script}));
    ASSERT_TRUE(waitUntil([&] { return window->status(1) == "没有选择代码页，脚本不会执行。"; }));
    ASSERT_EQ(choices.asked.size(), 1u);
    const int big5 = int(choices.asked[0].options.indexOf("代码页 950（繁体中文 Big5）"));
    ASSERT_GE(big5, 0) << choices.asked[0].options.join("|").toStdString();

    choices.setNextAnswer(big5);
    window->按钮4->click();
    ASSERT_EQ(choices.asked.size(), 2u);
    EXPECT_EQ(window->status(1), "正在检查脚本，请稍候再执行。");
    ASSERT_TRUE(waitUntil([&] {
        return window->text(Control::编辑框4).contains("代码页 950（繁体中文 Big5），");
    })) << window->text(Control::编辑框4).toStdString();
    window->按钮4->click();
    ASSERT_TRUE(runFinished()) << window->text(Control::编辑框4).toStdString();
    EXPECT_TRUE(window->text(Control::编辑框4).contains("[-i] [" + script + "] [-f] [i:950]"))
        << window->text(Control::编辑框4).toStdString();
}

// Microsoft's sqlcmd cannot be told where to start: going on from a broken
// run hands it the rest of the script, which is gone again after the run,
// and with it anything to offer, since that client keeps no journal. A
// client that could not even start leaves the offer as it was.
TEST_F(ScriptWindowTest, GoingOnWithMicrosoftsClientRunsTheRestOfTheScript) {
    const QString client = dir.filePath("bin/sqlcmd");
    QFile::remove(client);
    QFile broken(client);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("#!/nonexistent/sh\n");
    broken.close();
    broken.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    const QString script = makeScript("rest.sql", "SELECT 1\nGO\nSELECT 2\nGO\nSELECT 3\nGO\n");
    const auto key = preflight::scriptKeyOf(script);
    ASSERT_TRUE(key);
    {
        // What quill-sqlcmd's journal holds after batch 2.
        QFile journal(preflight::ResumeStore().beginRun(*key, {}));
        ASSERT_TRUE(journal.open(QIODevice::WriteOnly));
        journal.write(QByteArray::fromStdString(console::formatJournal({3, 5})));
    }
    state.setConnected(1);
    drop(window->编辑框5, *files({script}));
    ASSERT_TRUE(ready());
    ASSERT_TRUE(waitUntil([&] { return !choices.asked.empty(); }));
    EXPECT_EQ(choices.asked[0].options, QStringList({"从第 3 批继续（第 5 行）", "从头执行"}));
    window->按钮4->click();
    ASSERT_TRUE(waitUntil([&] {
        return window->按钮4->text() == "执行SQL脚本" &&
               window->text(Control::编辑框4).contains("无法运行 sqlcmd");
    }));
    ASSERT_TRUE(preflight::ResumeStore().lookup(*key));
    EXPECT_EQ(preflight::ResumeStore().lookup(*key)->nextBatch, 3);

    QFile::remove(client);
    QFile double_(client);
    ASSERT_TRUE(double_.open(QIODevice::WriteOnly));
    double_.write(kClientDouble);
    double_.close();
    double_.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    window->按钮4->click();  // asked again; the first option: go on
    EXPECT_EQ(choices.asked.size(), 2u);
    ASSERT_TRUE(runFinished()) << window->text(Control::编辑框4).toStdString();
    const QString log = window->text(Control::编辑框4);
    const QString remainder = preflight::ResumeStore().remainderPath(*key);
    EXPECT_TRUE(log.contains("从第 3 批继续执行（第 5 行起），前 2 批不再发送。\n"))
        << log.toStdString();
    EXPECT_TRUE(log.contains("[-i] [" + remainder + "] [-f] [i:65001]\n")) << log.toStdString();
    EXPECT_TRUE(log.contains("SELECT 3")) << log.toStdString();
    EXPECT_FALSE(log.contains("SELECT 2")) << log.toStdString();
    EXPECT_FALSE(QFile::exists(remainder));
    EXPECT_FALSE(preflight::ResumeStore().lookup(*key));
}

}  // namespace
