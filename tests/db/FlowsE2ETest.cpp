// The connect, list, disconnect and delete flows against quill-standin, or
// the real server of a real-server run.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>

#include "db/DatabaseFlows.h"
#include "support/FakeForm.h"
#include "support/StandinServer.h"
#include "support/TestServer.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;
using test::StandinServer;

namespace {

const QString kVersion =
    "Microsoft SQL Server 2008 R2 (RTM) - 10.50.1600.1 (X64) \n\tApr  2 2010 15:48:27 "
    "\n\tCopyright (c) Microsoft "
    "Corporation\n\tExpress Edition (64-bit) on Windows NT 6.1 <X64> (Build 7601: Service Pack "
    "1)\n";

class FlowsE2E : public testing::Test {
protected:
    void SetUp() override {
        StandinServer::Options o;
        o.versionText = kVersion;
        server = std::make_unique<test::TestServer>(o);
        ASSERT_TRUE(server->isRunning()) << server->startError().toStdString();
        qputenv("TMPDIR", tmp.path().toUtf8());
        form.setAuthIndex(1);
        form.setText(Control::编辑框1, server->serverText());
        // Logins take any letter case on the stand-in.
        form.setText(Control::编辑框2, server->isReal() ? server->login() : "SA");
        form.setText(Control::编辑框3, server->password());
        shop = server->createDatabase("Shop");
        store = server->createDatabase("仓库数据");
    }

    // Points the flows at a stand-in of the test's own.
    void useStandin(StandinServer::Options o) {
        server = std::make_unique<test::TestServer>(o);
        ASSERT_TRUE(server->isRunning());
        form.setText(Control::编辑框1, server->serverText());
        shop = server->createDatabase("Shop");
        store = server->createDatabase("仓库数据");
    }
    QStringList listedNames() const {
        QStringList names;
        for (int row = 0; row < form.listRowCount(); ++row)
            names << form.listCell(row, 1);
        return names;
    }
    // Until the flows' work is done and the form shows it.
    void settle() {
        ASSERT_TRUE(test::waitUntil([&] { return flows.idle(); }, 30000));
    }
    void connect() {
        flows.onConnectClicked();
        settle();
        ASSERT_EQ(form.status(0), "  加载数据库成功") << form.statusToolTip(0).toStdString();
    }
    // Answers Yes for `name` and waits for the list reload.
    void deleteDatabase(const QString& name) {
        state.setSelectedDatabaseName(name);
        form.setStatus(1, {});
        boxes.setNextAnswer(IdYes);
        flows.onDeleteDatabaseClicked();
        settle();
    }

    QTemporaryDir tmp;
    std::unique_ptr<test::TestServer> server;
    QString shop, store;
    test::FakeForm form;
    ProgramState state;
    test::ScriptedMessageBoxes boxes;
    std::shared_ptr<ODBCDB> db = std::make_shared<ODBCDB>();
    DatabaseFlows flows{form, state, boxes, db};
};

}  // namespace

TEST_F(FlowsE2E, ConnectShowsTheVersionAndTheNumberedList) {
    connect();
    if (server->standin()) {
        EXPECT_EQ(form.status(1), "Microsoft SQL Server 2008 R2 (RTM) - 10.50.1600.1 (X64)");
        EXPECT_EQ(server->standin()->logEvents("batch").filter("select @@version").size(), 1);
    } else {
        EXPECT_FALSE(form.status(1).isEmpty());
        EXPECT_FALSE(form.status(1).contains('\n'));
    }
    EXPECT_TRUE(form.statusToolTip(0).isEmpty());
    const QStringList names = listedNames();
    EXPECT_EQ(names.first(), "master");
    for (const QString& n : {QString("master"), QString("tempdb"), shop, store})
        EXPECT_TRUE(names.contains(n)) << n.toStdString();
    for (int row = 0; row < form.listRowCount(); ++row)
        EXPECT_EQ(form.listCell(row, 0), QString::number(row + 1));
    EXPECT_EQ(state.connected(), 1);
    EXPECT_EQ(state.connectedServer(), server->serverText());
    EXPECT_FALSE(form.isEnabled(Control::按钮1));
    EXPECT_TRUE(form.isEnabled(Control::按钮3));
    EXPECT_TRUE(form.isEnabled(Control::按钮4));
}

TEST_F(FlowsE2E, AConnectUnderWaySaysSoAndASecondClickStartsNothing) {
    QUILL_NEEDS_STANDIN("a server 300 ms away");
    StandinServer::Options o;
    o.latencyMs = 300;
    useStandin(o);
    const qsizetype logins = server->standin()->logEvents("login").size();
    flows.onConnectClicked();
    // Back at once, the login still on its way.
    EXPECT_EQ(form.status(0), "正在连接 " + server->serverText() + "…");
    EXPECT_FALSE(form.isEnabled(Control::按钮1));
    EXPECT_EQ(state.connected(), 0);
    flows.onConnectClicked();
    settle();
    EXPECT_EQ(form.status(0), "  加载数据库成功");
    EXPECT_EQ(server->standin()->logEvents("login").size(), logins + 1);
    EXPECT_EQ(state.connected(), 1);
}

