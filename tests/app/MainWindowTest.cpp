#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <memory>

#include "app/Artwork.h"
#include "app/MainWindow.h"
#include "console/Console.h"
#include "support/Paths.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;
using test::ScriptedMessageBoxes;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { window = makeWindow(false); }
    void TearDown() override { delete window.data(); }

    QPointer<MainWindow> makeWindow(bool anotherRunning) {
        return new MainWindow({boxes, opener, state, [anotherRunning] { return anotherRunning; },
                               [this](int code) { exitCodes.push_back(code); }, console});
    }

    void fillList(const QStringList& names) {
        for (const QString& name : names) {
            const int row = window->appendListRow(QString::number(window->listRowCount() + 1));
            window->setListCell(row, 1, name);
        }
    }

    QPoint rowCentre(int row) const {
        return window->超级列表框1->visualRect(window->超级列表框1->model()->index(row, 1))
            .center();
    }

    ScriptedMessageBoxes boxes;
    test::RecordingOpener opener;
    ProgramState state;
    Console console{test::binPath("quill-cmd"), QDir::homePath()};
    std::vector<int> exitCodes;
    QPointer<MainWindow> window;
};

QString captionOf(QWidget* w) {
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    if (auto* b = qobject_cast<QPushButton*>(w))
        return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title();
    if (auto* c = qobject_cast<QComboBox*>(w))
        return c->currentText();
    if (auto* v = qobject_cast<logbox::LogView*>(w))
        return v->document().text(1 << 20);
    return {};
}

}  // namespace

TEST_F(MainWindowTest, EveryControlHasItsNameTypePlaceAndInitialState) {
    struct Row {
        Control control;
        const char* name;
        const char* type;
        const char* parent;  // nullptr: the window
        QRect geometry;
        const char* caption;
        bool enabled;
    };
    const Row rows[] = {
        {Control::分组框1,
         "分组框1",
         "QGroupBox",
         nullptr,
         {8, 8, 224, 160},
         "连接SQL Server",
         true},
        {Control::透明标签1, "透明标签1", "QLabel", "分组框1", {10, 17, 52, 22}, "服务器：", true},
        {Control::编辑框1, "编辑框1", "QLineEdit", "分组框1", {65, 20, 143, 20}, "127.0.0.1", true},
        {Control::透明标签4, "透明标签4", "QLabel", "分组框1", {10, 43, 52, 22}, "身份证：", true},
        {Control::组合框1,
         "组合框1",
         "QComboBox",
         "分组框1",
         {65, 46, 143, 20},
         "Windows 身份验证",
         true},
        {Control::透明标签2, "透明标签2", "QLabel", "分组框1", {10, 69, 52, 22}, "用户名：", true},
        {Control::编辑框2,
         "编辑框2",
         "QLineEdit",
         "分组框1",
         {65, 72, 143, 20},
         "Administrator",
         false},
        {Control::透明标签3, "透明标签3", "QLabel", "分组框1", {10, 97, 52, 22}, "密  码：", true},
        {Control::编辑框3, "编辑框3", "QLineEdit", "分组框1", {65, 100, 143, 20}, "", false},
        {Control::按钮1, "按钮1", "QPushButton", "分组框1", {138, 127, 70, 24}, "连接", true},
        {Control::按钮2, "按钮2", "QPushButton", nullptr, {71, 135, 70, 24}, "断开", true},
        {Control::超级列表框1,
         "超级列表框1",
         "QTableWidget",
         nullptr,
         {8, 176, 224, 132},
         "",
         true},
        {Control::按钮5, "按钮5", "QPushButton", nullptr, {8, 313, 80, 24}, "帮助", true},
        {Control::按钮3, "按钮3", "QPushButton", nullptr, {112, 313, 120, 24}, "加载数据库", false},
        {Control::图片框1, "图片框1", "QLabel", nullptr, {240, 14, 290, 60}, "", true},
        {Control::编辑框5,
         "编辑框5",
         "QLineEdit",
         nullptr,
         {240, 78, 290, 25},
         "请将SQL脚本用鼠标拖入此处",
         true},
        {Control::编辑框4,
         "编辑框4",
         "quill::logbox::LogView",
         nullptr,
         {240, 104, 290, 204},
         "",
         true},
        {Control::按钮4,
         "按钮4",
         "QPushButton",
         nullptr,
         {410, 313, 120, 24},
         "执行SQL脚本",
         false},
        {Control::状态条1, "状态条1", "QStatusBar", nullptr, {0, 341, 539, 20}, "", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto* w = window->findChild<QWidget*>(QString::fromUtf8(row.name));
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(window->control(row.control), w);
        EXPECT_TRUE(w->inherits(row.type));
        const QString parent = row.parent ? QString::fromUtf8(row.parent) : QString();
        EXPECT_EQ(w->parentWidget() == window ? QString() : w->parentWidget()->objectName(),
                  parent);
        EXPECT_EQ(w->geometry(), row.geometry);
        EXPECT_EQ(captionOf(w), QString::fromUtf8(row.caption));
        EXPECT_EQ(w->isEnabledTo(window), row.enabled);
        EXPECT_EQ(window->isEnabled(row.control), row.enabled);
    }
}

TEST_F(MainWindowTest, WindowIsFixedCentredAndUnmaximisable) {
    EXPECT_EQ(window->windowTitle(), "Quillstep 2.0");
    EXPECT_EQ(window->minimumSize(), QSize(539, 361));
    EXPECT_EQ(window->maximumSize(), QSize(539, 361));
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowStaysOnTopHint);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(window->pos(), QPoint((screen.width() - 545) / 2, (screen.height() - 390) / 2));
    EXPECT_EQ(window->findChild<QMenuBar*>(), nullptr);
}

