#ifndef EDITOR_LAUNCH_H
#define EDITOR_LAUNCH_H

#include <QtCore/qlist.h>
#include <QtCore/qstringlist.h>

// The one way a selection leaves the helper: the editor beside it, started
// detached in the install folder, let come to the front, with one
// argument: the verb flag and the paths, joined by ";".

// The paths as the editor's list carries them (a name that holds ";" by
// its short name where its volume keeps one).
QStringList listedPaths(const QStringList &paths);

// Where one argument with every listed path would pass the system's bound
// on a command line, the editor is started once for each span of whole
// paths that fits, in order: the end (one past the last index) of each.
QList<int> startSpans(const QString &verbFlag, const QStringList &listed);

// One start with the listed paths; false when it failed or there is no
// path to give.
bool startEditor(const QString &verbFlag, const QStringList &listed);

// Every path, in as many starts as the bound asks; whether all succeeded.
bool launchEditor(const QString &verbFlag, const QStringList &paths);

#endif // EDITOR_LAUNCH_H
