#include <gtest/gtest.h>

#include "app/WindowFlows.h"
#include "support/FakeForm.h"
#include "support/TestServices.h"

using namespace quill;
using quill::test::FakeForm;
using quill::test::ScriptedMessageBoxes;

TEST(AuthModeSwitch, FollowsEverySelectionAndKeepsThePassword) {
    struct Step {
        int index;
        const char* user;
        bool loginBoxesEnabled;
    };
    // From the initial state; the user types over the login before each choice.
    const Step steps[] = {
        {1, "SA", true},
        {1, "SA", true},
        {0, "Administrator", false},
        {-1, "Administrator", false},
        {1, "SA", true},
        {0, "Administrator", false},
    };
    FakeForm form;
    form.setText(Control::编辑框3, "secret");
    for (const Step& step : steps) {
        form.setText(Control::编辑框2, "someone");
        form.setAuthIndex(step.index);
        onAuthModeSelected(form);
        SCOPED_TRACE(step.index);
        EXPECT_EQ(form.text(Control::编辑框2), step.user);
        EXPECT_EQ(form.isEnabled(Control::编辑框2), step.loginBoxesEnabled);
        EXPECT_EQ(form.isEnabled(Control::编辑框3), step.loginBoxesEnabled);
        EXPECT_EQ(form.text(Control::编辑框3), "secret");
    }
}

TEST(HelpBox, ShowsTheWorkflowTaskModal) {
    ScriptedMessageBoxes boxes;
    onHelpClicked(boxes);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, "帮助：");
    EXPECT_EQ(boxes.shown[0].flags, 0x2000u);
    const QString text = boxes.shown[0].text;
    // Eight lines, CR LF between them, the four numbered steps in order,
    // the workflow in the second: script, connect, drop, execute.
    const QStringList lines = text.split("\r\n");
    ASSERT_EQ(lines.size(), 8);
    EXPECT_EQ(lines[0], "本程序为SQL Server数据库降级开发");
    const char* steps[] = {"1、", "2、", "3、", "4、"};
    const int stepLines[] = {1, 3, 4, 7};
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(lines[stepLines[i]].startsWith(steps[i])) << i;
    EXPECT_TRUE(lines[3].contains("将SQL脚本拖入右侧路径条 - 点击执行SQL脚本 - 等待完成"));
    EXPECT_TRUE(text.endsWith("可以自行到Management Studio中操作。"));
}

TEST(CloseQuery, OnlyOkLetsTheWindowClose) {
    const std::pair<int, bool> cases[] = {
        {IdOk, true}, {IdCancel, false}, {IdNo, false}, {IdAbort, false}};
    for (const auto& [answer, closes] : cases) {
        ScriptedMessageBoxes boxes;
        boxes.setNextAnswer(answer);
        EXPECT_EQ(confirmClose(boxes), closes) << answer;
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text, "确认要关闭本程序？？？\r\n退出会导致执行中断！！！");
        EXPECT_EQ(boxes.shown[0].caption, "警告：");
        EXPECT_EQ(boxes.shown[0].flags, 0x2031u);
    }
}

TEST(DatabaseListMenu, NamesTheSelectedRowOrNothing) {
    FakeForm form;
    ProgramState state;
    state.setSelectedDatabaseName("earlier");
    EXPECT_FALSE(nameSelectedDatabase(form, state));
    EXPECT_EQ(state.selectedDatabaseName(), "");

    for (const char* name : {"master", "tempdb", "销售库"}) {
        const int row = form.appendListRow(QString::number(form.listRowCount() + 1));
        form.setListCell(row, 1, name);
    }
    form.selectListRow(2);
    EXPECT_TRUE(nameSelectedDatabase(form, state));
    EXPECT_EQ(state.selectedDatabaseName(), "销售库");

    // Clearing the list keeps the name until the next right-click.
    form.clearList();
    EXPECT_EQ(state.selectedDatabaseName(), "销售库");
    EXPECT_FALSE(nameSelectedDatabase(form, state));
    EXPECT_EQ(state.selectedDatabaseName(), "");
}
