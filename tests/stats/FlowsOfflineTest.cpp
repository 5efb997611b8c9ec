// The statistics flows where no server answers: both end with a box that
// names the failed connection, and write and open nothing.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "stats/StatsFlows.h"
#include "support/FakeForm.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;

namespace {

class StatsOffline : public testing::Test {
protected:
    void SetUp() override {
        state.setSelectedDatabaseName("Shop");
        form.setText(Control::编辑框1, "127.0.0.1,1");  // nothing listens there
        form.setText(Control::编辑框2, "SA");
        form.setText(Control::编辑框3, "pw");
    }

    // Until the click's work is done and its result shown.
    void settle(const StatsFlows& f) {
        ASSERT_TRUE(test::waitUntil([&] { return f.idle(); }, 30000));
    }
    void settle() { settle(flows); }

    test::FakeForm form;
    ProgramState state;
    test::ScriptedMessageBoxes boxes;
    test::RecordingOpener opener;
    std::shared_ptr<ODBCDB> db = std::make_shared<ODBCDB>();
    QTemporaryDir folder;
    StatsFlows flows{form, state, boxes, opener, db, {folder.path(), folder.filePath("docs")}};
};

}  // namespace

TEST_F(StatsOffline, AFailedOpenNamesTheServerAndDatabaseAndWritesNothing) {
    struct Case {
        int auth;
        QString server;  // what the box names
    };
    // Windows authentication goes to this machine's default instance,
    // whatever the server box holds.
    const Case cases[] = {{1, "127.0.0.1,1"}, {0, "."}};
    for (const Case& c : cases) {
        for (void (StatsFlows::*click)() :
             {&StatsFlows::onTableTotalsClicked, &StatsFlows::onTableReportClicked}) {
            form.setAuthIndex(c.auth);
            boxes.shown.clear();
            (flows.*click)();
            settle();
            ASSERT_EQ(boxes.shown.size(), 1u);
            const auto& box = boxes.shown[0];
            EXPECT_TRUE(box.text.startsWith("无法连接服务器 " + c.server + " 上的数据库 Shop："))
                << box.text.toStdString();
            EXPECT_EQ(box.caption, "错误：");
            EXPECT_EQ(box.flags, mb::IconError);
            EXPECT_FALSE(db->IsOpen());
        }
    }
    EXPECT_TRUE(opener.opened.isEmpty());
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
}
