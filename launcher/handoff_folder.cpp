#include "handoff_folder.h"

#include "command_line.h"
#include "private_folder.h"
#include "process_list.h"
#include "single_application.h"
#include "text_files.h"
#include "verbs.h"

#include <QtCore/qcoreapplication.h>
#include <QtCore/qdatetime.h>
#include <QtCore/qdir.h>
#include <QtCore/qdiriterator.h>
#include <QtCore/qfile.h>
#include <QtCore/qelapsedtimer.h>
#include <QtCore/qfileinfo.h>
#include <QtCore/qset.h>
#include <QtCore/qthread.h>

#include <algorithm>

namespace {

const QLatin1String draftSuffix(".draft");
const QLatin1String claimPrefix(".claimed-");
const QLatin1String postedSuffix(".txt");
const QLatin1String deliveredPrefix(".delivered-");

// How long a file held by another program is waited for, and how often it
// is tried meanwhile.
constexpr qint64 HeldFilePatienceMs = 500;
constexpr int HeldFileRetryMs = 20;

// A posted file that no primary could read for this long (a planted file
// of no use to anyone) may go.
constexpr qint64 UnreadableForSecs = 24 * 60 * 60;

// "<pid>-<stamp>" as the front of a work file's name; an older program's
// names carry the process id alone, and the stamp is then 0.
bool parseOwner(const QString &text, qint64 *pid, quint64 *stamp, QString *rest)
{
    bool numeric = false;
    *pid = text.section(QLatin1Char('-'), 0, 0).toLongLong(&numeric);
    if (!numeric || *pid <= 0)
        return false;
    *stamp = text.section(QLatin1Char('-'), 1, 1).toULongLong(&numeric);
    if (!numeric)
        *stamp = 0;
    if (rest)
        *rest = text.section(QLatin1Char('-'), numeric ? 2 : 1);
    return true;
}

bool sameProcess(qint64 pid, quint64 stamp)
{
    return stamp == 0 || processStartStamp(pid) == stamp;
}

// The owner of a work file still runs (held up or not).
bool ownerRuns(qint64 pid, quint64 stamp)
{
    return isRunningCopy(pid) && sameProcess(pid, stamp);
}

// The owner of a claim will deliver it.
bool ownerIsActive(qint64 pid, quint64 stamp)
{
    return SingleApplication::isActiveCopy(pid) && sameProcess(pid, stamp);
}

} // namespace

QByteArray handoffFileBytes(const QString &verbFlag, qint64 primaryPid, const QString &path)
{
    return verbFlag.toLatin1() + ' ' + QByteArray::number(primaryPid) + '\n' + pathToBytes(path);
}

HandedPath parseHandoffFile(const QByteArray &bytes)
{
    HandedPath handed;
    handed.path = pathFromBytes(bytes);
    const int end = bytes.indexOf('\n');
    if (end < 0)
        return handed;
    const QByteArray header = bytes.left(end);
    const int space = header.indexOf(' ');
    bool numeric = false;
    const qint64 pid = header.mid(space + 1).toLongLong(&numeric);
    const QString flag = QString::fromLatin1(header.left(space));
    if (space < 0 || !isVerbFlag(flag) || !numeric || pid <= 0)
        return handed;
    handed.verbFlag = flag;
    handed.primaryPid = pid;
    handed.path = pathFromBytes(bytes.mid(end + 1));
    return handed;
}

QString HandoffFolder::postedFileName(qint64 pid, quint64 stamp)
{
    return QStringLiteral("%1-%2").arg(pid).arg(stamp) + postedSuffix;
}

bool HandoffFolder::ownerOfWorkFile(const QString &fileName, qint64 *pid, quint64 *stamp)
{
    if (fileName.startsWith(claimPrefix))
        return parseOwner(fileName.mid(claimPrefix.size()), pid, stamp, nullptr);
    if (fileName.startsWith(QLatin1Char('.')) && fileName.endsWith(draftSuffix)) {
        const QString owner = fileName.mid(1, fileName.size() - 1 - draftSuffix.size());
        return parseOwner(owner + QLatin1Char('-'), pid, stamp, nullptr);
    }
    return false;
}

HandoffFolder::HandoffFolder(const QString &path)
    : folder(path),
      ownPid(QCoreApplication::applicationPid()),
      ownStamp(processStartStamp(QCoreApplication::applicationPid()))
{
}

QString HandoffFolder::own(const QString &suffix) const
{
    return QStringLiteral("%1-%2").arg(ownPid).arg(ownStamp) + suffix;
}

