#include "shared_block_p.h"

#include "private_folder.h"

#include <QtCore/qdir.h>
#include <QtCore/qelapsedtimer.h>
#include <QtCore/qfile.h>
#include <QtCore/qhash.h>

#include <cerrno>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

// The block is a file named by the key in a folder private to the user,
// mapped shared by every process that attaches it. Each attached process
// holds a shared flock on the file, so the last one to detach can tell that
// it is the last and remove the file, as a segment goes with its last user.
// The lock is an exclusive flock on a second file beside it; the kernel
// drops both when a holder dies, so a killed process never leaves the lock
// taken or the block marked as in use. A flock wait has no time-out of its
// own: a repeating timer signal interrupts it, so that the wait can look at
// its deadline.

namespace {

QString blockFolder()
{
    return temporaryFolder() + QLatin1String("/vellix-blocks-") + QString::number(::geteuid());
}

template <typename Call>
int withoutEintr(Call call)
{
    int result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}

void wakeUp(int)
{
}

// flock(fd, operation) that gives up with ETIMEDOUT after timeoutMs.
bool flockWithin(int fd, int operation, int timeoutMs)
{
    if (::flock(fd, operation | LOCK_NB) == 0)
        return true;
    if (errno != EWOULDBLOCK && errno != EINTR)
        return false;
    if (timeoutMs <= 0) {
        errno = ETIMEDOUT;
        return false;
    }
    // A starter that blocks the signal (as programs that start processes
    // from a thread blocking every signal do) hands its mask on: without
    // this, a holder stopped for good would hold the wait for ever.
    sigset_t alarmOnly, previousMask;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    ::pthread_sigmask(SIG_UNBLOCK, &alarmOnly, &previousMask);
    struct sigaction wake = {};
    struct sigaction previousAction;
    wake.sa_handler = wakeUp;
    sigemptyset(&wake.sa_mask);
    wake.sa_flags = 0; // no SA_RESTART: the wait ends with EINTR at each tick
    ::sigaction(SIGALRM, &wake, &previousAction);
    const struct itimerval tick = { { 0, 20000 }, { 0, 20000 } };
    struct itimerval previousTimer;
    ::setitimer(ITIMER_REAL, &tick, &previousTimer);

    QElapsedTimer clock;
    clock.start();
    int result;
    do {
        result = ::flock(fd, operation);
    } while (result == -1 && errno == EINTR && clock.elapsed() < timeoutMs);
    const int error = errno;

    ::setitimer(ITIMER_REAL, &previousTimer, nullptr);
    ::sigaction(SIGALRM, &previousAction, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    errno = error == EINTR ? ETIMEDOUT : error;
    return result == 0;
}

QSharedMemory::SharedMemoryError errorFromErrno(int code)
{
    switch (code) {
    case EACCES:
    case EPERM:
    case ELOOP:
        return QSharedMemory::PermissionDenied;
    case ENOENT:
        return QSharedMemory::NotFound;
    case EEXIST:
        return QSharedMemory::AlreadyExists;
    case ENOSPC:
    case EDQUOT:
    case ENOMEM:
    case EMFILE:
    case ENFILE:
        return QSharedMemory::OutOfResources;
    default:
        return QSharedMemory::UnknownError;
    }
}

#ifdef VELLIX_FAULT_INJECTION
// A build for the tests alone: the environment variables VELLIX_FAIL_CREATE,
// VELLIX_FAIL_LOCK and VELLIX_FAIL_UNLOCK list the calls of this process
// (1 for the first, comma-separated) that fail as the system could make
// them fail.
bool injectedFailure(const char *variable)
{
    static QHash<QByteArray, int> calls;
    const int call = ++calls[variable];
    return qgetenv(variable).split(',').contains(QByteArray::number(call));
}
#  define VELLIX_INJECT(variable, code, function)                                          \
    do {                                                                                    \
        if (injectedFailure(variable)) {                                                    \
            d->setError(code, function, QStringLiteral("injected failure"));                \
            return false;                                                                   \
        }                                                                                   \
    } while (false)
#else
#  define VELLIX_INJECT(variable, code, function) do {} while (false)
#endif

bool sameFile(int fd, const QByteArray &path)
{
    struct stat opened, named;
    return ::fstat(fd, &opened) == 0 && ::lstat(path.constData(), &named) == 0
            && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

} // namespace

void SharedBlockPrivate::setErrnoError(const char *function, int code)
{
    setError(errorFromErrno(code), function, QString::fromLocal8Bit(std::strerror(code)));
}

bool SharedBlockPrivate::openLockFile(const char *function)
{
    if (key.isEmpty()) {
        setError(QSharedMemory::KeyError, function, QStringLiteral("key is empty"));
        return false;
    }
    const QString folder = blockFolder();
    if (!makePrivateFolder(folder)) {
        setError(QSharedMemory::PermissionDenied, function,
                 QStringLiteral("%1 is not a private folder of this user").arg(folder));
        return false;
    }
    blockPath = QFile::encodeName(folder + QLatin1Char('/') + key);
    if (lockFd != -1)
        return true;
    const QByteArray lockPath = blockPath + ".lock";
    lockFd = withoutEintr([&] {
        return ::open(lockPath.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    });
    if (lockFd == -1) {
        setErrnoError(function, errno);
        return false;
    }
    return true;
}

bool SharedBlockPrivate::map(int fd, int bytes, const char *function)
{
    void *mapped = ::mmap(nullptr, size_t(bytes), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) {
        setErrnoError(function, errno);
        ::close(fd);
        return false;
    }
    dataFd = fd;
    memory = mapped;
    memorySize = bytes;
    error = QSharedMemory::NoError;
    errorString.clear();
    return true;
}

void SharedBlockPrivate::detach()
{
    if (!memory)
        return;
    // Under the lock nobody attaches or creates; if no other process holds
    // the block, this is its last user and the file goes with it. Whoever
    // holds the lock instead has the block attached, so this is not its
    // last user, and the file stays.
    const bool hadLock = locked || ::flock(lockFd, LOCK_EX | LOCK_NB) == 0;
    if (hadLock && ::flock(dataFd, LOCK_EX | LOCK_NB) == 0 && sameFile(dataFd, blockPath))
        ::unlink(blockPath.constData());
    ::munmap(memory, size_t(memorySize));
    ::close(dataFd);
    memory = nullptr;
    memorySize = 0;
    dataFd = -1;
    if (hadLock && !locked)
        ::flock(lockFd, LOCK_UN);
}

SharedBlock::SharedBlock(const QString &key) : d(new SharedBlockPrivate(key)) {}

SharedBlock::~SharedBlock()
{
    d->detach();
    if (d->lockFd != -1)
        ::close(d->lockFd);
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
    if (!d->openLockFile("create"))
        return false;
    VELLIX_INJECT("VELLIX_FAIL_CREATE", QSharedMemory::PermissionDenied, "create");

    // The file is made whole under a private name and then linked into place,
    // so nobody ever sees it with the wrong size, and only one creator wins.
    QByteArray draft = d->blockPath + ".XXXXXX";
    const int fd = ::mkostemp(draft.data(), O_CLOEXEC);
    if (fd == -1) {
        d->setErrnoError("create", errno);
        return false;
    }
    // Allocated for real: on a full disk the create fails here, rather than
    // the first write through the mapping ending the process with SIGBUS.
    const int allocated = ::posix_fallocate(fd, 0, size);
    if (allocated != 0)
        errno = allocated;
    const bool ready = allocated == 0 && withoutEintr([&] { return ::flock(fd, LOCK_SH); }) == 0;
    const int readyErrno = errno;
    const bool linked = ready && ::link(draft.constData(), d->blockPath.constData()) == 0;
    const int linkErrno = errno;
    ::unlink(draft.constData());
    if (!linked) {
        ::close(fd);
        if (!ready)
            d->setErrnoError("create", readyErrno);
        else if (linkErrno == EEXIST)
            d->setError(QSharedMemory::AlreadyExists, "create", QStringLiteral("already exists"));
        else
            d->setErrnoError("create", linkErrno);
        return false;
    }
    return d->map(fd, size, "create");
}

bool SharedBlock::attach(int minimumSize, int timeoutMs)
{
    if (d->memory) {
        d->setError(QSharedMemory::AlreadyExists, "attach", QStringLiteral("already attached"));
        return false;
    }
    if (!d->openLockFile("attach"))
        return false;
    const int fd = withoutEintr([&] {
        return ::open(d->blockPath.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    });
    if (fd == -1) {
        d->setErrnoError("attach", errno);
        return false;
    }
    if (!flockWithin(fd, LOCK_SH, timeoutMs)) {
        d->setErrnoError("attach", errno);
        ::close(fd);
        return false;
    }
    // The last user may have removed the file between our open and our
    // flock; then this handle names a block nobody else will ever see.
    struct stat st;
    if (!sameFile(fd, d->blockPath) || ::fstat(fd, &st) != 0) {
        ::close(fd);
        d->setError(QSharedMemory::NotFound, "attach", QStringLiteral("the block went away"));
        return false;
    }
    // A file shorter than the block would be read past its end, and writes
    // there would never reach the other processes.
    if (st.st_size < qMax(minimumSize, 1) || st.st_size > (1 << 20)) {
        ::close(fd);
        d->setError(QSharedMemory::InvalidSize, "attach",
                    QStringLiteral("the block has %1 bytes, not a block's").arg(st.st_size));
        return false;
    }
    return d->map(fd, int(st.st_size), "attach");
}

bool SharedBlock::lock(int timeoutMs)
{
    if (d->locked)
        return true;
    if (!d->memory) {
        d->setError(QSharedMemory::LockError, "lock", QStringLiteral("not attached"));
        return false;
    }
    VELLIX_INJECT("VELLIX_FAIL_LOCK", QSharedMemory::LockError, "lock");
    if (!flockWithin(d->lockFd, LOCK_EX, timeoutMs)) {
        d->setError(QSharedMemory::LockError, "lock", QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    d->locked = true;
    return true;
}

bool SharedBlock::unlock()
{
    if (!d->locked) {
        d->setError(QSharedMemory::LockError, "unlock", QStringLiteral("not locked"));
        return false;
    }
    VELLIX_INJECT("VELLIX_FAIL_UNLOCK", QSharedMemory::LockError, "unlock");
    if (::flock(d->lockFd, LOCK_UN) != 0) {
        d->setError(QSharedMemory::LockError, "unlock", QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    d->locked = false;
    return true;
}
