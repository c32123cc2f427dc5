#include "process_list.h"

#include <QtCore/qdir.h>
#include <QtCore/qfile.h>
#include <QtCore/qfileinfo.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The whole file name of the executable: the target of /proc/PID/exe, or,
// for another user's process whose link we may not read, the first word of
// its command line. Zombies and kernel threads have neither and are left out.
QByteArray executableNameOf(qint64 pid)
{
    char link[64];
    char target[4096];
    std::snprintf(link, sizeof link, "/proc/%lld/exe", static_cast<long long>(pid));
    const ssize_t length = ::readlink(link, target, sizeof target);
    if (length > 0 && length < ssize_t(sizeof target)) {
        QByteArray path(target, int(length));
        if (path.endsWith(" (deleted)"))
            path.chop(10);
        return path.mid(path.lastIndexOf('/') + 1);
    }
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!cmdline.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray first = cmdline.read(4096).split('\0').value(0);
    const int slash = first.lastIndexOf('/');
    return slash < 0 ? first : first.mid(slash + 1);
}

QString procEntryOf(qint64 pid)
{
    return QLatin1String("/proc/") + QString::number(pid);
}

// What /proc/PID/stat says of a process: its state (the field after the
// command name in parentheses, which may itself hold spaces and
// parentheses) and its start time in clock ticks since the machine booted
// (the 22nd field). Read in one system call each way: the task list asks
// this of every process, again and again.
struct ProcessStat
{
    char state = 0; // 0: no such process
    quint64 startTicks = 0;
};

ProcessStat processStatOf(qint64 pid)
{
    ProcessStat result;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%lld/stat", static_cast<long long>(pid));
    const int fd = pid > 0 ? ::open(path, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0)
        return result;
    char text[1024];
    const ssize_t length = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (length <= 0)
        return result;
    text[length] = '\0';
    const char *field = std::strrchr(text, ')');
    if (!field || field[1] != ' ' || !field[2])
        return result;
    field += 2;
    result.state = *field;
    for (int number = 3; number < 22 && field; ++number) {
        field = std::strchr(field, ' ');
        field = field ? field + 1 : nullptr;
    }
    if (field)
        result.startTicks = std::strtoull(field, nullptr, 10);
    return result;
}

quint64 startTicksOf(qint64 pid)
{
    return processStatOf(pid).startTicks;
}

// Milliseconds since the machine booted; -1 when unknown.
qint64 uptimeMs()
{
    QFile uptime(QStringLiteral("/proc/uptime"));
    if (!uptime.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const double seconds = uptime.readAll().split(' ').value(0).toDouble(&ok);
    return ok ? qint64(seconds * 1000) : -1;
}

// T: stopped by a signal; t: stopped by a debugger.
bool isStoppedState(char state)
{
    return state == 'T' || state == 't';
}

qint64 ticksToMs(quint64 ticks)
{
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    return ticksPerSecond > 0 ? qint64(ticks * 1000 / quint64(ticksPerSecond)) : 0;
}

} // namespace

// The user's own processes: copies that another user runs hand their
// selection to a primary of their own, and must not hold ours up. /proc is
// read at once; there is nothing to wait for.
QStringList runningImageNames(int, qint64 heldUpAfterMs)
{
    QStringList names;
    const qint64 now = heldUpAfterMs >= 0 ? uptimeMs() : -1;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return names;
    const uid_t self = ::geteuid();
    while (const dirent *entry = ::readdir(proc)) {
        char *end = nullptr;
        const qint64 pid = std::strtoll(entry->d_name, &end, 10);
        struct stat st;
        if (pid <= 0 || *end || ::fstatat(::dirfd(proc), entry->d_name, &st, 0) != 0 || st.st_uid != self)
            continue;
        const ProcessStat stat = processStatOf(pid);
        if (stat.state == 0 || isStoppedState(stat.state))
            continue;
        if (now >= 0 && stat.startTicks > 0 && now - ticksToMs(stat.startTicks) > heldUpAfterMs)
            continue;
        const QByteArray name = executableNameOf(pid);
        if (!name.isEmpty())
            names.append(QFile::decodeName(name));
    }
    ::closedir(proc);
    return names;
}

// A process id may have been given to another program since, or to a copy
// of ours that another user runs or that lives in another folder: only the
// same user's process running this very program file counts.
bool isRunningCopy(qint64 pid)
{
    if (pid <= 0)
        return false;
    struct stat entry, theirs, ours;
    const QByteArray proc = QFile::encodeName(procEntryOf(pid));
    return ::stat(proc.constData(), &entry) == 0 && entry.st_uid == ::geteuid()
            && ::stat((proc + "/exe").constData(), &theirs) == 0
            && ::stat("/proc/self/exe", &ours) == 0
            && theirs.st_dev == ours.st_dev && theirs.st_ino == ours.st_ino;
}

quint64 processStartStamp(qint64 pid)
{
    return startTicksOf(pid);
}

qint64 processAgeMs(qint64 pid)
{
    const quint64 ticks = startTicksOf(pid);
    const qint64 now = uptimeMs();
    return ticks == 0 || now < 0 ? -1 : qMax<qint64>(0, now - ticksToMs(ticks));
}

bool isStoppedProcess(qint64 pid)
{
    return isStoppedState(processStatOf(pid).state);
}