TEST_F(MainWindowTest, BoxesBehaveAsTheirRolesNeed) {
    window->show();
    window->编辑框3->setEnabled(true);
    window->编辑框3->setFocus();
    QTest::keyClicks(window->编辑框3, "pa55");
    EXPECT_EQ(window->编辑框3->text(), "pa55");
    EXPECT_EQ(window->编辑框3->displayText(), "****");

    // Neither the log nor the path box takes typing.
    for (QWidget* box :
         {static_cast<QWidget*>(window->编辑框4), static_cast<QWidget*>(window->编辑框5)}) {
        const QString before = captionOf(box);
        box->setFocus();
        QTest::keyClicks(box, "typed");
        QTest::keyClick(box, Qt::Key_Backspace);
        EXPECT_EQ(captionOf(box), before);
    }
    // No length limit: a long path or login is kept whole.
    const QString longText(40000, QChar('x'));
    for (Control c : {Control::编辑框1, Control::编辑框2, Control::编辑框3, Control::编辑框5}) {
        window->setText(c, longText);
        EXPECT_EQ(window->text(c).size(), longText.size());
    }
    EXPECT_EQ(window->编辑框4->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(window->编辑框5->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(window->编辑框5->font().families().value(0), "黑体");
    EXPECT_EQ(window->编辑框5->font().pixelSize(), 14);
    for (QLabel* label :
         {window->透明标签1, window->透明标签2, window->透明标签3, window->透明标签4})
        EXPECT_EQ(label->font().pixelSize(), 14);

    EXPECT_FALSE(window->组合框1->isEditable());
    ASSERT_EQ(window->组合框1->count(), 2);
    EXPECT_EQ(window->组合框1->itemText(0), "Windows 身份验证");
    EXPECT_EQ(window->组合框1->itemText(1), "SQL Server 身份验证");

    for (QPushButton* b :
         {window->按钮1, window->按钮2, window->按钮3, window->按钮4, window->按钮5})
        EXPECT_FALSE(b->isDefault() || b->autoDefault()) << b->objectName().toStdString();

    EXPECT_EQ(window->图片框1->pixmap().size(), QSize(290, 60));
    EXPECT_EQ(window->图片框1->frameShape(), QFrame::Box);
}

TEST_F(MainWindowTest, DatabaseListIsAReportOfTwoColumns) {
    ReportList* list = window->超级列表框1;
    ASSERT_EQ(list->columnCount(), 2);
    EXPECT_EQ(list->horizontalHeaderItem(0)->text(), "序号");
    EXPECT_EQ(list->horizontalHeaderItem(1)->text(), "数据库名称");
    EXPECT_EQ(list->columnWidth(0), 40);
    EXPECT_EQ(list->columnWidth(1), 160);
    EXPECT_TRUE(list->horizontalHeader()->isVisible() || !window->isVisible());
    EXPECT_TRUE(list->horizontalHeader()->sectionsClickable());
    EXPECT_FALSE(list->verticalHeader()->isVisibleTo(list));
    EXPECT_TRUE(list->showGrid());
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(list->rowCount(), 0);
}

TEST_F(MainWindowTest, StatusBarHasTwoFixedPartsAndNoGrip) {
    PartStatusBar* bar = window->状态条1;
    EXPECT_FALSE(bar->isSizeGripEnabled());
    EXPECT_EQ(bar->part(0)->geometry(), QRect(0, 0, 235, 20));
    EXPECT_EQ(bar->part(1)->geometry(), QRect(235, 0, 370, 20));
    EXPECT_EQ(bar->part(2), nullptr);

    window->setStatus(0, "已连接");
    window->setStatus(1, "Microsoft SQL Server 2008 R2");
    window->setStatus(2, "nowhere");
    EXPECT_EQ(window->status(0), "已连接");
    EXPECT_EQ(bar->part(1)->text(), "Microsoft SQL Server 2008 R2");
    EXPECT_EQ(window->status(2), "");
    // Status texts are never markup.
    window->setStatus(0, "<b>x</b>");
    EXPECT_EQ(bar->part(0)->textFormat(), Qt::PlainText);
}

TEST_F(MainWindowTest, ALongStatusStopsAtTheWindowEdgeAndAClickShowsItWhole) {
    window->show();
    const QString path = "SQL文件：/home/operator/脚本/" + QString(60, 'x') + ".sql";
    window->setStatus(1, path);
    QLabel* part = window->状态条1->part(1);
    EXPECT_EQ(window->status(1), path);
    EXPECT_TRUE(part->text().endsWith("…")) << part->text().toStdString();
    EXPECT_LE(part->fontMetrics().horizontalAdvance(part->text()), window->width() - part->x());
    EXPECT_EQ(part->toolTip(), path);
    QTest::mouseClick(part, Qt::LeftButton);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, path);

    // A text that fits shows whole and has nothing more to tell.
    window->setStatus(1, "删除命令已执行");
    EXPECT_EQ(part->text(), "删除命令已执行");
    EXPECT_EQ(part->toolTip(), "");
    QTest::mouseClick(part, Qt::LeftButton);
    EXPECT_EQ(boxes.shown.size(), 1u);
}

TEST_F(MainWindowTest, TabReachesExactlyTheTabStopsInReadingOrder) {
    const std::vector<QWidget*> expected = {window->组合框1,     window->按钮1, window->按钮2,
                                            window->超级列表框1, window->按钮5, window->按钮3,
                                            window->编辑框5,     window->按钮4};
    std::vector<QWidget*> chain;
    QWidget* w = window->组合框1;
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            chain.push_back(w);
        w = w->nextInFocusChain();
    } while (w != window->组合框1);
    EXPECT_EQ(chain, expected);
}

