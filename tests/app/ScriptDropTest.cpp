#include <gtest/gtest.h>

#include "app/ScriptDrop.h"
#include "exec/RunTexts.h"
#include "support/FakeForm.h"

using namespace quill;
using quill::exec::kConnectFirst;
using quill::exec::kDropDuringRun;
using quill::test::FakeForm;

namespace {

const QString kPrompt = "请将SQL脚本用鼠标拖入此处";

TEST(ScriptDrop, TakesOnlyATextEndingInSqlWhileConnected) {
    struct Case {
        int connected;
        QString files;
        bool accepted;
        const char* status;  // when refused
        bool running = false;
    };
    const Case cases[] = {
        {1, "/home/u/a.sql", true, nullptr},
        {1, "/home/u/我的 脚本/a.SQL", true, nullptr},
        {1, "/home/u/a.Sql", true, nullptr},
        {1, ".sql", true, nullptr},
        {1, "/home/u/folder.sql", true, nullptr},  // nothing is checked on disk here
        {1, "/home/u/a.sqlx", false, kDropSqlFile},
        {1, "/home/u/a.sq", false, kDropSqlFile},
        {1, "/home/u/script", false, kDropSqlFile},
        {1, "sql", false, kDropSqlFile},
        {1, "", false, kDropSqlFile},
        {1, "/home/u/a.ſql", false, kDropSqlFile},  // folds to "s" only under Unicode rules
        {1, "/home/u/a.sql\r\n/home/u/b.sql\r\n", false, kDropSqlFile},
        {0, "/home/u/a.sql", false, kConnectFirst},
        {0, "/home/u/a.txt", false, kConnectFirst},
        {2, "/home/u/a.sql", false, kConnectFirst},
        {1, "/home/u/a.sql", false, kDropDuringRun, true},
        {0, "/home/u/a.sql", false, kDropDuringRun, true},
    };
    for (const Case& c : cases) {
        FakeForm form;
        ProgramState state;
        state.setConnected(c.connected);
        int starts = 0;
        QString pathAtStart;
        onScriptFilesDropped(form, state, c.files, c.running, [&] {
            ++starts;
            pathAtStart = form.text(Control::编辑框5);
        });
        const std::string name = c.files.toStdString();
        if (c.accepted) {
            EXPECT_EQ(form.text(Control::编辑框5), c.files) << name;
            EXPECT_EQ(starts, 1) << name;
            EXPECT_EQ(pathAtStart, c.files) << name;
            EXPECT_EQ(form.status(1), "SQL文件：" + c.files) << name;
        } else {
            EXPECT_EQ(form.text(Control::编辑框5), kPrompt) << name;
            EXPECT_EQ(starts, 0) << name;
            EXPECT_EQ(form.status(1), QString::fromUtf8(c.status)) << name;
        }
    }
}

TEST(ScriptDrop, ASecondDropReplacesThePathAndStartsAnotherConsole) {
    FakeForm form;
    ProgramState state;
    state.setConnected(1);
    int starts = 0;
    onScriptFilesDropped(form, state, "/a/first.sql", false, [&] { ++starts; });
    onScriptFilesDropped(form, state, "/a/notes.txt", false, [&] { ++starts; });
    EXPECT_EQ(form.text(Control::编辑框5), "/a/first.sql");
    onScriptFilesDropped(form, state, "/a/second.sql", false, [&] { ++starts; });
    EXPECT_EQ(form.text(Control::编辑框5), "/a/second.sql");
    EXPECT_EQ(starts, 2);
}

TEST(ScriptDrop, JoinsSeveralPathsWithLineBreaks) {
    EXPECT_EQ(droppedFilesText({"/a b/x.sql"}), "/a b/x.sql");
    EXPECT_EQ(droppedFilesText({"/x.sql", "/y.sql"}), "/x.sql\r\n/y.sql\r\n");
}

}  // namespace
