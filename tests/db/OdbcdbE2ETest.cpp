// ODBCDB through unixODBC and FreeTDS against quill-standin, or the real
// server of a real-server run.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <clocale>
#include <memory>

#include "db/ODBCDB.h"
#include "support/StandinServer.h"
#include "support/TestServer.h"

using namespace quill;
using test::StandinServer;

namespace {

std::unique_ptr<StandinServer> startServer(const QByteArray& catalog,
                                           const QString& password = "Quill-Test-1") {
    StandinServer::Options o;
    o.catalogJson = catalog;
    o.password = password;
    return std::make_unique<StandinServer>(o);
}

// One server per test, and a TMPDIR of the test's own for the DSN file.
class OdbcdbE2E : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_->isRunning()) << server_->startError().toStdString();
        oldTmp_ = qgetenv("TMPDIR");
        qputenv("TMPDIR", tmp_.path().toUtf8());
        store_ = server_->createDatabase("仓库数据");
        gone_ = server_->createDatabase("Gone");
    }
    void TearDown() override { qputenv("TMPDIR", oldTmp_); }

    bool open(ODBCDB& db, const QString& database = {}) {
        return db.OpenSqlDatabase(server_->serverText(), server_->login(), server_->password(),
                                  database);
    }
    StandinServer& standin() const { return *server_->standin(); }
    QStringList tmpEntries() const {
        return QDir(tmp_.path())
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    }
    // Statements the server received.
    QStringList batches() const { return standin().logEvents("batch"); }

    std::unique_ptr<test::TestServer> server_ = std::make_unique<test::TestServer>();
    QString store_, gone_;
    QTemporaryDir tmp_;
    QByteArray oldTmp_;
    ODBCDB db;
};

}  // namespace

TEST_F(OdbcdbE2E, ConnectsAndLeavesNoDsnFileBehind) {
    ASSERT_TRUE(open(db)) << db.LastError().toStdString();
    EXPECT_TRUE(db.IsOpen());
    EXPECT_TRUE(db.ConnectString().startsWith("ODBC;")) << db.ConnectString().toStdString();
    EXPECT_TRUE(db.LastError().isEmpty());
    EXPECT_TRUE(tmpEntries().isEmpty()) << tmpEntries().join(",").toStdString();
    db.CloseDatabase();
    EXPECT_FALSE(db.IsOpen());
    if (server_->standin()) {
        EXPECT_TRUE(standin().waitForLog("login user=sa"));
        EXPECT_TRUE(standin().waitForLog(" end"));
    }
}

TEST_F(OdbcdbE2E, AFailedOpenKeepsTheConnectionHeldBefore) {
    ASSERT_TRUE(open(db));
    EXPECT_FALSE(db.OpenSqlDatabase(server_->serverText(), server_->login(), "wrong"));
    // SQL Server and the stand-in say "Login failed"; other servers their own words.
    EXPECT_FALSE(db.LastError().isEmpty());
    if (!server_->isBabelfish()) {
        EXPECT_TRUE(db.LastError().contains("Login failed")) << db.LastError().toStdString();
    }
    EXPECT_TRUE(tmpEntries().isEmpty());
    ASSERT_TRUE(db.IsOpen());
    ODBCDB::RecordSetHandle h = db.OpenTable("select @@version");
    EXPECT_NE(h, 0);
    EXPECT_FALSE(db.ReadColumn(h, 1).toText().isEmpty());
}

TEST_F(OdbcdbE2E, PasswordsWithConnectStringCharactersLogIn) {
    QUILL_NEEDS_STANDIN("logins with passwords of its choosing");
    for (const QString pw : {"a;b}c", " x=y{z} ", "}", "密码;1"}) {
        std::unique_ptr<StandinServer> server = startServer({}, pw);
        ASSERT_TRUE(server->isRunning());
        ODBCDB other;
        EXPECT_TRUE(other.OpenSqlDatabase(server->serverText(), "sa", pw))
            << pw.toStdString() << ": " << other.LastError().toStdString();
        EXPECT_FALSE(other.OpenSqlDatabase(server->serverText(), "sa", pw + "x"));
    }
}

