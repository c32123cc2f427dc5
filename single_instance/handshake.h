#ifndef HANDSHAKE_H
#define HANDSHAKE_H

#include <QtCore/qbytearray.h>
#include <QtCore/qstring.h>

// The first bytes a starting process sends to the primary: a length prefix,
// then a body of the instance key, the connection kind and the sender's
// instance number, closed by a CRC. Big-endian, data-stream version 17.

enum PeerKind : qint8 {
    RefusedStart = 1,
    SecondaryStart = 2,
};

// A real body is 55 bytes; anything announcing more than this is not a peer
// of ours, and its connection is closed rather than buffered.
constexpr qint64 MaxHandshakeBodyLength = 4096;

// Data-stream format of the frame (the framework's Qt 5.6 format).
constexpr int HandshakeStreamVersion = 17;

QByteArray handshakeBody(const QString &instanceKey, qint8 kind, quint32 senderNumber);
QByteArray handshakePrefix(qint64 bodyLength);

struct Handshake
{
    qint8 kind = 0;
    quint32 senderNumber = 0;
};

// Checks a received body against the key: complete fields, the same key
// text (exactly, letter case included) and a matching CRC.
bool verifyHandshakeBody(const QByteArray &body, const QString &instanceKey, Handshake *handshake);

#endif // HANDSHAKE_H
