#ifndef USER_FOLDERS_H
#define USER_FOLDERS_H

#include <QtCore/qstring.h>

// The user's roaming application data folder as the system knows it, with
// forward slashes: on Windows the known folder, wherever a roaming profile
// or folder redirection has put it (not always under the home folder).
// Empty where the system has no such folder.
QString roamingAppDataFolder();

// The user's local application data folder, the same way.
QString localAppDataFolder();

#endif // USER_FOLDERS_H
