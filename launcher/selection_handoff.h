#ifndef SELECTION_HANDOFF_H
#define SELECTION_HANDOFF_H

#include <QtCore/qstringlist.h>

class SingleApplication;

// A secondary copy leaves its path in the hand-off folder, in a file of its
// own, for the primary it registered with, and ends the
// process with exit code 0. When that primary has given up its role
// meanwhile, or the file cannot be written, it starts the editor with its
// own path under its own verb instead, and ends with exit code 1 if that
// start fails (then its file stays for the next primary).
[[noreturn]] void handOffSelection(SingleApplication &app, const QString &handoffFolder,
                                   const QString &verbFlag, const QString &filePath);

// The primary copy leaves its own path the same way, waits until the other
// copies of the selection have left theirs, and starts the editor once with
// the verb flag and every path (once more for each other verb among the
// files, and for what a primary that died left), in the order of their
// files' names. False when a start failed (the files of that start stay
// for the next primary) or a file of the folder had to be left for a later
// primary (held by another program, or unreadable).
bool collectSelection(SingleApplication &app, const QString &handoffFolder,
                      const QString &verbFlag, const QString &filePath);

#endif // SELECTION_HANDOFF_H
