#include <gtest/gtest.h>

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <future>

#include "exec/FailedBatches.h"

using namespace quill::exec;

namespace {

struct Written {
    FailedBatches::Result result;
    QByteArray file;
};

// Runs the writer over the script for a command line whose client reported
// these failed batches (number, first line), and reads what it wrote.
Written write(const QString& commandLine, const QString& out,
              const std::vector<std::pair<long long, long long>>& failed) {
    std::promise<FailedBatches::Result> done;
    std::future<FailedBatches::Result> result = done.get_future();
    {
        FailedBatches writer(commandLine, out);
        for (const auto& [number, line] : failed)
            writer.add(number, line);
        writer.finish([&done](const FailedBatches::Result& r) { done.set_value(r); });
        result.wait();
    }
    QFile file(out);
    return {result.get(), file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray()};
}

class FailedBatchesTest : public ::testing::Test {
protected:
    QString script(const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    }
    QTemporaryDir dir;
};

TEST_F(FailedBatchesTest, WritesTheBatchesAsSentWithTheStateTheyRanIn) {
    const QString path = script("降级.sql",
                                ":setvar Detail 明细\n"
                                "SET QUOTED_IDENTIFIER ON\nGO\n"
                                "USE [库]\nGO\n"
                                "INSERT INTO [$(Detail)] VALUES (1)\nGO\n"
                                "SELECT 1\nGO 2\n"
                                "PRINT 'ok'\nGO\n"
                                "INSERT INTO [$(Detail)]\r\nVALUES (2)");
    const QString out = dir.filePath("run.failed.sql");
    const Written w =
        write("sqlcmd -S\"h,1\" -U\"sa\" -i \"" + path + "\"", out, {{3, 6}, {4, 8}, {6, 12}});
    EXPECT_TRUE(w.result.error.isEmpty()) << w.result.error.toStdString();
    EXPECT_EQ(w.result.batches, 3);
    EXPECT_EQ(w.result.path, out);
    EXPECT_EQ(w.file.toStdString(),
              "\xEF\xBB\xBF-- 降级.sql 中执行失败的批次，修正后可再次执行。\n"
              "USE [库]\nSET QUOTED_IDENTIFIER ON\nGO\n"
              "INSERT INTO [明细] VALUES (1)\nGO\n"
              "SELECT 1\nGO 2\n"
              "INSERT INTO [明细]\r\nVALUES (2)\nGO\n");
}

TEST_F(FailedBatchesTest, ReadsTheScriptInItsCodePageAndWritesUtf8) {
    QStringEncoder gbk("GB18030");
    const QString path = script("gbk.sql", gbk.encode(u"PRINT '第一批'\nGO\nPRINT '第二批'\nGO\n"));
    const Written w =
        write("sqlcmd -i \"" + path + "\" -f i:936", dir.filePath("gbk.failed.sql"), {{2, 3}});
    EXPECT_TRUE(w.result.error.isEmpty()) << w.result.error.toStdString();
    EXPECT_TRUE(w.file.endsWith("\nPRINT '第二批'\nGO\n")) << w.file.toStdString();
}

TEST_F(FailedBatchesTest, AScriptChangedSinceTheRunWritesNothingAndSaysSo) {
    const QString path = script("changed.sql", "PRINT 1\nGO\nPRINT 2\nGO\n");
    const QString out = dir.filePath("changed.failed.sql");
    const Written w = write("sqlcmd -i \"" + path + "\"", out, {{2, 5}});
    EXPECT_EQ(w.result.batches, 0);
    EXPECT_TRUE(w.result.error.contains("被修改")) << w.result.error.toStdString();
    EXPECT_FALSE(QFile::exists(out));
}

}  // namespace