TEST_F(FlowsE2E, AWrongPasswordFailsAndSaysWhyInTheTooltip) {
    form.setText(Control::编辑框3, "wrong");
    flows.onConnectClicked();
    settle();
    EXPECT_EQ(form.status(0), server->serverText() + " 数据库连接失败");
    EXPECT_FALSE(form.statusToolTip(0).isEmpty());
    if (server->standin()) {
        EXPECT_TRUE(form.statusToolTip(0).contains("Login failed"))
            << form.statusToolTip(0).toStdString();
    }
    EXPECT_EQ(state.connected(), 0);
    EXPECT_EQ(form.listRowCount(), 0);
    EXPECT_TRUE(form.isEnabled(Control::按钮1));
}

TEST_F(FlowsE2E, AReloadAfterTheServerWentAwayLeavesTheListEmpty) {
    QUILL_NEEDS_STANDIN("a server that can be stopped");
    connect();
    server->standin()->stop();
    flows.loadDatabaseList();
    settle();
    EXPECT_EQ(form.status(0), "  未能加载数据库");
    EXPECT_EQ(form.listRowCount(), 0);
}

TEST_F(FlowsE2E, DisconnectEndsTheSession) {
    connect();
    flows.onDisconnectClicked();
    settle();
    if (server->standin()) {
        EXPECT_TRUE(server->standin()->waitForLog(" end"));
    }
    EXPECT_EQ(form.status(0), "  数据库连接已经断开");
    EXPECT_EQ(form.listRowCount(), 0);
    EXPECT_FALSE(db->IsOpen());
    connect();
}

TEST_F(FlowsE2E, ADeletedDatabaseLeavesTheList) {
    connect();
    deleteDatabase(shop);
    EXPECT_EQ(form.status(1), "删除命令已执行");
    EXPECT_EQ(form.status(0), "  加载数据库成功");
    EXPECT_FALSE(listedNames().contains(shop));
    EXPECT_TRUE(listedNames().contains(store));
    if (server->standin()) {
        EXPECT_TRUE(server->standin()->logEvents("batch").contains("drop database \"Shop\""));
    }
}

TEST_F(FlowsE2E, NamesWithBracketsQuotesAndChineseAreDroppedExactly) {
    QStringList names{server->createDatabase("x\"y"), store};
    // Babelfish takes no "]]" in a bracketed name.
    if (!server->isBabelfish())
        names << server->createDatabase("a]b");
    connect();
    for (const QString& name : names) {
        deleteDatabase(name);
        EXPECT_EQ(form.status(1), "删除命令已执行") << name.toStdString();
        EXPECT_FALSE(listedNames().contains(name)) << name.toStdString();
    }
    EXPECT_TRUE(listedNames().contains(shop));
}

TEST_F(FlowsE2E, ADatabaseInUseIsNotDroppedAndTheRefusalIsShown) {
    const QString inUse = server->createDatabase("InUse");
    ODBCDB user;
    ASSERT_TRUE(
        user.OpenSqlDatabase(server->serverText(), server->login(), server->password(), inUse));
    connect();
    deleteDatabase(inUse);
    EXPECT_TRUE(form.status(1).startsWith("删除失败：")) << form.status(1).toStdString();
    EXPECT_TRUE(form.status(1).contains("currently in use")) << form.status(1).toStdString();
    EXPECT_FALSE(form.status(1).contains("[FreeTDS]"));
    EXPECT_TRUE(listedNames().contains(inUse));
}

TEST_F(FlowsE2E, TheDatabaseDroppedIsTheOneTheQuestionNamed) {
    QUILL_NEEDS_STANDIN("a server 100 ms away, to keep a list load under way");
    StandinServer::Options o;
    o.latencyMs = 100;
    useStandin(o);
    connect();
    flows.loadDatabaseList();  // still running when the deletion is asked for
    state.setSelectedDatabaseName(shop);
    boxes.setNextAnswer(IdYes);
    flows.onDeleteDatabaseClicked();
    state.setSelectedDatabaseName(store);  // another right-click meanwhile
    settle();
    EXPECT_FALSE(listedNames().contains(shop));
    EXPECT_TRUE(listedNames().contains(store));
}

TEST_F(FlowsE2E, TwoDeletionsNeverDoubleTheList) {
    connect();
    const qsizetype listed = form.listRowCount();
    // Both drop Shop (the second is refused) and reload the list.
    state.setSelectedDatabaseName(shop);
    for (int i = 0; i < 2; ++i) {
        boxes.setNextAnswer(IdYes);
        flows.onDeleteDatabaseClicked();
    }
    settle();
    QStringList names = listedNames();
    EXPECT_EQ(names.size(), listed - 1) << names.join(",").toStdString();
    EXPECT_EQ(names.removeDuplicates(), 0);
    EXPECT_FALSE(names.contains(shop));
    EXPECT_TRUE(form.status(1).startsWith("删除失败：")) << form.status(1).toStdString();
}

TEST_F(FlowsE2E, ADisconnectWhileADeletionRunsLeavesTheListEmpty) {
    QUILL_NEEDS_STANDIN("a server 20 ms away");
    StandinServer::Options o;
    o.latencyMs = 20;
    useStandin(o);
    connect();
    state.setSelectedDatabaseName(shop);
    boxes.setNextAnswer(IdYes);
    flows.onDeleteDatabaseClicked();
    // Let the deletion's list reload begin, then disconnect.
    ASSERT_TRUE(server->standin()->waitForLog("drop database"));
    flows.onDisconnectClicked();
    settle();
    EXPECT_TRUE(server->standin()->waitForLog(" end"));
    EXPECT_EQ(form.listRowCount(), 0) << listedNames().join(",").toStdString();
    EXPECT_EQ(state.connected(), 0);
}
