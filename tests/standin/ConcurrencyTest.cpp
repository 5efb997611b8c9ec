// Many clients at once on one stand-in, and a clean stop with connections
// open. Runs under ThreadSanitizer in the sanitizer build.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "support/StandinServer.h"

using quill::test::StandinServer;

namespace {

StandinServer::Options shop() {
    StandinServer::Options o;
    o.catalogJson = R"({"databases":[{"name":"Shop","tables":[{"name":"Orders","rows":0}]}]})";
    return o;
}

std::unique_ptr<QProcess> tsql(const StandinServer& server, const QString& script) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TDSVER", "7.4");
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::MergedChannels);
    p->start("tsql", {"-H", "127.0.0.1", "-p", QString::number(server.port()), "-U", "sa", "-P",
                      server.password(), "-D", "Shop", "-o", "q"});
    p->write(script.toUtf8());
    p->closeWriteChannel();
    return p;
}

TEST(StandinConcurrency, ParallelClientsAllCount) {
    StandinServer server(shop());
    ASSERT_TRUE(server.isRunning()) << server.startError().toStdString();
    constexpr int kClients = 6, kBatches = 3, kInserts = 100;
    QString script;
    for (int b = 0; b < kBatches; ++b) {
        for (int i = 0; i < kInserts; ++i)
            script += QString("INSERT Orders VALUES (%1, N'行')\n").arg(i);
        script += "select count(*) from sysdatabases\ngo\n";
    }
    std::vector<std::unique_ptr<QProcess>> clients;
    for (int c = 0; c < kClients; ++c)
        clients.push_back(tsql(server, script));
    for (auto& c : clients) {
        ASSERT_TRUE(c->waitForFinished(60000));
        EXPECT_EQ(c->exitCode(), 0) << c->readAll().toStdString();
    }
    auto total = tsql(server, "select count(*) AS n from Orders\ngo\n");
    ASSERT_TRUE(total->waitForFinished(30000));
    EXPECT_TRUE(total->readAll().contains(QByteArray("n\n") +
                                          QByteArray::number(kClients * kBatches * kInserts)));
    EXPECT_TRUE(server.waitForLog("end"));
    EXPECT_EQ(server.logEvents("login").size(), kClients + 1);
    EXPECT_TRUE(server.isRunning());
}

TEST(StandinConcurrency, StopsCleanlyWithConnectionsOpen) {
    StandinServer server;
    ASSERT_TRUE(server.isRunning());
    std::vector<int> sockets;
    for (int i = 0; i < 3; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(server.port());
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        sockets.push_back(fd);
    }
    // All three accepted, not merely waiting in the listen queue.
    QElapsedTimer accepting;
    accepting.start();
    while (server.logEvents("connect").size() < 3 && accepting.elapsed() < 10000)
        ::usleep(2000);
    ASSERT_EQ(server.logEvents("connect").size(), 3);
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(server.stop());
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(server.logEvents("end").size(), 3);
    for (int fd : sockets)
        ::close(fd);
}

}  // namespace
