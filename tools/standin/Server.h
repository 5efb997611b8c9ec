#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "Catalog.h"

namespace standin {

class EventLog;

// Accepts TDS connections on a loopback address and serves each on its own
// thread with blocking sockets.
class Server {
public:
    struct Options {
        std::string host = "127.0.0.1";
        std::uint16_t port = 1433;
        // Delay before answering each request (prelogin, login, batch, RPC):
        // the server seems this far away.
        std::chrono::microseconds latency{0};
    };

    Server(ServerState& state, EventLog* log, Options options);
    ~Server();

    // Binds and listens; returns the reason on failure.
    std::optional<std::string> listen();
    std::uint16_t port() const { return port_; }
    // Accepts connections until stop(); then waits for every connection to end.
    void run();
    // Makes run() return: closes the listener and every connection. May be
    // called from any thread.
    void stop();

private:
    struct Connection {
        int fd;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void serve(Connection& c, int spid);
    // Waits out the configured latency; true if an ATTENTION arrived meanwhile.
    bool waitLatency(int fd, class MessageAssembler& in, bool& peerClosed);
    void reapFinished();

    ServerState& state_;
    EventLog* log_;
    Options options_;
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> nextSpid_{51};
    std::mutex mutex_;
    std::list<std::unique_ptr<Connection>> connections_;
};

}  // namespace standin
