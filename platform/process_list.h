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
// Processes that cannot go on by themselves for now are left out where the
// system tells them cheaply (Linux: stopped ones, and those that have
// existed for longer than heldUpAfterMs when that is not negative).
QStringList runningImageNames(int timeoutMs, qint64 heldUpAfterMs = -1);

// The image names in the task list's CSV form without header (/FO CSV /NH):
// the first quoted field of each line that has one.
QStringList imageNamesFromCsv(const QString &csv);

// True when the process of that id is alive, belongs to the current user and
// runs this program's own executable file, whatever path either was started
// by (compared as the system resolves it, by the file's identity).
bool isRunningCopy(qint64 pid);

// When the process of that id started, as a number of the system's own:
// two processes that bear the same id one after the other have different
// stamps. 0 when the process is not there or cannot be asked.
quint64 processStartStamp(qint64 pid);

// True when the process of that id is stopped (by a signal or a debugger)
// and so cannot go on by itself; false where the system cannot tell.
bool isStoppedProcess(qint64 pid);

// How long the process of that id has existed, in milliseconds (a stopped
// process ages too); -1 when that cannot be told.
qint64 processAgeMs(qint64 pid);

#endif // PROCESS_LIST_H
