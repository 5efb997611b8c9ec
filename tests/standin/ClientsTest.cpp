// Clients no one here wrote, against the stand-in: FreeTDS tsql and bsqldb,
// Debian's pymssql and npm's tedious. Each logs in, reads @@version and
// typed rows with Chinese text, inserts in a batch, prints, counts, hits an
// error; and each is refused with a wrong password.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "support/Paths.h"
#include "support/StandinServer.h"

using quill::test::sourceDir;
using quill::test::StandinServer;

namespace {

const QString kTypedRows = QString::fromUtf8(
    "SELECT 1 AS id, N'苹果' AS name, CAST(1.5 AS decimal(10,2)) AS price, "
    "CAST('2024-01-02 03:04:05' AS datetime) AS made, CAST(1 AS bit) AS ok, CAST(5000000000 AS "
    "bigint) AS big, "
    "0.25E0 AS ratio, 0x0A0B AS bin UNION ALL SELECT 2, N'香蕉', 20, NULL, CAST(0 AS bit), 7, -1, "
    "0x");

struct Step {
    QString sql;
    bool batch;  // for tedious: execSqlBatch rather than execSql (sp_executesql)
};

const Step kSteps[] = {
    {"select @@version", false},
    {kTypedRows, false},
    {"INSERT Orders VALUES (1)\nINSERT Orders VALUES (2), (3)", true},
    {QString::fromUtf8("PRINT N'你好'"), true},
    {"select count(*) AS n from Orders", false},
    {"select * from nosuch", false},  // last: bsqldb stops at an error
};

struct Outcome {
    int exitCode = -1;
    QString out;
};

class Clients : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.isRunning()) << server.startError().toStdString(); }

    Outcome run(const QString& program, const QStringList& args,
                const QProcessEnvironment& env = {}) {
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const QString& k : env.keys())
            e.insert(k, env.value(k));
        p.setProcessEnvironment(e);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        if (!p.waitForStarted(10000))
            return {};
        p.closeWriteChannel();
        if (!p.waitForFinished(60000))
            p.kill();
        return {p.exitCode(), QString::fromUtf8(p.readAll())};
    }

    // The steps as a script for the FreeTDS command-line tools.
    QString scriptFile() {
        QFile f(dir.filePath("steps.sql"));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        for (const Step& s : kSteps)
            f.write((s.sql + "\ngo\n").toUtf8());
        return f.fileName();
    }

    static QProcessEnvironment stepsEnvironment(bool withBatchFlags) {
        QJsonArray steps;
        for (const Step& s : kSteps)
            steps.append(withBatchFlags ? QJsonValue(QJsonArray{s.sql, s.batch})
                                        : QJsonValue(s.sql));
        QProcessEnvironment env;
        env.insert("STANDIN_CLIENT_STEPS",
                   QString::fromUtf8(QJsonDocument(steps).toJson(QJsonDocument::Compact)));
        return env;
    }

    static StandinServer::Options catalog() {
        StandinServer::Options o;
        o.catalogJson = R"({"databases":[{"name":"Shop","tables":[{"name":"Orders","rows":3}]}]})";
        return o;
    }

    void expectRefusedLogin(const Outcome& r) {
        EXPECT_NE(r.exitCode, 0) << r.out.toStdString();
        EXPECT_TRUE(r.out.contains("Login failed for user 'sa'.")) << r.out.toStdString();
        EXPECT_TRUE(server.waitForLog("login-failed user=sa reason=password"));
    }

    StandinServer server{catalog()};
    QTemporaryDir dir;
};

TEST_F(Clients, Tsql) {
    QProcessEnvironment env;
    env.insert("TDSVER", "7.4");
    // tsql reads its statements from stdin.
    const QString tsql = "exec tsql -H 127.0.0.1 -p \"$1\" -U sa -P \"$2\" -D Shop -o q < \"$3\"";
    Outcome r = run(
        "sh", {"-c", tsql, "sh", QString::number(server.port()), server.password(), scriptFile()},
        env);
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    const std::string out = r.out.toStdString();
    EXPECT_TRUE(
        r.out.contains("SQL Server stand-in (quill-standin) - 10.50.1600.1 (X64) \n\tApr  2 2010"))
        << out;
    EXPECT_TRUE(r.out.contains(
        QString::fromUtf8("1\t苹果\t1.50\tJan  2 2024 03:04AM\t1\t5000000000\t0.25\t0a0b\n")))
        << out;
    EXPECT_TRUE(r.out.contains(QString::fromUtf8("2\t香蕉\t20.00\tNULL\t0\t7\t-1\t\n"))) << out;
    EXPECT_TRUE(r.out.contains(QString::fromUtf8("你好\n"))) << out;
    EXPECT_TRUE(r.out.contains("n\n6\n")) << out;
    EXPECT_TRUE(r.out.contains(
        "Msg 208 (severity 16, state 1) from STANDIN Line 1:\n\t\"Invalid object name 'nosuch'.\""))
        << out;

    expectRefusedLogin(
        run("sh", {"-c", tsql, "sh", QString::number(server.port()), "wrong", "/dev/null"}, env));
}

