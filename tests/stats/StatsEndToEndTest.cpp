// The statistics flows against quill-standin, or the real server of a
// real-server run: what the user sees, the statements the server receives,
// and the report file byte for byte.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "stats/StatsFlows.h"
#include "support/FakeForm.h"
#include "support/StandinServer.h"
#include "support/TestServer.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;

namespace {

// Names of 29, 30 and 31 display columns, and one of 10 Chinese characters.
const QString k29 = QString(29, 'a');
const QString k30 = QString(30, 'b');
const QString k31 = QString(31, 'c');
const QString kChinese = "一二三四五六七八九十";

// 12 tables holding 3446 rows (names in lower case, as Babelfish would
// report them anyway); orders has several index entries and counts once.
std::vector<test::TableSpec> shopTables() {
    return {{"orders", 1000, "dbo", true},
            {k29, 700},
            {k30, 600},
            {k31, 500},
            {kChinese, 300},
            {"beta", 100},
            {"alpha", 90},
            {"lines", 56, "sales"},
            {"t1", 50},
            {"t2", 40},
            {"t3", 10},
            {"empty", 0}};
}

// What no real server could hold: 4,000,000,000 rows, and index entries
// that disagree.
const QByteArray kStandinCatalog = R"({"databases":[
    {"name":"Huge","tables":[{"name":"H1","rows":2000000000},{"name":"H2","rows":2000000000}]},
    {"name":"Indexed","tables":[{"name":"orders","rows":1000,"indexRows":[1000,900,1000]}]}]})";

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
        options.catalogJson = kStandinCatalog;
        server = new test::TestServer(options);
        if (!server->isRunning())
            return;
        shop = server->createDatabase("Shop", shopTables());
        nothing = server->createDatabase("Nothing");
        // Two tables named t in two schemas: counted twice, listed once.
        twins = server->createDatabase("Twins", {{"t", 5}, {"t", 9, "sales"}});
    }
    static void TearDownTestSuite() { delete server; }

    void SetUp() override {
        ASSERT_TRUE(server->isRunning()) << server->startError().toStdString();
        ASSERT_FALSE(shop.isEmpty());
        form.setAuthIndex(1);
        form.setText(Control::编辑框1, server->serverText());
        form.setText(Control::编辑框2, server->login());
        form.setText(Control::编辑框3, server->password());
        state.setSelectedDatabaseName(shop);
    }

    QString reportPath() const { return QDir(folder.path()).filePath("test.txt"); }

    const test::ScriptedMessageBoxes::Shown& onlyBox() const {
        static const test::ScriptedMessageBoxes::Shown none{"<no box>", {}, 0};
        EXPECT_EQ(boxes.shown.size(), 1u);
        return boxes.shown.empty() ? none : boxes.shown.back();
    }
    // Until the click's work is done and its result shown.
    void settle(const StatsFlows& f) {
        ASSERT_TRUE(test::waitUntil([&] { return f.idle(); }, 30000));
    }
    void settle() { settle(flows); }

    static test::TestServer* server;
    static QString shop, nothing, twins;
    test::FakeForm form;
    ProgramState state;
    test::ScriptedMessageBoxes boxes;
    test::RecordingOpener opener;
    std::shared_ptr<ODBCDB> db = std::make_shared<ODBCDB>();
    QTemporaryDir folder;
    StatsFlows flows{form, state, boxes, opener, db, {folder.path(), folder.filePath("docs")}};
};

test::TestServer* StatsEndToEnd::server = nullptr;
QString StatsEndToEnd::shop, StatsEndToEnd::nothing, StatsEndToEnd::twins;

}  // namespace

