#include "process_list.h"

#include <QtCore/qcoreapplication.h>
#include <QtCore/qdir.h>
#include <QtCore/qprocess.h>

#include <qt_windows.h>

// The user's own processes: on a terminal server every user's copies are
// listed otherwise, and two users' primaries would hold each other up. The
// filter on the session is the one the task list answers quickly for a
// standard user; the output keeps its format.
QByteArray runningProcessList()
{
    DWORD session = 0;
    QStringList arguments;
    if (::ProcessIdToSessionId(::GetCurrentProcessId(), &session))
        arguments << QStringLiteral("/FI") << QStringLiteral("SESSION eq %1").arg(session);
    QProcess tasklist;
    tasklist.start(QStringLiteral("tasklist.exe"), arguments, QIODevice::ReadWrite);
    if (!tasklist.waitForFinished(30000))
        return QByteArray();
    return tasklist.readAllStandardOutput();
}

bool isRunningCopy(qint64 pid)
{
    if (pid <= 0 || pid > 0xffffffffLL)
        return false;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return false;
    DWORD exitCode = 0;
    wchar_t image[MAX_PATH * 4];
    DWORD size = DWORD(sizeof(image) / sizeof(image[0]));
    const bool alive = ::GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE;
    const bool named = ::QueryFullProcessImageNameW(process, 0, image, &size);
    ::CloseHandle(process);
    if (!alive || !named)
        return false;
    // The same program file: a copy in another folder, or a process that
    // has the id now, is not ours.
    const QString theirs = QDir::fromNativeSeparators(QString::fromWCharArray(image, int(size)));
    return theirs.compare(QCoreApplication::applicationFilePath(), Qt::CaseInsensitive) == 0;
}
