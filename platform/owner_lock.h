#ifndef OWNER_LOCK_H
#define OWNER_LOCK_H

#include <QtCore/qbytearray.h>
#include <QtCore/qstring.h>

// A hold on a file that the system gives back when the holding process
// ends, however it ends, and never while it lives, stopped or not (on
// Linux an flock on an open file that no child inherits; on Windows a
// handle that shares neither writing nor, with another holder, the hold).
// Whoever can take the hold knows that the one before it has ended: no
// process state, age or image name is asked, and the clock plays no part.
class OwnerLock
{
public:
    OwnerLock() = default;
    ~OwnerLock();

    enum Opening { CreateIfMissing, ExistingOnly };
    // Opens the file and holds it; false when another process holds it or
    // it cannot be opened (with ExistingOnly: is not there).
    bool acquire(const QString &path, Opening opening = CreateIfMissing);
    // Lets the hold go; with remove, the file goes first.
    void release(bool remove = false);
    bool isHeld() const { return handle != invalidHandle; }

    // The holder's records, read and added through the hold itself.
    QByteArray contents() const;
    bool append(const QByteArray &bytes);

private:
    Q_DISABLE_COPY(OwnerLock)
    static constexpr qintptr invalidHandle = -1;
    qintptr handle = invalidHandle;
    QString held;
};

#endif // OWNER_LOCK_H
