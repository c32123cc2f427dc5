#include "registry.h"

#include "registry_hive.h"

#include <QtCore/qdir.h>
#include <QtCore/qfileinfo.h>
#include <QtCore/qfile.h>
#include <QtCore/qstandardpaths.h>
#include <QtCore/qvector.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// Without a registry, each root key is one text file in the registry
// editor's export format, in Zentharo/Registry under the user's
// configuration folder: HKEY_CURRENT_USER.reg, HKEY_CLASSES_ROOT.reg.
// A change reads the file, applies itself and replaces the file in one
// rename, all under an exclusive flock on a lock file beside it, so two
// installs at once or a crash mid-write never leave a mixed or half file.
// A file that cannot be read as such an export is never written over.

namespace {

QString hiveFile(const QString &keyPath)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
            + QStringLiteral("/Zentharo/Registry/") + RegistryHive::rootOf(keyPath)
            + QStringLiteral(".reg");
}

class HiveLock
{
public:
    explicit HiveLock(const QString &hive, int operation)
    {
        const QByteArray path = QFile::encodeName(hive + QStringLiteral(".lock"));
        fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd == -1)
            return;
        int result;
        do {
            result = ::flock(fd, operation);
        } while (result == -1 && errno == EINTR);
        if (result == -1) {
            ::close(fd);
            fd = -1;
        }
    }
    ~HiveLock()
    {
        if (fd != -1)
            ::close(fd); // drops the lock
    }
    bool isLocked() const { return fd != -1; }

private:
    Q_DISABLE_COPY(HiveLock)
    int fd = -1;
};

// Reads the hive file, if there is one, into *hive. A link, a FIFO or
// anything else that is not a plain file is neither read nor written
// through; *problem then says why.
bool readHive(const QString &path, RegistryHive *hive, QByteArray *bytes, QString *problem = nullptr)
{
    const auto refuse = [&](const QString &why) {
        if (problem)
            *problem = why;
        return false;
    };
    const QByteArray native = QFile::encodeName(path);
    struct stat named;
    if (::lstat(native.constData(), &named) != 0)
        return errno == ENOENT || refuse(QString::fromLocal8Bit(std::strerror(errno)));
    if (S_ISLNK(named.st_mode))
        return refuse(QStringLiteral("it is a symbolic link"));
    if (!S_ISREG(named.st_mode))
        return refuse(QStringLiteral("it is not a regular file"));
    // Not blocking: whatever took the file's place meanwhile must not hang us.
    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1)
        return refuse(QString::fromLocal8Bit(std::strerror(errno)));
    QFile file;
    struct stat opened;
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        return refuse(QStringLiteral("it is not a regular file"));
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return refuse(file.errorString());
    }
    *bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return refuse(file.errorString());
    if (!hive->parse(*bytes))
        return refuse(QStringLiteral("it is not a registry export (UTF-8, or UTF-16LE with a byte-order mark)"));
    return true;
}

bool replaceFile(const QString &path, const QByteArray &bytes)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray draft = target + ".XXXXXX";
    const int fd = ::mkostemp(draft.data(), O_CLOEXEC);
    if (fd == -1)
        return false;
    qint64 written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += n;
    }
    const bool complete = written == bytes.size() && ::fsync(fd) == 0;
    ::fchmod(fd, 0600);
    ::close(fd);
    if (!complete || ::rename(draft.constData(), target.constData()) != 0) {
        ::unlink(draft.constData());
        return false;
    }
    return true;
}

} // namespace

class RegistryKeyPrivate
{
public:
    struct Change
    {
        bool isRemoval;
        QString name;
        QString data;
    };

    QString path;
    QVector<Change> changes;
};

RegistryKey::RegistryKey(const QString &path) : d(new RegistryKeyPrivate)
{
    d->path = path;
}

RegistryKey::~RegistryKey()
{
    close();
}

void RegistryKey::setValue(const QString &name, const QString &data)
{
    d->changes.append({ false, name, data });
}

void RegistryKey::remove(const QString &name)
{
    d->changes.append({ true, name, QString() });
}

QString RegistryKey::stringValue(const QString &name) const
{
    const QString file = hiveFile(d->path);
    HiveLock lock(file, LOCK_SH);
    RegistryHive hive;
    QByteArray bytes;
    if (!readHive(file, &hive, &bytes))
        return QString();
    return hive.stringValue(d->path, name);
}

bool RegistryKey::close()
{
    if (d->changes.isEmpty() || RegistryHive::rootOf(d->path).isEmpty())
        return d->changes.isEmpty();
    const QString file = hiveFile(d->path);
    QDir().mkpath(QFileInfo(file).path());
    HiveLock lock(file, LOCK_EX);
    RegistryHive hive;
    QByteArray before;
    bool made = readHive(file, &hive, &before);
    if (made) {
        for (const RegistryKeyPrivate::Change &change : qAsConst(d->changes)) {
            if (change.isRemoval)
                hive.remove(d->path, change.name);
            else
                hive.setString(d->path, change.name, change.data);
        }
        const QByteArray after = hive.serialize();
        // Removing what is not there makes no file, and needs no write
        // (as the registry lets anyone find a key missing).
        const bool unchanged = after == before || (before.isEmpty() && hive.isEmpty());
        made = unchanged || (lock.isLocked() && replaceFile(file, after));
    }
    d->changes.clear();
    return made;
}

bool registryReady(QString *problem)
{
    for (const char *root : { "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER" }) {
        const QString file = hiveFile(QLatin1String(root));
        RegistryHive hive;
        QByteArray bytes;
        QString why;
        if (!readHive(file, &hive, &bytes, &why)) {
            *problem = QStringLiteral("cannot read %1: %2").arg(file, why);
            return false;
        }
    }
    return true;
}
