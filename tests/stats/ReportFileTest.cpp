#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "stats/ReportFile.h"

using namespace quill::stats;

namespace {

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class ReportFileTest : public testing::Test {
protected:
    QString program() const { return QDir(root.path()).filePath("bin"); }
    QString documents() const { return QDir(root.path()).filePath("home/Documents/Quillstep"); }

    void SetUp() override { ASSERT_TRUE(QDir().mkpath(program())); }

    QTemporaryDir root;
};

}  // namespace

TEST_F(ReportFileTest, GoesBesideTheProgramAndIsReplacedWholeEachTime) {
    const ReportFolders folders{program(), documents()};
    const WrittenReport first = writeReport(folders, QByteArray(1000, 'x'));
    ASSERT_TRUE(first.ok()) << first.error.toStdString();
    EXPECT_EQ(first.path, QDir(program()).filePath("test.txt"));

    const WrittenReport second = writeReport(folders, "short\r\n");
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second.path, first.path);
    EXPECT_EQ(contents(second.path), "short\r\n");
    // Nothing else is left beside it, and the fallback is not touched.
    EXPECT_EQ(QDir(program()).entryList(QDir::Files | QDir::Hidden), QStringList{"test.txt"});
    EXPECT_FALSE(QDir(documents()).exists());
}

TEST_F(ReportFileTest, AnUnwritableProgramFolderSendsItToTheDocumentsFolder) {
    // A file where the folder should be, and a folder that takes no files
    // even from root.
    QFile blocker(QDir(root.path()).filePath("not-a-folder"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    for (const QString& unwritable : {blocker.fileName(), QStringLiteral("/proc")}) {
        const WrittenReport r = writeReport({unwritable, documents()}, "report\r\n");
        ASSERT_TRUE(r.ok()) << unwritable.toStdString() << ": " << r.error.toStdString();
        EXPECT_EQ(r.path, QDir(documents()).filePath("test.txt"));
        EXPECT_EQ(contents(r.path), "report\r\n");
    }
    EXPECT_FALSE(QFile::exists("/proc/test.txt"));
}

TEST_F(ReportFileTest, AnInstalledProgramWritesOnlyToTheDocumentsFolder) {
    // Even where the working folder (an installed program's /usr/bin) would take it.
    const QString before = QDir::currentPath();
    QDir::setCurrent(program());
    const WrittenReport r = writeReport({{}, documents()}, "report\r\n");
    QDir::setCurrent(before);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(r.path, QDir(documents()).filePath("test.txt"));
    EXPECT_TRUE(QDir(program()).isEmpty());
}

TEST_F(ReportFileTest, NoFolderTakingTheFileIsAnErrorNamingTheLastTried) {
    const WrittenReport r = writeReport({"/proc", "/proc/no-such/Quillstep"}, "report\r\n");
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.path, "/proc/no-such/Quillstep/test.txt");
}
