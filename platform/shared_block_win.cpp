#include "shared_block_p.h"

#include "login_name.h"

#include <qt_windows.h>
#include <sddl.h>

#include <string>
#include <vector>

// The block is a file mapping backed by the paging file, which goes with
// its last handle, as a segment goes with its last user. Its lock is a
// named mutex: when a holder dies the system gives the mutex to the next
// waiter as "abandoned", and that waiter holds the lock like any other. The
// block may be half written then; its checksum tells, and the start-up
// decision waits on such a block and resets it. (A semaphore, which
// QSharedMemory locks with, is never given back by a dying holder.)
//
// Both objects are made for the user (and the system) by name, not with
// the creator's default security: a copy run elevated (the installer's
// install) would otherwise make objects that the user's ordinary copies,
// started by the file manager at the same moment, cannot open. They are
// opened with the least rights the program uses.

namespace {

std::wstring objectName(const char *kind, const QString &key)
{
    return (QLatin1String("Local\\") + QLatin1String(kind) + key).toStdWString();
}

constexpr DWORD MutexRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;
constexpr DWORD MappingRights = FILE_MAP_READ | FILE_MAP_WRITE;

// Full rights for the user and the system, nobody else; labelled medium,
// so that an elevated creator's objects are not out of its ordinary
// copies' reach (an object of a higher label may not be written from a
// lower one). Where the label cannot be set, the access list alone.
class ObjectSecurity
{
public:
    ObjectSecurity()
    {
        const QString user = userSidText();
        if (user.isEmpty())
            return;
        const QString access = QStringLiteral("D:P(A;;GA;;;%1)(A;;GA;;;SY)").arg(user);
        for (const QString &sddl : { access + QStringLiteral("S:(ML;;NW;;;ME)"), access }) {
            const std::wstring text = sddl.toStdWString();
            if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &descriptor,
                                                                       nullptr))
                break;
            descriptor = nullptr;
        }
        attributes.nLength = sizeof attributes;
        attributes.lpSecurityDescriptor = descriptor;
        attributes.bInheritHandle = FALSE;
    }
    ~ObjectSecurity()
    {
        if (descriptor)
            ::LocalFree(descriptor);
    }
    // Null (the default security) only where the user cannot be named.
    SECURITY_ATTRIBUTES *get() { return descriptor ? &attributes : nullptr; }

private:
    Q_DISABLE_COPY(ObjectSecurity)
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes = {};
};

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
    const std::wstring name = objectName("VellixBlockLock_", key);
    ObjectSecurity security;
    mutex = ::CreateMutexExW(security.get(), name.c_str(), 0, MutexRights);
    if (!mutex)
        mutex = ::OpenMutexW(MutexRights, FALSE, name.c_str());
    if (!mutex) {
        setWindowsError(function, ::GetLastError());
        return false;
    }
    return true;
}

bool SharedBlockPrivate::map(const char *function)
{
    memory = ::MapViewOfFile(mapping, MappingRights, 0, 0, 0);
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
    // Named first: the code that tells "already exists" is read right
    // after the call, before anything else can change it.
    const std::wstring name = objectName("VellixBlock_", d->key);
    ObjectSecurity security;
    d->mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, security.get(), PAGE_READWRITE, 0, DWORD(size),
                                      name.c_str());
    const DWORD code = ::GetLastError();
    // One that exists but was made for other rights than ours is attached
    // to, as far as they let us.
    if (!d->mapping && code == ERROR_ACCESS_DENIED) {
        d->setError(QSharedMemory::AlreadyExists, "create", QStringLiteral("already exists"));
        return false;
    }
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
    const std::wstring name = objectName("VellixBlock_", d->key);
    d->mapping = ::OpenFileMappingW(MappingRights, FALSE, name.c_str());
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
