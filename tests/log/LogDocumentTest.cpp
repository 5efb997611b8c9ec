#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <random>

#include "app/log/LogDocument.h"
#include "app/log/LogSearch.h"
#include "app/log/LogWorker.h"

using namespace quill::logbox;

namespace {

const QByteArray kBanner = " -------------Quillrun-------------- \n\n";
const QByteArray kCompletion = "\n处理完成，根据返回信息查看。";
constexpr int kLines = 1'000'000;

QByteArray outputLine(int n) {
    QByteArray line = "(1 行受影响) 第" + QByteArray::number(n) + "行 order";
    if (n == 123456 || n == 777777)
        line += " 订单已提交";
    return line;
}

// A million lines of client output, every third with CR LF.
QByteArray clientOutput() {
    QByteArray all;
    all.reserve(40 * kLines);
    for (int n = 0; n < kLines; ++n)
        all += outputLine(n) + (n % 3 == 0 ? "\r\n" : "\n");
    return all;
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QByteArray snapshotBytes(const LogSnapshot& snapshot) {
    QByteArray all(qsizetype(snapshot.size()), Qt::Uninitialized);
    all.resize(snapshot.read(0, all.data(), all.size()));
    return all;
}

// One run: the window's banner, a million lines of output cut into uneven
// chunks (characters cut in two among them) into the run's log, the
// window's completion line.
class MillionLineLog : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new QTemporaryDir;
        output = new QByteArray(clientOutput());
        runLog = new QString(dir->filePath("20261208-134501-订单.sql.log"));
        doc = new LogDocument(dir->filePath("spool"));
        doc->append(kBanner);
        QString error;
        ASSERT_TRUE(doc->bindRunLog(*runLog, &error)) << error.toStdString();
        std::mt19937 random(13);
        for (qsizetype at = 0; at < output->size();) {
            const qsizetype n = std::min<qsizetype>(1 + random() % 9000, output->size() - at);
            doc->appendOutput(QByteArrayView(*output).sliced(at, n));
            at += n;
        }
        doc->unbindRunLog();
        doc->append(kCompletion);
    }
    static void TearDownTestSuite() {
        delete doc;
        delete runLog;
        delete output;
        delete dir;
    }

    static QTemporaryDir* dir;
    static QByteArray* output;
    static QString* runLog;
    static LogDocument* doc;
};

QTemporaryDir* MillionLineLog::dir;
QByteArray* MillionLineLog::output;
QString* MillionLineLog::runLog;
LogDocument* MillionLineLog::doc;

}  // namespace

TEST_F(MillionLineLog, KeepsEveryByteAndReadsAnyLineBack) {
    // The run's file is the client's output, byte for byte; the log adds the window's texts.
    EXPECT_TRUE(fileBytes(*runLog) == *output);
    EXPECT_TRUE(snapshotBytes(doc->snapshot()) == kBanner + *output + kCompletion);

    // Two banner lines, a million output lines, the empty line the last
    // break opens, which the completion text continues on a line of its own.
    ASSERT_EQ(doc->lineCount(), 2 + kLines + 2);
    EXPECT_EQ(doc->line(0), " -------------Quillrun-------------- ");
    for (int n : {0, 1, kLines / 2, 777777, kLines - 1})
        EXPECT_EQ(doc->line(2 + n), QString::fromUtf8(outputLine(n))) << n;
    EXPECT_EQ(doc->line(2 + kLines), "");
    EXPECT_EQ(doc->line(doc->lineCount() - 1), "处理完成，根据返回信息查看。");

    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        const qint64 line = qint64(random() % quint64(doc->lineCount()));
        const quint64 start = doc->lineStart(line);
        EXPECT_EQ(doc->placeOf(start + 3), std::make_pair(line, quint64(3)));
        if (line > 0) {
            EXPECT_EQ(doc->bytes(start - 1, start), "\n") << line;
        }
    }

    // The index costs well under a byte a line.
    EXPECT_LT(doc->indexBytes(), size_t(doc->lineCount()));
}

TEST_F(MillionLineLog, FindsAChineseWordBothWaysAroundTheEnds) {
    const LogSnapshot snapshot = doc->snapshot();
    const std::atomic<bool> running{false};
    const auto lineOf = [](std::optional<quint64> at) {
        return at ? doc->placeOf(*at).first - 2 : -1;
    };
    const QByteArray word = "订单";
    const auto first = findInLog(snapshot, word, 0, false, running);
    EXPECT_EQ(lineOf(first), 123456);
    const auto second = findInLog(snapshot, word, *first + 1, false, running);
    EXPECT_EQ(lineOf(second), 777777);
    EXPECT_EQ(findInLog(snapshot, word, *second + 1, false, running), first);  // from the top again
    EXPECT_EQ(findInLog(snapshot, word, *first, true, running), second);  // from the bottom again
    EXPECT_EQ(findInLog(snapshot, word, *second, true, running), first);

    EXPECT_EQ(lineOf(findInLog(snapshot, "ORDER", 0, false, running)), 0);  // A to Z in any case
    EXPECT_EQ(findInLog(snapshot, "没有的词", 0, false, running), std::nullopt);
    // A match across the worker's 4 MB reads.
    const quint64 straddling = 4 * 1024 * 1024 - 5;
    EXPECT_EQ(
        findInLog(snapshot, doc->bytes(straddling, straddling + 12), straddling, false, running),
        straddling);
}

