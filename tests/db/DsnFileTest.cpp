#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "db/DsnFile.h"

using quill::db::DsnFile;

namespace {

// Points TMPDIR at a fresh directory for one test.
class DsnFileTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        old_ = qgetenv("TMPDIR");
        qputenv("TMPDIR", dir_.path().toUtf8());
    }
    void TearDown() override { qputenv("TMPDIR", old_); }
    QString at(const QString& name) const { return dir_.filePath(name); }
    QStringList entries() const {
        return QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    }

    QTemporaryDir dir_;
    QByteArray old_;
};

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

}  // namespace

TEST_F(DsnFileTest, WritesPrivatelyAndDeletesAfterwards) {
    {
        DsnFile file("[ODBC]\r\nDRIVER=SQL Server\r\n");
        EXPECT_EQ(QString::fromUtf8(file.path()), at("~sqlsrv.dsn"));
        EXPECT_TRUE(file.written());
        EXPECT_EQ(contents(at("~sqlsrv.dsn")), "[ODBC]\r\nDRIVER=SQL Server\r\n");
        struct stat st {};
        ASSERT_EQ(stat(file.path().constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    EXPECT_TRUE(entries().isEmpty());
}

TEST_F(DsnFileTest, AnotherUsersFileOrLinkIsLeftAloneAndAPrivateDirectoryUsed) {
    QFile victim(at("victim"));
    ASSERT_TRUE(victim.open(QIODevice::WriteOnly));
    victim.write("precious");
    victim.close();

    // The name taken by a plain file, then by a link to the victim.
    for (bool link : {false, true}) {
        if (link) {
            ASSERT_TRUE(QFile::remove(at("~sqlsrv.dsn")));
            ASSERT_EQ(
                symlink(at("victim").toUtf8().constData(), at("~sqlsrv.dsn").toUtf8().constData()),
                0);
        } else {
            QFile other(at("~sqlsrv.dsn"));
            ASSERT_TRUE(other.open(QIODevice::WriteOnly));
            other.write("someone else's");
        }
        {
            DsnFile file("mine");
            EXPECT_TRUE(file.written());
            EXPECT_NE(QString::fromUtf8(file.path()), at("~sqlsrv.dsn"));
            EXPECT_TRUE(file.path().endsWith("/~sqlsrv.dsn"));
            EXPECT_EQ(contents(QString::fromUtf8(file.path())), "mine");
        }
        EXPECT_EQ(contents(at("victim")), "precious");
        if (!link) {
            EXPECT_EQ(contents(at("~sqlsrv.dsn")), "someone else's");
        }
        EXPECT_EQ(entries().size(), 2)
            << entries().join(",").toStdString();  // no private directory left
    }
}

TEST_F(DsnFileTest, AMissingDirectoryMeansNoFileAndNoHarm) {
    qputenv("TMPDIR", at("missing").toUtf8());
    DsnFile file("text");
    EXPECT_FALSE(file.written());
    EXPECT_EQ(QString::fromUtf8(file.path()), at("missing") + "/~sqlsrv.dsn");
}
