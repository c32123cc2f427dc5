#ifndef LOGIN_NAME_H
#define LOGIN_NAME_H

#include <QtCore/qstring.h>

// The login name of the user this process runs as; the environment variable
// USERNAME when the system cannot tell (empty when that is not set either).
QString systemLoginName();

#endif // LOGIN_NAME_H
