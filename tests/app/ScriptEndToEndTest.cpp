// The whole road of a script on the offscreen window: connect to the
// stand-in (or the real server of a real-server run), drop a script, run
// it with the real client, twice.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QPointer>
#include <QTemporaryDir>
#include <QUrl>
#include <QWindow>

#include "app/MainWindow.h"
#include "console/Console.h"
#include "support/Paths.h"
#include "support/TestServer.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;
using quill::test::waitUntil;

namespace {

// %1: the database, 演示库 on the stand-in.
const char kScript[] =
    "CREATE DATABASE [%1]\nGO\nUSE [%1]\nGO\n"
    "CREATE TABLE [dbo].[客户] ([id] int, [名字] nvarchar(50))\nGO\n"
    "INSERT INTO [dbo].[客户] VALUES (1, N'张三')\n"
    "INSERT INTO [dbo].[客户] VALUES (2, N'李四')\nGO\n"
    "PRINT N'脚本执行到最后'\nGO\n";
const QString kCompletion = "处理完成，根据返回信息查看。";
const QString kFinished = "SQL文件执行完毕，请在Management Studio中查看。";

class ScriptEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.isRunning()) << server.startError().toStdString();
        ASSERT_TRUE(dir.isValid());
        // The command line names no server; the client takes it from here.
        qputenv("SQLCMDSERVER", server.serverText().toUtf8());
        window = new MainWindow({boxes, opener, state, [] { return false; }, [](int) {}, console});
        window->show();
    }
    void TearDown() override {
        delete window.data();
        qunsetenv("SQLCMDSERVER");
    }

    void connect() {
        window->编辑框1->setText(server.serverText());
        window->组合框1->setCurrentIndex(1);
        window->onAuthModeSelected();
        window->编辑框2->setText(server.login());
        window->编辑框3->setText(server.password());
        window->按钮1->click();
        ASSERT_TRUE(
            waitUntil([&] { return state.connected() == 1 && window->按钮4->isEnabled(); }, 10000))
            << window->status(0).toStdString();
    }

    void dropOnPathBox(const QString& path) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        const QPoint at = window->编辑框5->mapTo(window, window->编辑框5->rect().center());
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window->windowHandle(), &enter);
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window->windowHandle(), &drop);
    }

    bool runFinished() {
        return waitUntil(
            [&] { return window->按钮4->isEnabled() && window->status(1) == kFinished; }, 20000);
    }

    test::TestServer server;
    QTemporaryDir dir;
    test::ScriptedMessageBoxes boxes;
    test::RecordingOpener opener;
    ProgramState state;
    Console console{test::binPath("quill-cmd"), QDir::homePath()};
    QPointer<MainWindow> window;
};

TEST_F(ScriptEndToEnd, DroppedScriptRunsAgainstTheServerFromDropToCompletion) {
    const QString script = dir.filePath("降级 脚本/演示 数据库.sql");
    QDir().mkpath(QFileInfo(script).path());
    // Babelfish opens no database whose name is not ASCII.
    const QString database =
        server.isBabelfish() ? server.databaseName("script_demo") : server.databaseName("演示库");
    server.dropAfterwards(database);
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QString(kScript).arg(database).toUtf8());
    file.close();

    connect();
    dropOnPathBox(script);
    EXPECT_EQ(window->text(Control::编辑框5), script);
    ASSERT_TRUE(runFinished());

    for (int run = 1; run <= 2; ++run) {
        window->按钮4->click();
        EXPECT_FALSE(window->按钮4->isEnabled());
        ASSERT_TRUE(runFinished()) << window->text(Control::编辑框4).toStdString();
        const QString log = window->text(Control::编辑框4);
        EXPECT_EQ(log.count(kCompletion), run + 1) << log.toStdString();
        EXPECT_EQ(log.count("(1 rows affected)"), 2 * run) << log.toStdString();
        EXPECT_EQ(log.count("脚本执行到最后"), run) << log.toStdString();
        EXPECT_TRUE(log.endsWith("脚本执行到最后\n\n" + kCompletion)) << log.toStdString();
    }
    const QString log = window->text(Control::编辑框4);
    EXPECT_TRUE(log.startsWith(" -------------Quillrun-------------- \n\n\n" + kCompletion + "\n"))
        << log.toStdString();
    // The second run meets what the first created.
    EXPECT_TRUE(log.contains("already exists")) << log.toStdString();
    EXPECT_FALSE(log.contains("sqlcmd")) << log.toStdString();
    EXPECT_FALSE(log.contains(server.password())) << log.toStdString();
    if (server.standin()) {
        EXPECT_EQ(server.standin()
                      ->logEvents("batch")
                      .filter("INSERT INTO [dbo].[客户] VALUES (2, N'李四')")
                      .size(),
                  2);
    }
}

}  // namespace
