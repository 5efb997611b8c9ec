// The statements the stand-in executes, run directly against a catalog.
#include <gtest/gtest.h>

#include "Recorder.h"

using namespace standin;
using namespace standin::test;

namespace {

// The statistics statements exactly as the tool sends them.
const QString kTableCount = QString::fromUtf8(
    "select count(1) from sysobjects where xtype='U'  \r\n"
    "------------------------------ "
    "\u2018\u67e5\u8be2\u8868\u6570\u2019------------------------------------");
const QString kRowTotal = QString::fromUtf8(
    "SELECT   SUM(\u8bb0\u5f55\u6761\u6570) AS \u603b\u8bb0\u5f55\u6570\r\n"
    "FROM      (SELECT   TOP (10000) a.name AS \u8868\u540d, MAX(b.rows) AS "
    "\u8bb0\u5f55\u6761\u6570\r\n"
    "                 FROM      sys.sysobjects AS a INNER JOIN\r\n"
    "                                 sys.sysindexes AS b ON a.id = b.id\r\n"
    "                 WHERE   (a.xtype = 'u')\r\n"
    "                 GROUP BY a.name\r\n"
    "                 ORDER BY \u8bb0\u5f55\u6761\u6570 DESC) AS t1");
const QString kTableList = QString::fromUtf8(
    "SELECT   a.name AS \u8868\u540d, MAX(b.rows) AS \u8bb0\u5f55\u6761\u6570\r\n"
    "FROM      sys.sysobjects AS a INNER JOIN\r\n"
    "                sys.sysindexes AS b ON a.id = b.id\r\n"
    "WHERE   (a.xtype = 'u')\r\n"
    "GROUP BY a.name\r\n"
    "ORDER BY \u8bb0\u5f55\u6761\u6570 DESC\r\n");

Database& shop(Sql& sql) {
    Database& db = sql.state.catalog.create(u"Shop");
    DateTime now = dateTimeNow();
    db.addTable(u"dbo", u"Orders", 120, {120, 80}, now);
    db.addTable(u"dbo", u"\u5ba2\u6237", 300, {}, now);  // 客户
    db.addTable(u"dbo", u"Empty", 0, {}, now);
    db.addTable(u"sales", u"Orders", 7, {150}, now);  // same name, another schema
    db.addTable(u"dbo", u"Items", 300, {}, now);
    return db;
}

TEST(StandinTool, VersionIsTheConfiguredText) {
    Sql sql;
    auto r = sql.run("select @@version");
    ASSERT_EQ(r.results.size(), 1u);
    ASSERT_EQ(r.results[0].columns.size(), 1u);
    EXPECT_EQ(r.results[0].columns[0].type.type, SqlType::NVarChar);
    EXPECT_EQ(text(r.results[0].rows.at(0).at(0)),
              QString::fromStdU16String(sql.state.config.versionText));
}

TEST(StandinTool, DatabaseListHasNameFirstAndSystemDatabasesInIdOrder) {
    Sql sql;
    shop(sql);
    auto count = sql.run("SELECT COUNT(name) FROM sysdatabases");
    EXPECT_EQ(integer(count.results.at(0).rows.at(0).at(0)), 5);
    EXPECT_EQ(count.results[0].columns[0].type.type, SqlType::Int);

    auto all = sql.run("select * from sysdatabases");
    ASSERT_EQ(all.results.size(), 1u);
    const ResultSet& rs = all.results[0];
    EXPECT_EQ(QString::fromStdU16String(rs.columns.at(0).name), "name");
    EXPECT_GE(rs.columns.size(), 10u);
    QStringList names;
    for (const auto& row : rs.rows)
        names << text(row[0]);
    EXPECT_EQ(names, QStringList({"master", "tempdb", "model", "msdb", "Shop"}));
    EXPECT_EQ(all.counts(), std::vector<std::uint64_t>{5});
}

TEST(StandinTool, StatisticsStatementsComputeFromTheCatalog) {
    Sql sql;
    shop(sql);
    sql.session.database = u"Shop";

    auto tables = sql.run(kTableCount);
    ASSERT_EQ(tables.errorNumbers(), std::vector<int>{});
    EXPECT_EQ(integer(tables.results.at(0).rows.at(0).at(0)), 5);  // user tables only, both Orders

    // Per name, the largest index count: Orders 150 (sales schema), 客户 300,
    // Items 300, Empty 0.
    auto total = sql.run(kRowTotal);
    ASSERT_EQ(total.errorNumbers(), std::vector<int>{});
    EXPECT_EQ(integer(total.results.at(0).rows.at(0).at(0)), 750);
    EXPECT_EQ(total.results[0].columns[0].type.type, SqlType::Int);

    auto list = sql.run(kTableList);
    ASSERT_EQ(list.errorNumbers(), std::vector<int>{});
    const ResultSet& rs = list.results.at(0);
    ASSERT_EQ(rs.columns.size(), 2u);
    EXPECT_EQ(rs.columns[1].type.type, SqlType::Int);
    QStringList rows;
    for (const auto& row : rs.rows)
        rows << text(row[0]) + "=" + QString::number(integer(row[1]));
    // Equal counts keep the order the tables were created in.
    EXPECT_EQ(rows, QStringList({QString::fromUtf8("\u5ba2\u6237=300"), "Items=300", "Orders=150",
                                 "Empty=0"}));
}

TEST(StandinTool, StatisticsOfADatabaseWithoutTables) {
    Sql sql;
    sql.state.catalog.create(u"Blank");
    sql.session.database = u"Blank";
    EXPECT_EQ(integer(sql.run(kTableCount).results.at(0).rows.at(0).at(0)), 0);
    auto total = sql.run(kRowTotal);
    EXPECT_TRUE(isNull(total.results.at(0).rows.at(0).at(0)));  // SUM over nothing
    EXPECT_TRUE(sql.run(kTableList).results.at(0).rows.empty());
}

TEST(StandinTool, RowTotalCountsOnlyTheTenThousandLargestTables) {
    Sql sql;
    Database& db = sql.state.catalog.create(u"Big");
    for (int i = 0; i < 10005; ++i)
        db.addTable(u"dbo", u"t" + fromUtf8(std::to_string(i)), i < 10000 ? 2 : 1, {}, DateTime{});
    sql.session.database = u"Big";
    EXPECT_EQ(integer(sql.run(kRowTotal).results.at(0).rows.at(0).at(0)), 20000);
    EXPECT_EQ(integer(sql.run(kTableCount).results.at(0).rows.at(0).at(0)), 10005);
}

TEST(StandinTool, RowTotalBeyondIntOverflowsLikeTheServer) {
    Sql sql;
    Database& db = sql.state.catalog.create(u"Huge");
    db.addTable(u"dbo", u"a", 2000000000, {}, DateTime{});
    db.addTable(u"dbo", u"b", 2000000000, {}, DateTime{});
    sql.session.database = u"Huge";
    auto r = sql.run(kRowTotal);
    EXPECT_EQ(r.errorNumbers(), std::vector<int>{8115});
    EXPECT_TRUE(r.results.empty());
}

TEST(StandinDrop, OutcomesOfDropDatabase) {
    struct Case {
        const char* sql;
        int error;
        bool dropsShop;
    };
    const Case cases[] = {
        {"drop database [Shop]", 0, true},
        {"drop database \"Shop\"", 0, true},  // the tool's brackets, rewritten to quotes
        {"DROP DATABASE shop", 0, true},
        {"drop database [Nope]", 3701, false},
        {"drop database if exists [Nope]", 0, false},
        {"drop database [master]", 3708, false},
        {"drop database [InUse]", 3702, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        Sql sql;
        shop(sql);
        sql.state.catalog.create(u"InUse");
        sql.state.sessionDatabase[60] = u"InUse";  // another session sits in it
        auto r = sql.run(c.sql);
        EXPECT_EQ(sql.state.catalog.find(u"Shop") == nullptr, c.dropsShop);
        EXPECT_NE(sql.state.catalog.find(u"InUse"), nullptr);
        if (c.error == 0) {
            EXPECT_EQ(r.errorNumbers(), std::vector<int>{});
        } else {
            EXPECT_EQ(r.errorNumbers(), std::vector<int>{c.error});
            EXPECT_EQ(r.messages.at(0).severity, 16);
        }
    }
}

TEST(StandinDrop, BracketsInNamesAndTheInUseMessage) {
    Sql sql;
    sql.state.catalog.create(u"a]b");
    EXPECT_EQ(sql.run("drop database [a]]b]").errorNumbers(), std::vector<int>{});
    EXPECT_EQ(sql.state.catalog.find(u"a]b"), nullptr);

    sql.state.catalog.create(u"Busy");
    SessionState other{61};
    sql.run("USE [Busy]", other);
    sql.state.sessionDatabase[61] = u"Busy";
    auto r = sql.run("drop database [Busy]");
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(QString::fromStdU16String(r.messages[0].text),
              "Cannot drop database \"Busy\" because it is currently in use.");
}

TEST(StandinBatch, EachCountedStatementGetsItsOwnDone) {
    Sql sql;
    shop(sql);
    auto r = sql.run(
        "USE Shop\nINSERT INTO Orders VALUES (1, N'a')\n"
        "insert [dbo].[Orders] ([id], [name]) values (2, N'b'), (3, N'c;)'), (4, "
        "CAST(0x0000A56F00AB307A AS DateTime));\n"
        "PRINT 'done'");
    EXPECT_EQ(r.errorNumbers(), std::vector<int>{});
    EXPECT_EQ(r.counts(), (std::vector<std::uint64_t>{1, 3}));
    EXPECT_EQ(r.dones.at(0).curCmd, curcmd::kInsert);
    EXPECT_EQ(sql.table(u"Shop", u"Orders")->rows, 124);
    EXPECT_EQ(sql.table(u"Shop", u"Orders")->indexRows, (std::vector<std::int64_t>{124, 84}));
    ASSERT_EQ(r.databases, std::vector<std::u16string>{u"Shop"});
    EXPECT_EQ(r.messages.front().number, 5701);
    EXPECT_EQ(QString::fromStdU16String(r.messages.back().text), "done");
}

TEST(StandinBatch, ValuesGroupsEndAtTheirOwnParenthesis) {
    struct Case {
        const char* sql;
        std::vector<std::uint64_t> counts;
        int error;  // and its line
        int line;
    };
    const Case cases[] = {
        {"insert Shop.dbo.Items values (N'a)b'), ('it''s (x'), ([c]]d]), (\"q)\")", {4}, 0, 0},
        {"insert Shop.dbo.Items values ((1 + (2)) * 3, CAST(N'2023-12-24' AS DateTime))",
         {1},
         0,
         0},
        {"insert Shop.dbo.Items values (1 -- a ) in a comment\n, 2)\ninsert Shop.dbo.Items values "
         "(3)",
         {1, 1},
         0,
         0},
        {"insert Shop.dbo.Items values (1 /* ) */, 2)", {1}, 0, 0},
        {"insert Shop.dbo.Items values (N'line\nbreak', 2)\n\ninsert Shop.dbo.Items values (1) "
         "oops",
         {},
         102,
         4},
        {"insert Shop.dbo.Items values (1, N'open)", {}, 105, 1},
        {"insert Shop.dbo.Items values (1, (2)\n", {}, 102, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        Sql sql;
        shop(sql);
        auto r = sql.run(QString::fromUtf8(c.sql));
        EXPECT_EQ(r.counts(), c.counts);
        if (c.error) {
            ASSERT_EQ(r.errorNumbers(), std::vector<int>{c.error});
            EXPECT_EQ(r.messages[0].line, c.line);
        } else {
            EXPECT_EQ(r.errorNumbers(), std::vector<int>{});
        }
    }
}

TEST(StandinBatch, NoCountDropsTheCountButKeepsTheDone) {
    Sql sql;
    shop(sql);
    auto r = sql.run("SET NOCOUNT ON; INSERT Shop.dbo.Items VALUES (1)");
    ASSERT_EQ(r.dones.size(), 1u);
    EXPECT_EQ(r.dones[0].status & done::kCount, 0);
    EXPECT_EQ(sql.table(u"Shop", u"Items")->rows, 301);
}

TEST(StandinBatch, ASyntaxErrorAnywhereRunsNothing) {
    Sql sql;
    shop(sql);
    auto r = sql.run(
        "INSERT Shop.dbo.Items VALUES (1)\n\nINSERT Shop.dbo.Items VALUES (1) garbage here\n");
    ASSERT_EQ(r.errorNumbers(), std::vector<int>{102});
    EXPECT_EQ(QString::fromStdU16String(r.messages[0].text), "Incorrect syntax near 'garbage'.");
    EXPECT_EQ(r.messages[0].line, 3);
    EXPECT_EQ(sql.table(u"Shop", u"Items")->rows, 300);
}

TEST(StandinBatch, SyntaxErrorsNameTheTokenAndLine) {
    struct Case {
        const char* sql;
        const char* near;
        int line;
    };
    const Case cases[] = {
        {"selec 1", "selec", 1},
        {"select 1\r\nfrom", "from", 2},
        {"PRINT 'a'\n\n  GO", "GO", 3},
        {"insert into t values (1,", ",", 1},
        {"/* a\nb */ drop database", "database", 2},
        {"create table t (a int", "int", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        Sql sql;
        auto r = sql.run(c.sql);
        ASSERT_EQ(r.errorNumbers(), std::vector<int>{102});
        EXPECT_EQ(QString::fromStdU16String(r.messages[0].text),
                  QString("Incorrect syntax near '%1'.").arg(c.near));
        EXPECT_EQ(r.messages[0].line, c.line);
        EXPECT_EQ(r.messages[0].severity, 15);
    }
}

TEST(StandinBatch, MissingObjectsStopTheBatchOtherErrorsDoNot) {
    Sql sql;
    shop(sql);
    auto r = sql.run("use Shop\ndrop table Nope\nselect * from Nope\nprint 'not reached'");
    EXPECT_EQ(r.errorNumbers(), (std::vector<int>{3701, 208}));
    EXPECT_EQ(QString::fromStdU16String(r.messages.back().text), "Invalid object name 'Nope'.");
    EXPECT_EQ(r.messages.back().line, 3);
    for (const auto& m : r.messages)
        EXPECT_NE(QString::fromStdU16String(m.text), "not reached");
}

TEST(StandinBatch, UnclosedQuotesAndComments) {
    Sql sql;
    EXPECT_EQ(sql.run("print 'abc").errorNumbers(), std::vector<int>{105});
    EXPECT_EQ(sql.run("print 1 /* open /* nested */ still open").errorNumbers(),
              std::vector<int>{113});
}

// Pieces of the scripts SQL Server Management Studio generates.
TEST(StandinScripts, GeneratedScriptStatementsAreAccepted) {
    const char* script[] = {
        "USE [master]",
        "/****** Object:  Database [Shop2]    Script Date: 2024/1/2 10:00:00 ******/\n"
        "CREATE DATABASE [Shop2]\n CONTAINMENT = NONE\n ON  PRIMARY \n"
        "( NAME = N'Shop2', FILENAME = N'C:\\Program Files\\MSSQL\\DATA\\Shop2.mdf' , SIZE = "
        "8192KB , MAXSIZE = UNLIMITED, FILEGROWTH = 65536KB )\n"
        " LOG ON \n( NAME = N'Shop2_log', FILENAME = N'C:\\x\\Shop2_log.ldf' , SIZE = 8192KB , "
        "FILEGROWTH = 65536KB )\n"
        " WITH CATALOG_COLLATION = DATABASE_DEFAULT, LEDGER = OFF",
        "ALTER DATABASE [Shop2] SET COMPATIBILITY_LEVEL = 100",
        "IF (1 = FULLTEXTSERVICEPROPERTY('IsFullTextInstalled'))\nbegin\nEXEC "
        "[Shop2].[dbo].[sp_fulltext_database] @action = 'enable'\nend",
        "ALTER DATABASE [Shop2] SET ANSI_NULL_DEFAULT OFF ",
        "ALTER DATABASE [Shop2] SET  READ_WRITE ",
        "ALTER DATABASE [Shop2] SET QUERY_STORE (OPERATION_MODE = READ_WRITE, CLEANUP_POLICY = "
        "(STALE_QUERY_THRESHOLD_DAYS = 30))",
        "USE [Shop2]",
        "SET ANSI_NULLS ON",
        "SET QUOTED_IDENTIFIER ON",
        "CREATE TABLE [dbo].[Goods](\n\t[id] [int] IDENTITY(1,1) NOT NULL,\n\t[name] "
        "[nvarchar](50) NULL,\n"
        "\t[price] [decimal](18, 2) NULL,\n CONSTRAINT [PK_Goods] PRIMARY KEY CLUSTERED "
        "\n(\n\t[id] ASC\n)"
        "WITH (PAD_INDEX = OFF, STATISTICS_NORECOMPUTE = OFF) ON [PRIMARY]\n) ON [PRIMARY] "
        "TEXTIMAGE_ON [PRIMARY]",
        "CREATE TABLE [dbo].[\u8ba2\u5355]([id] [int] NOT NULL, [goods] [int] NULL) ON [PRIMARY]",
        "ALTER TABLE [dbo].[Goods] ADD  CONSTRAINT [DF_Goods_price]  DEFAULT ((0)) FOR [price]",
        "ALTER TABLE [dbo].[\u8ba2\u5355]  WITH CHECK ADD  CONSTRAINT [FK_x] FOREIGN KEY([goods])\n"
        "REFERENCES [dbo].[Goods] ([id])\nON UPDATE CASCADE\nON DELETE CASCADE",
        "ALTER TABLE [dbo].[\u8ba2\u5355] CHECK CONSTRAINT [FK_x]",
        "CREATE NONCLUSTERED INDEX [IX_Goods_name] ON [dbo].[Goods]\n([name] ASC)\nWHERE ([name] "
        "IS NOT NULL)\n"
        "WITH (SORT_IN_TEMPDB = OFF, DROP_EXISTING = OFF) ON [PRIMARY]",
        "EXEC sys.sp_addextendedproperty @name=N'MS_Description', @value=N'\u5546\u54c1' , "
        "@level0type=N'SCHEMA',"
        "@level0name=N'dbo', @level1type=N'TABLE',@level1name=N'Goods'",
        "CREATE VIEW [dbo].[v] AS\nSELECT id FROM dbo.Goods WHERE price > 1\nUNION ALL SELECT 1",
        "create procedure dbo.p @a int = 1 as begin set nocount on; update Goods set price = @a; "
        "end",
        "GRANT SELECT ON [dbo].[Goods] TO [public]",
        "SET IDENTITY_INSERT [dbo].[Goods] ON ",
        "INSERT [dbo].[Goods] ([id], [name], [price]) VALUES (1, N'\u82f9\u679c', CAST(2.50 AS "
        "Decimal(18, 2)))\n"
        "INSERT [dbo].[Goods] ([id], [name], [price]) VALUES (2, N'O''Brien -- not a comment', "
        "NULL)\n"
        "INSERT [dbo].[Goods] ([id], [name], [price]) VALUES (3, N'line one\r\nGO\r\nline two', "
        "-1.5E+2)",
        "SET IDENTITY_INSERT [dbo].[Goods] OFF",
        "INSERT [dbo].[\u8ba2\u5355] ([id], [goods]) VALUES (1, 1), (2, 1)",
        "BEGIN TRANSACTION\nDECLARE @n int = (SELECT 1)\nCOMMIT TRAN",
        "SET ANSI_PADDING, ANSI_WARNINGS, CONCAT_NULL_YIELDS_NULL, ARITHABORT ON; SET TRANSACTION "
        "ISOLATION LEVEL READ COMMITTED",
        "if not exists (select * from sys.objects where name = N'x') begin create table x (a int) "
        "end else print 'has x'",
        "DBCC CHECKIDENT ('dbo.Goods', RESEED, 3)",
    };
    Sql sql;
    for (const char* batch : script) {
        SCOPED_TRACE(batch);
        auto r = sql.run(QString::fromUtf8(batch));
        EXPECT_EQ(r.errorNumbers(), std::vector<int>{});
    }
    ASSERT_NE(sql.state.catalog.find(u"Shop2"), nullptr);
    EXPECT_EQ(sql.table(u"Shop2", u"Goods")->rows, 3);
    EXPECT_EQ(sql.table(u"Shop2", u"\u8ba2\u5355")->rows, 2);
    EXPECT_EQ(sql.session.database, u"Shop2");
    EXPECT_EQ(sql.session.tranCount, 0);
}

TEST(StandinScripts, CatalogErrorsOfDdl) {
    struct Case {
        const char* sql;
        int error;
    };
    const Case cases[] = {
        {"create database Shop", 1801},
        {"create table Shop.dbo.Orders (a int)", 2714},
        {"create table Nodb.dbo.t (a int)", 2702},
        {"use [Nowhere]", 911},
        {"truncate table Shop.dbo.Nope", 4701},
        {"insert into Shop.dbo.Nope values (1)", 208},
        {"commit", 3902},
        {"rollback tran", 3903},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        Sql sql;
        shop(sql);
        EXPECT_EQ(sql.run(c.sql).errorNumbers(), std::vector<int>{c.error});
    }
}

TEST(StandinScripts, TruncateAndDropTableChangeTheCatalog) {
    Sql sql;
    shop(sql);
    sql.run("use Shop; truncate table Orders; drop table if exists Nope, [sales].[Orders]");
    EXPECT_EQ(sql.table(u"Shop", u"Orders")->rows, 0);
    EXPECT_EQ(sql.table(u"Shop", u"Orders")->indexRows, (std::vector<std::int64_t>{0, 0}));
    EXPECT_EQ(sql.table(u"Shop", u"Orders", u"sales"), nullptr);
    auto r = sql.run("select count(*) from Orders; select count_big(*) from dbo.Items");
    EXPECT_EQ(integer(r.results.at(0).rows.at(0).at(0)), 0);
    EXPECT_EQ(integer(r.results.at(1).rows.at(0).at(0)), 300);
    EXPECT_EQ(r.results.at(1).columns[0].type.type, SqlType::BigInt);
    EXPECT_EQ(sql.run("select * from Items").errorNumbers(), std::vector<int>{50000});
}

TEST(StandinMessages, PrintAndRaiseError) {
    struct Case {
        const char* sql;
        int number;
        int severity;
        int state;
        const char* text;
    };
    const Case cases[] = {
        {"PRINT N'\u4e2d\u6587 ' + 'text'", 0, 0, 1, "\u4e2d\u6587 text"},
        {"print 42", 0, 0, 1, "42"},
        {"RAISERROR('info', 10, 1)", 50000, 10, 1, "info"},
        {"RAISERROR(N'bad %s at %d%%', 16, 3, N'row', 7)", 50000, 16, 3, "bad row at 7%"},
        {"raiserror('[%5d|%-4s|%03i]', 11, 1, 42, 'ab', 7)", 50000, 11, 1, "[   42|ab  |007]"},
        {"RAISERROR('stop', 16, 127)", 50000, 16, 127, "stop"},
        {"RAISERROR(60000, 16, 1)", 60000, 16, 1, nullptr},
        {"RAISERROR('too high', 19, 1)", 2754, 16, 1, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        Sql sql;
        auto r = sql.run(QString::fromUtf8(c.sql));
        ASSERT_EQ(r.messages.size(), 1u);
        EXPECT_EQ(r.messages[0].number, c.number);
        EXPECT_EQ(r.messages[0].severity, c.severity);
        EXPECT_EQ(r.messages[0].state, c.state);
        if (c.text) {
            EXPECT_EQ(QString::fromStdU16String(r.messages[0].text), QString::fromUtf8(c.text));
        }
        // Errors end their statement with a DONE flagged as an error.
        EXPECT_EQ(!r.dones.empty() && (r.dones[0].status & done::kError), c.severity > 10);
    }
}

TEST(StandinMessages, SeverityTwentyEndsTheConnection) {
    Sql sql;
    Recorder r;
    Executor ex(sql.state, sql.session, r, nullptr);
    ex.runText(u"RAISERROR('fatal', 20, 1) WITH LOG; PRINT 'after'");
    EXPECT_TRUE(ex.fatal());
    EXPECT_EQ(r.messages.size(), 1u);
}

TEST(StandinSelect, LiteralRowsWithTypes) {
    Sql sql;
    auto r = sql.run(QString::fromUtf8(
        "SELECT 1 AS id, N'\u82f9\u679c' AS name, CAST(1.5 AS decimal(10,2)) AS price, "
        "CAST('2024-01-02 03:04:05.123' AS datetime) AS made, CAST(1 AS bit) AS ok, CAST(5 AS "
        "bigint) AS big, "
        "0.25E0 AS ratio, 0x0A0B AS bin, CAST(7 AS smallint) AS s, CAST(255 AS tinyint) AS t\n"
        "UNION ALL SELECT 2, N'\u9999\u8549\u725b\u5976', 20.125, NULL, CAST(0 AS bit), "
        "2147483648, 1, 0x01, "
        "CAST(1 AS smallint), CAST(0 AS tinyint)\n"
        "ORDER BY id DESC"));
    ASSERT_EQ(r.errorNumbers(), std::vector<int>{});
    const ResultSet& rs = r.results.at(0);
    std::vector<SqlType> types;
    for (const auto& c : rs.columns)
        types.push_back(c.type.type);
    EXPECT_EQ(types, (std::vector<SqlType>{SqlType::Int, SqlType::NVarChar, SqlType::Decimal,
                                           SqlType::DateTime, SqlType::Bit, SqlType::Decimal,
                                           SqlType::Float, SqlType::VarBinary, SqlType::SmallInt,
                                           SqlType::TinyInt}));
    EXPECT_EQ(rs.columns[1].type.length, 4);
    EXPECT_EQ(rs.columns[2].type, TypeInfo::decimal(11, 3));
    ASSERT_EQ(rs.rows.size(), 2u);
    EXPECT_EQ(integer(rs.rows[0][0]), 2);  // ORDER BY id DESC
    EXPECT_EQ(toText(rs.rows[0][2], rs.columns[2].type), u"20.125");
    EXPECT_EQ(toText(rs.rows[1][2], rs.columns[2].type), u"1.500");
    EXPECT_EQ(formatDateTime(std::get<DateTime>(rs.rows[1][3]), 121), u"2024-01-02 03:04:05.123");
    EXPECT_TRUE(isNull(rs.rows[0][3]));
}

TEST(StandinSelect, ExpressionsAndErrors) {
    struct Case {
        const char* sql;
        const char* value;  // first value as text, or nullptr
        int error;
    };
    const Case cases[] = {
        {"select 7 / 2 + 10 % 4 * 2", "7", 0},
        {"select 1 - -2", "3", 0},
        {"select 2147483647 + 1", nullptr, 8115},
        {"select 1 / 0", nullptr, 8134},
        {"select CAST('x1' AS int)", nullptr, 245},
        {"select CAST(300 AS tinyint)", nullptr, 8115},
        {"select CONVERT(nvarchar(30), CAST('2010-04-02T15:48:27' AS datetime), 120)",
         "2010-04-02 15:48:27", 0},
        {"select CAST(CAST('2010-04-02 15:48:27' AS datetime) AS nvarchar(30))",
         "Apr  2 2010  3:48PM", 0},
        {"select isnull(NULL, 'd') + 'x'", "dx", 0},
        {"select len(N'ab  ')", "2", 0},
        {"select count(*) from sysdatabases where name in ('master', 'MODEL') and not dbid = 3",
         "1", 0},
        {"select name from sysdatabases where dbid >= 2 and dbid <> 3 order by name desc", "tempdb",
         0},
        {"select top 1 name from master..sysdatabases order by dbid desc", "msdb", 0},
        {"select db_name()", "master", 0},
        {"select @@spid", "51", 0},
        {"select @nope", nullptr, 137},
        {"select nosuch from sysdatabases", nullptr, 207},
        {"select x.name from sysdatabases d", nullptr, 4104},
        {"select a.id from sysobjects a join sysindexes b on a.id = b.id where id = 3", nullptr,
         209},
        {"select max(count(*)) from sysdatabases", nullptr, 130},
        {"select name from sysdatabases where count(*) > 1", nullptr, 147},
        {"select name from sysdatabases where dbid", nullptr, 4145},
        {"select 1 union all select 1, 2", nullptr, 205},
        {"select frobnicate(1)", nullptr, 195},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        Sql sql;
        auto r = sql.run(c.sql);
        if (c.error) {
            EXPECT_EQ(r.errorNumbers(), std::vector<int>{c.error});
            continue;
        }
        ASSERT_EQ(r.errorNumbers(), std::vector<int>{});
        const ResultSet& rs = r.results.at(0);
        EXPECT_EQ(QString::fromStdU16String(toText(rs.rows.at(0).at(0), rs.columns[0].type)),
                  c.value);
    }
}

TEST(StandinLimits, DeepNestingIsRefusedNotRecursedInto) {
    Sql sql;
    const QString deepExpression = "select " + QString(300, '(') + "1" + QString(300, ')');
    const QString deepIf = QString("IF 1=1 ").repeated(300) + "print 1";
    const QString deepBlock =
        QString("BEGIN ").repeated(300) + "print 1" + QString(" END").repeated(300);
    for (const QString& text : {deepExpression, deepIf, deepBlock}) {
        auto r = sql.run(text);
        EXPECT_EQ(r.errorNumbers(), std::vector<int>{191});
    }
    EXPECT_EQ(sql.run("select " + QString(100, '(') + "1" + QString(100, ')')).errorNumbers(),
              std::vector<int>{});
}

TEST(StandinLimits, HugeJoinsAreRefused) {
    Sql sql;
    Database& db = sql.state.catalog.create(u"Wide");
    for (int i = 0; i < 8000; ++i)
        db.addTable(u"dbo", u"t" + fromUtf8(std::to_string(i)), 1, {}, DateTime{});
    sql.session.database = u"Wide";
    EXPECT_EQ(sql.run("select count(*) from sysobjects a join sysindexes b on a.id < b.id")
                  .errorNumbers(),
              std::vector<int>{50000});
    auto equi = sql.run("select count(*) from sysobjects a join sysindexes b on a.id = b.id");
    EXPECT_EQ(integer(equi.results.at(0).rows.at(0).at(0)), 8003);
}

TEST(StandinSelect, QuotedIdentifierDecidesWhatDoubleQuotesMean) {
    Sql sql;
    sql.session.quotedIdentifier = false;
    auto off = sql.run("select \"master\"");
    EXPECT_EQ(text(off.results.at(0).rows.at(0).at(0)), "master");  // a string
    auto on = sql.run("SET QUOTED_IDENTIFIER ON; select \"name\" from sysdatabases where dbid = 1");
    EXPECT_EQ(text(on.results.at(0).rows.at(0).at(0)), "master");  // a column
    EXPECT_TRUE(sql.session.quotedIdentifier);
}

}  // namespace
