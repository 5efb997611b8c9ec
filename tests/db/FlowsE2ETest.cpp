// The connect, list, disconnect and delete flows against quill-standin.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>

#include "db/DatabaseFlows.h"
#include "support/FakeForm.h"
#include "support/StandinServer.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;
using test::StandinServer;

namespace {

const QByteArray kCatalog = R"({"databases":[
    {"name":"Shop"}, {"name":"仓库数据"}, {"name":"a]b"}, {"name":"x\"y"}, {"name":"InUse"}
]})";
const QString kVersion =
    "Microsoft SQL Server 2008 R2 (RTM) - 10.50.1600.1 (X64) \n\tApr  2 2010 15:48:27 "
    "\n\tCopyright (c) Microsoft "
    "Corporation\n\tExpress Edition (64-bit) on Windows NT 6.1 <X64> (Build 7601: Service Pack "
    "1)\n";

class FlowsE2E : public testing::Test {
protected:
    void SetUp() override {
        StandinServer::Options o;
        o.catalogJson = kCatalog;
        o.versionText = kVersion;
        server = std::make_unique<StandinServer>(o);
        ASSERT_TRUE(server->isRunning()) << server->startError().toStdString();
        qputenv("TMPDIR", tmp.path().toUtf8());
        form.setAuthIndex(1);
        form.setText(Control::编辑框1, server->serverText());
        form.setText(Control::编辑框2, "SA");
        form.setText(Control::编辑框3, server->password());
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
        ASSERT_EQ(form.status(0), "  加载数据库成功");
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
    std::unique_ptr<StandinServer> server;
    test::FakeForm form;
    ProgramState state;
    test::ScriptedMessageBoxes boxes;
    std::shared_ptr<ODBCDB> db = std::make_shared<ODBCDB>();
    DatabaseFlows flows{form, state, boxes, db};
};

}  // namespace

TEST_F(FlowsE2E, ConnectShowsTheVersionAndTheNumberedList) {
    connect();
    EXPECT_EQ(form.status(1), "Microsoft SQL Server 2008 R2 (RTM) - 10.50.1600.1 (X64)");
    EXPECT_TRUE(form.statusToolTip(0).isEmpty());
    const QStringList names = listedNames();
    EXPECT_EQ(names.first(), "master");
    for (const char* n : {"master", "tempdb", "model", "msdb", "Shop", "仓库数据", "a]b", "x\"y"})
        EXPECT_TRUE(names.contains(QString::fromUtf8(n))) << n;
    for (int row = 0; row < form.listRowCount(); ++row)
        EXPECT_EQ(form.listCell(row, 0), QString::number(row + 1));
    EXPECT_EQ(state.connected(), 1);
    EXPECT_FALSE(form.isEnabled(Control::按钮1));
    EXPECT_TRUE(form.isEnabled(Control::按钮3));
    EXPECT_TRUE(form.isEnabled(Control::按钮4));
    EXPECT_EQ(server->logEvents("batch").filter("select @@version").size(), 1);
}

TEST_F(FlowsE2E, AConnectUnderWaySaysSoAndASecondClickStartsNothing) {
    StandinServer::Options o;
    o.catalogJson = kCatalog;
    o.latencyMs = 300;
    server = std::make_unique<StandinServer>(o);
    ASSERT_TRUE(server->isRunning());
    form.setText(Control::编辑框1, server->serverText());
    flows.onConnectClicked();
    // Back at once, the login still on its way.
    EXPECT_EQ(form.status(0), "正在连接 " + server->serverText() + "…");
    EXPECT_FALSE(form.isEnabled(Control::按钮1));
    EXPECT_EQ(state.connected(), 0);
    flows.onConnectClicked();
    settle();
    EXPECT_EQ(form.status(0), "  加载数据库成功");
    EXPECT_EQ(server->logEvents("connect").size(), 1);
    EXPECT_EQ(state.connected(), 1);
    EXPECT_EQ(state.connectedServer(), server->serverText());
}

TEST_F(FlowsE2E, AWrongPasswordFailsAndSaysWhyInTheTooltip) {
    form.setText(Control::编辑框3, "wrong");
    flows.onConnectClicked();
    settle();
    EXPECT_EQ(form.status(0), server->serverText() + " 数据库连接失败");
    EXPECT_TRUE(form.statusToolTip(0).contains("Login failed"))
        << form.statusToolTip(0).toStdString();
    EXPECT_EQ(state.connected(), 0);
    EXPECT_EQ(form.listRowCount(), 0);
    EXPECT_TRUE(form.isEnabled(Control::按钮1));
}

