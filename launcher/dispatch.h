#ifndef DISPATCH_H
#define DISPATCH_H

#include <QtCore/qstringlist.h>

class SingleApplication;

// The folder in the temporary location through which the copies of one
// selection hand their paths to the primary.
QString handoffFolderPath();

// The exit code of an install or uninstall that changed nothing because the
// registry could not be read.
constexpr int RegistryUnusableExitCode = 2;

// The exit code of an install or uninstall that the registry refused a
// change: the integration is not whole.
constexpr int RegistryIncompleteExitCode = 3;

// The exit code of a copy of a selection whose start of the editor failed,
// or that had to leave a path for a later primary (held by another
// program, unreadable); the paths it could not deliver stay for the next
// primary.
constexpr int EditorNotStartedExitCode = 1;

// True when the arguments are one file of a selection: a verb flag and a
// path (an empty one names no file).
bool isSelection(const QStringList &arguments);

// The start options of the run: a run that gathers nothing never becomes
// a primary that the copies of a selection would hand their paths to.
int startOptionsFor(const QStringList &arguments);

// A server that COM started and nobody called ends after this long.
constexpr int DropTargetIdleMs = 5000;

// True when COM started the helper as the verbs' drop-target server.
bool isDropTargetServerRun(const QStringList &arguments);

// COM starts the helper as the verbs' drop targets: the file manager hands
// it each selection whole, and each goes to the editor as a selection of
// copies would (the verb flag, the system's bound, the install folder, the
// foreground). COM waits for its classes, so it takes no part in the
// election: no lock of the copies' can hold it up. Where there is no COM it
// has nothing to serve. Returns the exit code.
int serveVerbsAsDropTargets();

// One run of the helper once its application object exists: makes sure the
// hand-off folder is there and does what the arguments ask. Returns the exit
// code; a secondary's hand-off ends the process itself.
int runHelper(SingleApplication &app, const QStringList &arguments);

// A run that could take no part in the election (no shared block to be
// had): install and uninstall do their work all the same, and a file of a
// selection goes to the editor alone, or, where that start fails, waits in
// the hand-off folder for the next primary. Returns the exit code.
int runWithoutElection(const QStringList &arguments);

#endif // DISPATCH_H
