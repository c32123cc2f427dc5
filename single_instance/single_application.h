#ifndef SINGLE_APPLICATION_H
#define SINGLE_APPLICATION_H

#include <QtCore/qcoreapplication.h>

#include <functional>

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
        Bystander = 0x20,            // this run gathers nothing: it never becomes a
                                     // primary that others register with
    };
    typedef int StartOptions;

    // A copy's whole run, from its start to its last editor start (those
    // starts aside), stays within this bound: the lock waits, the
    // primary's wait and its release together.
    static constexpr int RunBoundMs = 60000;
    // A copy that has existed longer than the bound allows, with a margin
    // for its last steps, is held up (stopped, frozen, in a debugger): it
    // is no primary to commit to, and what it holds is free to take.
    static constexpr qint64 HeldUpAfterMs = RunBoundMs + 15000;

    // True when the process of that id is a running copy of this program,
    // of this user, neither stopped nor held up past the bound.
    static bool isActiveCopy(qint64 pid);

    SingleApplication(int &argc, char **argv, bool permitSecondary, StartOptions options,
                      int announceTimeoutMs, const QString &extraKeyText);
    ~SingleApplication() override;

    bool secondaryRole() const;
    // 0 in the primary; 1, 2, 3 ... in the secondaries, in the order they
    // registered since the shared block was last reset.
    quint32 instanceNumber() const;
    // What is left of this copy's bound, in milliseconds (0 once spent).
    int remainingRunMs() const;

    // Runs in a start that cannot go on (no shared block to be had, or its
    // lock held past the bound), after its messages and before the process
    // ends: the program's last chance to do its work alone. Its result is
    // the exit code (1 without a handler).
    static void setStartupFailureHandler(std::function<int()> handler);

    // For a primary that finishes its work before it ends: the number of
    // secondary starts the shared block has counted (read without waiting
    // for the lock when another process holds it).
    quint32 secondaryStartCount() const;

    // Gives up the role now rather than at destruction, so that the next
    // copy to start becomes a primary of its own, and runs whileLocked
    // under the block's lock just before it lets the lock go. Unless force
    // is set, nothing happens and false comes back when the count is no
    // longer expectedCount: a copy has registered since the caller looked.
    // Forced, the role is given up (and whileLocked runs) even when the
    // lock cannot be had within timeoutMs.
    // A primary that the block no longer names (another copy took the role
    // over) clears nothing, and its release goes through whatever the count.
    bool releasePrimaryRole(quint32 expectedCount, bool force, int timeoutMs,
                            const std::function<void()> &whileLocked);

    // The process id of the primary this copy registered with; its own in
    // the primary.
    qint64 primaryProcessId() const;

    // For a secondary: runs commit under the block's lock if the primary it
    // registered with still holds the role and runs, and returns what
    // commit returned; false without running it when that primary has
    // given up its role or died, or the lock cannot be had within the
    // bound. A primary that gives its role up without the lock may do so
    // while commit runs: then takeBack undoes the commit, and false comes
    // back when it could (else the primary has taken what was committed).
    bool commitToPrimary(const std::function<bool()> &commit, const std::function<bool()> &takeBack);

Q_SIGNALS:
    void instanceStarted();
    void receivedMessage(quint32 instanceId, QByteArray message);

private:
    Q_DISABLE_COPY(SingleApplication)
    friend class SingleApplicationPrivate;
    SingleApplicationPrivate *d;
};

#endif // SINGLE_APPLICATION_H
