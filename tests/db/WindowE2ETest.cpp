// The main window's connect, list, disconnect and delete controls against
// quill-standin, or the real server of a real-server run.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QPointer>
#include <QTemporaryDir>
#include <memory>

#include "app/MainWindow.h"
#include "console/Console.h"
#include "support/Paths.h"
#include "support/StandinServer.h"
#include "support/TestServer.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;
using test::StandinServer;

namespace {

class WindowE2E : public testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<test::TestServer>();
        ASSERT_TRUE(server->isRunning()) << server->startError().toStdString();
        shop = server->createDatabase("Shop");
        store = server->createDatabase("仓库数据");
        qputenv("TMPDIR", tmp.path().toUtf8());
        window = new MainWindow({boxes, opener, state, [] { return false; }, [](int) {}, console});
        window->组合框1->setCurrentIndex(1);
        window->onAuthModeSelected();
        window->编辑框1->setText(server->serverText());
        window->编辑框2->setText(server->login());
        window->编辑框3->setText(server->password());
    }
    void TearDown() override { delete window.data(); }

    QStringList listedNames() const {
        QStringList names;
        for (int row = 0; row < window->listRowCount(); ++row)
            names << window->listCell(row, 1);
        return names;
    }

    QTemporaryDir tmp;
    std::unique_ptr<test::TestServer> server;
    QString shop, store;
    test::ScriptedMessageBoxes boxes;
    test::RecordingOpener opener;
    ProgramState state;
    Console console{test::binPath("quill-cmd"), QDir::homePath()};
    QPointer<MainWindow> window;
};

}  // namespace

TEST_F(WindowE2E, ButtonsConnectListDisconnectAndReload) {
    window->按钮1->click();
    ASSERT_TRUE(test::waitUntil([&] { return window->status(0) == "  加载数据库成功"; }))
        << window->status(0).toStdString();
    EXPECT_FALSE(window->status(1).isEmpty());
    EXPECT_TRUE(listedNames().contains(store));
    EXPECT_EQ(window->listCell(0, 0), "1");
    EXPECT_FALSE(window->按钮1->isEnabled());
    EXPECT_TRUE(window->按钮3->isEnabled());
    EXPECT_TRUE(window->按钮4->isEnabled());

    const int listed = window->listRowCount();
    window->按钮3->click();
    EXPECT_EQ(window->listRowCount(), 0);  // emptied at once, filled when the server answers
    ASSERT_TRUE(test::waitUntil([&] { return window->listRowCount() == listed; }));

    window->按钮2->click();
    ASSERT_TRUE(test::waitUntil([&] { return window->status(0) == "  数据库连接已经断开"; }));
    EXPECT_EQ(window->listRowCount(), 0);
    EXPECT_TRUE(window->按钮1->isEnabled());
    EXPECT_FALSE(window->按钮3->isEnabled());
    EXPECT_FALSE(window->按钮4->isEnabled());
}

TEST_F(WindowE2E, TheMenuItemDeletesTheSelectedDatabase) {
    window->按钮1->click();
    ASSERT_TRUE(test::waitUntil([&] { return listedNames().contains(shop); }));
    state.setSelectedDatabaseName(shop);
    boxes.setNextAnswer(IdYes);
    window->deleteDatabaseAction->trigger();
    ASSERT_TRUE(test::waitUntil(
        [&] { return window->status(1) == "删除命令已执行" && !listedNames().contains(shop); }));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "您确定要删除  [" + shop + "] 数据库吗！！！");
}

TEST_F(WindowE2E, ClosingTheWindowEndsTheSession) {
    QUILL_NEEDS_STANDIN("its log of sessions");
    window->按钮1->click();
    ASSERT_TRUE(test::waitUntil([&] { return window->按钮3->isEnabled(); }));
    StandinServer& standin = *server->standin();
    const qsizetype ended = standin.logEvents("end").size();
    delete window.data();
    EXPECT_TRUE(test::waitUntil([&] { return standin.logEvents("end").size() > ended; }, 2000));
}

TEST_F(WindowE2E, ClosingWhileAConnectIsUnderWayLeavesItToFinishAlone) {
    QUILL_NEEDS_STANDIN("a server a second away");
    StandinServer::Options o;
    o.latencyMs = 1000;  // the connect and its list take five seconds
    StandinServer slow(o);
    ASSERT_TRUE(slow.isRunning());
    window->编辑框1->setText(slow.serverText());
    window->按钮1->click();
    ASSERT_TRUE(slow.waitForLog("connect"));
    QElapsedTimer closing;
    closing.start();
    delete window.data();
    EXPECT_LT(closing.elapsed(), 4000);
    // The connect goes on without the window, touches nothing of it, and
    // closes its connection when done.
    EXPECT_TRUE(slow.waitForLog("batch SELECT COUNT(name)", 10000));
    EXPECT_TRUE(slow.waitForLog(" end", 10000));
}
