// What a screen reader hears for each control, through Qt's accessibility
// interfaces (the AT-SPI test checks the same over the real bus).
#include <gtest/gtest.h>

#include <QAccessible>
#include <QDir>
#include <QPointer>

#include "app/MainWindow.h"
#include "console/Console.h"
#include "support/Paths.h"
#include "support/TestServices.h"

using namespace quill;

TEST(AccessibleNames, EveryFieldButtonAndTheListIsNamedAndTheDisplaysAreReadOnly) {
    test::ScriptedMessageBoxes boxes;
    test::RecordingOpener opener;
    ProgramState state;
    Console console{test::binPath("quill-cmd"), QDir::homePath()};
    QPointer<MainWindow> window =
        new MainWindow({boxes, opener, state, [] { return false; }, [](int) {}, console});
    window->show();

    struct Expected {
        QWidget* widget;
        const char* name;
        QAccessible::Role role;
        bool readOnly;
    };
    const Expected controls[] = {
        {window->编辑框1, "服务器", QAccessible::EditableText, false},
        {window->组合框1, "Windows 身份验证", QAccessible::ComboBox, false},
        {window->编辑框2, "用户名", QAccessible::EditableText, false},
        {window->编辑框3, "密码", QAccessible::EditableText, false},
        {window->按钮1, "连接", QAccessible::Button, false},
        {window->按钮2, "断开", QAccessible::Button, false},
        {window->超级列表框1, "数据库列表", QAccessible::Table, false},
        {window->按钮5, "帮助", QAccessible::Button, false},
        {window->按钮3, "加载数据库", QAccessible::Button, false},
        {window->编辑框5, "SQL脚本文件", QAccessible::EditableText, true},
        {window->编辑框4, "执行输出", QAccessible::EditableText, true},
        {window->按钮4, "执行SQL脚本", QAccessible::Button, false},
    };
    for (const Expected& c : controls) {
        SCOPED_TRACE(c.widget->objectName().toStdString());
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(c.widget);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(QAccessible::Name), QString::fromUtf8(c.name));
        EXPECT_EQ(a->role(), c.role);
        EXPECT_EQ(bool(a->state().readOnly), c.readOnly);
    }
    // Each box of the group is labelled by the label beside it.
    const std::pair<QWidget*, QWidget*> labelled[] = {{window->编辑框1, window->透明标签1},
                                                      {window->组合框1, window->透明标签4},
                                                      {window->编辑框2, window->透明标签2},
                                                      {window->编辑框3, window->透明标签3}};
    for (const auto& [box, label] : labelled) {
        QStringList labels;
        for (const auto& relation :
             QAccessible::queryAccessibleInterface(box)->relations(QAccessible::Label))
            labels << relation.first->text(QAccessible::Name);
        EXPECT_TRUE(labels.contains(qobject_cast<QLabel*>(label)->text()))
            << labels.join('|').toStdString();
    }
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(window->编辑框3)->state().passwordEdit);
    delete window.data();
}
