#ifndef INSTANCE_PROBE_H
#define INSTANCE_PROBE_H

#include <QtCore/qstringlist.h>

// Processes of a task list whose image name contains the application's
// name anywhere, letter case included.
int countListedCopies(const QStringList &imageNames, const QString &applicationName);

// True when the task list shows exactly one copy of this program that is
// still to hand a path on: this one. A drop-target server is none, and
// neither are the otherPrimaries that the caller knows of (primaries of
// other installations of the same file name, earlier ones still starting
// the editor).
// A list that cannot be had within timeoutMs, or that does not show even
// this copy, tells nothing; then this is true as well, and the caller goes
// on as the registrations of the other copies allow.
bool isSoleRunningCopy(int timeoutMs, int otherPrimaries = 0);

#endif // INSTANCE_PROBE_H
