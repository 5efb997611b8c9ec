// The whole road of a script on the offscreen window, with the real
// interpreter and client against the stand-in (or the real server of a
// real-server run): which server gets the script, what the window says about
// the run, and that a stop, a close or a kill leaves nothing running against
// the server.
#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QUrl>
#include <QWindow>
#include <map>

#include "app/MainWindow.h"
#include "app/RunProgressBar.h"
#include "app/RunWatch.h"
#include "console/CommandLine.h"
#include "console/Console.h"
#include "console/StatusChannel.h"
#include "exec/FailedBatches.h"
#include "exec/RunTexts.h"
#include "preflight/Encode.h"
#include "preflight/ResumeStore.h"
#include "preflight/ScriptKey.h"
#include "support/Paths.h"
#include "support/TestServer.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;
using quill::test::processGone;
using quill::test::StandinServer;
using quill::test::waitUntil;

namespace {

// %1: the database, 演示库 on the stand-in.
const char kScript[] =
    "CREATE DATABASE [%1]\nGO\nUSE [%1]\nGO\n"
    "CREATE TABLE [dbo].[客户] ([id] int, [名字] nvarchar(50))\nGO\n"
    "INSERT INTO [dbo].[客户] VALUES (1, N'张三')\n"
    "INSERT INTO [dbo].[客户] VALUES (2, N'李四')\nGO\n"
    "PRINT N'脚本执行到最后'\nGO\n";
// Batches 2, 3 and 5 fail; the first failure stands on line 4 of the file.
const char kFailingScript[] =
    "PRINT N'第一批'\nGO\n"
    "-- 缺失的表\nSELECT COUNT(*) FROM [缺失表一]\nGO\n"
    "SELECT COUNT(*) FROM [缺失表二]\nGO\n"
    "PRINT N'第四批'\nGO\n"
    "SELECT COUNT(*) FROM [缺失表三]\nGO\n";
// %1: the database. Batches 5 and 7 fail while 明细 is missing; the first
// failure stands on line 9, the second on lines 13 to 15.
const char kReplayScript[] =
    "CREATE DATABASE [%1]\nGO\nUSE [%1]\nGO\n"
    "CREATE TABLE [dbo].[订单] ([id] int)\nGO\n"
    "INSERT INTO [dbo].[订单] VALUES (1)\nGO\n"
    "INSERT INTO [dbo].[明细] VALUES (1)\nGO\n"
    "INSERT INTO [dbo].[订单] VALUES (2)\nGO\n"
    "-- 第二条明细\nINSERT INTO [dbo].[明细]\nVALUES (2)\nGO\n";
const QString kCompletion = "处理完成，根据返回信息查看。";
const QString kFinished = "SQL文件执行完毕，请在Management Studio中查看。";

QByteArray longScript(int batches) {
    QByteArray text;
    for (int i = 1; i <= batches; ++i)
        text += "PRINT N'第 " + QByteArray::number(i) + " 批'\nGO\n";
    return text;
}

StandinServer::Options slow() {
    StandinServer::Options o;
    o.latencyMs = 20;
    return o;
}

// As Management Studio writes a database with its data. %1: the database,
// whose name stands in its rows too.
const char kSsmsScript[] =
    "USE [master]\r\nGO\r\n"
    "/****** Object:  Database [%1]    Script Date: 2026/12/8 14:00:00 ******/\r\n"
    "CREATE DATABASE [%1]\r\n CONTAINMENT = NONE\r\n ON  PRIMARY \r\n"
    "( NAME = N'%1', FILENAME = N'C:\\Program Files\\Microsoft SQL "
    "Server\\MSSQL15.MSSQLSERVER\\MSSQL\\DATA\\%1.mdf' , SIZE = 8192KB , FILEGROWTH = 65536KB "
    ")\r\n LOG ON \r\n( NAME = N'%1_log', FILENAME = N'C:\\Program Files\\Microsoft SQL "
    "Server\\MSSQL15.MSSQLSERVER\\MSSQL\\DATA\\%1_log.ldf' , SIZE = 8192KB , FILEGROWTH = "
    "65536KB )\r\nGO\r\n"
    "USE [%1]\r\nGO\r\nSET ANSI_NULLS ON\r\nGO\r\nSET QUOTED_IDENTIFIER ON\r\nGO\r\n"
    "/****** Object:  Table [dbo].[客户] ******/\r\n"
    "CREATE TABLE [dbo].[客户](\r\n\t[编号] [int] NOT NULL,\r\n\t[名称] [nvarchar](50) NULL\r\n"
    ") ON [PRIMARY]\r\nGO\r\n"
    "INSERT [dbo].[客户] ([编号], [名称]) VALUES (1, N'张三丰（%1）')\r\n"
    "INSERT [dbo].[客户] ([编号], [名称]) VALUES (2, N'李四·北京（%1）')\r\nGO\r\n";

// 1,000 batches: three that make a table, then one row each. Batch k starts
// on line 2k - 1 and, from batch 4 on, inserts row k - 3.
QByteArray resumableScript() {
    QByteArray text =
        "CREATE DATABASE [续传库]\nGO\nUSE [续传库]\nGO\nCREATE TABLE [dbo].[行] ([id] int)\nGO\n";
    for (int row = 1; row <= 997; ++row)
        text += "INSERT INTO [dbo].[行] VALUES (" + QByteArray::number(row) + ")\nGO\n";
    return text;
}

// Quick enough for a thousand batches, slow enough to stop mid-run.
StandinServer::Options away() {
    StandinServer::Options o;
    o.latencyMs = 10;
    return o;
}

class ScriptEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server->isRunning()) << server->startError().toStdString();
        ASSERT_TRUE(dir.isValid());
        // The client must learn the server from the command line alone.
        qunsetenv("SQLCMDSERVER");
        openWindow();
    }
    // Also a new start of the program: what it knows of earlier runs is on disk.
    void openWindow() {
        delete window.data();
        WindowServices services{boxes, opener, state, [] { return false; }, [](int) {}, console};
        services.choices = &choices;
        window = new MainWindow(services);
        window->show();
    }
    void TearDown() override { delete window.data(); }

    void connect() {
        window->编辑框1->setText(server->serverText());
        window->组合框1->setCurrentIndex(1);
        window->onAuthModeSelected();
        window->编辑框2->setText(server->login());
        window->编辑框3->setText(server->password());
        window->按钮1->click();
        ASSERT_TRUE(
            waitUntil([&] { return state.connected() == 1 && window->按钮4->isEnabled(); }, 10000))
            << window->status(0).toStdString();
    }

    QString writeScript(const QString& name, const QByteArray& text) {
        const QString path = dir.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(text);
        return path;
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

    // Drops the script and waits for its console to say it is ready, and
    // for the pre-flight report after the console's banner.
    void dropAndWait(const QString& path) {
        dropOnPathBox(path);
        ASSERT_TRUE(waitUntil([&] {
            return window->status(1).startsWith("SQL脚本已就绪") &&
                   window->text(Control::编辑框4).contains("脚本检查：");
        })) << window->status(1).toStdString();
        EXPECT_TRUE(window->status(1).contains(QFileInfo(path).fileName()));
        EXPECT_TRUE(window->按钮4->isEnabled());
    }

    bool runEnded() {
        return waitUntil(
            [&] { return window->按钮4->text() == "执行SQL脚本" && window->按钮4->isEnabled(); },
            30000);
    }

    // The line the window sends for a script, with SQL Server authentication.
    QString sqlcmdLine(const QString& script) const {
        return QString("sqlcmd -S\"%1\" -U\"sa\" -P\"%2\" -i \"%3\"")
            .arg(server->serverText(), server->password(), script);
    }

    // Runs the line in a console of console_host, a program like Quillstep;
    // returns the client's process id, or 0.
    pid_t startHost(QProcess& host, const QString& line) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("SQLCMDSERVER");
        host.setProcessEnvironment(env);
        host.start(QCoreApplication::applicationDirPath() + "/console_host",
                   {test::binPath("quill-cmd"), line});
        if (!host.waitForStarted())
            return 0;
        QList<QByteArray> lines;
        if (!waitUntil([&] {
                while (host.canReadLine())
                    lines << host.readLine().trimmed();
                return lines.size() >= 2;
            }))
            return 0;
        return pid_t(lines[1].mid(7).toInt());
    }

    StandinServer& standin() { return *server->standin(); }

    // How often the stand-in received each row of resumableScript().
    std::map<int, int> rowsReceived() {
        static const QRegularExpression row("INSERT INTO \\[dbo\\]\\.\\[行\\] VALUES \\((\\d+)\\)");
        std::map<int, int> received;
        for (const QString& event : standin().logEvents("batch"))
            if (const QRegularExpressionMatch m = row.match(event); m.hasMatch())
                ++received[m.captured(1).toInt()];
        return received;
    }

    // The batch the resume question offers to go on from; 0 when none was asked.
    long long offeredBatch() {
        if (!waitUntil([&] { return !choices.asked.empty(); }))
            return 0;
        const test::ScriptedChoices::Asked& asked = choices.asked.back();
        const QRegularExpressionMatch offer =
            QRegularExpression("^从第 (\\d+) 批继续（第 (\\d+) 行）$")
                .match(asked.options.value(0));
        if (!offer.hasMatch() || asked.options.value(1) != "从头执行")
            return 0;
        const long long batch = offer.captured(1).toLongLong();
        EXPECT_EQ(offer.captured(2).toLongLong(), 2 * batch - 1);
        // The batch that was in flight is named: it may have been applied.
        EXPECT_TRUE(asked.text.contains(QString("正在执行第 %1 批").arg(batch)))
            << asked.text.toStdString();
        return batch;
    }
    // The highest batch of longScript() the stand-in has received.
    long long lastScriptBatch() {
        static const QRegularExpression number("第 (\\d+) 批");
        long long last = 0;
        for (const QString& event : standin().logEvents("batch")) {
            const QRegularExpressionMatch m = number.match(event);
            if (m.hasMatch())
                last = std::max(last, m.captured(1).toLongLong());
        }
        return last;
    }

    std::unique_ptr<test::TestServer> server = std::make_unique<test::TestServer>();
    QTemporaryDir dir;
    test::ScriptedMessageBoxes boxes;
    test::ScriptedChoices choices;
    test::RecordingOpener opener;
    ProgramState state;
    Console console{test::binPath("quill-cmd"), QDir::homePath()};
    QPointer<MainWindow> window;
};