QString HandoffFolder::claimName(const QString &fileName) const
{
    return folder + QLatin1Char('/') + claimPrefix + own(QLatin1Char('-') + fileName);
}

// The earlier primary of a selection removes the folder once it is empty,
// so it may have to be made again; no draft is left behind when the text
// could not be written whole (a full disk).
bool HandoffFolder::writeDraft(const QString &verbFlag, qint64 primaryPid, const QString &filePath)
{
    const QString name = folder + QStringLiteral("/.") + own(draftSuffix);
    const QByteArray bytes = handoffFileBytes(verbFlag, primaryPid, filePath);
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!makePrivateFolder(folder))
            return false;
        QFile::remove(name);
        if (writeFileWhole(name, bytes)) {
            draft = name;
            return true;
        }
        QFile::remove(name);
    }
    return false;
}

bool HandoffFolder::post()
{
    // The framework's rename never replaces a file that is there.
    return !draft.isEmpty() && QFile::rename(draft, folder + QLatin1Char('/') + own(postedSuffix));
}

bool HandoffFolder::takeBack()
{
    return !draft.isEmpty() && QFile::rename(folder + QLatin1Char('/') + own(postedSuffix), draft);
}

void HandoffFolder::discardDraft()
{
    if (!draft.isEmpty())
        QFile::remove(draft);
    draft.clear();
}

bool HandoffFolder::isPosted() const
{
    // A file that was held when this copy claimed it has a claim beside it.
    const QString name = own(postedSuffix);
    return QFileInfo(folder + QLatin1Char('/') + name).isFile() && !QFileInfo::exists(claimName(name))
            && !QFileInfo::exists(folder + QLatin1Char('/') + deliveredPrefix + name);
}

HandoffFolder::HoldOutcome HandoffFolder::claimFile(const QString &file, const QString &fileName, qint64 formerOwner,
                                     QList<HandedPath> *claimed)
{
    QByteArray bytes;
    if (!readFileWhole(file, &bytes))
        return Left; // stays for a primary that can read it
    HandedPath handed = parseHandoffFile(bytes);
    // What another primary claimed goes in a start of its own, even when
    // its file names no primary.
    if (handed.primaryPid == 0)
        handed.primaryPid = formerOwner;
    if (handed.primaryPid != 0 && handed.primaryPid != ownPid && SingleApplication::isActiveCopy(handed.primaryPid))
        return Left; // that primary's to deliver
    if (handed.path.isEmpty()) {
        // Written whole, a file of ours always holds a path: this is none.
        QFile::remove(file);
        return Left;
    }
    const QString claim = claimName(fileName);
    if (!QFile::rename(file, claim))
        return Refused;
    handed.claim = claim;
    claimed->append(handed);
    return Claimed;
}

// A file that another program holds open without letting it be renamed
// (a virus scanner, an indexer) is tried again for a moment; still held,
// its path goes with this primary all the same, in a claim written anew
// beside it, and the file itself goes once it can (see acknowledge).
void HandoffFolder::claimHeldFiles(QList<HeldFile> held, QList<HandedPath> *claimed)
{
    QElapsedTimer patience;
    patience.start();
    while (!held.isEmpty() && patience.elapsed() < HeldFilePatienceMs) {
        QThread::msleep(HeldFileRetryMs);
        for (int i = held.size() - 1; i >= 0; --i) {
            if (claimFile(held.at(i).path, held.at(i).fileName, held.at(i).formerOwner, claimed) != Refused)
                held.removeAt(i);
        }
    }
    for (const HeldFile &file : qAsConst(held)) {
        QByteArray bytes;
        const QString claim = claimName(file.fileName);
        if (!readFileWhole(file.path, &bytes) || !writeFileWhole(claim, bytes))
            continue; // stays for a later primary
        HandedPath handed = parseHandoffFile(bytes);
        if (handed.primaryPid == 0)
            handed.primaryPid = file.formerOwner;
        handed.claim = claim;
        claimed->append(handed);
    }
}

