#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryFile>
#include <mutex>

#include "console/Console.h"
#include "support/Paths.h"
#include "support/Wait.h"

using quill::Console;
using quill::test::processGone;
using quill::test::waitUntil;

namespace {

QString testProgram(const QString& name) {
    return QCoreApplication::applicationDirPath() + "/" + name;
}

// Collects the chunks a console delivers; shared with the reader thread,
// which may outlive the test's use of it. Copies are deep, so that no byte
// array's data is shared between the threads.
QByteArray deepCopy(const QByteArray& bytes) {
    return QByteArray(bytes.constData(), bytes.size());
}

struct Chunks {
    std::mutex mutex;
    std::vector<QByteArray> list;
    QByteArray all;

    static Console::OutputHandler collect(const std::shared_ptr<Chunks>& chunks) {
        return [chunks](const QByteArray& latestOutput) {
            std::lock_guard lock(chunks->mutex);
            chunks->list.push_back(deepCopy(latestOutput));
            chunks->all.append(latestOutput.constData(), latestOutput.size());
        };
    }
    std::vector<QByteArray> snapshot() {
        std::lock_guard lock(mutex);
        std::vector<QByteArray> out;
        for (const QByteArray& chunk : list)
            out.push_back(deepCopy(chunk));
        return out;
    }
    QByteArray joined() {
        std::lock_guard lock(mutex);
        return deepCopy(all);
    }
    bool waitForChunks(std::size_t n) {
        return waitUntil([&] { return snapshot().size() >= n; });
    }
    bool waitForText(const QByteArray& text) {
        return waitUntil([&] { return joined().contains(text); });
    }
};

QString write(const QByteArray& bytes) {
    return "w " + QString::fromLatin1(bytes.toHex());
}

class ConsoleTest : public ::testing::Test {
protected:
    Console console{testProgram("console_peer"), QDir::tempPath()};
    std::shared_ptr<Chunks> chunks = std::make_shared<Chunks>();
};

TEST_F(ConsoleTest, DeliversAtMost260BytesPerChunk) {
    console.startConsole(Chunks::collect(chunks));
    struct Case {
        int bytes;
        std::vector<int> expected;
    };
    // Each write lands whole in the pipe before the reader looks, so the cuts are the reader's own.
    const Case cases[] = {{260, {260}}, {261, {260, 1}}, {600, {260, 260, 80}}, {1, {1}}};
    std::size_t seen = 0;
    for (const Case& c : cases) {
        console.sendCommandLine(write(QByteArray(c.bytes, 'x')));
        ASSERT_TRUE(chunks->waitForChunks(seen + c.expected.size())) << c.bytes;
        auto list = chunks->snapshot();
        std::vector<int> sizes;
        for (std::size_t i = seen; i < list.size(); ++i)
            sizes.push_back(int(list[i].size()));
        EXPECT_EQ(sizes, c.expected) << c.bytes;
        seen = list.size();
    }
}

TEST_F(ConsoleTest, ChunkEndsAtItsFirstZeroByte) {
    console.startConsole(Chunks::collect(chunks));
    console.sendCommandLine(write(QByteArray("ab\0cd", 5)));
    ASSERT_TRUE(chunks->waitForChunks(1));
    console.sendCommandLine(write(QByteArray("\0xy", 3)));
    ASSERT_TRUE(chunks->waitForChunks(2));
    auto list = chunks->snapshot();
    EXPECT_EQ(list[0], "ab");
    EXPECT_EQ(list[1], "");  // still delivered
}

TEST_F(ConsoleTest, LinesSentTogetherRunInOrderAndOutputKeepsItsOrder) {
    console.startConsole(Chunks::collect(chunks));
    QByteArray expected;
    for (int i = 0; i < 200; ++i) {
        QByteArray line = QByteArray::number(i) + ",";
        expected += line;
        console.sendCommandLine(write(line));  // no waiting in between
    }
    ASSERT_TRUE(chunks->waitForText(expected));
    EXPECT_EQ(chunks->joined(), expected);
}

TEST_F(ConsoleTest, StopKillsTheInterpreterAndEndsTheReader) {
    auto sentinel = std::make_shared<int>();
    auto collect = Chunks::collect(chunks);
    console.startConsole([collect, sentinel](const QByteArray& chunk) { collect(chunk); });
    console.sendCommandLine(write("ready"));
    ASSERT_TRUE(chunks->waitForText("ready"));
    pid_t pid = console.interpreterPid();

    console.stopConsole();
    EXPECT_TRUE(processGone(pid));
    EXPECT_EQ(console.interpreterPid(), 0);
    // The reader lets go of its handler as it ends.
    EXPECT_TRUE(waitUntil([&] { return sentinel.use_count() == 1; }));
    EXPECT_FALSE(console.sendCommandLine(write("late")));  // no interpreter: nothing happens
    console.stopConsole();
    EXPECT_EQ(chunks->joined(), "ready");
}

TEST_F(ConsoleTest, StopAndSendWithoutStartDoNothing) {
    console.stopConsole();
    EXPECT_FALSE(console.sendCommandLine("pid"));
    EXPECT_EQ(console.interpreterPid(), 0);
}

TEST_F(ConsoleTest, SendingToAnInterpreterThatEndedDoesNotHurtTheProgram) {
    console.startConsole(Chunks::collect(chunks));
    pid_t pid = console.interpreterPid();
    console.sendCommandLine("q");
    ASSERT_TRUE(waitUntil([&] { return processGone(pid); }));
    // The pipe is broken now; SIGPIPE would end this test program.
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(console.sendCommandLine(write("x")));
}

TEST_F(ConsoleTest, SecondStartEndsTheFirstInstance) {
    auto first = std::make_shared<Chunks>();
    console.startConsole(Chunks::collect(first));
    pid_t firstPid = console.interpreterPid();
    console.startConsole(Chunks::collect(chunks));
    EXPECT_NE(console.interpreterPid(), firstPid);
    EXPECT_TRUE(processGone(firstPid));

    console.sendCommandLine(write("second"));
    ASSERT_TRUE(chunks->waitForText("second"));
    EXPECT_TRUE(first->joined().isEmpty());
}

TEST_F(ConsoleTest, InterpreterInheritsOnlyItsStandardStreams) {
    // A descriptor some library left without close-on-exec.
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    int leaky = ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY);
    ASSERT_GE(leaky, 0);

    console.startConsole(Chunks::collect(chunks));
    console.sendCommandLine("pid");
    ASSERT_TRUE(chunks->waitForText("\n"));
    ::close(leaky);
    QStringList fds = QDir(QString("/proc/%1/fd").arg(console.interpreterPid()))
                          .entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    fds.sort();
    EXPECT_EQ(fds, QStringList({"0", "1", "2"}));
    EXPECT_EQ(QFile::symLinkTarget(QString("/proc/%1/cwd").arg(console.interpreterPid())),
              QDir::tempPath());
}

TEST(ConsoleLifetime, InterpreterEndsWhenItsProgramIsKilled) {
    QProcess host;
    // Busy with a command, the interpreter does not notice that its input has ended.
    host.start(testProgram("console_host"), {quill::test::binPath("quill-cmd"), "sleep 5"});
    ASSERT_TRUE(host.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return host.canReadLine(); }));
    pid_t interpreter = pid_t(host.readLine().trimmed().toInt());
    ASSERT_GT(interpreter, 0);
    EXPECT_FALSE(processGone(interpreter));

    ::kill(pid_t(host.processId()), SIGKILL);
    host.waitForFinished();
    EXPECT_TRUE(waitUntil([&] { return processGone(interpreter); }, 2000));
}

}  // namespace
