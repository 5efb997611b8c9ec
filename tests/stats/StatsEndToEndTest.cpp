// The statistics flows against quill-standin: what the user sees, the
// statements the server receives, and the report file byte for byte.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "stats/StatsFlows.h"
#include "support/FakeForm.h"
#include "support/StandinServer.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;

namespace {

// 12 tables holding 3456 rows; Orders has three index entries and counts
// once, with the largest. Equal counts: Beta and Alpha (the stand-in keeps
// the catalog's order for them). Names of 29, 30
// and 31 display columns, and one of 10 Chinese characters.
const QString k29 = QString(29, 'a');
const QString k30 = QString(30, 'b');
const QString k31 = QString(31, 'c');
const QString kChinese = "一二三四五六七八九十";

QByteArray catalog() {
    const QString shop = QString(R"({"name":"Shop","tables":[
        {"name":"Orders","rows":1000,"indexRows":[1000,900,1000]},
        {"name":"%1","rows":700},
        {"name":"%2","rows":600},
        {"name":"%3","rows":500},
        {"name":"%4","rows":300},
        {"name":"Beta","rows":100},
        {"name":"Alpha","rows":100},
        {"name":"Lines","schema":"sales","rows":56},
        {"name":"T1","rows":50},
        {"name":"T2","rows":40},
        {"name":"T3","rows":10},
        {"name":"Empty","rows":0}]})")
                             .arg(k29, k30, k31, kChinese);
    return (R"({"databases":[)" + shop + R"(,
        {"name":"Nothing","tables":[]},
        {"name":"Twins","tables":[{"name":"T","rows":5},{"name":"T","schema":"sales","rows":9}]},
        {"name":"Huge","tables":[{"name":"H1","rows":2000000000},{"name":"H2","rows":2000000000}]}]})")
        .toUtf8();
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A statement as the stand-in's log shows it.
QString logged(QString statement) {
    return statement.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n");
}

class StatsEndToEnd : public testing::Test {
protected:
    static void SetUpTestSuite() {
        test::StandinServer::Options options;
        options.catalogJson = catalog();
        server = new test::StandinServer(options);
    }
    static void TearDownTestSuite() { delete server; }

    void SetUp() override {
        ASSERT_TRUE(server->isRunning()) << server->startError().toStdString();
        form.setAuthIndex(1);
        form.setText(Control::编辑框1, server->serverText());
        form.setText(Control::编辑框2, server->login());
        form.setText(Control::编辑框3, server->password());
        state.setSelectedDatabaseName("Shop");
    }

    QString reportPath() const { return QDir(folder.path()).filePath("test.txt"); }

    const test::ScriptedMessageBoxes::Shown& onlyBox() const {
        static const test::ScriptedMessageBoxes::Shown none{"<no box>", {}, 0};
        EXPECT_EQ(boxes.shown.size(), 1u);
        return boxes.shown.empty() ? none : boxes.shown.back();
    }

    static test::StandinServer* server;
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

test::StandinServer* StatsEndToEnd::server = nullptr;

}  // namespace

TEST_F(StatsEndToEnd, TotalsCountTablesAndTheirLargestIndexRows) {
    struct Case {
        QString database;
        QString text;
    };
    const Case cases[] = {
        {"Shop", "Shop 共有 12 张表\r\nShop 共有 3456 条记录数"},
        {"Nothing", "Nothing 共有 0 张表\r\nNothing 共有 0 条记录数"},  // a SUM over no rows
        // 4,000,000,000 rows overflow the SUM's int; its bigint form counts them.
        {"Huge", "Huge 共有 2 张表\r\nHuge 共有 4000000000 条记录数"},
    };
    for (const Case& c : cases) {
        boxes.shown.clear();
        state.setSelectedDatabaseName(c.database);
        flows.onTableTotalsClicked();
        settle();
        EXPECT_EQ(onlyBox().text, c.text);
        EXPECT_EQ(onlyBox().caption, "运算结果:");
        EXPECT_EQ(onlyBox().flags, mb::IconInformation);
        EXPECT_FALSE(db->IsOpen());
    }
}

TEST_F(StatsEndToEnd, TheServerGetsBothStatementsAsTheyStandInTheOpenedDatabase) {
    flows.onTableTotalsClicked();
    settle();
    const QStringList batches = server->logEvents("batch");
    EXPECT_TRUE(batches.contains(logged(StatsFlows::kTableCountStatement)));
    EXPECT_TRUE(batches.contains(logged(StatsFlows::kRowTotalStatement)));
    EXPECT_TRUE(server->logEvents("login").last().contains("database=Shop"));

    flows.onTableReportClicked();

    settle();
    EXPECT_TRUE(server->logEvents("batch").contains(logged(StatsFlows::kTableListStatement)));
    // Each click closed its connection.
    EXPECT_TRUE(server->waitForLog("end"));
    EXPECT_EQ(server->logEvents("end").size(), server->logEvents("login").size());
}

