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

} // namespace

// The user's own processes: copies that another user runs hand their
// selection to a primary of their own, and must not hold ours up. /proc is
// read at once; there is nothing to wait for.
QStringList runningImageNames(int)
{
    QStringList names;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        entry.toLongLong(&numeric);
        struct stat st;
        if (!numeric || ::stat(QFile::encodeName(procEntryOf(entry.toLongLong())).constData(), &st) != 0
            || st.st_uid != ::geteuid())
            continue;
        const QByteArray name = executableNameOf(procEntryOf(entry.toLongLong()));
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
