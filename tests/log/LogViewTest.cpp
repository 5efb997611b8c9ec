#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include "app/log/FindBar.h"
#include "app/log/LogView.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;
using namespace quill::logbox;
using test::waitUntil;

namespace {

class LogViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        view = std::make_unique<LogView>(LogView::Services{boxes, opener, dialogs},
                                         dir.filePath("spool"));
        view->resize(290, 204);
        view->show();
    }

    LogDocument& doc() { return view->document(); }

    void appendLines(int from, int count, int special = -1, const char* word = "") {
        QByteArray lines;
        for (int n = from; n < from + count; ++n)
            lines += "第" + QByteArray::number(n) + "行 rows affected" +
                     (n == special ? QByteArray(" ") + word : "") + "\r\n";
        doc().append(lines);
    }

    bool showsTheEnd() const { return view->lastVisibleLine() == view->document().lineCount() - 1; }

    void wheel(int notches) {
        const QPointF at(20, 20);
        QWheelEvent event(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, notches * 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &event);
    }

    QAction* menuItem(const QString& text) {
        menu.reset(view->createContextMenu());
        for (QAction* action : menu->actions())
            if (action->text() == text)
                return action;
        return nullptr;
    }

    QTemporaryDir dir;
    test::ScriptedMessageBoxes boxes;
    test::RecordingOpener opener;
    test::ScriptedSaveDialogs dialogs;
    std::unique_ptr<LogView> view;
    std::unique_ptr<QMenu> menu;
};

}  // namespace

TEST_F(LogViewTest, FollowsTheEndUntilTheUserScrollsUpAndAgainFromTheBottom) {
    // Lines that wrap into several rows: the end may start inside one.
    const auto appendWrapped = [&](int from, int count) {
        QByteArray lines;
        for (int n = from; n < from + count; ++n)
            lines += "第" + QByteArray::number(n) + "行 " + QByteArray(120, 'w') + "\r\n";
        doc().append(lines);
    };
    appendWrapped(0, 1000);
    ASSERT_TRUE(waitUntil([&] { return showsTheEnd(); }));

    wheel(+2);  // up
    EXPECT_FALSE(view->isFollowingEnd());
    const qint64 first = view->firstVisibleLine();
    EXPECT_LT(first, 1000 - 2);
    appendWrapped(1000, 500);
    ASSERT_TRUE(waitUntil([&] { return view->verticalScrollBar()->maximum() > 1400; }));
    EXPECT_EQ(view->firstVisibleLine(), first);  // the text in sight stays put

    view->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_TRUE(view->isFollowingEnd());
    appendWrapped(1500, 10);
    EXPECT_TRUE(waitUntil([&] { return showsTheEnd(); }));
    EXPECT_TRUE(doc().line(view->lastVisibleLine() - 1).startsWith("第1509行 "));
}

TEST_F(LogViewTest, F8GoesToTheNextMarkedLineAndAround) {
    appendLines(0, 5000);
    for (qint64 line : {4000, 100, 2500})
        doc().markLine(line);
    view->setFocus();
    for (qint64 expected : {100, 2500, 4000, 100}) {
        QTest::keyClick(view.get(), Qt::Key_F8);
        EXPECT_EQ(view->selectionStart(), (TextPos{expected, 0}));
        EXPECT_LE(view->firstVisibleLine(), expected);
        EXPECT_GE(view->lastVisibleLine(), expected);
    }
    QTest::keyClick(view.get(), Qt::Key_F8, Qt::ShiftModifier);
    EXPECT_EQ(view->selectionStart().line, 4000);
    EXPECT_FALSE(view->isFollowingEnd());
}

