#ifndef SELECTION_HANDOFF_H
#define SELECTION_HANDOFF_H

#include <QtCore/qstring.h>

class SingleApplication;

// A secondary copy leaves its path in the hand-off folder, in a file named
// after its process id, and ends the process with exit code 0.
[[noreturn]] void handOffSelection(const QString &handoffFolder, const QString &filePath);

// The primary copy leaves its own path the same way, waits until the other
// copies of the selection have left theirs, and starts the editor once with
// the verb flag and every path.
void collectSelection(SingleApplication &app, const QString &handoffFolder,
                      const QString &verbFlag, const QString &filePath);

#endif // SELECTION_HANDOFF_H
