#include "app/InstanceChannel.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QLocalSocket>

#include "app/SingleInstance.h"

namespace quill {

namespace {

constexpr char kShow[] = "show\n";
constexpr char kShown[] = "shown\n";
// Longer than any request: a peer that sends more is not one of ours.
constexpr qint64 kMaxLine = 64;

bool peerIsThisUser(const QLocalSocket* peer) {
    ucred cred{};
    socklen_t size = sizeof cred;
    return ::getsockopt(int(peer->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &cred, &size) ==
               0 &&
           cred.uid == ::geteuid();
}

}  // namespace

InstanceChannel::InstanceChannel(const QString& name, std::function<void()> onShow, QObject* parent)
    : QObject(parent), onShow_(std::move(onShow)) {
    server_.setSocketOptions(QLocalServer::AbstractNamespaceOption);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_.nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            if (!peerIsThisUser(peer)) {
                peer->abort();
                continue;
            }
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] { answer(peer); });
            answer(peer);
        }
    });
    server_.listen(instanceMarkPath(name));
}

bool InstanceChannel::isListening() const {
    return server_.isListening();
}

void InstanceChannel::answer(QLocalSocket* peer) {
    if (!peer->canReadLine()) {
        if (peer->bytesAvailable() > kMaxLine)
            peer->abort();
        return;
    }
    if (peer->readLine(kMaxLine) == kShow) {
        onShow_();
        peer->write(kShown);
    }
    peer->disconnectFromServer();
}

bool askRunningInstanceToShow(const QString& name, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(instanceMarkPath(name));
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return false;
    socket.write(kShow);
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return false;
    while (!socket.canReadLine())
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    return socket.readLine(kMaxLine) == kShown;
}

}  // namespace quill