TEST_F(OdbcdbE2E, ADatabaseNameWithBracesIsTheOneOpened) {
    const QString odd = server_->createDatabase("odd;{name}=1");
    ASSERT_TRUE(open(db, odd)) << db.LastError().toStdString();
    ODBCDB::RecordSetHandle h = db.OpenTable("select CAST(DB_NAME() AS nvarchar(128))");
    EXPECT_EQ(db.ReadColumn(h, 1).toText(), odd);
}

TEST_F(OdbcdbE2E, EmptyStatementsAndStatementsWithoutResultsGiveNoHandle) {
    ASSERT_TRUE(open(db));
    const qsizetype before = server_->standin() ? standin().logLines().size() : 0;
    EXPECT_EQ(db.OpenTable(""), 0);
    EXPECT_FALSE(db.StatementExecuted());
    if (server_->standin()) {
        EXPECT_EQ(standin().logLines().size(), before);
    }

    const QString drop = "drop database [" + gone_ + "]";
    EXPECT_EQ(db.OpenTable(drop), 0);
    EXPECT_TRUE(db.StatementExecuted());
    EXPECT_TRUE(db.LastError().isEmpty()) << db.LastError().toStdString();
    EXPECT_EQ(db.OpenTable(drop), 0);  // already gone: 3701 (Babelfish: 911)
    EXPECT_FALSE(db.StatementExecuted());
    EXPECT_TRUE(db.LastError().contains(gone_, Qt::CaseInsensitive))
        << db.LastError().toStdString();
}

TEST_F(OdbcdbE2E, BracketsBecomeQuotesOutsideLiteralsOnly) {
    ASSERT_TRUE(open(db));
    ODBCDB::RecordSetHandle h = db.OpenTable("SELECT '[lit]' AS [a b], N'x]y' AS [c]]d]");
    ASSERT_NE(h, 0) << db.LastError().toStdString();
    if (server_->standin()) {
        EXPECT_TRUE(batches().contains("SELECT '[lit]' AS \"a b\", N'x]y' AS \"c]d\""))
            << batches().join("\n").toStdString();
    }
    EXPECT_EQ(db.ReadColumn(h, "a b").toText(), "[lit]");
    EXPECT_EQ(db.ReadColumn(h, "c]d").toText(), "x]y");
}

TEST_F(OdbcdbE2E, ColumnsOutOfRangeOrInAnotherCaseReadAsEmptyText) {
    ASSERT_TRUE(open(db));
    ODBCDB::RecordSetHandle h = db.OpenTable("SELECT 7 AS Num");
    ASSERT_NE(h, 0);
    EXPECT_EQ(db.ReadColumn(h, "Num"), FieldValue::int32(7));
    for (const FieldValue& v :
         {db.ReadColumn(h, 0), db.ReadColumn(h, 2), db.ReadColumn(h, -1), db.ReadColumn(h, "num"),
          db.ReadColumn(h, "NUM"), db.ReadColumn(0, 1), db.ReadColumn(h + 1000, 1)})
        EXPECT_TRUE(v.isEmptyText());
}

