#include "user_folders.h"

#include <QtCore/qdir.h>

#include <qt_windows.h>
#include <knownfolders.h>
#include <shlobj.h>

namespace {

// Not verified: a redirected folder on a share that is away for the moment
// still names where it is.
QString knownFolder(REFKNOWNFOLDERID id)
{
    wchar_t *path = nullptr;
    QString folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path)))
        folder = QDir::fromNativeSeparators(QString::fromWCharArray(path));
    ::CoTaskMemFree(path);
    return folder;
}

} // namespace

QString roamingAppDataFolder()
{
    return knownFolder(FOLDERID_RoamingAppData);
}

QString localAppDataFolder()
{
    return knownFolder(FOLDERID_LocalAppData);
}
