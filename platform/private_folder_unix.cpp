#include "private_folder.h"

#include <QtCore/qdir.h>
#include <QtCore/qfile.h>
#include <QtCore/qfileinfo.h>
#include <QtCore/qstandardpaths.h>

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

QString temporaryFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (isUsablePlace(runtime))
        return QDir::cleanPath(runtime);
    // The framework falls back to /tmp itself; a TMPDIR that names no
    // folder would give an empty path, which is no place either.
    const QString temporary = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    if (isUsablePlace(temporary))
        return temporary;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
            + QStringLiteral("/vellix-runtime");
    makePrivateFolder(cache);
    return cache;
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
