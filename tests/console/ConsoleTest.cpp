#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
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

TEST_F(ConsoleTest, DeliversAtMostAChunkSizePerRead) {
    console.startConsole(Chunks::collect(chunks));
    struct Case {
        int bytes;
        std::vector<int> expected;
    };
    // A write that fits the pipe lands whole before the reader looks, and a
    // larger one fills the pipe before the reader may read: the cuts are the
    // reader's own.
    constexpr int k = Console::kChunkSize;
    const Case cases[] = {{k, {k}}, {k + 1, {k, 1}}, {1, {1}}};
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

TEST_F(ConsoleTest, ZeroBytesAreDeliveredWithTheRestOfTheChunk) {
    console.startConsole(Chunks::collect(chunks));
    console.sendCommandLine(write(QByteArray("ab\0cd", 5)));
    ASSERT_TRUE(chunks->waitForChunks(1));
    console.sendCommandLine(write(QByteArray("\0xy", 3)));
    ASSERT_TRUE(chunks->waitForChunks(2));
    auto list = chunks->snapshot();
    EXPECT_EQ(list[0], QByteArray("ab\0cd", 5));
    EXPECT_EQ(list[1], QByteArray("\0xy", 3));
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

TEST_F(ConsoleTest, InterpreterInheritsOnlyItsStandardStreamsAndTheStatusChannel) {
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
    EXPECT_EQ(fds, QStringList({"0", "1", "2", "3"}));
    EXPECT_TRUE(QFile::symLinkTarget(QString("/proc/%1/fd/3").arg(console.interpreterPid()))
                    .contains("pipe:"));
    EXPECT_EQ(QFile::symLinkTarget(QString("/proc/%1/cwd").arg(console.interpreterPid())),
              QDir::tempPath());
}

// What a console running quill-cmd delivers, in order: the output as it
// came, with each status record in it as "{tag numbers}".
struct Stream {
    std::mutex mutex;
    QByteArray all;
    std::vector<long long> started;

    static Console::Handlers collect(const std::shared_ptr<Stream>& stream) {
        return {[stream](const QByteArray& chunk) {
                    std::lock_guard lock(stream->mutex);
                    stream->all.append(chunk.constData(), chunk.size());
                },
                [stream](const quill::console::StatusRecord& record) {
                    std::lock_guard lock(stream->mutex);
                    QByteArray text = "{" + QByteArray::fromStdString(record.tag);
                    for (long long n : record.numbers)
                        text += " " + QByteArray::number(n);
                    stream->all += text + "}";
                    if (record.tag == "started")
                        stream->started.push_back(record.numbers.at(0));
                },
                {}};
    }
    QByteArray text() {
        std::lock_guard lock(mutex);
        return QByteArray(all.constData(), all.size());
    }
    std::size_t startedCount() {
        std::lock_guard lock(mutex);
        return started.size();
    }
    pid_t lastStarted() {
        std::lock_guard lock(mutex);
        return started.empty() ? 0 : pid_t(started.back());
    }
    // Everything from `from` to the prompt that ends the command of line.
    QByteArray command(const QByteArray& line, qsizetype from) {
        QByteArray out;
        waitUntil([&] {
            const QByteArray t = text();
            const qsizetype at = t.indexOf(line + "\r\n", from);
            const qsizetype end = at < 0 ? -1 : t.indexOf(kPrompt, at);
            out = end < 0 ? QByteArray() : t.mid(from, end - from);
            return end >= 0;
        });
        return out;
    }
    static constexpr char kPrompt[] = "C:\\WINDOWS\\system32>";
};

long processGroup(long pid) {
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2).split(' ').value(2).toLong();
}

TEST(ConsoleWithInterpreter, ReportsHowEachProgramEndedBeforeItsPrompt) {
    QTemporaryDir dir;
    QFile junk(dir.filePath("junk"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a program\n");
    junk.close();
    junk.setPermissions(QFile::ReadOwner | QFile::ExeOwner);

    Console console(quill::test::binPath("quill-cmd"), dir.path());
    auto stream = std::make_shared<Stream>();
    console.startConsole(Stream::collect(stream));
    ASSERT_TRUE(waitUntil([&] { return stream->text().endsWith(Stream::kPrompt); }));
    struct Case {
        QByteArray line;
        QByteArray output;  // after the echo, up to the prompt
        QStringList records;
    };
    const Case cases[] = {
        {"sh -c \"exit 3\"", "\r\n", {"{started}", "{exited 3}"}},
        {"sh -c \"kill -9 $$\"", "\r\n", {"{started}", "{signalled 9}"}},
        {"no-such-program", "找不到程序：no-such-program\r\n\r\n", {"{unstarted}"}},
        {QFile::encodeName(junk.fileName()),
         "无法运行 " + QFile::encodeName(junk.fileName()) + "：Exec format error\r\n\r\n",
         {"{unstarted}"}},
        // The program writes to the channel on the descriptor it is told.
        {"sh -c \"echo progress 5 100 >&$QUILL_STATUS_FD; echo done\"",
         "done\n\r\n",
         {"{progress 5 100}", "{started}", "{exited 0}"}},
    };
    for (const Case& c : cases) {
        const qsizetype from = stream->text().size();
        ASSERT_TRUE(console.sendCommandLine(QString::fromUtf8(c.line)));
        const QByteArray seen = stream->command(c.line, from);
        ASSERT_FALSE(seen.isEmpty()) << c.line.constData() << ": " << stream->text().constData();
        // Records may run ahead of output written before them, never behind it.
        const QRegularExpression record("\\{[^}]*\\}");
        QStringList records;
        for (const auto& m : record.globalMatch(QString::fromUtf8(seen)))
            records << m.captured();
        records.replaceInStrings(QRegularExpression("^\\{started \\d+\\}$"), "{started}");
        // A program may write to the channel before the interpreter knows it started.
        if (records.size() == 3 && records[0] == "{started}")
            records.swapItemsAt(0, 1);
        EXPECT_EQ(records, c.records) << c.line.constData();
        QByteArray output = QString::fromUtf8(seen).remove(record).toUtf8();
        EXPECT_EQ(output, c.line + "\r\n" + c.output);
    }
}

TEST(ConsoleWithInterpreter, InterruptKillAndStopReachTheProgramsWholeProcessGroup) {
    Console console(quill::test::binPath("quill-cmd"), QDir::tempPath());
    auto stream = std::make_shared<Stream>();
    console.startConsole(Stream::collect(stream));
    // A program that ignores Ctrl+C and leaves a process of its own behind.
    const QByteArray stubborn = "sh -c \"trap '' INT; sleep 60 & echo child $!; wait\"";
    auto startStubborn = [&](pid_t& client, pid_t& child) {
        const qsizetype from = stream->text().size();
        ASSERT_TRUE(console.sendCommandLine(QString::fromUtf8(stubborn)));
        QRegularExpressionMatch m;
        ASSERT_TRUE(waitUntil([&] {
            m = QRegularExpression("child (\\d+)\n")
                    .match(QString::fromUtf8(stream->text().mid(from)));
            return m.hasMatch() && stream->text().mid(from).contains("{started ");
        }));
        client = stream->lastStarted();
        child = pid_t(m.captured(1).toInt());
    };

    pid_t client = 0, child = 0;
    startStubborn(client, child);
    EXPECT_EQ(processGroup(client), client);
    EXPECT_EQ(processGroup(child), client);
    ASSERT_TRUE(console.interruptCommand());
    ASSERT_TRUE(console.killCommand());
    EXPECT_TRUE(stream->command(stubborn, stream->text().lastIndexOf(stubborn))
                    .endsWith("{signalled 9}\r\n"));
    EXPECT_TRUE(waitUntil([&] { return processGone(child); }, 2000));

    // A program that takes Ctrl+C as it comes ends by it; the interpreter goes on.
    const std::size_t started = stream->startedCount();
    ASSERT_TRUE(console.sendCommandLine("sleep 60"));
    ASSERT_TRUE(waitUntil([&] { return stream->startedCount() > started; }));
    ASSERT_TRUE(console.interruptCommand());
    EXPECT_TRUE(stream->command("sleep 60", stream->text().lastIndexOf("sleep 60\r\n"))
                    .endsWith("{signalled 2}\r\n"));

    startStubborn(client, child);
    const pid_t interpreter = console.interpreterPid();
    console.stopConsole();
    EXPECT_TRUE(processGone(interpreter));
    EXPECT_TRUE(processGone(client));
    EXPECT_TRUE(waitUntil([&] { return processGone(child); }, 2000));
}

TEST(ConsoleLifetime, InterpreterAndItsProgramEndWhenTheirProgramIsKilled) {
    QProcess host;
    // Busy with a command, the interpreter does not notice that its input has ended.
    host.start(testProgram("console_host"), {quill::test::binPath("quill-cmd"), "sleep 60"});
    ASSERT_TRUE(host.waitForStarted());
    QList<QByteArray> lines;
    ASSERT_TRUE(waitUntil([&] {
        while (host.canReadLine())
            lines << host.readLine().trimmed();
        return lines.size() >= 2;
    }));
    const pid_t interpreter = pid_t(lines[0].toInt());
    ASSERT_TRUE(lines[1].startsWith("client "));
    const pid_t client = pid_t(lines[1].mid(7).toInt());
    ASSERT_GT(interpreter, 0);
    ASSERT_GT(client, 0);
    EXPECT_FALSE(processGone(client));

    ::kill(pid_t(host.processId()), SIGKILL);
    host.waitForFinished();
    EXPECT_TRUE(waitUntil([&] { return processGone(interpreter) && processGone(client); }, 2000));
}

}  // namespace
