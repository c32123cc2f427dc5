#include "shared_block_p.h"

// What is the same on every platform; the create, attach, lock and unlock
// primitives are the platform files'.

void SharedBlockPrivate::setError(QSharedMemory::SharedMemoryError code, const char *function,
                                  const QString &what)
{
    error = code;
    errorString = QLatin1String("SharedBlock::") + QLatin1String(function) + QLatin1String(": ") + what;
}

bool SharedBlock::isAttached() const
{
    return d->memory != nullptr;
}

void *SharedBlock::data()
{
    return d->memory;
}

const void *SharedBlock::constData() const
{
    return d->memory;
}

int SharedBlock::size() const
{
    return d->memorySize;
}

QSharedMemory::SharedMemoryError SharedBlock::error() const
{
    return d->error;
}

QString SharedBlock::errorString() const
{
    return d->errorString;
}
