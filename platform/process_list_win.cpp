#include "process_list.h"

#include "login_name.h"

#include <QtCore/qcoreapplication.h>
#include <QtCore/qdir.h>
#include <QtCore/qelapsedtimer.h>
#include <QtCore/qfileinfo.h>
#include <QtCore/qprocess.h>

#include <qt_windows.h>

#include <vector>

namespace {

// The tool by its full path in the system folder: by a bare name Windows
// would look in the program's folder and in the current one first, and the
// file manager starts a verb's command in the folder of the selected files,
// where anyone may have put a tasklist.exe. A 32-bit program on 64-bit
// Windows is given the 32-bit folder, whose tool lists every process too.
QString taskListTool()
{
    wchar_t folder[MAX_PATH + 1];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return QString();
    return QString::fromWCharArray(folder, int(length)) + QStringLiteral("\\tasklist.exe");
}

// The tool writes in the console's OEM code page: its console is a new,
// hidden one, which has that code page.
QString fromOemCodePage(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return QString();
    const int length = ::MultiByteToWideChar(CP_OEMCP, 0, bytes.constData(), bytes.size(), nullptr, 0);
    std::vector<wchar_t> text(size_t(qMax(length, 1)));
    ::MultiByteToWideChar(CP_OEMCP, 0, bytes.constData(), bytes.size(), text.data(), length);
    return QString::fromWCharArray(text.data(), length);
}

// One run of the tool in its CSV form without header lines, which neither
// cuts long names (the table's image-name column is 25 characters wide) nor
// depends on the system's language.
QStringList listedImageNames(const QStringList &filter, int timeoutMs)
{
    const QString tool = taskListTool();
    if (tool.isEmpty() || timeoutMs <= 0)
        return QStringList();
    QProcess tasklist;
    // Not in the selected files' folder, which it would hold while it runs.
    tasklist.setWorkingDirectory(QCoreApplication::applicationDirPath());
    tasklist.start(tool, QStringList{ QStringLiteral("/FO"), QStringLiteral("CSV"), QStringLiteral("/NH") } + filter,
                   QIODevice::ReadWrite);
    if (!tasklist.waitForFinished(timeoutMs))
        return QStringList();
    return imageNamesFromCsv(fromOemCodePage(tasklist.readAllStandardOutput()));
}

bool listsThisProgram(const QStringList &names)
{
    const QString own = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    for (const QString &name : names) {
        if (name.compare(own, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// The path of a process's image as the system resolves it (junctions,
// links, substituted and mapped drives followed).
QString imagePathOf(HANDLE process)
{
    std::vector<wchar_t> image(32768);
    DWORD size = DWORD(image.size());
    if (!::QueryFullProcessImageNameW(process, 0, image.data(), &size))
        return QString();
    return QString::fromWCharArray(image.data(), int(size));
}

struct FileIdentity
{
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FileIdentity &other) const
    {
        return volume == other.volume && indexHigh == other.indexHigh && indexLow == other.indexLow;
    }
};

// The file's volume serial number and index: the same for every path that
// reaches the one file.
bool identityOf(const QString &path, FileIdentity *identity)
{
    if (path.isEmpty())
        return false;
    HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                                FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = ::GetFileInformationByHandle(file, &info);
    ::CloseHandle(file);
    if (!known)
        return false;
    identity->volume = info.dwVolumeSerialNumber;
    identity->indexHigh = info.nFileIndexHigh;
    identity->indexLow = info.nFileIndexLow;
    return true;
}

} // namespace

// The session's processes: on a terminal server every user's copies are
// listed otherwise, and two users' primaries would hold each other up. A
// list that does not show even this process means the tool failed (a
// refused filter, a broken management service): it is asked once more
// without the filter.
QStringList runningImageNames(int timeoutMs, qint64)
{
    QElapsedTimer clock;
    clock.start();
    DWORD session = 0;
    QStringList filter;
    if (::ProcessIdToSessionId(::GetCurrentProcessId(), &session))
        filter << QStringLiteral("/FI") << QStringLiteral("SESSION eq %1").arg(session);
    QStringList names = listedImageNames(filter, timeoutMs);
    if (!listsThisProgram(names) && !filter.isEmpty())
        names = listedImageNames(QStringList(), int(timeoutMs - clock.elapsed()));
    return names;
}

bool isRunningCopy(qint64 pid)
{
    if (pid <= 0 || pid > 0xffffffffLL)
        return false;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return false;
    DWORD exitCode = 0;
    const bool alive = ::GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE;
    const QString theirs = alive ? imagePathOf(process) : QString();
    ::CloseHandle(process);
    if (theirs.isEmpty())
        return false;
    // Another user's copy of the same installation (a shared computer, a
    // user switched away from) is no copy of ours.
    const QString ownUser = userSidText();
    if (ownUser.isEmpty() || userSidTextOf(pid) != ownUser)
        return false;
    // Like with like: this copy's own image as the system resolves it, not
    // the path it was started by; best of all, the file itself.
    const QString ours = imagePathOf(::GetCurrentProcess());
    FileIdentity theirFile, ourFile;
    if (identityOf(theirs, &theirFile) && identityOf(ours, &ourFile))
        return theirFile == ourFile;
    return theirs.compare(ours, Qt::CaseInsensitive) == 0;
}

namespace {

// The creation time, in 100 ns units since 1601.
quint64 creationTimeOf(qint64 pid)
{
    if (pid <= 0 || pid > 0xffffffffLL)
        return 0;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return 0;
    FILETIME created, exited, kernel, user;
    const bool known = ::GetProcessTimes(process, &created, &exited, &kernel, &user);
    ::CloseHandle(process);
    return known ? (quint64(created.dwHighDateTime) << 32) | created.dwLowDateTime : 0;
}

} // namespace

// A suspended process shows only in the state of each of its threads,
// which costs a walk over every thread of the system; the age bound
// serves instead.
bool isStoppedProcess(qint64)
{
    return false;
}

quint64 processStartStamp(qint64 pid)
{
    return creationTimeOf(pid);
}

qint64 processAgeMs(qint64 pid)
{
    const quint64 created = creationTimeOf(pid);
    if (created == 0)
        return -1;
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const quint64 current = (quint64(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return current > created ? qint64((current - created) / 10000) : 0;
}
