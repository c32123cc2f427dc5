#ifndef PRIVATE_FOLDER_H
#define PRIVATE_FOLDER_H

#include <QtCore/qstring.h>

// A folder that only the current user can reach: the hand-off folder, the
// folder of the shared blocks and the primary's channel live in the user's
// temporary location, where no other user may create a name.

// The user's own temporary folder, chosen once per process. On Windows it
// is the user's profile's. Elsewhere the first of these that is a folder of
// the user's, that nobody else can write into and that the user can write
// to: $XDG_RUNTIME_DIR, then the temporary location ($TMPDIR, /tmp), then
// a folder of the user's cache ($XDG_CACHE_HOME, ~/.cache) named for the
// machine, which is made when missing. Every copy of the program started
// with the same environment gets the same answer.
QString temporaryFolder();

#ifndef Q_OS_WIN
// The choice itself, made anew at each call.
QString chooseTemporaryFolder();
#endif

// The name under which the primary's channel listens and is reached: in
// the user's own temporary folder, where the framework lets us choose.
QString privateChannelName(const QString &key);

// Creates the folder (and missing parents) when it is missing, private to the
// user, and returns whether the path is now such a folder of ours.
bool makePrivateFolder(const QString &path);

// True when the path is a real folder (not a link or a junction to one)
// that belongs to the current user and that nobody else can write into.
bool isPrivateFolder(const QString &path);

#ifdef Q_OS_WIN
// What isPrivateFolder asks of a folder's security descriptor, given as
// SDDL text: owned by the user (or by the Administrators group or the
// system while it grants the folder to the user), nobody else able to write.
bool descriptorIsPrivate(const QString &sddl);
#endif

// Removes the folder and everything in it; a link or a junction inside is
// removed itself, never followed.
bool removeTree(const QString &path);

// Where a system shares its temporary folder between users, a folder name
// that another user already holds there cannot be ours; this is the name to
// use instead (the path with the user's id after it). Empty where the
// temporary folder is the user's own.
QString userOwnAlternative(const QString &path);

#endif // PRIVATE_FOLDER_H