TEST_F(OdbcdbE2E, RecordSetsWalkForwardAndCloseOneOrAll) {
    ASSERT_TRUE(open(db));
    ODBCDB::RecordSetHandle h = db.OpenTable("SELECT 1 AS n UNION ALL SELECT 2 UNION ALL SELECT 3");
    ASSERT_NE(h, 0);
    EXPECT_EQ(db.RecordCount(h), 3);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_FALSE(db.IsEof(h));
        EXPECT_EQ(db.ReadColumn(h, 1), FieldValue::int32(i));
        db.MoveNext(h);
    }
    EXPECT_TRUE(db.IsEof(h));
    EXPECT_EQ(db.ReadColumn(h, 1), FieldValue::int32(0));  // past the end: the kind's empty value
    db.MoveNext(h);
    EXPECT_TRUE(db.IsEof(h));

    ODBCDB::RecordSetHandle empty =
        db.OpenTable("SELECT name FROM sysdatabases WHERE name = 'nothing'");
    ASSERT_NE(empty, 0);
    EXPECT_TRUE(db.IsEof(empty));
    EXPECT_EQ(db.RecordCount(empty), 0);

    ODBCDB::RecordSetHandle other = db.OpenTable("SELECT 5 AS n");
    db.CloseTable(other);
    EXPECT_TRUE(db.ReadColumn(other, 1).isEmptyText());
    EXPECT_EQ(db.ReadColumn(h, 1), FieldValue::int32(0));
    db.CloseTable(0);
    EXPECT_TRUE(db.ReadColumn(h, 1).isEmptyText());
    EXPECT_TRUE(db.IsEof(empty));
    EXPECT_EQ(db.RecordCount(empty), 0);
}

TEST_F(OdbcdbE2E, AResultOfAnySizeTakesOneRoundTrip) {
    QUILL_NEEDS_STANDIN("its log of requests");
    QByteArray catalog = R"({"databases":[)";
    for (int i = 0; i < 300; ++i)
        catalog += QByteArray(i ? "," : "") + R"({"name":"db)" + QByteArray::number(i) + R"("})";
    std::unique_ptr<StandinServer> server = startServer(catalog + "]}");
    ASSERT_TRUE(db.OpenSqlDatabase(server->serverText(), "sa", server->password()));
    const qsizetype before = server->logLines().size();
    ODBCDB::RecordSetHandle h = db.OpenTable("select * from sysdatabases");
    ASSERT_NE(h, 0);
    EXPECT_EQ(db.RecordCount(h), 304);
    db.CloseTable(h);
    // One request, the statement as given; closing asks nothing more.
    EXPECT_EQ(server->logLines().mid(before), QStringList{"51 batch select * from sysdatabases"});
}

TEST_F(OdbcdbE2E, AServerAMillisecondAwayTakesAMillisecondARequest) {
    QUILL_NEEDS_STANDIN("its latency");
    StandinServer::Options o;
    o.extraArgs = QStringList{"--latency-us", "1000"};
    StandinServer server(o);
    ASSERT_TRUE(server.isRunning());
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(db.OpenSqlDatabase(server.serverText(), "sa", server.password()));  // 2 requests
    for (int i = 0; i < 20; ++i)
        db.CloseTable(db.OpenTable("select 1"));
    EXPECT_GE(timer.nsecsElapsed(), 22 * 1000000LL);
}

TEST_F(OdbcdbE2E, ThirtyRecordSetsAtMost) {
    ASSERT_TRUE(open(db));
    std::vector<ODBCDB::RecordSetHandle> handles;
    for (int i = 0; i < 30; ++i) {
        handles.push_back(db.OpenTable(QString("SELECT %1 AS n").arg(i)));
        ASSERT_NE(handles.back(), 0) << i;
    }
    EXPECT_EQ(db.OpenTable("SELECT 30 AS n"), 0);
    db.CloseTable(handles[7]);
    ODBCDB::RecordSetHandle again = db.OpenTable("SELECT 31 AS n");
    ASSERT_NE(again, 0);
    EXPECT_EQ(db.ReadColumn(again, 1), FieldValue::int32(31));
    EXPECT_EQ(db.ReadColumn(handles[8], 1), FieldValue::int32(8));
}