TEST_F(MainWindowTest, PointersAreHandsExceptOnTheGroupBox) {
    EXPECT_EQ(window->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(window->分组框1->cursor().shape(), Qt::ArrowCursor);
    for (QWidget* w :
         std::initializer_list<QWidget*>{window->编辑框2, window->透明标签1, window->透明标签2,
                                         window->透明标签3, window->透明标签4})
        EXPECT_EQ(w->cursor().shape(), Qt::PointingHandCursor) << w->objectName().toStdString();

    const QImage hand = pointingHandImage();
    ASSERT_EQ(hand.size(), QSize(32, 32));
    EXPECT_EQ(qAlpha(hand.pixel(kHandHotSpotX, kHandHotSpotY)), 255);  // on the fingertip
    for (QWidget* w : std::initializer_list<QWidget*>{
             window->编辑框1, window->编辑框3, window->编辑框4->viewport(), window->编辑框5,
             window->组合框1, window->按钮1, window->按钮2, window->按钮3, window->按钮4,
             window->按钮5, window->超级列表框1->viewport(), window->图片框1,
             window->状态条1->part(1)}) {
        SCOPED_TRACE(w->objectName().toStdString());
        EXPECT_EQ(w->cursor().shape(), Qt::BitmapCursor);
        EXPECT_EQ(w->cursor().hotSpot(), QPoint(12, 5));
    }
}

TEST_F(MainWindowTest, MenuHoldsItsThreeItemsAndStaysHidden) {
    const QList<QAction*> items = window->功能菜单->actions();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0], window->tableTotalsAction);
    EXPECT_EQ(items[1], window->tableReportAction);
    EXPECT_EQ(items[2], window->deleteDatabaseAction);
    EXPECT_EQ(items[0]->text(), "库记录");
    EXPECT_EQ(items[1]->text(), "表排序");
    EXPECT_EQ(items[2]->text(), "删除库");
    EXPECT_EQ(window->功能菜单->objectName(), "功能菜单");
    window->show();
    EXPECT_FALSE(window->功能菜单->isVisible());
}

