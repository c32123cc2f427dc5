#ifndef SINGLE_APPLICATION_H
#define SINGLE_APPLICATION_H

#include <QtCore/qcoreapplication.h>

class SingleApplicationPrivate;

// The application object of a program of which many copies start at once:
// while it is constructed it settles whether this process is the one primary
// instance or a secondary one. The primary listens for other instances that
// announce themselves and reports them through the two signals.
class SingleApplication : public QCoreApplication
{
    Q_OBJECT

public:
    enum StartOption {
        PerUserScope = 0x01,         // one primary per user, reachable by that user alone
        AnnounceSecondaries = 0x04,  // secondaries contact the primary
        IgnoreVersion = 0x08,        // copies of other versions meet too
        IgnoreExecutablePath = 0x10, // copies in other folders meet too
    };
    typedef int StartOptions;

    SingleApplication(int &argc, char **argv, bool permitSecondary, StartOptions options,
                      int announceTimeoutMs, const QString &extraKeyText);
    ~SingleApplication() override;

    bool secondaryRole() const;
    // 0 in the primary; 1, 2, 3 ... in the secondaries, in the order they
    // registered since the shared block was last reset.
    quint32 instanceNumber() const;

    // For a primary that finishes its work before it ends: the number of
    // secondary starts the shared block has counted, read under its lock;
    // and giving up the role now rather than at destruction, so that the
    // next copy to start becomes a primary of its own. The release returns
    // the count as it stood when the role was given up.
    quint32 secondaryStartCount() const;
    quint32 releasePrimaryRole();

Q_SIGNALS:
    void instanceStarted();
    void receivedMessage(quint32 instanceId, QByteArray message);

private:
    Q_DISABLE_COPY(SingleApplication)
    friend class SingleApplicationPrivate;
    SingleApplicationPrivate *d;
};

#endif // SINGLE_APPLICATION_H