QList<HandedPath> HandoffFolder::claim()
{
    QList<HandedPath> claimed;
    if (!isPrivateFolder(folder))
        return claimed;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System
                                                             | QDir::NoDotAndDotDot, QDir::Name);
    // The posted files that a claim stands for already, or whose path has
    // been delivered while the file itself could not go.
    QSet<QString> accountedFor;
    for (const QFileInfo &entry : entries) {
        if (entry.fileName().startsWith(deliveredPrefix))
            accountedFor.insert(entry.fileName().mid(deliveredPrefix.size()));
    }
    QList<HeldFile> held;
    for (const QFileInfo &entry : entries) {
        qint64 pid = 0;
        quint64 stamp = 0;
        QString fileName;
        if (accountedFor.contains(entry.fileName()))
            continue;
        if (entry.isSymLink() || !entry.fileName().startsWith(claimPrefix)
            || !parseOwner(entry.fileName().mid(claimPrefix.size()), &pid, &stamp, &fileName))
            continue;
        accountedFor.insert(fileName);
        if ((pid == ownPid && stamp == ownStamp) || ownerIsActive(pid, stamp))
            continue;
        // One that is held waits for the next primary.
        claimFile(entry.absoluteFilePath(), fileName, pid, &claimed);
    }
    for (const QString &path : listFilePaths(folder)) {
        const QString fileName = QFileInfo(path).fileName();
        if (accountedFor.contains(fileName))
            continue;
        if (claimFile(path, fileName, 0, &claimed) == Refused)
            held.append({ path, fileName, 0 });
    }
    claimHeldFiles(held, &claimed);
    // In the order of the files' names (held ones came last): all claims
    // bear this copy's prefix, then the name.
    std::sort(claimed.begin(), claimed.end(), [](const HandedPath &a, const HandedPath &b) {
        return a.claim < b.claim;
    });
    return claimed;
}

bool HandoffFolder::holds(const QString &claim) const
{
    return QFileInfo(claim).isFile();
}

void HandoffFolder::acknowledge(const QStringList &claims)
{
    // A file that another program holds may refuse to go for a moment: the
    // claim (or the posted file that was held when it was claimed) goes
    // once it can, and until then a mark says its path has been delivered.
    QElapsedTimer patience;
    patience.start();
    const auto removeOrMark = [&](const QString &file) {
        while (!QFile::remove(file) && QFileInfo::exists(file) && patience.elapsed() < HeldFilePatienceMs)
            QThread::msleep(HeldFileRetryMs);
        if (QFileInfo::exists(file))
            writeFileWhole(folder + QLatin1Char('/') + deliveredPrefix + QFileInfo(file).fileName(), QByteArray());
    };
    for (const QString &claim : claims) {
        removeOrMark(claim);
        const QString original = originalOf(claim);
        if (!original.isEmpty() && QFileInfo::exists(original))
            removeOrMark(original);
    }
}

void HandoffFolder::handBack(const QStringList &claims)
{
    for (const QString &claim : claims) {
        // Where that fails, the claim waits to be taken over once this copy
        // has ended; one written anew beside a held file simply goes.
        const QString original = originalOf(claim);
        if (original.isEmpty())
            continue;
        if (QFileInfo::exists(original))
            QFile::remove(claim);
        else
            QFile::rename(claim, original);
    }
}

// The posted file a claim of this copy's came from.
QString HandoffFolder::originalOf(const QString &claim) const
{
    const QString prefix = folder + QLatin1Char('/') + claimPrefix + own(QStringLiteral("-"));
    return claim.startsWith(prefix) ? folder + QLatin1Char('/') + claim.mid(prefix.size()) : QString();
}

void HandoffFolder::sweep()
{
    if (!isPrivateFolder(folder))
        return;
    QDirIterator entries(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    const QDateTime longAgo = QDateTime::currentDateTimeUtc().addSecs(-UnreadableForSecs);
    while (entries.hasNext()) {
        const QString path = entries.next();
        const QFileInfo entry = entries.fileInfo();
        // Links are removed, never followed.
        if (entry.isDir() && !entry.isSymLink()) {
            removeTree(path);
            continue;
        }
        const QString name = entry.fileName();
        bool keep = false;
        if (entry.isFile() && !entry.isSymLink()) {
            qint64 pid = 0;
            quint64 stamp = 0;
            if (!isWorkFileName(name)) {
                QByteArray bytes;
                keep = readFileWhole(path, &bytes) || entry.lastModified().toUTC() > longAgo;
            } else if (name.startsWith(claimPrefix)) {
                // Never removed unread; one whose path has been delivered
                // goes with its mark.
                keep = !QFileInfo::exists(folder + QLatin1Char('/') + deliveredPrefix + name);
            } else if (name.startsWith(deliveredPrefix)) {
                // The mark goes with the file it stands for.
                const QString original = folder + QLatin1Char('/') + name.mid(deliveredPrefix.size());
                QFile::remove(original);
                keep = QFileInfo::exists(original);
            } else if (ownerOfWorkFile(name, &pid, &stamp)) {
                keep = ownerRuns(pid, stamp);
            }
        }
        if (!keep)
            QFile::remove(path);
    }
    QDir().rmdir(folder);
}
