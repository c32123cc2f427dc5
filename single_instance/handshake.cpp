#include "handshake.h"

#include <QtCore/qdatastream.h>

QByteArray handshakeBody(const QString &instanceKey, qint8 kind, quint32 senderNumber)
{
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    out.setVersion(HandshakeStreamVersion);
    out << instanceKey.toLatin1() << kind << senderNumber;
    out << qChecksum(body.constData(), uint(body.size()));
    return body;
}

QByteArray handshakePrefix(qint64 bodyLength)
{
    QByteArray prefix;
    QDataStream out(&prefix, QIODevice::WriteOnly);
    out.setVersion(HandshakeStreamVersion);
    out << bodyLength;
    return prefix;
}

bool verifyHandshakeBody(const QByteArray &body, const QString &instanceKey, Handshake *handshake)
{
    if (body.size() < 2)
        return false;

    QByteArray key;
    qint8 kind = 0;
    quint32 senderNumber = 0;
    quint16 crc = 0;
    QDataStream in(body);
    in.setVersion(HandshakeStreamVersion);
    in >> key >> kind >> senderNumber >> crc;
    if (in.status() != QDataStream::Ok)
        return false;
    // The key is compared as text up to its first NUL byte.
    if (QString::fromLatin1(key.constData()) != instanceKey)
        return false;
    if (crc != qChecksum(body.constData(), uint(body.size() - 2)))
        return false;

    handshake->kind = kind;
    handshake->senderNumber = senderNumber;
    return true;
}
