#include "Server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "Packets.h"
#include "Session.h"

namespace standin {
namespace {

bool sendAll(int fd, const Bytes& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

Server::Server(ServerState& state, EventLog* log, Options options)
    : state_(state), log_(log), options_(std::move(options)) {}

Server::~Server() {
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

std::optional<std::string> Server::listen() {
    std::string host = options_.host == "localhost" ? "127.0.0.1" : options_.host;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(options_.port);
    if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1)
        return "not an IPv4 address: " + options_.host;
    if ((ntohl(addr.sin_addr.s_addr) >> 24) != 127)
        return "refusing " + options_.host + ": it serves loopback only";
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        return std::string("socket: ") + std::strerror(errno);
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return "cannot bind " + host + ":" + std::to_string(options_.port) + ": " +
               std::strerror(errno);
    if (::listen(listenFd_, 128) != 0)
        return std::string("listen: ") + std::strerror(errno);
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    return std::nullopt;
}

void Server::run() {
    while (!stopping_) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (stopping_)
                break;
            if (errno != EINTR && errno != ECONNABORTED)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        // Replies are written whole; waiting to coalesce them only adds delay.
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard lock(mutex_);
        reapFinished();
        auto& c = *connections_.emplace_back(std::make_unique<Connection>());
        c.fd = fd;
        c.thread = std::thread([this, &c, spid = nextSpid_++] { serve(c, spid); });
    }
    std::lock_guard lock(mutex_);
    for (auto& c : connections_)
        ::shutdown(c->fd, SHUT_RDWR);
    for (auto& c : connections_) {
        c->thread.join();
        ::close(c->fd);
    }
    connections_.clear();
}

void Server::stop() {
    stopping_ = true;
    if (listenFd_ >= 0)
        ::shutdown(listenFd_, SHUT_RDWR);
}

void Server::reapFinished() {
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (!(*it)->finished) {
            ++it;
            continue;
        }
        (*it)->thread.join();
        ::close((*it)->fd);
        it = connections_.erase(it);
    }
}

bool Server::waitLatency(int fd, MessageAssembler& in, bool& peerClosed) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + options_.latency;
    std::uint8_t buf[4096];
    for (;;) {
        if (in.attentionPending())
            return true;
        // Waits to the nanosecond: a latency below a millisecond is real too.
        const auto left =
            std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        const timespec timeout{static_cast<time_t>(left / 1000000000),
                               static_cast<long>(left % 1000000000)};
        pollfd p{fd, POLLIN, 0};
        int r = ::ppoll(&p, 1, &timeout, nullptr);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return false;
        if (r == 0)
            continue;  // the deadline is checked above
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            peerClosed = true;
            return false;
        }
        in.feed(std::span<const std::uint8_t>(buf, static_cast<std::size_t>(n)));
    }
}

void Server::serve(Connection& c, int spid) {
    {
        Session session(state_, log_, spid);
        MessageAssembler in;
        std::vector<std::uint8_t> buf(65536);
        bool open = true;
        while (open) {
            while (auto m = in.next()) {
                const auto type = static_cast<PacketType>(m->type);
                if (options_.latency.count() > 0 && type != PacketType::Attention) {
                    bool closed = false;
                    // On ATTENTION the request is dropped unanswered; the
                    // ATTENTION itself is answered next.
                    if (waitLatency(c.fd, in, closed))
                        continue;
                    if (closed) {
                        open = false;
                        break;
                    }
                }
                auto reply = session.handle(std::move(*m));
                if ((!reply.packets.empty() && !sendAll(c.fd, reply.packets)) || reply.close) {
                    open = false;
                    break;
                }
            }
            if (!open || in.broken())
                break;
            ssize_t n = ::recv(c.fd, buf.data(), buf.size(), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            in.feed(std::span<const std::uint8_t>(buf.data(), static_cast<std::size_t>(n)));
        }
    }
    // The peer sees the end now; the descriptor is closed when the thread is joined.
    ::shutdown(c.fd, SHUT_RDWR);
    c.finished = true;
}

}  // namespace standin
