#ifndef PROCESS_LIST_H
#define PROCESS_LIST_H

#include <QtCore/qbytearray.h>
#include <QtCore/qglobal.h>

// What the system's task list prints: one line per running process, lines
// separated by CR LF, each naming the process's executable file. Empty when
// the list cannot be had (within 30 seconds). Where processes belong to
// users, as on Linux, the list holds the current user's own.
QByteArray runningProcessList();

// True when the process of that id is alive, belongs to the current user and
// runs this program's own executable file.
bool isRunningCopy(qint64 pid);

#endif // PROCESS_LIST_H
