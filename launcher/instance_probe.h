#ifndef INSTANCE_PROBE_H
#define INSTANCE_PROBE_H

#include <QtCore/qstring.h>

// Lines of a task list (CR LF between lines) that contain the application's
// name anywhere, letter case included.
int countListedCopies(const QByteArray &taskList, const QString &applicationName);

// True when the task list shows exactly one copy of this program: this one.
bool isSoleRunningCopy();

#endif // INSTANCE_PROBE_H