TEST_F(MainWindowTest, FormReadsAndWritesTheRealControls) {
    window->setText(Control::编辑框1, "db.example");
    EXPECT_EQ(window->编辑框1->text(), "db.example");
    window->setText(Control::编辑框4, "first");
    EXPECT_EQ(window->text(Control::编辑框4), "first");
    window->setText(Control::按钮4, "停止执行");
    EXPECT_EQ(window->按钮4->text(), "停止执行");
    EXPECT_EQ(window->text(Control::按钮4), "停止执行");
    EXPECT_EQ(window->text(Control::图片框1), "");
    window->setEnabled(Control::按钮4, true);
    EXPECT_TRUE(window->按钮4->isEnabled());

    fillList({"master", "销售库"});
    EXPECT_EQ(window->listRowCount(), 2);
    EXPECT_EQ(window->listCell(1, 0), "2");
    EXPECT_EQ(window->listCell(1, 1), "销售库");
    EXPECT_EQ(window->listCell(2, 1), "");
    EXPECT_EQ(window->listCell(-1, 1), "");
    window->setListCell(7, 1, "ignored");
    EXPECT_EQ(window->selectedListRow(), -1);
    window->超级列表框1->selectRow(1);
    EXPECT_EQ(window->selectedListRow(), 1);
    window->clearList();
    EXPECT_EQ(window->listRowCount(), 0);
    EXPECT_EQ(window->selectedListRow(), -1);
}

