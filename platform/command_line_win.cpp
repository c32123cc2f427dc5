#include "command_line.h"

namespace {

// CreateProcess takes at most this many characters, the terminating NUL
// included.
constexpr int LongestCommandLine = 32767;

// The length of the argument as the framework writes it on the command
// line: quoted when it holds a space, a tab or a quote or is empty, each
// quote escaped with a backslash and the backslashes before a quote (or
// before the closing quote) doubled.
int quotedLength(const QString &argument)
{
    const bool quoted = argument.isEmpty() || argument.contains(QLatin1Char(' '))
            || argument.contains(QLatin1Char('\t')) || argument.contains(QLatin1Char('"'));
    int length = argument.size() + (quoted ? 2 : 0);
    int backslashes = 0;
    for (const QChar c : argument) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        if (c == QLatin1Char('"'))
            length += backslashes + 1;
        backslashes = 0;
    }
    if (quoted)
        length += backslashes;
    return length;
}

} // namespace

bool fitsOneStart(const QString &program, const QString &argument)
{
    // The program's path, quoted, a space, the argument, the NUL.
    return program.size() + 2 + 1 + quotedLength(argument) + 1 <= LongestCommandLine;
}