TEST_F(FlowsE2E, AReloadAfterTheServerWentAwayLeavesTheListEmpty) {
    connect();
    server->stop();
    flows.loadDatabaseList();
    settle();
    EXPECT_EQ(form.status(0), "  未能加载数据库");
    EXPECT_EQ(form.listRowCount(), 0);
}

TEST_F(FlowsE2E, DisconnectEndsTheSession) {
    connect();
    flows.onDisconnectClicked();
    settle();
    EXPECT_TRUE(server->waitForLog(" end"));
    EXPECT_EQ(form.status(0), "  数据库连接已经断开");
    EXPECT_EQ(form.listRowCount(), 0);
    connect();
}

TEST_F(FlowsE2E, ADeletedDatabaseLeavesTheList) {
    connect();
    deleteDatabase("Shop");
    EXPECT_EQ(form.status(1), "删除命令已执行");
    EXPECT_EQ(form.status(0), "  加载数据库成功");
    EXPECT_FALSE(listedNames().contains("Shop"));
    EXPECT_TRUE(listedNames().contains("仓库数据"));
    EXPECT_TRUE(server->logEvents("batch").contains("drop database \"Shop\""));
}

TEST_F(FlowsE2E, NamesWithBracketsQuotesAndChineseAreDroppedExactly) {
    connect();
    for (const QString name : {"a]b", "x\"y", "仓库数据"}) {
        deleteDatabase(name);
        EXPECT_EQ(form.status(1), "删除命令已执行") << name.toStdString();
        EXPECT_FALSE(listedNames().contains(name)) << name.toStdString();
    }
    EXPECT_TRUE(listedNames().contains("Shop"));
}

TEST_F(FlowsE2E, ADatabaseInUseIsNotDroppedAndTheRefusalIsShown) {
    ODBCDB user;
    ASSERT_TRUE(user.OpenSqlDatabase(server->serverText(), "sa", server->password(), "InUse"));
    connect();
    deleteDatabase("InUse");
    EXPECT_TRUE(form.status(1).startsWith("删除失败：")) << form.status(1).toStdString();
    EXPECT_TRUE(form.status(1).contains("currently in use")) << form.status(1).toStdString();
    EXPECT_FALSE(form.status(1).contains("[FreeTDS]"));
    EXPECT_TRUE(listedNames().contains("InUse"));
}

TEST_F(FlowsE2E, TheDatabaseDroppedIsTheOneTheQuestionNamed) {
    StandinServer::Options o;
    o.catalogJson = kCatalog;
    o.latencyMs = 100;
    server = std::make_unique<StandinServer>(o);
    ASSERT_TRUE(server->isRunning());
    form.setText(Control::编辑框1, server->serverText());
    connect();
    flows.loadDatabaseList();  // still running when the deletion is asked for
    state.setSelectedDatabaseName("Shop");
    boxes.setNextAnswer(IdYes);
    flows.onDeleteDatabaseClicked();
    state.setSelectedDatabaseName("仓库数据");  // another right-click meanwhile
    settle();
    EXPECT_FALSE(listedNames().contains("Shop"));
    EXPECT_TRUE(listedNames().contains("仓库数据"));
}

TEST_F(FlowsE2E, TwoDeletionsNeverDoubleTheList) {
    connect();
    // Both workers drop Shop (the second is refused) and reload the list.
    state.setSelectedDatabaseName("Shop");
    for (int i = 0; i < 2; ++i) {
        boxes.setNextAnswer(IdYes);
        flows.onDeleteDatabaseClicked();
    }
    settle();
    EXPECT_EQ(server->logEvents("batch").filter("drop database").size(), 2);
    QStringList names = listedNames();
    EXPECT_EQ(names.size(), 8) << names.join(",").toStdString();
    EXPECT_EQ(names.removeDuplicates(), 0);
    EXPECT_FALSE(names.contains("Shop"));
}

TEST_F(FlowsE2E, ADisconnectWhileADeletionRunsLeavesTheListEmpty) {
    StandinServer::Options o;
    o.catalogJson = kCatalog;
    o.latencyMs = 20;
    server = std::make_unique<StandinServer>(o);
    ASSERT_TRUE(server->isRunning());
    form.setText(Control::编辑框1, server->serverText());
    connect();
    state.setSelectedDatabaseName("Shop");
    boxes.setNextAnswer(IdYes);
    flows.onDeleteDatabaseClicked();
    // Let the worker's list reload begin, then disconnect on the GUI thread.
    ASSERT_TRUE(server->waitForLog("SELECT COUNT(name) FROM sysdatabases"));
    flows.onDisconnectClicked();
    settle();
    EXPECT_TRUE(server->waitForLog(" end"));
    EXPECT_EQ(form.listRowCount(), 0) << listedNames().join(",").toStdString();
    EXPECT_EQ(state.connected(), 0);
}