TEST_F(ScriptEndToEnd, RunsOnTheConnectedServerOnlyAndTellsHowItWent) {
    StandinServer other;
    ASSERT_TRUE(other.isRunning());
    // Babelfish opens no database whose name is not ASCII.
    const QString database = server->isBabelfish() ? server->databaseName("script_demo")
                                                   : server->databaseName("演示库");
    server->dropAfterwards(database);
    connect();
    const QString script =
        writeScript("降级 脚本/演示 数据库.sql", QString(kScript).arg(database).toUtf8());
    dropAndWait(script);
    EXPECT_TRUE(window->text(Control::编辑框4)
                    .startsWith(" -------------Quillrun-------------- \n\n脚本检查："));

    window->按钮4->click();
    EXPECT_EQ(window->按钮4->text(), "停止执行");
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(window->status(1), kFinished);
    const QString log = window->text(Control::编辑框4);
    EXPECT_TRUE(log.endsWith("脚本执行到最后\n\n" + kCompletion)) << log.toStdString();
    EXPECT_FALSE(log.contains(server->password())) << log.toStdString();
    if (server->standin()) {
        EXPECT_EQ(standin()
                      .logEvents("batch")
                      .filter("INSERT INTO [dbo].[客户] VALUES (2, N'李四')")
                      .size(),
                  1);
    }
    EXPECT_TRUE(other.logLines().isEmpty()) << other.logLines().join("\n").toStdString();

    dropAndWait(writeScript("failing.sql", kFailingScript));
    window->按钮4->click();
    ASSERT_TRUE(runEnded());
    // Real servers word the error their own way.
    EXPECT_TRUE(window->status(1).startsWith(
        server->standin()
            ? "执行完毕，但有 3 个错误。第一个（第 4 行）：Invalid object name '缺失表一'."
            : "执行完毕，但有 3 个错误。第一个（第 4 行）："))
        << window->status(1).toStdString();
    EXPECT_FALSE(window->text(Control::编辑框4).contains(kCompletion));

    window->编辑框3->setText("Wrong-Pass-9");
    window->按钮4->click();
    ASSERT_TRUE(runEnded());
    EXPECT_TRUE(window->status(1).startsWith("登录失败，脚本没有执行："))
        << window->status(1).toStdString();
    EXPECT_TRUE(other.logLines().isEmpty());
}

