#include "owner_lock.h"

#include <QtCore/qfile.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

OwnerLock::~OwnerLock()
{
    release();
}

bool OwnerLock::acquire(const QString &path, Opening opening)
{
    release();
    // Close-on-exec: an editor started from here must not keep the hold
    // after its starter has ended.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | (opening == CreateIfMissing ? O_CREAT : 0), 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    handle = fd;
    held = path;
    return true;
}

void OwnerLock::release(bool remove)
{
    if (!isHeld())
        return;
    // Removed while still held, so that nobody holds a name that is gone.
    if (remove)
        ::unlink(QFile::encodeName(held).constData());
    ::close(int(handle));
    handle = invalidHandle;
    held.clear();
}

QByteArray OwnerLock::contents() const
{
    QByteArray bytes;
    if (!isHeld())
        return bytes;
    char buffer[4096];
    off_t offset = 0;
    for (;;) {
        const ssize_t got = ::pread(int(handle), buffer, sizeof buffer, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        bytes.append(buffer, int(got));
        offset += got;
    }
    return bytes;
}

bool OwnerLock::append(const QByteArray &bytes)
{
    if (!isHeld() || ::lseek(int(handle), 0, SEEK_END) < 0)
        return false;
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(int(handle), bytes.constData() + done, size_t(bytes.size() - done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += put;
    }
    return true;
}
