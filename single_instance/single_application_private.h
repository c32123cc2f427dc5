#ifndef SINGLE_APPLICATION_PRIVATE_H
#define SINGLE_APPLICATION_PRIVATE_H

#include "handshake.h"
#include "single_application.h"

#include <QtCore/qelapsedtimer.h>
#include <QtCore/qmap.h>
#include <QtCore/qobject.h>
#include <QtCore/qstringlist.h>

#include <QtNetwork/qlocalsocket.h>

class QLocalServer;
class SharedBlock;
struct InstanceBlock;

// The primary's record of one accepted connection.
struct PeerState
{
    enum Phase : quint8 {
        AwaitHeader = 0,
        AwaitBody = 1,
        Established = 2,
    };

    qint64 expectedLength = 0;
    quint32 peerNumber = 0;
    quint8 phase = AwaitHeader;
};

class SingleApplicationPrivate : public QObject
{
    Q_OBJECT

public:
    enum StartupOutcome {
        BecamePrimary,
        BecameSecondary,
        StayedBystander,
        RefusedBesidePrimary,
        SharedMemoryFailed,
    };

    // The lock is held for microseconds at a time; a process that ends
    // waits this long for it at most, and then goes on without it.
    static constexpr int EndLockTimeoutMs = 5000;

    explicit SingleApplicationPrivate(SingleApplication *owner);
    ~SingleApplicationPrivate() override;

    // Instance identity and the shared block.
    void deriveInstanceKey();
    static QString loginName();
    static void jitterPause();
    static int jitterPauseMs(quint32 random);
    quint16 computeBlockCrc() const;
    void resetBlock();
    void becomePrimary();
    void becomeSecondary();
    void clearPrimaryMarks();
    void clearMarks();
    StartupOutcome decideRole(bool permitSecondary, int announceTimeoutMs);
    quint32 readSecondaryCounter() const;
    bool releasePrimaryRole(quint32 expectedCount, bool force, int timeoutMs,
                            const std::function<void()> &whileLocked);
    bool commitToPrimary(const std::function<bool()> &commit, const std::function<bool()> &takeBack);
    bool marksThisPrimary() const;
    bool registeredPrimaryHolds() const;
    int remainingPatienceMs() const;

    // The instance channel.
    bool announceToPrimary(int timeoutMs, PeerKind kind);
    void startListener();

    SingleApplication *owner;
    SharedBlock *sharedBlock = nullptr;
    QLocalSocket *primaryLink = nullptr;
    QLocalServer *listener = nullptr;
    quint32 ownNumber = 0;
    QString instanceKey;
    int startOptions = 0;
    QMap<QLocalSocket *, PeerState> peers;
    QStringList keyExtras;

    // A secondary's primary, as the block named it when it registered.
    qint64 registeredPrimaryPid = -1;
    // All the waits of one process for the block's lock together stay
    // within the lock's bound, counted from here.
    QElapsedTimer life;

public Q_SLOTS:
    void slotConnectionEstablished();
    void slotDataAvailable(QLocalSocket *, quint32);
    void slotClientConnectionClosed(QLocalSocket *, quint32);

private:
    InstanceBlock *block() const;
    bool openBlock();
    StartupOutcome abortStartup();
    void readHandshakeLength(QLocalSocket *socket);
    void readHandshakeBody(QLocalSocket *socket);
};

#endif // SINGLE_APPLICATION_PRIVATE_H