TEST_F(ScriptEndToEnd, ErrorsAreListedAndTheFailedBatchesRunAgainOnceTheCauseIsFixed) {
    const QString database = server->isBabelfish() ? server->databaseName("failed_replay")
                                                   : server->databaseName("重放库");
    server->dropAfterwards(database);
    connect();
    dropAndWait(writeScript("重放.sql", QString(kReplayScript).arg(database).toUtf8()));
    window->按钮4->click();
    ASSERT_TRUE(runEnded());
    EXPECT_TRUE(window->status(1).startsWith("执行完毕，但有 2 个错误。第一个（第 9 行）"))
        << window->status(1).toStdString();

    // The status opens the list, whose rows lead to the errors in the log.
    ASSERT_TRUE(window->状态条1->isLink(1));
    QLabel* panel = window->状态条1->part(1);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5),
                        panel->mapToGlobal(QPointF(5, 5)), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(panel, &release);
    ErrorListDialog* list = window->runWatch().errorList();
    ASSERT_TRUE(list && list->isVisible());
    QAbstractItemModel* rows = list->table()->model();
    ASSERT_TRUE(waitUntil([&] { return rows->rowCount() == 2; }));
    EXPECT_EQ(rows->index(0, ErrorListModel::Number).data().toInt(), 208);
    EXPECT_EQ(rows->index(0, ErrorListModel::Level).data().toInt(), 16);
    EXPECT_EQ(rows->index(0, ErrorListModel::Line).data().toInt(), 9);
    EXPECT_EQ(rows->index(1, ErrorListModel::Line).data().toInt(), 14);
    if (server->standin()) {
        EXPECT_EQ(rows->index(1, ErrorListModel::Message).data().toString(),
                  "Invalid object name 'dbo.明细'.");
    }
    logbox::LogView* log = window->编辑框4;
    emit list->table()->activated(rows->index(1, ErrorListModel::Message));
    const qint64 second = log->selectionStart().line;
    EXPECT_TRUE(log->document().line(second).startsWith("Msg 208, Level 16"));
    // F8 goes through the same lines.
    log->goToLine(0);
    log->nextMark();
    const qint64 first = log->selectionStart().line;
    EXPECT_TRUE(log->document().line(first).startsWith("Msg 208, Level 16"));
    log->nextMark();
    EXPECT_EQ(log->selectionStart().line, second);

    // The failed batches, beside the run's log, run again once the table is there.
    const QString failed = exec::FailedBatches::pathFor(log->document().runLogPath());
    ASSERT_TRUE(waitUntil([&] { return list->failedBatchesText().contains("已写入"); }))
        << list->failedBatchesText().toStdString();
    EXPECT_TRUE(list->failedBatchesText().contains(failed));
    EXPECT_TRUE(window->text(Control::编辑框4).endsWith(list->failedBatchesText()));
    QFile file(failed);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString replay = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(replay.contains("USE [" + database +
                                "]\nGO\n"
                                "INSERT INTO [dbo].[明细] VALUES (1)\nGO\n"
                                "-- 第二条明细\nINSERT INTO [dbo].[明细]\nVALUES (2)\nGO\n"))
        << replay.toStdString();
    EXPECT_FALSE(replay.contains("订单"));

    ASSERT_EQ(server->execute({"CREATE TABLE [dbo].[明细] ([id] int)"}, database), "");
    dropAndWait(failed);
    window->按钮4->click();
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(window->status(1), kFinished);
    EXPECT_FALSE(window->状态条1->isLink(1));
    EXPECT_EQ(server->queryText("SELECT COUNT(*) FROM [" + database + "].[dbo].[明细]"), "2");
    EXPECT_EQ(server->queryText("SELECT COUNT(*) FROM [" + database + "].[dbo].[订单]"), "2");
}

