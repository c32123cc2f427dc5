#include "dispatch.h"
#include "single_application.h"

#include <QtCore/qstringlist.h>

// The helper has no window and no console; whatever its arguments, it first
// takes part in choosing the primary among the copies started together.

namespace {

constexpr int AnnounceTimeoutMs = 1000;

template <typename Char, typename Decode>
QStringList argumentsAfterProgramName(int argc, Char **argv, Decode decode)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(decode(argv[i]));
    return arguments;
}

} // namespace

#ifdef Q_OS_WIN
extern "C" int wmain(int argc, wchar_t **argv)
{
    const QStringList arguments = argumentsAfterProgramName(argc, argv, [](const wchar_t *text) {
        return QString::fromWCharArray(text);
    });
    // Qt reads the command line itself on Windows; the vector stays null.
    SingleApplication app(argc, nullptr, true, SingleApplication::PerUserScope,
                          AnnounceTimeoutMs, QString());
    return runHelper(app, arguments);
}
#else
int main(int argc, char **argv)
{
    const QStringList arguments = argumentsAfterProgramName(argc, argv, [](const char *text) {
        return QString::fromLocal8Bit(text);
    });
    // Qt takes the application name from argv[0] here.
    SingleApplication app(argc, argv, true, SingleApplication::PerUserScope,
                          AnnounceTimeoutMs, QString());
    return runHelper(app, arguments);
}
#endif
