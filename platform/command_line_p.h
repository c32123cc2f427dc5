#ifndef COMMAND_LINE_P_H
#define COMMAND_LINE_P_H

#include <QtCore/qbytearray.h>

// Shared by the platform files of the command-line layer: the UTF-8 bytes
// of one code point (a surrogate's too, which UTF-8 proper leaves out).
void appendUtf8(QByteArray *bytes, uint codePoint);

#endif // COMMAND_LINE_P_H
