// The window's menu items reach the statistics flows on 外部数据库2.
#include <gtest/gtest.h>

#include <QDir>
#include <QPointer>

#include "app/MainWindow.h"
#include "console/Console.h"
#include "support/Paths.h"
#include "support/TestServices.h"

using namespace quill;

namespace {

class StatsWindowTest : public testing::Test {
protected:
    void SetUp() override {
        window = new MainWindow({boxes, opener, state, [] { return false; }, [](int) {}, console});
        state.setSelectedDatabaseName("Shop");
    }
    void TearDown() override { delete window.data(); }

    test::ScriptedMessageBoxes boxes;
    test::RecordingOpener opener;
    ProgramState state;
    Console console{test::binPath("quill-cmd"), QDir::homePath()};
    QPointer<MainWindow> window;
};

}  // namespace

TEST_F(StatsWindowTest, MenuItemsRunTheFlowsWithTheWindowsInputs) {
    // Windows authentication (the initial mode) goes to ".", whatever 编辑框1 says.
    window->编辑框1->setText("127.0.0.1,1");
    for (QAction* item : {window->tableTotalsAction, window->tableReportAction}) {
        boxes.shown.clear();
        item->trigger();
        ASSERT_EQ(boxes.shown.size(), 1u) << item->text().toStdString();
        EXPECT_TRUE(boxes.shown[0].text.startsWith("无法连接服务器 . 上的数据库 Shop")) << boxes.shown[0].text.toStdString();
        EXPECT_FALSE(window->外部数据库2.IsOpen());
    }
    EXPECT_TRUE(opener.opened.isEmpty());
}
