#ifndef SELECTION_HANDOFF_H
#define SELECTION_HANDOFF_H

#include <QtCore/qstringlist.h>

class SingleApplication;

// Starts the editor beside the helper, detached, with one argument: the
// verb flag and the paths, joined by ";".
void launchEditor(const QString &verbFlag, const QStringList &paths);

// A secondary copy leaves its path in the hand-off folder, in a file named
// after its process id, for the primary it registered with, and ends the
// process with exit code 0. When that primary has given up its role
// meanwhile, or the file cannot be written, it starts the editor with its
// own path under its own verb instead.
[[noreturn]] void handOffSelection(SingleApplication &app, const QString &handoffFolder,
                                   const QString &verbFlag, const QString &filePath);

// The primary copy leaves its own path the same way, waits until the other
// copies of the selection have left theirs, and starts the editor once with
// the verb flag and every path.
void collectSelection(SingleApplication &app, const QString &handoffFolder,
                      const QString &verbFlag, const QString &filePath);

#endif // SELECTION_HANDOFF_H
