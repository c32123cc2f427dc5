#include "process_list.h"

#include <QtCore/qdir.h>
#include <QtCore/qfile.h>
#include <QtCore/qfileinfo.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The whole file name of the executable: the target of /proc/PID/exe, or,
// for another user's process whose link we may not read, the first word of
// its command line. Zombies and kernel threads have neither and are left out.
QByteArray executableNameOf(const QString &procEntry)
{
    QString target = QFile::symLinkTarget(procEntry + QLatin1String("/exe"));
    if (target.endsWith(QLatin1String(" (deleted)")))
        target.chop(10);
    if (!target.isEmpty())
        return QFile::encodeName(QFileInfo(target).fileName());

    QFile cmdline(procEntry + QLatin1String("/cmdline"));
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

// The fields of /proc/PID/stat after the command name in parentheses
// (which may itself hold spaces and parentheses): the state first.
QList<QByteArray> statFieldsOf(qint64 pid)
{
    QFile stat(procEntryOf(pid) + QLatin1String("/stat"));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = stat.readAll();
    const int nameEnd = text.lastIndexOf(')');
    return nameEnd < 0 ? QList<QByteArray>() : text.mid(nameEnd + 2).split(' ');
}

// The start time, in clock ticks since the machine booted: the 22nd field.
quint64 startTicksOf(qint64 pid)
{
    const QList<QByteArray> fields = statFieldsOf(pid);
    return fields.size() > 19 ? fields.at(19).toULongLong() : 0;
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
bool isStoppedState(const QByteArray &state)
{
    return state == "T" || state == "t";
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
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        struct stat st;
        if (!numeric || ::stat(QFile::encodeName(procEntryOf(pid)).constData(), &st) != 0
            || st.st_uid != ::geteuid())
            continue;
        const QList<QByteArray> fields = statFieldsOf(pid);
        if (isStoppedState(fields.value(0)))
            continue;
        if (now >= 0 && fields.size() > 19 && now - ticksToMs(fields.at(19).toULongLong()) > heldUpAfterMs)
            continue;
        const QByteArray name = executableNameOf(procEntryOf(pid));
        if (!name.isEmpty())
            names.append(QFile::decodeName(name));
    }
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
    return isStoppedState(statFieldsOf(pid).value(0));
}
