#include "private_folder.h"

#include <QtCore/qdir.h>
#include <QtCore/qfile.h>
#include <QtCore/qfileinfo.h>
#include <QtCore/qstandardpaths.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

QString temporaryFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    return folder.isEmpty() ? QStringLiteral("/tmp") : folder;
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
