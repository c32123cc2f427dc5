#ifndef LOGIN_NAME_H
#define LOGIN_NAME_H

#include <QtCore/qstring.h>

// The login name of the user this process runs as; the environment variable
// USERNAME when the system cannot tell (empty when that is not set either).
QString systemLoginName();

#ifdef Q_OS_WIN
// The security identifier of the user this process runs as, as text
// ("S-1-5-21-..."); empty when the system cannot tell.
QString userSidText();
// The same for the process of that id; empty when it is not there or its
// token may not be read (as another user's usually may not).
QString userSidTextOf(qint64 pid);
#endif

#endif // LOGIN_NAME_H
