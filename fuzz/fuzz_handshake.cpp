// The primary's check of a peer's handshake body, fed anything at all.

#include "handshake.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString key = QStringLiteral("k7Qx1pYzS2bVvR0c9dM4nE6fG8hJ3lW5aT_uI+oPq0A=");
    const QByteArray body(reinterpret_cast<const char *>(data), int(size));

    Handshake handshake;
    verifyHandshakeBody(body, key, &handshake);

    // A key of the input's choosing: the first byte tells its length.
    if (size > 0) {
        const int keyLength = qMin(int(data[0]), int(size) - 1);
        const QString ownKey = QString::fromLatin1(body.mid(1, keyLength));
        verifyHandshakeBody(body.mid(1 + keyLength), ownKey, &handshake);

        // What a peer of ours sends with that key always passes, and says
        // what it was given.
        const qint8 kind = qint8(data[0]);
        const quint32 number = quint32(size) * 2654435761u;
        Handshake back;
        if (!verifyHandshakeBody(handshakeBody(ownKey, kind, number), ownKey, &back)
            || back.kind != kind || back.senderNumber != number) {
            std::abort();
        }
    }
    return 0;
}
