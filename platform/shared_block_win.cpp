#include "shared_block_p.h"

#include <qt_windows.h>

#include <string>

// The block is a file mapping backed by the paging file, which goes with
// its last handle, as a segment goes with its last user. Its lock is a
// named mutex: when a holder dies the system gives the mutex to the next
// waiter as "abandoned", and that waiter holds the lock like any other. The
// block may be half written then; its checksum tells, and the start-up
// decision waits on such a block and resets it. (A semaphore, which
// QSharedMemory locks with, is never given back by a dying holder.)

namespace {

std::wstring objectName(const char *kind, const QString &key)
{
    return (QLatin1String("Local\\") + QLatin1String(kind) + key).toStdWString();
}

QSharedMemory::SharedMemoryError errorFromWindows(DWORD code)
{
    switch (code) {
    case ERROR_ACCESS_DENIED:
        return QSharedMemory::PermissionDenied;
    case ERROR_FILE_NOT_FOUND:
        return QSharedMemory::NotFound;
    case ERROR_ALREADY_EXISTS:
        return QSharedMemory::AlreadyExists;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_COMMITMENT_LIMIT:
        return QSharedMemory::OutOfResources;
    default:
        return QSharedMemory::UnknownError;
    }
}

} // namespace

void SharedBlockPrivate::setWindowsError(const char *function, unsigned long code)
{
    setError(errorFromWindows(code), function, qt_error_string(int(code)));
}

bool SharedBlockPrivate::openMutex(const char *function)
{
    if (key.isEmpty()) {
        setError(QSharedMemory::KeyError, function, QStringLiteral("key is empty"));
        return false;
    }
    if (mutex)
        return true;
    mutex = ::CreateMutexW(nullptr, FALSE, objectName("VellixBlockLock_", key).c_str());
    if (!mutex) {
        setWindowsError(function, ::GetLastError());
        return false;
    }
    return true;
}

bool SharedBlockPrivate::map(const char *function)
{
    memory = ::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!memory) {
        setWindowsError(function, ::GetLastError());
        ::CloseHandle(mapping);
        mapping = nullptr;
        return false;
    }
    MEMORY_BASIC_INFORMATION info;
    memorySize = ::VirtualQuery(memory, &info, sizeof info) ? int(info.RegionSize) : 0;
    error = QSharedMemory::NoError;
    errorString.clear();
    return true;
}

void SharedBlockPrivate::detach()
{
    if (memory)
        ::UnmapViewOfFile(memory);
    if (mapping)
        ::CloseHandle(mapping);
    memory = nullptr;
    mapping = nullptr;
    memorySize = 0;
}

SharedBlock::SharedBlock(const QString &key) : d(new SharedBlockPrivate(key)) {}

SharedBlock::~SharedBlock()
{
    if (d->locked)
        ::ReleaseMutex(d->mutex);
    d->detach();
    if (d->mutex)
        ::CloseHandle(d->mutex);
}

bool SharedBlock::create(int size)
{
    if (d->memory) {
        d->setError(QSharedMemory::AlreadyExists, "create", QStringLiteral("already attached"));
        return false;
    }
    if (size <= 0) {
        d->setError(QSharedMemory::InvalidSize, "create", QStringLiteral("invalid size"));
        return false;
    }
    if (!d->openMutex("create"))
        return false;
    d->mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, DWORD(size),
                                      objectName("VellixBlock_", d->key).c_str());
    const DWORD code = ::GetLastError();
    if (!d->mapping) {
        d->setWindowsError("create", code);
        return false;
    }
    if (code == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(d->mapping);
        d->mapping = nullptr;
        d->setError(QSharedMemory::AlreadyExists, "create", QStringLiteral("already exists"));
        return false;
    }
    if (!d->map("create"))
        return false;
    d->memorySize = size;
    return true;
}

bool SharedBlock::attach(int minimumSize, int)
{
    if (d->memory) {
        d->setError(QSharedMemory::AlreadyExists, "attach", QStringLiteral("already attached"));
        return false;
    }
    if (!d->openMutex("attach"))
        return false;
    d->mapping = ::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, objectName("VellixBlock_", d->key).c_str());
    if (!d->mapping) {
        d->setWindowsError("attach", ::GetLastError());
        return false;
    }
    if (!d->map("attach"))
        return false;
    if (d->memorySize < minimumSize) {
        d->detach();
        d->setError(QSharedMemory::InvalidSize, "attach", QStringLiteral("the block is smaller than a block"));
        return false;
    }
    return true;
}

bool SharedBlock::lock(int timeoutMs)
{
    if (d->locked)
        return true;
    if (!d->memory || !d->mutex) {
        d->setError(QSharedMemory::LockError, "lock", QStringLiteral("not attached"));
        return false;
    }
    switch (::WaitForSingleObject(d->mutex, DWORD(qMax(timeoutMs, 0)))) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED: // its holder died; the lock is ours now
        d->locked = true;
        return true;
    case WAIT_TIMEOUT:
        d->setError(QSharedMemory::LockError, "lock", QStringLiteral("timed out"));
        return false;
    default:
        d->setWindowsError("lock", ::GetLastError());
        d->error = QSharedMemory::LockError;
        return false;
    }
}

bool SharedBlock::unlock()
{
    if (!d->locked) {
        d->setError(QSharedMemory::LockError, "unlock", QStringLiteral("not locked"));
        return false;
    }
    if (!::ReleaseMutex(d->mutex)) {
        d->setWindowsError("unlock", ::GetLastError());
        d->error = QSharedMemory::LockError;
        return false;
    }
    d->locked = false;
    return true;
}