TEST_F(LogViewTest, CtrlFFindsAChineseWordInAMillionLinesWithoutHoldingUpTheWindow) {
    for (int n = 0; n < 1'000'000; n += 100'000)
        appendLines(n, 100'000, n == 600'000 ? 600'123 : 900'321, "订单已提交");
    QTest::keyClick(view.get(), Qt::Key_F, Qt::ControlModifier);
    FindBar* bar = view->findBar();
    ASSERT_TRUE(bar->isVisible());

    QInputMethodEvent typed;  // as an input method commits Chinese words
    typed.setCommitString("订单");
    QApplication::sendEvent(bar->edit(), &typed);
    EXPECT_TRUE(view->isSearching());  // the key press returned before the search did
    ASSERT_TRUE(waitUntil([&] { return !view->isSearching(); }, 20000));
    EXPECT_EQ(view->selectionStart().line, 600'123);
    EXPECT_EQ(view->selectedText(), "订单");
    EXPECT_GE(view->lastVisibleLine(), 600'123);

    QTest::keyClick(bar->edit(), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return !view->isSearching(); }, 20000));
    EXPECT_EQ(view->selectionStart().line, 900'321);

    QTest::keyClick(bar->edit(), Qt::Key_Return);  // past the last one: from the top again
    ASSERT_TRUE(waitUntil([&] { return !view->isSearching(); }, 20000));
    EXPECT_EQ(view->selectionStart().line, 600'123);
    EXPECT_EQ(bar->state(), "已从另一端继续");

    bar->edit()->setText("没有的词");
    QTest::keyClick(bar->edit(), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return !view->isSearching(); }, 20000));
    EXPECT_EQ(bar->state(), "找不到");
}

TEST_F(LogViewTest, CopiesASelectionThatRunsOutOfSight) {
    appendLines(0, 2000);
    ASSERT_TRUE(waitUntil([&] { return view->verticalScrollBar()->maximum() > 1900; }));
    view->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    ASSERT_EQ(view->firstVisibleLine(), 0);

    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(1, 8));
    QTest::mouseMove(view->viewport(), QPoint(120, 8));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(120, 8));
    EXPECT_GE(view->selectedText().size(), 5);
    EXPECT_TRUE(QString("第0行 rows affected").startsWith(view->selectedText()));

    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(1, 8));
    for (int i = 0; i < 300; ++i)
        QTest::keyClick(view.get(), Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(view.get(), Qt::Key_End, Qt::ShiftModifier);
    // The caret's line came into sight, the first line went out of it.
    EXPECT_GT(view->firstVisibleLine(), 0);
    EXPECT_LE(view->firstVisibleLine(), 300);
    EXPECT_GE(view->lastVisibleLine(), 300);

    QString expected;
    for (int n = 0; n <= 300; ++n)
        expected += QString("第%1行 rows affected").arg(n) + (n < 300 ? "\n" : "");
    QApplication::clipboard()->clear();
    QTest::keyClick(view.get(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), expected);

    QApplication::clipboard()->clear();
    QAction* copy = menuItem("复制");
    ASSERT_NE(copy, nullptr);
    ASSERT_TRUE(copy->isEnabled());
    copy->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), expected);
}

TEST_F(LogViewTest, SaveAsWritesTheWholeLogAndTheRunFolderOpensOnTheDesktop) {
    const QByteArray banner = " -------------Quillrun-------------- \n\n";
    doc().append(banner);
    QString error;
    ASSERT_TRUE(doc().bindRunLog(dir.filePath("run.log"), &error));
    QByteArray output;
    for (int n = 0; n < 50'000; ++n)
        output += "Msg 208, Level 16 对象名 'dbo.订单' 无效。\r\n";
    doc().appendOutput(output);
    doc().unbindRunLog();

    dialogs.answer = dir.filePath("保存的日志.log");
    QAction* saveAs = menuItem("另存为…");
    ASSERT_NE(saveAs, nullptr);
    saveAs->trigger();
    ASSERT_TRUE(waitUntil([&] { return view->notice().startsWith("日志已保存到"); }));
    QFile saved(dialogs.answer);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll() == banner + output);
    EXPECT_TRUE(dialogs.asked.value(0).endsWith("/run.log"))
        << dialogs.asked.value(0).toStdString();

    dialogs.answer = "/proc/no-such-folder/日志.log";
    menuItem("另存为…")->trigger();
    ASSERT_TRUE(waitUntil([&] { return !boxes.shown.empty(); }));
    EXPECT_TRUE(boxes.shown[0].text.startsWith("日志未能保存到 /proc/no-such-folder/日志.log："));

    EXPECT_FALSE(menuItem("打开运行日志所在文件夹")->isEnabled());  // no runs yet
    view->setRunFolder(dir.path());
    QAction* openFolder = menuItem("打开运行日志所在文件夹");
    ASSERT_TRUE(openFolder->isEnabled());
    openFolder->trigger();
    EXPECT_EQ(opener.opened, QStringList{dir.path()});
}

TEST_F(LogViewTest, AVeryLongLineIsShownCutButCopiedWholeAndTheLinesAfterItStayInReach) {
    const QByteArray longLine(20 * 1024 * 1024, 'x');
    doc().append("before\n");
    doc().append(longLine);
    doc().append("\nafter\n");
    ASSERT_TRUE(waitUntil([&] { return showsTheEnd(); }));
    EXPECT_EQ(doc().line(view->lastVisibleLine() - 1), "after");

    view->goToLine(1);
    EXPECT_EQ(view->firstVisibleLine(), 0);
    EXPECT_EQ(view->selectedText().toLatin1(), longLine);
}