TEST_F(ScriptEndToEnd, ProgressComesFromTheClientsOwnRecords) {
    QUILL_NEEDS_STANDIN("its latency");
    server = std::make_unique<test::TestServer>(slow());
    ASSERT_TRUE(server->isRunning());
    connect();
    dropAndWait(writeScript("long.sql", longScript(200)));
    window->按钮4->click();
    // Batches done of all, and once the pace is known, the time left.
    const QRegularExpression figures(
        "^SQL文件正在执行中，请等待\\.{5} (\\d+)%，剩余 \\d+ 秒，"
        "已执行 (\\d+)/200 批，已用 \\d+ 秒，");
    QRegularExpressionMatch shown;
    ASSERT_TRUE(waitUntil(
        [&] {
            shown = figures.match(window->status(1));
            return shown.hasMatch() && shown.captured(2).toInt() >= 20;
        },
        30000))
        << window->status(1).toStdString();
    EXPECT_LT(shown.captured(2).toInt(), 200);
    RunProgressBar* bar = window->runWatch().progressBar();
    EXPECT_TRUE(bar->isVisible());
    ASSERT_TRUE(bar->share());
    EXPECT_GT(*bar->share(), 0.05);
    EXPECT_LT(*bar->share(), 1.0);
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(window->status(1), kFinished);
    EXPECT_FALSE(bar->isVisible());
}

