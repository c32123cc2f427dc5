#include "private_folder.h"

#include <QtCore/qdir.h>
#include <QtCore/qfile.h>
#include <QtCore/qfileinfo.h>
#include <QtCore/qdiriterator.h>
#include <QtCore/qstandardpaths.h>
#include <QtCore/qsysinfo.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder of the user's that no other user can add a name to, and that
// the user can write to; links to such a folder count too, since the
// user named them.
bool isUsablePlace(const QString &path)
{
    if (path.isEmpty() || !QFileInfo(path).isAbsolute())
        return false;
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    return ::stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
            && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 && ::access(native.constData(), W_OK | X_OK) == 0;
}

} // namespace

QString chooseTemporaryFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (isUsablePlace(runtime))
        return QDir::cleanPath(runtime);
    // The framework falls back to /tmp itself; a TMPDIR that names no
    // folder would give an empty path, which is no place either.
    const QString temporary = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    if (isUsablePlace(temporary))
        return temporary;
    // A home shared over the network is shared by machines, whose copies
    // must not meet: the folder carries the machine's name.
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
            + QStringLiteral("/vellix-runtime-") + QSysInfo::machineHostName();
    makePrivateFolder(cache);
    return cache;
}

QString temporaryFolder()
{
    // Chosen once: a runtime folder made or removed at login or logout
    // meanwhile must not part the lock, the block and the hand-off folder
    // of one process.
    static const QString folder = chooseTemporaryFolder();
    return folder;
}

QString privateChannelName(const QString &key)
{
    return temporaryFolder() + QLatin1Char('/') + key;
}

bool makePrivateFolder(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    return isPrivateFolder(path);
}

bool isPrivateFolder(const QString &path)
{
    struct stat st;
    // lstat: a symbolic link in the folder's place is never followed.
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
            && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

QString userOwnAlternative(const QString &path)
{
    return path + QLatin1Char('-') + QString::number(::geteuid());
}

bool removeTree(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0)
        return false;
    // A link is removed itself; what it points at stays.
    if (!S_ISDIR(st.st_mode))
        return ::unlink(native.constData()) == 0;
    QDirIterator entries(path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    while (entries.hasNext())
        removeTree(entries.next());
    return ::rmdir(native.constData()) == 0;
}
