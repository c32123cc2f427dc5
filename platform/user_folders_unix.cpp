#include "user_folders.h"

QString roamingAppDataFolder()
{
    // The editor's settings lie where the home folder's path says.
    return QString();
}

QString localAppDataFolder()
{
    return QString();
}
