#ifndef COMMAND_LINE_H
#define COMMAND_LINE_H

#include <QtCore/qstring.h>

// True when the program can be started with this one argument: the system
// bounds a command line (Windows: 32,767 characters in all, the program's
// quoted path included) or a single argument (Linux: 128 KiB).
bool fitsOneStart(const QString &program, const QString &argument);

#endif // COMMAND_LINE_H
