#include "command_line.h"

#include <QtCore/qfile.h>

namespace {

// MAX_ARG_STRLEN: one argument of an exec, its terminating NUL included.
constexpr int LongestArgumentBytes = 32 * 4096;

} // namespace

bool fitsOneStart(const QString &, const QString &argument)
{
    return QFile::encodeName(argument).size() + 1 <= LongestArgumentBytes;
}
