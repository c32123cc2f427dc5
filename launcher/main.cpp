#include "command_line.h"
#include "dispatch.h"
#include "single_application.h"

#include <QtCore/qstringlist.h>

#ifndef Q_OS_WIN
#  include <unistd.h>
#  include <vector>
#endif

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

// A copy that finds no shared block to be had still does its work alone.
void runAloneOnFailure(const QStringList &arguments)
{
    SingleApplication::setStartupFailureHandler([arguments] { return runWithoutElection(arguments); });
}

} // namespace

#ifdef Q_OS_WIN
extern "C" int wmain(int argc, wchar_t **argv)
{
    keepPathBytesExact();
    const QStringList arguments = argumentsAfterProgramName(argc, argv, [](const wchar_t *text) {
        return QString::fromWCharArray(text);
    });
    if (isDropTargetServerRun(arguments)) {
        QCoreApplication app(argc, nullptr);
        return serveVerbsAsDropTargets();
    }
    runAloneOnFailure(arguments);
    // Qt reads the command line itself on Windows; the vector stays null.
    SingleApplication app(argc, nullptr, true, startOptionsFor(arguments),
                          AnnounceTimeoutMs, QString());
    return runHelper(app, arguments);
}
#else
int main(int argc, char **argv)
{
    // A file name is bytes here, not always UTF-8: each one reaches the
    // editor as it came.
    keepPathBytesExact();
    const QStringList arguments = argumentsAfterProgramName(argc, argv, [](const char *text) {
        return QString::fromLocal8Bit(text);
    });
    if (isDropTargetServerRun(arguments)) {
        QCoreApplication app(argc, argv);
        return serveVerbsAsDropTargets();
    }
    runAloneOnFailure(arguments);
    // Qt takes the application name from argv[0] here; as on Windows, it
    // is to be the name of the executable file itself, whatever link or
    // name the copy was started by.
    std::vector<char> self(4096);
    const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
    if (length > 0) {
        self[size_t(length)] = '\0';
        argv[0] = self.data();
    }
    SingleApplication app(argc, argv, true, startOptionsFor(arguments),
                          AnnounceTimeoutMs, QString());
    return runHelper(app, arguments);
}
#endif