TEST_F(ScriptEndToEnd, StopEndsTheRunAtTheBatchUnderWayAndADropWaits) {
    QUILL_NEEDS_STANDIN("its latency and event log");
    server = std::make_unique<test::TestServer>(slow());
    ASSERT_TRUE(server->isRunning());
    connect();
    const QString script = writeScript("long.sql", longScript(1000));
    dropAndWait(script);
    window->按钮4->click();
    ASSERT_TRUE(waitUntil([&] { return standin().logEvents("batch").size() >= 100; }, 30000));

    dropOnPathBox(writeScript("next.sql", "PRINT 1\n"));
    EXPECT_EQ(window->status(1), QString::fromUtf8(exec::kDropDuringRun));
    EXPECT_EQ(window->text(Control::编辑框5), script);

    window->按钮4->click();  // the box is answered OK
    const qsizetype atStop = standin().logEvents("batch").size();
    const long long batchAtStop = lastScriptBatch();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, QString::fromUtf8(exec::kStopQuestion));
    ASSERT_TRUE(runEnded());
    const QString status = window->status(1);
    EXPECT_TRUE(status.startsWith("已停止执行")) << status.toStdString();
    // The client's connection is closed, with at most the batch in flight after the stop.
    ASSERT_TRUE(waitUntil([&] { return !standin().logEvents("end").isEmpty(); }));
    EXPECT_LE(standin().logEvents("batch").size(), atStop + 1);
    EXPECT_LT(lastScriptBatch(), 1000);
    // The status names the batch the server was at, and the line it starts on.
    const QRegularExpressionMatch named =
        QRegularExpression("第 (\\d+) 批（脚本第 (\\d+) 行起）").match(status);
    ASSERT_TRUE(named.hasMatch()) << status.toStdString();
    const long long batch = named.captured(1).toLongLong();
    EXPECT_GE(batch, batchAtStop);
    EXPECT_LE(batch, lastScriptBatch() + 1);
    EXPECT_EQ(named.captured(2).toLongLong(), 2 * batch - 1);
}