TEST_F(MainWindowTest, LogAppendsAtTheEndWhereverTheCaretWasAndFollowsIt) {
    window->show();
    logbox::LogView* log = window->编辑框4;
    window->appendLog("line 1\r\nline 2");
    window->appendLog(" continued\r");
    window->appendLog("\nline 3\r\n");
    EXPECT_EQ(window->text(Control::编辑框4), "line 1\nline 2 continued\nline 3\n");

    log->select({0, 2}, {0, 2});  // the user clicked into the first line
    QString many;
    for (int i = 0; i < 200; ++i)
        many += QString("row %1\r\n").arg(i);
    window->appendLog(many);
    EXPECT_TRUE(window->text(Control::编辑框4).endsWith("row 199\n"));
    EXPECT_TRUE(window->text(Control::编辑框4).startsWith("line 1\n"));
    EXPECT_TRUE(test::waitUntil([&] { return log->verticalScrollBar()->value() > 0; }));
    EXPECT_EQ(log->lastVisibleLine(), log->document().lineCount() - 1);

    window->setText(Control::编辑框4, "banner\n");
    EXPECT_EQ(window->text(Control::编辑框4), "banner\n");
}

TEST_F(MainWindowTest, AuthModeComboSwitchesTheLoginBoxes) {
    window->show();
    window->编辑框3->setText("kept");
    window->组合框1->setFocus();
    QTest::keyClick(window->组合框1, Qt::Key_Down);
    EXPECT_EQ(window->编辑框2->text(), "SA");
    EXPECT_TRUE(window->编辑框2->isEnabled());
    EXPECT_TRUE(window->编辑框3->isEnabled());
    window->编辑框2->setText("operator");
    QTest::keyClick(window->组合框1, Qt::Key_Up);
    EXPECT_EQ(window->编辑框2->text(), "Administrator");
    EXPECT_FALSE(window->编辑框2->isEnabled());
    EXPECT_FALSE(window->编辑框3->isEnabled());
    EXPECT_EQ(window->编辑框3->text(), "kept");
}

TEST_F(MainWindowTest, ChoosingTheSelectedAuthenticationAgainKeepsATypedLogin) {
    window->show();
    window->组合框1->setFocus();
    QTest::keyClick(window->组合框1, Qt::Key_Down);
    window->编辑框2->setText("sa");
    // Through the drop-down list, as the user does: the same item once more.
    window->组合框1->showPopup();
    QAbstractItemView* list = window->组合框1->view();
    ASSERT_TRUE(test::waitUntil([&] { return list->isVisible(); }));
    QTest::keyClick(list, Qt::Key_Return);
    ASSERT_TRUE(test::waitUntil([&] { return !list->isVisible(); }));
    EXPECT_EQ(window->组合框1->currentIndex(), 1);
    EXPECT_EQ(window->编辑框2->text(), "sa");
    EXPECT_TRUE(window->编辑框2->isEnabled());
}

TEST_F(MainWindowTest, HelpButtonShowsTheHelpBox) {
    window->show();
    QTest::mouseClick(window->按钮5, Qt::LeftButton);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, "帮助：");
}

TEST_F(MainWindowTest, CancelledCloseChangesNothing) {
    window->show();
    fillList({"master"});
    window->setStatus(1, "running");
    auto snapshot = [this] {
        QStringList s;
        for (QWidget* w : window->findChildren<QWidget*>(Qt::FindChildrenRecursively))
            if (!w->objectName().isEmpty())
                s << w->objectName() + "|" + captionOf(w) + "|" + QString::number(w->isEnabled());
        return s << window->status(0) << window->status(1) << window->listCell(0, 1);
    };
    const QStringList before = snapshot();
    for (int answer : {int(IdCancel), int(IdNo)}) {
        boxes.setNextAnswer(answer);
        EXPECT_FALSE(window->close());
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(snapshot(), before);
    }
    EXPECT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].flags, 0x2031u);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(window.isNull());
}

TEST_F(MainWindowTest, ConfirmedCloseDestroysTheWindow) {
    window->show();
    boxes.setNextAnswer(IdOk);
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(test::waitUntil([this] { return window.isNull(); }));
    // Nothing was open, so the shutdown has nothing to say.
    EXPECT_EQ(boxes.shown.size(), 1u);
}