TEST_F(StatsEndToEnd, SqlAuthenticationUsesTheBoxesAsTheyStandAtTheClick) {
    form.setText(Control::编辑框3, "not-the-password");
    flows.onTableTotalsClicked();
    settle();
    EXPECT_TRUE(
        onlyBox().text.startsWith("无法连接服务器 " + server->serverText() + " 上的数据库 Shop："))
        << onlyBox().text.toStdString();
    EXPECT_EQ(onlyBox().caption, "错误：");
    EXPECT_EQ(onlyBox().flags, mb::IconError);
    EXPECT_EQ(server->logEvents("login-failed").last(), "user=sa reason=password");

    boxes.shown.clear();
    form.setText(Control::编辑框2, "SA");  // the stand-in takes any letter case
    form.setText(Control::编辑框3, server->password());
    flows.onTableTotalsClicked();
    settle();
    EXPECT_EQ(onlyBox().caption, "运算结果:");
    EXPECT_TRUE(server->logEvents("login").last().startsWith("user=SA "))
        << server->logEvents("login").last().toStdString();
}

TEST_F(StatsEndToEnd, WindowsAuthenticationGoesToTheLocalDefaultInstance) {
    const int connects = server->logEvents("connect").size();
    form.setAuthIndex(0);
    for (void (StatsFlows::*click)() :
         {&StatsFlows::onTableTotalsClicked, &StatsFlows::onTableReportClicked}) {
        boxes.shown.clear();
        (flows.*click)();
        settle();
        EXPECT_TRUE(onlyBox().text.startsWith("无法连接服务器 . 上的数据库 Shop"))
            << onlyBox().text.toStdString();
    }
    EXPECT_EQ(server->logEvents("connect").size(), connects);
    EXPECT_TRUE(opener.opened.isEmpty());
}

TEST_F(StatsEndToEnd, AFailedOpenShowsWhatFailedAndNothingElse) {
    struct Case {
        QString database;
        void (StatsFlows::*click)();
        QString text;  // how the box begins
    };
    const QString missing = "无法连接服务器 " + server->serverText() + " 上的数据库 Gone：";
    const Case cases[] = {
        // A database dropped since the list was loaded.
        {"Gone", &StatsFlows::onTableTotalsClicked, missing},
        {"Gone", &StatsFlows::onTableReportClicked, missing},
    };
    for (const Case& c : cases) {
        boxes.shown.clear();
        state.setSelectedDatabaseName(c.database);
        (flows.*c.click)();
        settle();
        EXPECT_TRUE(onlyBox().text.startsWith(c.text)) << onlyBox().text.toStdString();
        EXPECT_EQ(onlyBox().caption, "错误：");
        EXPECT_FALSE(db->IsOpen());
    }
    EXPECT_EQ(server->logEvents("login-failed").last(), "user=sa reason=database");
    EXPECT_FALSE(QFile::exists(reportPath()));
    EXPECT_TRUE(opener.opened.isEmpty());
}

TEST_F(StatsEndToEnd, ReportListsTablesLargestFirstFilledToThirtyColumns) {
    flows.onTableReportClicked();
    settle();
    EXPECT_TRUE(boxes.shown.empty()) << onlyBox().text.toStdString();
    ASSERT_EQ(opener.opened, QStringList{reportPath()});

    const QByteArray expected =
        QByteArray("[Table Name]                    [Number]\r\n") +
        "Orders                          1000\r\n" + k29.toUtf8() + "   700\r\n" + k30.toUtf8() +
        "  600\r\n" + k31.toUtf8() + "  500\r\n" + kChinese.toUtf8() + "            300\r\n" +
        "Beta                            100\r\n" +  // equal counts: the server's order
        "Alpha                           100\r\n" + "Lines                           56\r\n" +
        "T1                              50\r\n" + "T2                              40\r\n" +
        "T3                              10\r\n" + "Empty                           0\r\n";
    EXPECT_EQ(fileBytes(reportPath()).toStdString(), expected.toStdString());
}

TEST_F(StatsEndToEnd, EachReportReplacesTheLastAndStopsWhereTheListEnds) {
    struct Case {
        QString database;
        QByteArray body;
    };
    const Case cases[] = {
        {"Shop", {}},  // a long report first, so that leftovers would show
        {"Nothing", ""},
        // Two tables named T in two schemas: counted twice, listed once.
        {"Twins", "T                               9\r\n"},
    };
    for (const Case& c : cases) {
        state.setSelectedDatabaseName(c.database);
        flows.onTableReportClicked();
        settle();
        if (!c.body.isNull()) {
            EXPECT_EQ(fileBytes(reportPath()),
                      "[Table Name]                    [Number]\r\n" + c.body)
                << c.database.toStdString();
        }
    }
    EXPECT_EQ(opener.opened.size(), 3);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(StatsEndToEnd, AReportThatCannotBeWrittenIsNotOpened) {
    StatsFlows nowhere{form, state, boxes, opener, db, {"/proc", "/proc/no-such/Quillstep"}};
    nowhere.onTableReportClicked();
    settle(nowhere);
    EXPECT_TRUE(onlyBox().text.startsWith("无法写入报告文件 /proc/no-such/Quillstep/test.txt："))
        << onlyBox().text.toStdString();
    EXPECT_EQ(onlyBox().caption, "错误：");
    EXPECT_TRUE(opener.opened.isEmpty());
}

TEST_F(StatsEndToEnd, AReportTheDesktopCannotOpenIsStillWrittenAndNamed) {
    opener.result = false;
    flows.onTableReportClicked();
    settle();
    EXPECT_TRUE(fileBytes(reportPath()).startsWith("[Table Name]"));
    EXPECT_EQ(onlyBox().text, "报告已写入 " + reportPath() + "，但无法用默认程序打开它。");
    EXPECT_EQ(onlyBox().caption, "提示！");
}