TEST_F(ScriptEndToEnd, ClosingTheWindowMidRunLeavesNothingSendingToTheServer) {
    QUILL_NEEDS_STANDIN("its latency and event log");
    server = std::make_unique<test::TestServer>(slow());
    ASSERT_TRUE(server->isRunning());
    connect();
    dropAndWait(writeScript("long.sql", longScript(1000)));
    window->按钮4->click();
    ASSERT_TRUE(waitUntil([&] { return standin().logEvents("batch").size() >= 20; }, 30000));

    window->close();  // the box is answered OK
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); }));
    const qsizetype atClose = standin().logEvents("batch").size();
    ASSERT_TRUE(waitUntil([&] { return !standin().logEvents("end").isEmpty(); }));
    EXPECT_LE(standin().logEvents("batch").size(), atClose + 1);
}

// A program like Quillstep (console_host runs a console and sends it one
// line) is killed outright mid-run: its client must not outlive it.
TEST_F(ScriptEndToEnd, KillingTheProgramMidRunEndsTheClientToo) {
    QUILL_NEEDS_STANDIN("its latency and event log");
    server = std::make_unique<test::TestServer>(slow());
    ASSERT_TRUE(server->isRunning());
    const QString script = writeScript("long.sql", longScript(1000));
    QProcess host;
    const pid_t client = startHost(host, sqlcmdLine(script));
    ASSERT_GT(client, 0);
    ASSERT_TRUE(waitUntil([&] { return standin().logEvents("batch").size() >= 20; }, 30000));

    ::kill(pid_t(host.processId()), SIGKILL);
    host.waitForFinished();
    EXPECT_TRUE(waitUntil([&] { return processGone(client); }, 2000));
    const qsizetype atKill = standin().logEvents("batch").size();
    ASSERT_TRUE(waitUntil([&] { return !standin().logEvents("end").isEmpty(); }));
    EXPECT_LE(standin().logEvents("batch").size(), atKill + 1);
}

