#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <future>

#include "app/InstanceChannel.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "console/Console.h"
#include "support/Paths.h"
#include "support/TestServices.h"
#include "support/Wait.h"

using namespace quill;

namespace {

// Asks as the user `uid` would, from a child process: what came back.
QByteArray askAs(uid_t uid, const QString& channel) {
    int answer[2];
    if (::pipe(answer) != 0)
        return "<no pipe>";
    const pid_t child = ::fork();
    if (child == 0) {
        char got[16] = {};
        ssize_t n = 0;
        const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(channel);
        std::memcpy(addr.sun_path + 1, name.constData(), size_t(name.size()));
        const auto size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name.size()));
        if (::setuid(uid) == 0 && ::connect(s, reinterpret_cast<sockaddr*>(&addr), size) == 0 &&
            ::write(s, "show\n", 5) == 5)
            n = ::read(s, got, sizeof got);
        (void)!::write(answer[1], got, size_t(n > 0 ? n : 0));
        ::_exit(0);
    }
    ::close(answer[1]);
    // The parent keeps serving the channel while the child asks.
    QByteArray got;
    test::waitUntil([&] { return ::waitpid(child, nullptr, WNOHANG) == child; }, 5000);
    char buffer[16];
    ssize_t n;
    while ((n = ::read(answer[0], buffer, sizeof buffer)) > 0)
        got.append(buffer, n);
    ::close(answer[0]);
    return got;
}

class InstanceChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(runtime.isValid());
        saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        window = new MainWindow({boxes, opener, state, [] { return false; }, [](int) {}, console});
        new InstanceChannel(
            "QuillstepChannelTest", [this] { window->bringToFront(); }, window);
        window->show();
        window->setWindowState(Qt::WindowMinimized);
        ASSERT_TRUE(window->isMinimized());
    }
    void TearDown() override {
        delete window.data();
        qputenv("XDG_RUNTIME_DIR", saved);
    }

    // Asks from another thread, as a later start would, while this one serves.
    bool ask() {
        auto asked = std::async(std::launch::async,
                                [] { return askRunningInstanceToShow("QuillstepChannelTest"); });
        test::waitUntil(
            [&] { return asked.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
        return asked.get();
    }

    QTemporaryDir runtime;
    QByteArray saved;
    test::ScriptedMessageBoxes boxes;
    test::RecordingOpener opener;
    ProgramState state;
    Console console{test::binPath("quill-cmd"), QDir::homePath()};
    QPointer<MainWindow> window;
};

}  // namespace

TEST_F(InstanceChannelTest, AnotherStartBringsTheMinimisedWindowToTheFront) {
    EXPECT_TRUE(ask());
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(test::waitUntil([&] { return window->isActiveWindow(); }));
}

TEST_F(InstanceChannelTest, OtherUsersAreNotAnswered) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "asking as another user needs root";
    const QString channel = instanceMarkPath("QuillstepChannelTest");
    EXPECT_EQ(askAs(65534, channel), "");
    EXPECT_TRUE(window->isMinimized());
    // The same request from this user is answered.
    EXPECT_EQ(askAs(::geteuid(), channel), "shown\n");
    EXPECT_FALSE(window->isMinimized());
}

TEST_F(InstanceChannelTest, NobodyAnswersOnceTheInstanceIsGone) {
    delete window.data();
    EXPECT_FALSE(askRunningInstanceToShow("QuillstepChannelTest", 1000));
}
