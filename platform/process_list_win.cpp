#include "process_list.h"

#include <QtCore/qcoreapplication.h>
#include <QtCore/qfileinfo.h>
#include <QtCore/qprocess.h>

#include <qt_windows.h>

QByteArray runningProcessList()
{
    QProcess tasklist;
    tasklist.start(QStringLiteral("tasklist.exe"), QStringList(), QIODevice::ReadWrite);
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
    const QString theirs = QFileInfo(QString::fromWCharArray(image, int(size))).fileName();
    const QString ours = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return theirs.compare(ours, Qt::CaseInsensitive) == 0;
}
