#include "single_application_private.h"

#include "private_folder.h"

#include <QtCore/qdatastream.h>
#include <QtCore/qelapsedtimer.h>
#include <QtNetwork/qlocalserver.h>
#include <QtNetwork/qlocalsocket.h>

bool SingleApplicationPrivate::announceToPrimary(int timeoutMs, PeerKind kind)
{
    QElapsedTimer clock;
    clock.start();
    // A negative wait means "forever" to the sockets; the budget is the bound.
    const auto remaining = [&] { return int(qMax<qint64>(0, timeoutMs - clock.elapsed())); };

    if (!primaryLink)
        primaryLink = new QLocalSocket;
    if (primaryLink->state() == QLocalSocket::ConnectedState)
        return true;

    for (;;) {
        jitterPause();
        if (primaryLink->state() != QLocalSocket::ConnectingState)
            primaryLink->connectToServer(privateChannelName(instanceKey), QIODevice::ReadWrite);
        if (primaryLink->state() == QLocalSocket::ConnectingState)
            primaryLink->waitForConnected(remaining());
        if (primaryLink->state() == QLocalSocket::ConnectedState)
            break;
        if (clock.elapsed() >= qint64(timeoutMs))
            return false;
    }

    const QByteArray body = handshakeBody(instanceKey, kind, ownNumber);
    primaryLink->write(handshakePrefix(body.size()));
    primaryLink->write(body);
    const bool written = primaryLink->waitForBytesWritten(remaining());
    primaryLink->flush();
    return written;
}

void SingleApplicationPrivate::startListener()
{
    // The channel is named by the key, in a place of the user's own.
    const QString name = privateChannelName(instanceKey);
    QLocalServer::removeServer(name);
    listener = new QLocalServer;
    listener->setSocketOptions((startOptions & SingleApplication::PerUserScope)
                                       ? QLocalServer::UserAccessOption
                                       : QLocalServer::WorldAccessOption);
    listener->listen(name);
    connect(listener, &QLocalServer::newConnection,
            this, &SingleApplicationPrivate::slotConnectionEstablished);
}

void SingleApplicationPrivate::slotConnectionEstablished()
{
    QLocalSocket *socket = listener->nextPendingConnection();
    if (!socket)
        return;
    peers.insert(socket, PeerState());

    connect(socket, &QLocalSocket::aboutToClose, socket, [this, socket] {
        slotClientConnectionClosed(socket, peers.value(socket).peerNumber);
    }, Qt::DirectConnection);
    connect(socket, &QLocalSocket::disconnected, socket, &QLocalSocket::deleteLater);
    connect(socket, &QObject::destroyed, socket, [this, socket] {
        peers.remove(socket);
    }, Qt::DirectConnection);
    connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
        const auto peer = peers.constFind(socket);
        if (peer == peers.cend())
            return;
        switch (peer->phase) {
        case PeerState::AwaitHeader:
            readHandshakeLength(socket);
            break;
        case PeerState::AwaitBody:
            readHandshakeBody(socket);
            break;
        case PeerState::Established:
            slotDataAvailable(socket, peer->peerNumber);
            break;
        }
    }, Qt::DirectConnection);
}

void SingleApplicationPrivate::readHandshakeLength(QLocalSocket *socket)
{
    if (!peers.contains(socket) || socket->bytesAvailable() < 8)
        return;

    qint64 length = 0;
    QDataStream in(socket);
    in.setVersion(HandshakeStreamVersion);
    in >> length;

    PeerState &peer = peers[socket];
    peer.phase = PeerState::AwaitBody;
    peer.expectedLength = length;
    // No peer of ours sends more than a few dozen bytes; waiting for more
    // would only buffer what a stranger chooses to send.
    if (length > MaxHandshakeBodyLength) {
        socket->close();
        return;
    }
    if (socket->bytesAvailable() >= length)
        readHandshakeBody(socket);
}

void SingleApplicationPrivate::readHandshakeBody(QLocalSocket *socket)
{
    const auto peer = peers.constFind(socket);
    if (peer == peers.cend())
        return;
    const qint64 length = peer->expectedLength;
    if (socket->bytesAvailable() < length)
        return;

    const QByteArray body = socket->read(qMax<qint64>(length, 0));
    Handshake handshake;
    if (!verifyHandshakeBody(body, instanceKey, &handshake)) {
        socket->close();
        return;
    }

    PeerState &state = peers[socket];
    state.peerNumber = handshake.senderNumber;
    state.phase = PeerState::Established;
    const quint32 number = state.peerNumber;
    if (handshake.kind == RefusedStart
        || (handshake.kind == SecondaryStart && (startOptions & SingleApplication::AnnounceSecondaries))) {
        Q_EMIT owner->instanceStarted();
    }
    if (socket->bytesAvailable() > 0)
        Q_EMIT owner->receivedMessage(number, socket->readAll());
}

void SingleApplicationPrivate::slotDataAvailable(QLocalSocket *socket, quint32 peerNumber)
{
    Q_EMIT owner->receivedMessage(peerNumber, socket->readAll());
}

void SingleApplicationPrivate::slotClientConnectionClosed(QLocalSocket *socket, quint32 peerNumber)
{
    if (socket->bytesAvailable() > 0)
        Q_EMIT owner->receivedMessage(peerNumber, socket->readAll());
}