TEST_F(OdbcdbE2E, ValuesArriveTyped) {
    ASSERT_TRUE(open(db));
    ODBCDB::RecordSetHandle h = db.OpenTable(
        "SELECT 1 AS i, CAST(-2 AS smallint) AS s, CAST(200 AS tinyint) AS t, CAST(1 AS bit) AS b, "
        "CAST(0.25 AS float) AS f, "
        "CAST('2010-04-02 15:48:27' AS datetime) AS d, CAST(-12.5 AS decimal(10,2)) AS m, N'苹果' "
        "AS n, "
        "CAST(NULL AS int) AS ni, CAST(NULL AS nvarchar(10)) AS nn, CAST(NULL AS bit) AS nb, "
        "CAST(-9223372036854775807 AS bigint) AS big, 0x0A0B AS bin, "
        "CAST(N'一二三四五六七八九十' AS nvarchar(10)) AS ten");
    ASSERT_NE(h, 0) << db.LastError().toStdString();
    EXPECT_EQ(db.ReadColumn(h, "i"), FieldValue::int32(1));
    EXPECT_EQ(db.ReadColumn(h, "s"), FieldValue::int16(-2));
    EXPECT_EQ(db.ReadColumn(h, "t"), FieldValue::byte(200));
    EXPECT_EQ(db.ReadColumn(h, "b"), FieldValue::logical(true));
    EXPECT_EQ(db.ReadColumn(h, "f"), FieldValue::dbl(0.25));
    const FieldValue d = db.ReadColumn(h, "d");
    ASSERT_EQ(d.kind(), FieldValue::Kind::DateTime);
    EXPECT_NEAR(d.get<FieldValue::DateTime>()->days, 40270 + (15 * 3600 + 48 * 60 + 27) / 86400.0,
                1e-7);
    EXPECT_EQ(db.ReadColumn(h, "m"), FieldValue::text("-12.50"));
    EXPECT_EQ(db.ReadColumn(h, "n").toText(), "苹果");
    EXPECT_EQ(db.ReadColumn(h, "ni"), FieldValue::int32(0));
    EXPECT_TRUE(db.ReadColumn(h, "nn").isEmptyText());
    EXPECT_EQ(db.ReadColumn(h, "nb"), FieldValue::logical(false));
    EXPECT_EQ(db.ReadColumn(h, "big"), FieldValue::text("-9223372036854775807"));
    EXPECT_EQ(db.ReadColumn(h, "bin"), FieldValue::binary("\x0a\x0b"));
    EXPECT_EQ(db.ReadColumn(h, "ten").toText(), "一二三四五六七八九十");
}

TEST_F(OdbcdbE2E, ChineseNamesArriveWhateverTheLocale) {
    // Babelfish sends sysname columns in code page 1252 ("?" for each
    // Chinese character) and opens no database of such a name; as nvarchar
    // the names arrive there too.
    const bool babelfish = server_->isBabelfish();
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    for (const char* locale : {"C", "C.UTF-8"}) {
        ASSERT_TRUE(std::setlocale(LC_ALL, locale)) << locale;
        ODBCDB local;
        ASSERT_TRUE(open(local, babelfish ? QString() : store_))
            << locale << ": " << local.LastError().toStdString();
        ODBCDB::RecordSetHandle h =
            local.OpenTable("select DB_NAME() AS [名称], N'苹果' AS [水果]");
        EXPECT_EQ(local.ReadColumn(h, "水果").toText(), "苹果") << locale;
        if (!babelfish) {
            EXPECT_EQ(local.ReadColumn(h, "名称").toText(), store_) << locale;
        }
        h = local.OpenTable(babelfish ? "select CAST(name AS nvarchar(128)) from sysdatabases"
                                      : "select * from sysdatabases");
        QStringList names;
        for (; !local.IsEof(h); local.MoveNext(h))
            names << local.ReadColumn(h, 1).toText();
        EXPECT_TRUE(names.contains(store_)) << locale << ": " << names.join(",").toStdString();
    }
    std::setlocale(LC_ALL, saved.c_str());
}
