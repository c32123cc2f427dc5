#include "private_folder.h"

#include <QtCore/qdir.h>
#include <QtCore/qfileinfo.h>
#include <QtCore/qstandardpaths.h>

// The temporary location is the user's own profile folder on Windows.

QString temporaryFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    return folder.isEmpty() ? QDir::tempPath() : folder;
}

QString privateChannelName(const QString &key)
{
    return key;
}

bool makePrivateFolder(const QString &path)
{
    QDir().mkpath(path);
    return isPrivateFolder(path);
}

bool isPrivateFolder(const QString &path)
{
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink();
}

QString userOwnAlternative(const QString &)
{
    return QString();
}