TEST_F(Clients, Bsqldb) {
    QFile conf(dir.filePath("freetds.conf"));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write(QString("[standin]\n\thost = 127.0.0.1\n\tport = %1\n\ttds version = 7.4\n")
                   .arg(server.port())
                   .toUtf8());
    conf.close();
    QProcessEnvironment env;
    env.insert("FREETDSCONF", conf.fileName());
    Outcome r = run(
        "bsqldb",
        {"-S", "standin", "-U", "sa", "-P", server.password(), "-D", "Shop", "-i", scriptFile()},
        env);
    const std::string out = r.out.toStdString();
    EXPECT_EQ(r.exitCode, 16)
        << out;  // bsqldb exits with the severity of the error that stopped it
    EXPECT_TRUE(r.out.contains("SQL Server stand-in (quill-standin)")) << out;
    EXPECT_TRUE(r.out.contains(QRegularExpression(QString::fromUtf8(
        "1  苹果 +1.50  Jan  2 2024  3:04:05:000AM +1 +5000000000 +0.25  0x0a0b"))))
        << out;
    EXPECT_TRUE(r.out.contains(QString::fromUtf8("你好"))) << out;
    EXPECT_TRUE(r.out.contains(QRegularExpression("\\n +6\\n"))) << out;
    EXPECT_TRUE(r.out.contains(
        "Msg 208, Level 16, State 1\nServer 'STANDIN', Line 1\n\tInvalid object name 'nosuch'."))
        << out;

    expectRefusedLogin(
        run("bsqldb", {"-S", "standin", "-U", "sa", "-P", "wrong", "-i", "/dev/null"}, env));
}

TEST_F(Clients, Pymssql) {
    const QString script = sourceDir() + "/tests/standin/clients/pymssql-client.py";
    Outcome r = run("/usr/bin/python3", {script, QString::number(server.port()), server.password()},
                    stepsEnvironment(false));
    const std::string out = r.out.toStdString();
    EXPECT_EQ(r.exitCode, 0) << out;
    EXPECT_TRUE(r.out.contains("row SQL Server stand-in (quill-standin)")) << out;
    EXPECT_TRUE(r.out.contains(
        QString::fromUtf8("row 1|苹果|1.50|2024-01-02 03:04:05|True|5000000000|0.25|0x0a0b\n"
                          "row 2|香蕉|20.00|NULL|False|7|-1.0|0x\n")))
        << out;
    EXPECT_TRUE(r.out.contains("count 2\nmessage 0 " + QString::fromUtf8("你好")))
        << out;  // the batch's last count
    EXPECT_TRUE(r.out.contains("columns n\nrow 6\n")) << out;
    EXPECT_TRUE(r.out.contains("error 208 Invalid object name 'nosuch'.")) << out;
    // pymssql runs in a transaction unless told otherwise.
    EXPECT_TRUE(server.logEvents("batch").contains("BEGIN TRAN"));
    EXPECT_TRUE(server.logEvents("batch").contains("COMMIT TRAN"));

    expectRefusedLogin(run("/usr/bin/python3", {script, QString::number(server.port()), "wrong"},
                           stepsEnvironment(false)));
}

TEST_F(Clients, Tedious) {
    if (QStandardPaths::findExecutable("node").isEmpty())
        GTEST_SKIP() << "node is not installed";
    const QString modules = sourceDir() + "/.deps/node_modules";
    ASSERT_TRUE(QFile::exists(modules + "/tedious/package.json"))
        << "tedious is missing from .deps/: scripts/setup.d/50-npm-test-deps.sh installs it";
    QProcessEnvironment env = stepsEnvironment(true);
    env.insert("NODE_PATH", modules);
    const QString script = sourceDir() + "/tests/standin/clients/tedious-client.js";
    Outcome r = run("node", {script, QString::number(server.port()), server.password()}, env);
    const std::string out = r.out.toStdString();
    EXPECT_EQ(r.exitCode, 0) << out;
    EXPECT_TRUE(r.out.contains("info 5701 Changed database context to 'Shop'.")) << out;
    EXPECT_TRUE(r.out.contains("row SQL Server stand-in (quill-standin)")) << out;
    EXPECT_TRUE(
        r.out.contains("columns "
                       "id:IntN|name:NVarChar|price:DecimalN|made:DateTimeN|ok:BitN|big:IntN|ratio:"
                       "FloatN|bin:VarBinary\n"))
        << out;
    EXPECT_TRUE(r.out.contains(
        QString::fromUtf8("row 1|苹果|1.5|2024-01-02T03:04:05.000Z|true|5000000000|0.25|0x0a0b\n"
                          "row 2|香蕉|20|NULL|false|7|-1|0x\n")))
        << out;
    EXPECT_TRUE(r.out.contains("count 1\ncount 2\ninfo 0 " + QString::fromUtf8("你好"))) << out;
    EXPECT_TRUE(r.out.contains("row 6\n")) << out;
    EXPECT_TRUE(r.out.contains("error 208 Invalid object name 'nosuch'.")) << out;
    // execSql goes through sp_executesql.
    EXPECT_FALSE(
        server.logEvents("rpc").filter("sp_executesql select count(*) AS n from Orders").isEmpty());

    expectRefusedLogin(run("node", {script, QString::number(server.port()), "wrong"}, env));
}

}  // namespace
