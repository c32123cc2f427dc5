#ifndef PRIVATE_FOLDER_H
#define PRIVATE_FOLDER_H

#include <QtCore/qstring.h>

// A folder that only the current user can reach: the hand-off folder and the
// folder of the shared blocks live in the temporary location, which on some
// systems every user can write to.

// The user's temporary folder. Where the environment names one that does
// not exist, the framework gives an empty path, which would put our folders
// at the root of the file system; the system's default serves instead.
QString temporaryFolder();

// Creates the folder (and missing parents) when it is missing, private to the
// user, and returns whether the path is now such a folder of ours.
bool makePrivateFolder(const QString &path);

// True when the path is a real folder (not a link to one) that belongs to the
// current user and that nobody else can write into.
bool isPrivateFolder(const QString &path);

// Where a system shares its temporary folder between users, a folder name
// that another user already holds there cannot be ours; this is the name to
// use instead (the path with the user's id after it). Empty where the
// temporary folder is the user's own.
QString userOwnAlternative(const QString &path);

#endif // PRIVATE_FOLDER_H
