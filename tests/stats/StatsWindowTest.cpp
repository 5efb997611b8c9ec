// The database list's menu on the window reaches the statistics flows.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTest>

#include "app/MainWindow.h"
#include "console/Console.h"
#include "support/Paths.h"
#include "support/TestServer.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;

namespace {

class StatsWindowTest : public testing::Test {
protected:
    void SetUp() override {
        window = new MainWindow({boxes, opener, state, [] { return false; }, [](int) {}, console});
        window->show();
    }
    void TearDown() override { delete window.data(); }

    // Right-clicks the list row that names `database` and picks `item` from the menu.
    void pick(const QString& database, QAction* item) {
        const QList<QTableWidgetItem*> found =
            window->超级列表框1->findItems(database, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << database.toStdString();
        const QPoint at = window->超级列表框1->visualItemRect(found[0]).center();
        QTest::mouseClick(window->超级列表框1->viewport(), Qt::RightButton, {}, at);
        ASSERT_TRUE(test::waitUntil([this] { return window->功能菜单->isVisible(); }, 3000));
        QTest::mouseClick(window->功能菜单, Qt::LeftButton, {},
                          window->功能菜单->actionGeometry(item).center());
        ASSERT_TRUE(test::waitUntil(
            [this] { return !boxes.shown.empty() || !opener.opened.isEmpty(); }, 20000));
    }

    test::ScriptedMessageBoxes boxes;
    test::RecordingOpener opener;
    ProgramState state;
    Console console{test::binPath("quill-cmd"), QDir::homePath()};
    QPointer<MainWindow> window;
};

}  // namespace

TEST_F(StatsWindowTest, RightClickedDatabaseGetsItsTotalsAndItsReport) {
    test::TestServer server;
    ASSERT_TRUE(server.isRunning()) << server.startError().toStdString();
    const QString shop =
        server.createDatabase("Shop", {{"orders", 120, "dbo", true}, {"客户", 300}});
    window->组合框1->setCurrentIndex(1);
    window->onAuthModeSelected();
    window->编辑框1->setText(server.serverText());
    window->编辑框2->setText(server.login());
    window->编辑框3->setText(server.password());
    window->按钮1->click();
    ASSERT_TRUE(test::waitUntil([this] { return window->listRowCount() > 0; }, 20000))
        << window->status(0).toStdString();

    pick(shop, window->tableTotalsAction);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, shop + " 共有 2 张表\r\n" + shop + " 共有 420 条记录数");
    EXPECT_EQ(boxes.shown[0].caption, "运算结果:");

    boxes.shown.clear();
    pick(shop, window->tableReportAction);
    EXPECT_TRUE(boxes.shown.empty());
    const QString report = QDir(QCoreApplication::applicationDirPath()).filePath("test.txt");
    ASSERT_EQ(opener.opened, QStringList{report});
    QFile file(report);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(),
              "[Table Name]                    [Number]\r\n"
              "客户                            300\r\n"
              "orders                          120\r\n");
    file.remove();
    // The main connection was left alone.
    EXPECT_TRUE(window->外部数据库1.IsOpen());
    EXPECT_FALSE(window->外部数据库2.IsOpen());
}
