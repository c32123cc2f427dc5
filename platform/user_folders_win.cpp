#include "user_folders.h"

#include <QtCore/qdir.h>

#include <qt_windows.h>
#include <knownfolders.h>
#include <shlobj.h>

QString roamingAppDataFolder()
{
    // Not verified: a redirected folder on a share that is away for the
    // moment still names where the settings are.
    wchar_t *path = nullptr;
    QString folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DONT_VERIFY, nullptr, &path)))
        folder = QDir::fromNativeSeparators(QString::fromWCharArray(path));
    ::CoTaskMemFree(path);
    return folder;
}