TEST_F(MainWindowTest, TheProgramEndsWithItsWindowAfterOneConfirmation) {
    // A refused close keeps it running; quitting after the confirmed one asks nothing more.
    QTimer::singleShot(50, window, [this] {
        boxes.setNextAnswer(IdCancel);
        window->close();
    });
    QTimer::singleShot(150, window, [this] {
        boxes.setNextAnswer(IdOk);
        window->close();
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(10000);
    EXPECT_EQ(runWindow(window), 0);
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(boxes.shown.size(), 2u);
}

TEST_F(MainWindowTest, SecondInstanceEndsTheProgramWithZero) {
    EXPECT_TRUE(exitCodes.empty());
    QPointer<MainWindow> second = makeWindow(true);
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_FALSE(second->isVisible());
    delete second.data();
}

TEST_F(MainWindowTest, RightClickWithNoSelectionClearsTheNameAndShowsNoMenu) {
    window->show();
    state.setSelectedDatabaseName("earlier");
    QTest::mouseClick(window->超级列表框1->viewport(), Qt::RightButton, {}, QPoint(100, 60));
    EXPECT_TRUE(test::waitUntil([this] { return state.selectedDatabaseName().isEmpty(); }, 2000));
    test::pumpEvents(100);
    EXPECT_FALSE(window->功能菜单->isVisible());
}

TEST_F(MainWindowTest, RightClickOnAnUnselectedRowSelectsAndNamesIt) {
    window->show();
    fillList({"master", "tempdb", "销售库"});
    window->超级列表框1->selectRow(0);
    QCursor::setPos(window->mapToGlobal(QPoint(120, 220)));
    const QPoint pointer = QCursor::pos();

    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(window->超级列表框1->viewport(), Qt::RightButton, {}, rowCentre(2));
    ASSERT_TRUE(test::waitUntil([this] { return window->功能菜单->isVisible(); }, 2000));
    EXPECT_GE(clock.elapsed(), 150);
    EXPECT_EQ(window->selectedListRow(), 2);
    EXPECT_EQ(state.selectedDatabaseName(), "销售库");
    EXPECT_EQ(window->功能菜单->pos(), pointer + QPoint(3, 3));
    window->功能菜单->close();
}

TEST_F(MainWindowTest, RestingPointerSelectsTheRowUnderIt) {
    window->show();
    fillList({"master", "tempdb", "model"});
    QWidget* viewport = window->超级列表框1->viewport();

    // Passing over a row does not select it.
    QTest::mouseMove(viewport, rowCentre(0));
    test::pumpEvents(ReportList::kHoverMs / 4);
    QTest::mouseMove(viewport, rowCentre(2));
    test::pumpEvents(ReportList::kHoverMs / 4);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(viewport, &leave);
    test::pumpEvents(ReportList::kHoverMs * 2);
    EXPECT_EQ(window->selectedListRow(), -1);

    QTest::mouseMove(viewport, rowCentre(1));
    EXPECT_TRUE(test::waitUntil([this] { return window->selectedListRow() == 1; },
                                ReportList::kHoverMs * 4));
}

TEST_F(MainWindowTest, CutDatabaseNamesShowInFullAsToolTips) {
    window->show();
    const QString longName = "archive_of_every_order_ever_placed_by_any_customer_anywhere";
    fillList({"tiny", longName});
    QWidget* viewport = window->超级列表框1->viewport();
    QHelpEvent onLong(QEvent::ToolTip, rowCentre(1), viewport->mapToGlobal(rowCentre(1)));
    QApplication::sendEvent(viewport, &onLong);
    EXPECT_TRUE(test::waitUntil([&] { return QToolTip::text() == longName; }, 2000));
    QToolTip::hideText();
    test::waitUntil([] { return QToolTip::text().isEmpty(); }, 2000);
    QHelpEvent onShort(QEvent::ToolTip, rowCentre(0), viewport->mapToGlobal(rowCentre(0)));
    QApplication::sendEvent(viewport, &onShort);
    test::pumpEvents(50);
    EXPECT_NE(QToolTip::text(), "tiny");
}