TEST_F(MillionLineLog, SavesTheWholeLogAndSaysWhyItCannot) {
    const std::atomic<bool> running{false};
    const QString path = dir->filePath("saved.log");
    EXPECT_EQ(exportLog(doc->snapshot(), path, running), "");
    EXPECT_TRUE(fileBytes(path) == kBanner + *output + kCompletion);
    EXPECT_NE(exportLog(doc->snapshot(), dir->filePath("no/such/folder/saved.log"), running), "");
}

TEST(LogDocument, LinesAreShownWithoutTheirBreaksAndUnfinishedCharacters) {
    const struct {
        std::vector<QByteArray> chunks;
        QStringList lines;
    } cases[] = {
        {{}, {""}},
        {{"a\n"}, {"a", ""}},
        {{"a\r", "\nb"}, {"a", "b"}},        // CR LF cut between chunks
        {{"x\ry\r\n\r\n"}, {"xy", "", ""}},  // a lone CR shows nothing
        {{"订", "\xE5\x8D"}, {"订"}},        // the rest of 单 has not come yet
        {{"订", "\xE5\x8D", "\x95\n"}, {"订单", ""}},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        LogDocument doc(dir.path());
        for (const QByteArray& chunk : c.chunks)
            doc.append(chunk);
        QStringList lines;
        for (qint64 n = 0; n < doc.lineCount(); ++n)
            lines << doc.line(n);
        EXPECT_EQ(lines, c.lines) << c.chunks.size();
    }
}

TEST(LogDocument, AVeryLongLineIsReadInPartAndPassedQuickly) {
    QTemporaryDir dir;
    LogDocument doc(dir.path());
    const QByteArray longLine(3 * 1024 * 1024, 'x');
    for (int i = 0; i < 3; ++i)
        doc.append(QByteArrayView(longLine).sliced(i * 1024 * 1024, 1024 * 1024));
    doc.append("\nafter\n");
    bool cut = false;
    EXPECT_EQ(doc.line(0, 100, &cut), QString(100, 'x'));
    EXPECT_TRUE(cut);
    EXPECT_EQ(doc.line(1, 100, &cut), "after");
    EXPECT_FALSE(cut);
    EXPECT_EQ(doc.lineStart(1), quint64(longLine.size()) + 1);
    EXPECT_EQ(doc.placeOf(1'500'000), std::make_pair(qint64(0), quint64(1'500'000)));
}

TEST(LogDocument, ClearStartsAfreshWhileAWorkerStillReadsTheOldText) {
    QTemporaryDir dir;
    LogDocument doc(dir.path());
    doc.append("old line\n");
    doc.markLine(0);
    const LogSnapshot before = doc.snapshot();
    const quint64 generation = doc.generation();

    doc.clear();
    doc.append("new");
    EXPECT_EQ(doc.text(1024), "new");
    EXPECT_TRUE(doc.marks().empty());
    EXPECT_NE(doc.generation(), generation);
    EXPECT_EQ(snapshotBytes(before), "old line\n");
}

TEST(LogDocument, AWorkerReadsItsSnapshotWhileTheLogGoesOn) {
    QTemporaryDir dir;
    LogDocument doc(dir.filePath("spool"));
    QString error;
    ASSERT_TRUE(doc.bindRunLog(dir.filePath("run.log"), &error));
    QByteArray before;
    for (int n = 0; n < 40'000; ++n)  // some written out, the rest in the tail
        before += "line " + QByteArray::number(n) + " 订单\n";
    doc.appendOutput(before);
    const LogSnapshot snapshot = doc.snapshot();

    std::atomic<bool> done{false};
    QByteArray seen;
    std::optional<quint64> found;
    {
        LogWorker worker;
        worker.post([&](const std::atomic<bool>& cancelled) {
            seen = snapshotBytes(snapshot);
            found = findInLog(snapshot, "LINE 39999 订单", 0, false, cancelled);
            done = true;
        });
        // Meanwhile the tail grows and is written out, and the log is cleared.
        for (int i = 0; i < 2000 && !done; ++i)
            doc.appendOutput(QByteArray(4096, 'y') + "\n");
        doc.clear();
        doc.append("after");
        while (!done)
            std::this_thread::yield();
    }
    EXPECT_TRUE(seen == before);
    EXPECT_EQ(found, quint64(before.lastIndexOf("line 39999")));
}

TEST(LogDocument, WithoutRoomOnDiskTheLogIsKeptInMemoryAndSaysSo) {
    LogDocument doc("/proc/no-such-folder");
    doc.append("line 1\n");
    doc.append("line 2\n");
    EXPECT_EQ(doc.text(1024), "line 1\nline 2\n");
    EXPECT_FALSE(doc.problem().isEmpty());
}

TEST(LogWorker, EndingItCancelsTheJobUnderWayAndDropsTheQueuedOnes) {
    std::atomic<bool> started{false}, queuedRan{false};
    {
        LogWorker worker;
        worker.post([&](const std::atomic<bool>& cancelled) {
            started = true;
            while (!cancelled)
                std::this_thread::yield();
        });
        worker.post([&](const std::atomic<bool>&) { queuedRan = true; });
        while (!started)
            std::this_thread::yield();
    }  // returns only once the first job has stopped
    EXPECT_FALSE(queuedRan);
}
