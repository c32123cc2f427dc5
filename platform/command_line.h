#ifndef COMMAND_LINE_H
#define COMMAND_LINE_H

#include <QtCore/qbytearray.h>
#include <QtCore/qstring.h>

// True when the program can be started with this one argument: the system
// bounds a command line (Windows: 32,767 characters in all, the program's
// quoted path included) or a single argument (Linux: 128 KiB).
bool fitsOneStart(const QString &program, const QString &argument);

// The editor takes its paths from one argument in which ";" separates
// them, and a name may hold ";" (Windows allows it). Such a path is given
// by its short (8.3) name where the volume keeps one without ";"; else, and
// on systems without short names, as it is.
QString pathForList(const QString &path);

// A program started by this one may bring its window to the front, which
// the system allows only to a process that the user is dealing with: this
// one passes its right on while it still has it (Windows).
void allowToComeForward(qint64 pid);

#ifdef Q_OS_WIN
// The length of the command line, without its NUL, that the framework
// builds for a start of the program with this one argument.
int commandLineLength(const QString &program, const QString &argument);
#endif

// A path is whatever the system allows as a name, not always text: on
// Linux any bytes but NUL and "/", on Windows any UTF-16 code units, a lone
// surrogate included. It travels through the program unchanged:
//  - keepPathBytesExact(), called before anything reads an argument, makes
//    the framework's 8-bit conversions (arguments, file names, the
//    editor's start) carry every byte: on Linux a byte that is no part of
//    UTF-8 becomes the lone surrogate U+DC80 + byte, and back. Windows
//    needs nothing.
//  - pathToBytes and pathFromBytes give the bytes a path is kept as in a
//    file: UTF-8 for text, and on Linux the escaped bytes as they were, on
//    Windows a lone surrogate in the three bytes UTF-8 would give it.
void keepPathBytesExact();
QByteArray pathToBytes(const QString &path);
QString pathFromBytes(const QByteArray &bytes);

#endif // COMMAND_LINE_H
