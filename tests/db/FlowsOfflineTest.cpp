// The flows where no server answers: connect failures, disconnect, list
// and delete without a connection.
#include <gtest/gtest.h>

#include "db/DatabaseFlows.h"
#include "support/FakeForm.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;

namespace {

class FlowsOffline : public testing::Test {
protected:
    void connectedLooking() {
        form.setStatus(1, "version");
        int row = form.appendListRow("1");
        form.setListCell(row, 1, "master");
    }

    // Until the flows' work is done and the form shows it.
    void settle() {
        ASSERT_TRUE(test::waitUntil([&] { return flows.idle(); }, 30000));
    }

    test::FakeForm form;
    ProgramState state;
    test::ScriptedMessageBoxes boxes;
    std::shared_ptr<ODBCDB> db = std::make_shared<ODBCDB>();
    DatabaseFlows flows{form, state, boxes, db};
};

}  // namespace

TEST_F(FlowsOffline, AFailedConnectNamesTheServerAndTellsWhyInATooltip) {
    struct Case {
        int auth;
        QString server;
        bool driverSpeaks;  // refused before the driver: nothing to tell
    };
    const Case cases[] = {
        {1, "127.0.0.1,1", true},           // nothing listens there
        {0, "no-such-host.invalid", true},  // Windows authentication goes there too
        {1, "evil\r\nDATABASE=x", false},   // would add a line to the DSN file
    };
    for (const Case& c : cases) {
        connectedLooking();
        form.setAuthIndex(c.auth);
        form.setText(Control::编辑框1, c.server);
        form.setText(Control::编辑框2, "SA");
        form.setText(Control::编辑框3, "pw");
        state.setConnected(1);
        flows.onConnectClicked();
        settle();
        EXPECT_EQ(form.status(0), c.server + " 数据库连接失败");
        EXPECT_EQ(!form.statusToolTip(0).isEmpty(), c.driverSpeaks)
            << form.statusToolTip(0).toStdString();
        EXPECT_EQ(form.status(1), "version");
        EXPECT_EQ(form.listRowCount(), 1);
        EXPECT_EQ(state.connected(), 0);
        EXPECT_TRUE(form.isEnabled(Control::按钮1));
        EXPECT_FALSE(form.isEnabled(Control::按钮3));
        EXPECT_FALSE(db->IsOpen());
        form.clearList();
    }
}

TEST_F(FlowsOffline, DisconnectTwiceOnlyRepeatsStatusAndButtons) {
    connectedLooking();
    form.setEnabled(Control::按钮1, false);
    form.setEnabled(Control::按钮3, true);
    form.setEnabled(Control::按钮4, true);
    state.setConnected(1);
    for (int i = 0; i < 2; ++i) {
        flows.onDisconnectClicked();
        settle();
        EXPECT_EQ(form.status(0), "  数据库连接已经断开");
        EXPECT_EQ(form.listRowCount(), 0);
        EXPECT_EQ(state.connected(), 0);
        EXPECT_TRUE(form.isEnabled(Control::按钮1));
        EXPECT_FALSE(form.isEnabled(Control::按钮3));
        EXPECT_FALSE(form.isEnabled(Control::按钮4));
    }
}

TEST_F(FlowsOffline, ListingWithoutAConnectionLeavesTheListEmpty) {
    connectedLooking();
    flows.loadDatabaseList();
    settle();
    EXPECT_EQ(form.listRowCount(), 0);
    EXPECT_EQ(form.status(0), "  未能加载数据库");
    EXPECT_FALSE(form.isEnabled(Control::按钮4));
}

TEST_F(FlowsOffline, DeleteAsksAndNoChangesNothing) {
    connectedLooking();
    state.setSelectedDatabaseName("Shop");
    boxes.setNextAnswer(IdNo);
    flows.onDeleteDatabaseClicked();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "您确定要删除  [Shop] 数据库吗！！！");
    EXPECT_EQ(boxes.shown[0].caption, "提示！");
    EXPECT_EQ(boxes.shown[0].flags, 0x34u);
    EXPECT_TRUE(flows.idle());
    EXPECT_EQ(form.status(1), "version");
    EXPECT_EQ(form.listRowCount(), 1);
}

TEST_F(FlowsOffline, ADeleteThatCannotRunIsReportedAsFailed) {
    state.setSelectedDatabaseName("Shop");
    boxes.setNextAnswer(IdYes);
    flows.onDeleteDatabaseClicked();
    settle();
    EXPECT_EQ(form.status(0), "  未能加载数据库");
    EXPECT_EQ(form.status(1), "删除失败：");
}