TEST_F(StatsEndToEnd, TotalsCountTablesAndTheirLargestIndexRows) {
    struct Case {
        QString database;
        QString text;
    };
    std::vector<Case> cases = {
        {shop, shop + " 共有 12 张表\r\n" + shop + " 共有 3446 条记录数"},
        {nothing, nothing + " 共有 0 张表\r\n" + nothing + " 共有 0 条记录数"},  // SUM of no rows
        {twins, twins + " 共有 2 张表\r\n" + twins + " 共有 9 条记录数"},
    };
    if (server->standin()) {
        // 4,000,000,000 rows overflow the SUM's int; its bigint form counts them.
        cases.push_back({"Huge", "Huge 共有 2 张表\r\nHuge 共有 4000000000 条记录数"});
        cases.push_back({"Indexed", "Indexed 共有 1 张表\r\nIndexed 共有 1000 条记录数"});
    }
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

TEST_F(StatsEndToEnd, TheServerGetsTheStatementsAsTheyStandInTheOpenedDatabase) {
    QUILL_NEEDS_STANDIN("its log of statements");
    test::StandinServer& standin = *server->standin();
    flows.onTableTotalsClicked();
    settle();
    const QStringList batches = standin.logEvents("batch");
    EXPECT_TRUE(batches.contains(logged(StatsFlows::kTableCountStatement)));
    EXPECT_TRUE(batches.contains(logged(StatsFlows::kRowTotalStatement)));
    EXPECT_TRUE(standin.logEvents("login").last().contains("database=Shop"));

    flows.onTableReportClicked();
    settle();
    EXPECT_TRUE(standin.logEvents("batch").contains(logged(StatsFlows::kTableListStatement)));
    // Each click closed its connection.
    EXPECT_TRUE(test::waitUntil(
        [&] { return standin.logEvents("end").size() == standin.logEvents("login").size(); }));
}

TEST_F(StatsEndToEnd, SqlAuthenticationUsesTheBoxesAsTheyStandAtTheClick) {
    form.setText(Control::编辑框3, "not-the-password");
    flows.onTableTotalsClicked();
    settle();
    EXPECT_TRUE(onlyBox().text.startsWith("无法连接服务器 " + server->serverText() +
                                          " 上的数据库 " + shop + "："))
        << onlyBox().text.toStdString();
    EXPECT_EQ(onlyBox().caption, "错误：");
    EXPECT_EQ(onlyBox().flags, mb::IconError);
    if (server->standin()) {
        EXPECT_EQ(server->standin()->logEvents("login-failed").last(), "user=sa reason=password");
    }

    boxes.shown.clear();
    form.setText(Control::编辑框3, server->password());
    flows.onTableTotalsClicked();
    settle();
    EXPECT_EQ(onlyBox().caption, "运算结果:");
}

TEST_F(StatsEndToEnd, WindowsAuthenticationGoesToTheLocalDefaultInstance) {
    form.setAuthIndex(0);
    for (void (StatsFlows::*click)() :
         {&StatsFlows::onTableTotalsClicked, &StatsFlows::onTableReportClicked}) {
        boxes.shown.clear();
        (flows.*click)();
        settle();
        EXPECT_TRUE(onlyBox().text.startsWith("无法连接服务器 . 上的数据库 " + shop))
            << onlyBox().text.toStdString();
    }
    EXPECT_TRUE(opener.opened.isEmpty());
}

TEST_F(StatsEndToEnd, AFailedOpenShowsWhatFailedAndNothingElse) {
    // A database dropped since the list was loaded.
    const QString gone = server->databaseName("Gone");
    const QString missing = "无法连接服务器 " + server->serverText() + " 上的数据库 " + gone + "：";
    state.setSelectedDatabaseName(gone);
    for (void (StatsFlows::*click)() :
         {&StatsFlows::onTableTotalsClicked, &StatsFlows::onTableReportClicked}) {
        boxes.shown.clear();
        (flows.*click)();
        settle();
        EXPECT_TRUE(onlyBox().text.startsWith(missing)) << onlyBox().text.toStdString();
        EXPECT_EQ(onlyBox().caption, "错误：");
        EXPECT_FALSE(db->IsOpen());
    }
    if (server->standin()) {
        EXPECT_EQ(server->standin()->logEvents("login-failed").last(), "user=sa reason=database");
    }
    EXPECT_FALSE(QFile::exists(reportPath()));
    EXPECT_TRUE(opener.opened.isEmpty());
}

TEST_F(StatsEndToEnd, BabelfishSaysWhyADatabaseNamedInChineseCannotBeOpened) {
    if (!server->isBabelfish())
        GTEST_SKIP() << "only Babelfish opens no database whose name is not ASCII";
    // It lists the database, then answers that it does not exist.
    state.setSelectedDatabaseName(server->createDatabase("仓库数据"));
    flows.onTableTotalsClicked();
    settle();
    EXPECT_TRUE(onlyBox().text.endsWith("：Babelfish 无法打开名称含非 ASCII 字符的数据库"))
        << onlyBox().text.toStdString();
}

TEST_F(StatsEndToEnd, ReportListsTablesLargestFirstFilledToThirtyColumns) {
    flows.onTableReportClicked();
    settle();
    EXPECT_TRUE(boxes.shown.empty()) << onlyBox().text.toStdString();
    ASSERT_EQ(opener.opened, QStringList{reportPath()});

    const QByteArray expected =
        QByteArray("[Table Name]                    [Number]\r\n") +
        "orders                          1000\r\n" + k29.toUtf8() + "   700\r\n" + k30.toUtf8() +
        "  600\r\n" + k31.toUtf8() + "  500\r\n" + kChinese.toUtf8() + "            300\r\n" +
        "beta                            100\r\n" + "alpha                           90\r\n" +
        "lines                           56\r\n" + "t1                              50\r\n" +
        "t2                              40\r\n" + "t3                              10\r\n" +
        "empty                           0\r\n";
    EXPECT_EQ(fileBytes(reportPath()).toStdString(), expected.toStdString());
}

TEST_F(StatsEndToEnd, EachReportReplacesTheLastAndStopsWhereTheListEnds) {
    struct Case {
        QString database;
        QByteArray body;
    };
    const Case cases[] = {
        {shop, {}},  // a long report first, so that leftovers would show
        {nothing, ""},
        // Two tables named t in two schemas: counted twice, listed once.
        {twins, "t                               9\r\n"},
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
