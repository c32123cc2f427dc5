#include "command_line.h"
#include "command_line_p.h"

#include <qt_windows.h>

#include <string>

namespace {

// CreateProcess takes at most this many characters, the terminating NUL
// included.
constexpr int LongestCommandLine = 32767;

// The length of the argument as the framework writes it on the command
// line: each quote escaped with a backslash and the backslashes before it
// doubled; quoted as a whole when it is empty or holds a space or a tab,
// the closing quote put before any backslashes at its end.
int writtenArgumentLength(const QString &argument)
{
    int length = argument.size();
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
    if (argument.isEmpty() || argument.contains(QLatin1Char(' ')) || argument.contains(QLatin1Char('\t')))
        length += 2;
    return length;
}

} // namespace

int commandLineLength(const QString &program, const QString &argument)
{
    // The program, quoted only when it holds a space (and is not quoted
    // already), a space after it, and a space before each argument.
    const bool quoted = program.contains(QLatin1Char(' ')) && !program.startsWith(QLatin1Char('"'))
            && !program.endsWith(QLatin1Char('"'));
    return program.size() + (quoted ? 2 : 0) + 1 + 1 + writtenArgumentLength(argument);
}

bool fitsOneStart(const QString &program, const QString &argument)
{
    return commandLineLength(program, argument) + 1 <= LongestCommandLine;
}

QString pathForList(const QString &path)
{
    if (!path.contains(QLatin1Char(';')))
        return path;
    const std::wstring longPath = path.toStdWString();
    const DWORD size = ::GetShortPathNameW(longPath.c_str(), nullptr, 0);
    if (size == 0)
        return path;
    std::wstring shortPath(size, L'\0');
    const DWORD length = ::GetShortPathNameW(longPath.c_str(), &shortPath[0], size);
    if (length == 0 || length >= size)
        return path;
    const QString name = QString::fromWCharArray(shortPath.c_str(), int(length));
    return name.contains(QLatin1Char(';')) ? path : name;
}

void allowToComeForward(qint64 pid)
{
    if (pid > 0)
        ::AllowSetForegroundWindow(DWORD(pid));
}

void keepPathBytesExact()
{
    // Arguments, file names and the editor's start are UTF-16 throughout.
}

// UTF-8, with a lone surrogate given the three bytes of its code point as
// for any other (the form known as WTF-8), so that any name Windows
// allows comes back as it was.
QByteArray pathToBytes(const QString &path)
{
    QByteArray bytes;
    bytes.reserve(path.size() * 3);
    for (int i = 0; i < path.size(); ++i) {
        uint codePoint = path.at(i).unicode();
        if (path.at(i).isHighSurrogate() && i + 1 < path.size() && path.at(i + 1).isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(path.at(i), path.at(i + 1));
            ++i;
        }
        appendUtf8(&bytes, codePoint);
    }
    return bytes;
}

QString pathFromBytes(const QByteArray &bytes)
{
    QString path;
    path.reserve(bytes.size());
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const int size = bytes.size();
    for (int i = 0; i < size;) {
        const uchar lead = data[i];
        const int length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        uint codePoint = length == 4 ? lead & 0x07 : length == 3 ? lead & 0x0F : lead & 0x1F;
        bool whole = length > 0 && i + length <= size;
        for (int k = 1; whole && k < length; ++k) {
            whole = (data[i + k] & 0xC0) == 0x80;
            codePoint = (codePoint << 6) | (data[i + k] & 0x3F);
        }
        if (length == 1) {
            codePoint = lead;
        } else if (!whole || codePoint > 0x10FFFF) {
            // No path of ours is written so; what is there is kept visible.
            path.append(QChar(QChar::ReplacementCharacter));
            ++i;
            continue;
        }
        if (codePoint > 0xFFFF) {
            path.append(QChar(QChar::highSurrogate(codePoint)));
            path.append(QChar(QChar::lowSurrogate(codePoint)));
        } else {
            path.append(QChar(ushort(codePoint)));
        }
        i += length;
    }
    return path;
}
