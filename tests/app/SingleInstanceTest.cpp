#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include "app/InstanceChannel.h"
#include "app/SingleInstance.h"
#include "support/Paths.h"
#include "support/Wait.h"

using namespace quill;

namespace {

// True while some process holds the lock on `path`; never keeps it.
bool markHeld(const QString& path) {
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return !free;
}

class SingleInstance : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    }

    std::unique_ptr<QProcess> start() {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p->setProcessEnvironment(env);
        p->start(test::binPath("quillstep"), {});
        EXPECT_TRUE(p->waitForStarted(5000));
        return p;
    }

    QString lockFile() const { return runtime.path() + "/Quillstep.lock"; }

    QTemporaryDir runtime;
};

}  // namespace

TEST_F(SingleInstance, SecondStartShowsTheFirstAndEndsAndANewStartRunsAfterAKill) {
    auto first = start();
    ASSERT_TRUE(test::waitUntil([&] { return markHeld(lockFile()); }, 10000));
    // The running window answers a later start once it has come to the front.
    ASSERT_TRUE(test::waitUntil([] { return askRunningInstanceToShow("", 500); }, 10000));

    QElapsedTimer clock;
    clock.start();
    auto second = start();
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(second->readAllStandardError(), "");
    EXPECT_EQ(first->state(), QProcess::Running);
    EXPECT_TRUE(askRunningInstanceToShow(""));

    first->kill();  // SIGKILL: no chance to clean up
    ASSERT_TRUE(first->waitForFinished(5000));
    EXPECT_FALSE(markHeld(lockFile()));
    EXPECT_FALSE(askRunningInstanceToShow("", 1000));

    auto third = start();
    ASSERT_TRUE(test::waitUntil([&] { return markHeld(lockFile()); }, 10000));
    EXPECT_FALSE(third->waitForFinished(300));
    third->kill();
    third->waitForFinished(5000);
}

TEST_F(SingleInstance, TheMarkDoesNotOutliveItsProcessInItsChildren) {
    const QString name = "QuillstepChildTest";
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        // Takes the mark, leaves a long-running child behind, and ends.
        isAnotherInstanceRunning(name);
        const pid_t child = ::fork();
        if (child == 0) {
            ::execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        (void)!::write(pipeFds[1], &child, sizeof child);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    pid_t leftover = 0;
    ASSERT_EQ(::read(pipeFds[0], &leftover, sizeof leftover), ssize_t(sizeof leftover));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(holder, &status, 0);

    // The leftover child shares the lock only until it runs its program.
    EXPECT_TRUE(
        test::waitUntil([&] { return !markHeld(runtime.path() + "/" + name + ".lock"); }, 3000));
    EXPECT_FALSE(isAnotherInstanceRunning(name));  // and this process takes it now
    EXPECT_TRUE(isAnotherInstanceRunning(name));   // a second look sees it held
    ::kill(leftover, SIGKILL);
}
