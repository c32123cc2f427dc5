#ifndef SHARED_BLOCK_H
#define SHARED_BLOCK_H

#include <QtCore/qsharedmemory.h>
#include <QtCore/qstring.h>

#include <memory>

class SharedBlockPrivate;

// A small block of memory shared by every process that names it by the same
// key, with one system-wide lock beside it. The operations and error codes
// are those of QSharedMemory, with two differences that many processes
// starting at once need: the system gives the lock back when its holder
// dies, and a wait for the lock has a bound, so that a holder that is
// stopped for good (a debugger, a frozen process) holds nobody for ever.
class SharedBlock
{
public:
    // No wait for the lock lasts longer than this by default.
    static constexpr int DefaultLockTimeoutMs = 60000;

    explicit SharedBlock(const QString &key);
    ~SharedBlock(); // detaches

    bool create(int size);      // read-write; fails with AlreadyExists if present
    // Read-write; a block smaller than minimumSize is not taken for one and
    // fails with InvalidSize. Where attaching waits for the block's last
    // user to finish with it, the wait lasts timeoutMs at most.
    bool attach(int minimumSize = 1, int timeoutMs = DefaultLockTimeoutMs);
    bool isAttached() const;

    // Fails with LockError once timeoutMs have passed without the lock.
    bool lock(int timeoutMs = DefaultLockTimeoutMs);
    bool unlock();

    void *data();
    const void *constData() const;
    // At least the size the block was created with: that size after create
    // and on Linux after attach; after attach on Windows, where the system
    // tells only the mapped view's, that rounded up to whole pages.
    int size() const;

    QSharedMemory::SharedMemoryError error() const;
    QString errorString() const;

private:
    Q_DISABLE_COPY(SharedBlock)
    std::unique_ptr<SharedBlockPrivate> d;
};

#endif // SHARED_BLOCK_H
