#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "app/log/RunLogStore.h"

using namespace quill::logbox;

namespace {

// A temporary HOME with no XDG variables, restored afterwards.
class RunLogStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
            saved.emplace_back(name, qgetenv(name));
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("XDG_STATE_HOME");
        qunsetenv("XDG_CACHE_HOME");
    }
    void TearDown() override {
        for (const auto& [name, value] : saved)
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
    }

    static void write(const QString& path, qint64 bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(bytes, 'x'));
    }

    QTemporaryDir home;
    std::vector<std::pair<const char*, QByteArray>> saved;
};

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

}  // namespace

TEST_F(RunLogStoreTest, FoldersFollowTheXdgVariables) {
    EXPECT_EQ(runsFolder(), home.path() + "/.local/state/Quillstep/runs");
    EXPECT_EQ(spoolFolder(), home.path() + "/.cache/Quillstep");
    qputenv("XDG_STATE_HOME", "/srv/state");
    qputenv("XDG_CACHE_HOME", "relative/is/ignored");
    EXPECT_EQ(runsFolder(), "/srv/state/Quillstep/runs");
    EXPECT_EQ(spoolFolder(), home.path() + "/.cache/Quillstep");
}

TEST_F(RunLogStoreTest, NamesEachRunByItsStartAndScript) {
    RunLogStore store;
    const QDateTime start(QDate(2026, 12, 8), QTime(13, 45, 1));
    QString error;
    const QString first = store.startRun(start, "/data/脚本/订单.sql", &error);
    EXPECT_EQ(first, runsFolder() + "/20261208-134501-订单.sql.log") << error.toStdString();
    EXPECT_TRUE(QFileInfo(first).isFile());
    EXPECT_EQ(QFileInfo(first).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
    // The same script started again within the second gets a file of its own.
    EXPECT_EQ(store.startRun(start, "/data/脚本/订单.sql", &error),
              runsFolder() + "/20261208-134501-订单.sql-2.log");
    // A name too long for the file system is shortened, whole characters only.
    const QString longName = store.startRun(start, QString(200, QChar(0x8BA2)) + ".sql", &error);
    EXPECT_LE(QFileInfo(longName).fileName().toUtf8().size(), 255);
    EXPECT_TRUE(QFileInfo(longName).fileName().endsWith("订.log"));
}

TEST_F(RunLogStoreTest, KeepsTheLastRunsWithinTheirLimits) {
    const QString folder = home.filePath("runs");
    RunLogStore store(folder, 3, 1000);
    QDir().mkpath(folder);
    for (int day = 1; day <= 4; ++day) {
        const QString stem = folder + QString("/2026120%1-080000-a.sql").arg(day);
        write(stem + ".log", 100);
        write(stem + ".failed.sql", 10);
    }
    write(folder + "/notes.txt", 5000);  // not a run's: never touched

    QString error;
    const QString newest =
        store.startRun(QDateTime(QDate(2026, 12, 9), QTime(8, 0)), "b.sql", &error);
    // Five runs, three kept: the two oldest go with their failed-batches files.
    EXPECT_EQ(filesIn(folder),
              QStringList({"20261203-080000-a.sql.failed.sql", "20261203-080000-a.sql.log",
                           "20261204-080000-a.sql.failed.sql", "20261204-080000-a.sql.log",
                           "20261209-080000-b.sql.log", "notes.txt"}));

    // Over the size limit the oldest go too, but never the run under way.
    write(newest, 5000);
    store.prune(newest);
    EXPECT_EQ(filesIn(folder), QStringList({"20261209-080000-b.sql.log", "notes.txt"}));
}