// The pre-flight reads a script saved in Chinese Windows' "ANSI" code page
// and one in UTF-16, warns of Management Studio's data-file paths, and the
// run passes the code page on: the server receives the Chinese as written.
TEST_F(ScriptEndToEnd, GbkAndUtf16ScriptsRunFromADropWithTheirChineseIntact) {
    QUILL_NEEDS_STANDIN("its event log shows what arrived");
    connect();
    struct Case {
        const char* file;
        const char* encoding;
        QString database;
        QString reportSays;
    } cases[] = {
        {"国标.sql", "GBK", "国标库", "代码页 936（简体中文 GBK）"},
        {"统一码.sql", "UTF-16LE", "统一码库", "UTF-16LE（带 BOM）"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::string bytes =
            test::encodeAs(QString(kSsmsScript).arg(c.database).toStdString(), c.encoding);
        if (std::string_view(c.encoding) == "UTF-16LE")
            bytes.insert(0, "\xFF\xFE");
        dropAndWait(writeScript(c.file, QByteArray::fromStdString(bytes)));
        const QString report = window->text(Control::编辑框4);
        EXPECT_TRUE(report.contains(c.reportSays)) << report.toStdString();
        EXPECT_TRUE(report.contains("MSSQL\\DATA\\" + c.database + "_log.ldf"))
            << report.toStdString();

        window->按钮4->click();
        ASSERT_TRUE(runEnded());
        EXPECT_EQ(window->status(1), kFinished);
        const QStringList batches = standin().logEvents("batch");
        EXPECT_EQ(batches.filter("VALUES (2, N'李四·北京（" + c.database + "）')").size(), 1)
            << batches.join("\n").toStdString();
        EXPECT_EQ(batches.filter("CREATE TABLE [dbo].[客户](\\r\\n\\t[编号] [int] NOT NULL").size(),
                  &c == cases ? 1 : 2);
    }
}

// Stopped at about batch 400 and dropped again, the script goes on from the
// batch the stop left unfinished: every batch reaches the server once. The
// one exception is a batch the stop cancelled on the server: it was sent,
// did not run, and is sent again.
TEST_F(ScriptEndToEnd, AStoppedRunGoesOnFromWhereItBrokeAndEveryBatchRunsOnce) {
    QUILL_NEEDS_STANDIN("its latency and event log");
    server = std::make_unique<test::TestServer>(away());
    ASSERT_TRUE(server->isRunning());
    connect();
    const QString script = writeScript("续传.sql", resumableScript());
    dropAndWait(script);
    window->按钮4->click();
    ASSERT_TRUE(waitUntil([&] { return standin().logEvents("batch").size() >= 400; }, 60000));
    window->按钮4->click();  // the box is answered OK
    ASSERT_TRUE(runEnded());
    EXPECT_TRUE(window->text(Control::编辑框4).contains("可以从第 "))
        << window->status(1).toStdString();
    const int lastRowBefore = rowsReceived().rbegin()->first;
    const bool cancelled = !standin().logEvents("attention").isEmpty();
    EXPECT_TRUE(choices.asked.empty());

    // Run again at once: not from the top unasked. Left unanswered, nothing runs.
    const qsizetype sent = standin().logEvents("batch").size();
    choices.setNextAnswer(-1);
    window->按钮4->click();
    EXPECT_EQ(choices.asked.size(), 1u);
    EXPECT_EQ(window->status(1), "没有选择从哪里开始，脚本没有执行。");
    EXPECT_EQ(window->按钮4->text(), "执行SQL脚本");
    EXPECT_EQ(standin().logEvents("batch").size(), sent);

    dropAndWait(script);  // the question's first option: go on
    const long long next = offeredBatch();
    EXPECT_EQ(next, 3 + lastRowBefore + (cancelled ? 0 : 1));
    window->按钮4->click();
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(window->status(1), kFinished);
    EXPECT_TRUE(window->text(Control::编辑框4).contains(QString("从第 %1 批继续执行").arg(next)));

    const std::map<int, int> received = rowsReceived();
    EXPECT_EQ(received.size(), 997u);
    for (const auto& [row, times] : received)
        EXPECT_EQ(times, cancelled && row == next - 3 ? 2 : 1) << "row " << row;
    EXPECT_EQ(server->queryText("SELECT COUNT(*) FROM [续传库].[dbo].[行]"), "997");

    // It ran to its end: nothing is offered any more.
    dropAndWait(script);
    quill::test::pumpEvents(50);
    EXPECT_EQ(choices.asked.size(), 2u);
}

// Quillstep killed outright mid-run (console_host runs the line the window
// would, with the record and journal the window keeps), then started again:
// the drop offers to go on. The batch in flight at the kill was sent and
// may have run, but was never confirmed: it is the one that may arrive twice.
TEST_F(ScriptEndToEnd, AfterAKillTheNextStartOffersToGoOnFromTheBatchInFlight) {
    QUILL_NEEDS_STANDIN("its latency and event log");
    server = std::make_unique<test::TestServer>(away());
    ASSERT_TRUE(server->isRunning());
    const QString script = writeScript("续传.sql", resumableScript());
    const QString journal = preflight::ResumeStore().beginRun(*preflight::scriptKeyOf(script), {});
    ASSERT_FALSE(journal.isEmpty());
    QProcess host;
    const pid_t client = startHost(host, QString::fromStdString(console::assignmentWord(
                                             console::kJournalVariable, journal.toStdString())) +
                                             " " + sqlcmdLine(script));
    ASSERT_GT(client, 0);
    ASSERT_TRUE(waitUntil([&] { return standin().logEvents("batch").size() >= 400; }, 60000));
    ::kill(pid_t(host.processId()), SIGKILL);
    host.waitForFinished();
    ASSERT_TRUE(waitUntil([&] { return processGone(client); }, 2000));
    const int lastRowBefore = rowsReceived().rbegin()->first;

    openWindow();
    connect();
    dropAndWait(script);
    const long long next = offeredBatch();
    const int inFlight = int(next - 3);
    EXPECT_TRUE(inFlight == lastRowBefore || inFlight == lastRowBefore + 1) << next;
    window->按钮4->click();
    ASSERT_TRUE(runEnded());
    EXPECT_EQ(window->status(1), kFinished);

    const std::map<int, int> received = rowsReceived();
    EXPECT_EQ(received.size(), 997u);
    for (const auto& [row, times] : received) {
        if (row == inFlight)
            EXPECT_TRUE(times == 1 || times == 2) << "row " << row << ": " << times;
        else
            EXPECT_EQ(times, 1) << "row " << row;
    }
}

}  // namespace
