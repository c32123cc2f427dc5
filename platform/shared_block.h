#ifndef SHARED_BLOCK_H
#define SHARED_BLOCK_H

#include <QtCore/qsharedmemory.h>
#include <QtCore/qstring.h>

#include <memory>

class SharedBlockPrivate;

// A small block of memory shared by every process that names it by the same
// key, with one system-wide lock beside it. The operations and error codes
// are those of QSharedMemory; where QSharedMemory is not safe for many
// processes starting at once, the platform file provides its own objects.
class SharedBlock
{
public:
    explicit SharedBlock(const QString &key);
    ~SharedBlock(); // detaches

    bool create(int size);      // read-write; fails with AlreadyExists if present
    bool attach();              // read-write
    bool isAttached() const;

    bool lock();
    bool unlock();

    void *data();
    const void *constData() const;
    int size() const;

    QSharedMemory::SharedMemoryError error() const;
    QString errorString() const;

private:
    Q_DISABLE_COPY(SharedBlock)
    std::unique_ptr<SharedBlockPrivate> d;
};

#endif // SHARED_BLOCK_H
