#ifndef PROCESS_LIST_H
#define PROCESS_LIST_H

#include <QtCore/qglobal.h>
#include <QtCore/qstringlist.h>

// The executable file name (with its extension) of each running process,
// one entry a process, as the system's task list gives them; empty when the
// list cannot be had within timeoutMs. Where processes belong to users and
// sessions, the list holds the current user's own (on Windows: the
// session's, and everyone's when the filtered list does not show even this
// process, as when the tool refuses the filter).
QStringList runningImageNames(int timeoutMs);

// The image names in the task list's CSV form without header (/FO CSV /NH):
// the first quoted field of each line that has one.
QStringList imageNamesFromCsv(const QString &csv);

// True when the process of that id is alive, belongs to the current user and
// runs this program's own executable file, whatever path either was started
// by (compared as the system resolves it, by the file's identity).
bool isRunningCopy(qint64 pid);

#endif // PROCESS_LIST_H
