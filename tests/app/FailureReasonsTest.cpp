// A failed connect and a failed deletion tell the user why, on the real
// window against the stand-in.
#include <gtest/gtest.h>

#include <QDir>
#include <QPointer>
#include <QTest>

#include "app/MainWindow.h"
#include "console/Console.h"
#include "support/Paths.h"
#include "support/StandinServer.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;
using quill::test::waitUntil;

namespace {

class FailureReasons : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.isRunning()) << server.startError().toStdString();
        window = new MainWindow({boxes, opener, state, [] { return false; }, [](int) {}, console});
        window->show();
        window->编辑框1->setText(server.serverText());
        window->组合框1->setCurrentIndex(1);
        window->编辑框2->setText("sa");
    }
    void TearDown() override { delete window.data(); }

    test::StandinServer server;
    test::ScriptedMessageBoxes boxes;
    test::RecordingOpener opener;
    ProgramState state;
    Console console{test::binPath("quill-cmd"), QDir::homePath()};
    QPointer<MainWindow> window;
};

}  // namespace

TEST_F(FailureReasons, AFailedConnectTellsTheServersReasonInABoxAndKeepsIt) {
    window->编辑框3->setText("wrong");
    window->按钮1->click();
    const QString failed = server.serverText() + " 数据库连接失败";
    ASSERT_TRUE(waitUntil([&] { return boxes.shown.size() == 1; }));
    EXPECT_EQ(window->status(0), failed);
    // The driver's lines without their vendor tags, the server's own last.
    const QString told = boxes.shown[0].text;
    EXPECT_TRUE(told.startsWith(failed + "\r\n")) << told.toStdString();
    EXPECT_TRUE(told.endsWith("\nLogin failed for user 'sa'.")) << told.toStdString();
    EXPECT_FALSE(told.contains("[FreeTDS]")) << told.toStdString();
    EXPECT_EQ(boxes.shown[0].caption, "错误：");
    EXPECT_EQ(boxes.shown[0].flags & mb::IconMask, mb::IconError);

    // The reason stays with the status: a click on it tells it again.
    QTest::mouseClick(window->状态条1->part(0), Qt::LeftButton);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].text, boxes.shown[0].text);

    // A connect that works has no reason to give.
    window->编辑框3->setText(server.password());
    window->按钮1->click();
    ASSERT_TRUE(waitUntil([&] { return window->status(0) == "  加载数据库成功"; }));
    EXPECT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(window->状态条1->part(0)->toolTip(), "");
}

TEST_F(FailureReasons, ARefusedDeletionTellsTheServersReasonInFull) {
    window->编辑框3->setText(server.password());
    window->按钮1->click();
    ASSERT_TRUE(waitUntil([&] { return state.connected() == 1; }));
    state.setSelectedDatabaseName("master");
    boxes.setNextAnswer(IdYes);
    window->deleteDatabaseAction->trigger();
    ASSERT_TRUE(waitUntil([&] { return boxes.shown.size() == 2; }));
    const QString refused =
        "删除失败：Cannot drop the database 'master' because it is a system database.";
    EXPECT_EQ(window->status(1), refused);
    EXPECT_EQ(boxes.shown[1].text, refused);
    EXPECT_EQ(boxes.shown[1].caption, "错误：");
}
