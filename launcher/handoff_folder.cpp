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
#include <QtCore/qelapsedtimer.h>
#include <QtCore/qfile.h>
#include <QtCore/qfileinfo.h>
#include <QtCore/qmap.h>
#include <QtCore/qset.h>
#include <QtCore/qthread.h>

namespace {

const QLatin1String draftSuffix(".draft");
const QLatin1String claimPrefix(".claimed-");
const QLatin1String ownerPrefix(".owner-");
const QLatin1String postedSuffix(".txt");

// A file held by another program is tried again this often; a claim that
// cannot go after its start, for this long.
constexpr int RetryMs = 20;
constexpr qint64 RemovalPatienceMs = 2000;

// Another copy may be trying a new owner lock at the moment it is made.
constexpr int OwnershipAttempts = 50;

// A posted file that no primary could read for this long (a planted file
// of no use to anyone) may go.
constexpr qint64 UnreadableForSecs = 24 * 60 * 60;

// "<pid>-<stamp>" at the front of a text; an older program's names carry
// the process id alone, and the stamp is then 0.
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

// The process of that id and stamp still exists (stopped or not); an
// older program's names, without a stamp, settle for a copy of this program
// under that id.
bool processExists(qint64 pid, quint64 stamp)
{
    return stamp == 0 ? isRunningCopy(pid) : processStartStamp(pid) == stamp;
}

// A claim's name carries its posted file's name without the ".txt" (an
// older program's kept it), so that no work file looks like a new
// hand-off file to a program that watches for them.
QString postedNameOf(const QString &claimName)
{
    qint64 pid = 0;
    quint64 stamp = 0;
    QString rest;
    parseOwner(claimName.mid(claimPrefix.size()), &pid, &stamp, &rest);
    return rest.endsWith(postedSuffix) ? rest : rest + postedSuffix;
}

} // namespace

QByteArray handoffFileBytes(const QString &verbFlag, qint64 primaryPid, quint64 primaryStamp, const QString &path)
{
    return verbFlag.toLatin1() + ' ' + QByteArray::number(primaryPid) + '-' + QByteArray::number(primaryStamp)
            + '\n' + pathToBytes(path);
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
    const QString flag = QString::fromLatin1(header.left(space));
    qint64 pid = 0;
    quint64 stamp = 0;
    QString rest;
    if (space < 0 || !isVerbFlag(flag) || !parseOwner(QString::fromLatin1(header.mid(space + 1)), &pid, &stamp, &rest)
        || !rest.isEmpty())
        return handed;
    handed.verbFlag = flag;
    handed.primaryPid = pid;
    handed.primaryStamp = stamp;
    handed.path = pathFromBytes(bytes.mid(end + 1));
    return handed;
}

QString HandoffFolder::postedFileName(qint64 pid, quint64 stamp)
{
    return QStringLiteral("%1-%2").arg(pid).arg(stamp) + postedSuffix;
}

bool HandoffFolder::ownerOfWorkFile(const QString &fileName, qint64 *pid, quint64 *stamp)
{
    for (const QLatin1String &prefix : { claimPrefix, ownerPrefix }) {
        if (fileName.startsWith(prefix))
            return parseOwner(fileName.mid(prefix.size()), pid, stamp, nullptr);
    }
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

QString HandoffFolder::postedName() const
{
    return postedFileName(ownPid, ownStamp);
}

QString HandoffFolder::claimName(const QString &postedName) const
{
    QString name = postedName;
    name.chop(postedName.endsWith(postedSuffix) ? postedSuffix.size() : 0);
    return folder + QLatin1Char('/') + claimPrefix + own(QLatin1Char('-') + name);
}

QString HandoffFolder::ownerLockName(qint64 pid, quint64 stamp) const
{
    return folder + QLatin1Char('/') + ownerPrefix + QStringLiteral("%1-%2").arg(pid).arg(stamp);
}

// The earlier primary of a selection removes the folder once it is empty,
// so it may have to be made again; no draft is left behind when the text
// could not be written whole (a full disk).
bool HandoffFolder::writeDraftNamed(const QString &name, const QByteArray &bytes)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!makePrivateFolder(folder))
            return false;
        QFile::remove(name);
        if (writeFileWhole(name, bytes))
            return true;
        QFile::remove(name);
    }
    return false;
}

bool HandoffFolder::writeDraft(const QString &verbFlag, qint64 primaryPid, quint64 primaryStamp,
                               const QString &filePath)
{
    const QString name = folder + QStringLiteral("/.") + own(draftSuffix);
    if (!writeDraftNamed(name, handoffFileBytes(verbFlag, primaryPid, primaryStamp, filePath)))
        return false;
    draft = name;
    return true;
}

bool HandoffFolder::leave(const QString &verbFlag, const QStringList &paths)
{
    // The number keeps the order among the names, over every call.
    static int leftSoFar = 0;
    for (const QString &path : paths) {
        const QString name = own(QStringLiteral("-%1").arg(leftSoFar++, 6, 10, QLatin1Char('0')));
        const QString leftDraft = folder + QStringLiteral("/.") + name + draftSuffix;
        if (!writeDraftNamed(leftDraft, handoffFileBytes(verbFlag, ownPid, ownStamp, path))
            || !QFile::rename(leftDraft, folder + QLatin1Char('/') + name + postedSuffix)) {
            QFile::remove(leftDraft);
            return false;
        }
    }
    return true;
}

bool HandoffFolder::post()
{
    // The framework's rename never replaces a file that is there.
    return !draft.isEmpty() && QFile::rename(draft, folder + QLatin1Char('/') + postedName());
}

bool HandoffFolder::takeBack()
{
    return !draft.isEmpty() && QFile::rename(folder + QLatin1Char('/') + postedName(), draft);
}

void HandoffFolder::discardDraft()
{
    if (!draft.isEmpty())
        QFile::remove(draft);
    draft.clear();
}

bool HandoffFolder::isPosted() const
{
    return QFileInfo(folder + QLatin1Char('/') + postedName()).isFile();
}

bool HandoffFolder::takeOwnership()
{
    if (!makePrivateFolder(folder))
        return false;
    for (int attempt = 0; attempt < OwnershipAttempts; ++attempt) {
        if (ownership.acquire(ownerLockName(ownPid, ownStamp)))
            return true;
        QThread::msleep(1);
    }
    return false;
}

// A primary lives while its owner lock is held, or, where it made none
// (yet, or for want of room), while its process exists. Where it has
// ended, *theirs holds its lock, if it left one.
bool HandoffFolder::ownerLives(qint64 pid, quint64 stamp, OwnerLock *theirs) const
{
    const QString lock = ownerLockName(pid, stamp);
    return QFileInfo::exists(lock) ? !theirs->acquire(lock, OwnerLock::ExistingOnly) : processExists(pid, stamp);
}

// A primary that lives will claim what was meant for it.
bool HandoffFolder::isMeantForAnotherHolder(const HandedPath &handed) const
{
    OwnerLock theirs;
    return handed.primaryPid != 0 && !(handed.primaryPid == ownPid && handed.primaryStamp == ownStamp)
            && ownerLives(handed.primaryPid, handed.primaryStamp, &theirs);
}

void HandoffFolder::takeFile(const RefusedFile &file, QList<HandedPath> *claimed)
{
    QByteArray bytes;
    if (!readFileWhole(file.path, &bytes)) {
        refused.append(file);
        return;
    }
    HandedPath handed = parseHandoffFile(bytes);
    if (handed.path.isEmpty()) {
        // Written whole, a file of ours always holds a path: this is none.
        QFile::remove(file.path);
        return;
    }
    // What another primary claimed goes in a start of its own, even when
    // its file names no primary.
    if (file.formerPid != 0) {
        handed.primaryPid = file.formerPid;
        handed.primaryStamp = file.formerStamp;
    } else if (isMeantForAnotherHolder(handed)) {
        return; // that primary's to deliver
    }
    const QString claim = claimName(file.name);
    if (!QFile::rename(file.path, claim)) {
        refused.append(file);
        return;
    }
    handed.name = file.name;
    handed.claim = claim;
    claimed->append(handed);
}

// The claims of a primary that has ended, each file under its own name.
void HandoffFolder::takeOverClaims(qint64 pid, quint64 stamp, const QStringList &claims, QList<HandedPath> *claimed)
{
    OwnerLock theirs;
    if (ownerLives(pid, stamp, &theirs))
        return; // late, never twice
    const QList<QByteArray> delivered = theirs.contents().split('\n');
    bool anyLeft = false;
    for (const QString &name : claims) {
        const QString path = folder + QLatin1Char('/') + name;
        if (delivered.contains(QFile::encodeName(name))) {
            QFile::remove(path);
            anyLeft = QFileInfo::exists(path) || anyLeft;
            continue;
        }
        takeFile({ path, postedNameOf(name), pid, stamp }, claimed);
        anyLeft = QFileInfo::exists(path) || anyLeft;
    }
    // What it listed as delivered stays listed while such a claim is left.
    theirs.release(!anyLeft);
}

QList<HandedPath> HandoffFolder::claim()
{
    QList<HandedPath> claimed;
    refused.clear();
    if (!isPrivateFolder(folder))
        return claimed;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System
                                                             | QDir::NoDotAndDotDot, QDir::Name);
    QMap<QPair<qint64, quint64>, QStringList> claimsByOwner;
    for (const QFileInfo &entry : entries) {
        qint64 pid = 0;
        quint64 stamp = 0;
        const QString name = entry.fileName();
        if (entry.isSymLink() || !name.startsWith(claimPrefix) || !ownerOfWorkFile(name, &pid, &stamp)
            || (pid == ownPid && stamp == ownStamp))
            continue;
        claimsByOwner[qMakePair(pid, stamp)].append(name);
    }
    for (auto owner = claimsByOwner.cbegin(); owner != claimsByOwner.cend(); ++owner)
        takeOverClaims(owner.key().first, owner.key().second, owner.value(), &claimed);
    for (const QString &path : listFilePaths(folder))
        takeFile({ path, QFileInfo(path).fileName(), 0, 0 }, &claimed);
    return claimed;
}

int HandoffFolder::otherOwnerCount() const
{
    int holders = 0;
    const QStringList locks = QDir(folder).entryList({ ownerPrefix + QLatin1Char('*') }, QDir::Files | QDir::Hidden);
    for (const QString &name : locks) {
        OwnerLock theirs;
        qint64 pid = 0;
        quint64 stamp = 0;
        // Counted as the task list counts: one stopped or held up past the
        // bound is left out there too.
        if (ownerOfWorkFile(name, &pid, &stamp) && !(pid == ownPid && stamp == ownStamp)
            && !theirs.acquire(folder + QLatin1Char('/') + name, OwnerLock::ExistingOnly)
            && !isStoppedProcess(pid) && processAgeMs(pid) <= SingleApplication::HeldUpAfterMs)
            ++holders;
    }
    return holders;
}

QList<HandedPath> HandoffFolder::claimRefused(qint64 patienceMs)
{
    QList<HandedPath> claimed;
    QElapsedTimer patience;
    patience.start();
    while (!refused.isEmpty() && patience.elapsed() < patienceMs) {
        QThread::msleep(RetryMs);
        const QList<RefusedFile> again = refused;
        refused.clear();
        for (const RefusedFile &file : again) {
            // Gone meanwhile: another primary has it.
            if (QFileInfo::exists(file.path))
                takeFile(file, &claimed);
        }
    }
    return claimed;
}

void HandoffFolder::acknowledge(const QStringList &claims)
{
    QElapsedTimer patience;
    patience.start();
    for (const QString &claim : claims) {
        while (!QFile::remove(claim) && QFileInfo::exists(claim) && patience.elapsed() < RemovalPatienceMs)
            QThread::msleep(RetryMs);
        // Still held by another program: whoever takes this copy's claims
        // over once it has ended removes it instead of delivering it again.
        // With no room for that record (a full disk), the claim is emptied,
        // which frees room: a claim with no path is none.
        if (QFileInfo::exists(claim) && !ownership.append(QFile::encodeName(QFileInfo(claim).fileName()) + '\n'))
            writeFileWhole(claim, QByteArray());
    }
}

void HandoffFolder::handBack(const QStringList &claims)
{
    // Where the rename fails, the claim waits to be taken over once this
    // copy has ended.
    for (const QString &claim : claims)
        QFile::rename(claim, folder + QLatin1Char('/') + postedNameOf(QFileInfo(claim).fileName()));
}

void HandoffFolder::sweep()
{
    if (!isPrivateFolder(folder))
        return;
    QDirIterator entries(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    const QDateTime longAgo = QDateTime::currentDateTimeUtc().addSecs(-UnreadableForSecs);
    QSet<QPair<qint64, quint64>> claimOwners;
    QMap<QPair<qint64, quint64>, QString> ownerLocks;
    while (entries.hasNext()) {
        const QString path = entries.next();
        const QFileInfo entry = entries.fileInfo();
        // Links are removed, never followed.
        if (entry.isDir() && !entry.isSymLink()) {
            removeTree(path);
            continue;
        }
        const QString name = entry.fileName();
        qint64 pid = 0;
        quint64 stamp = 0;
        bool keep = false;
        if (entry.isFile() && !entry.isSymLink()) {
            if (!isWorkFileName(name)) {
                QByteArray bytes;
                keep = readFileWhole(path, &bytes) || entry.lastModified().toUTC() > longAgo;
            } else if (name.startsWith(claimPrefix) && ownerOfWorkFile(name, &pid, &stamp)) {
                // Never removed unread.
                keep = true;
                claimOwners.insert(qMakePair(pid, stamp));
            } else if (name.startsWith(ownerPrefix) && ownerOfWorkFile(name, &pid, &stamp)) {
                keep = true;
                ownerLocks.insert(qMakePair(pid, stamp), path);
            } else if (ownerOfWorkFile(name, &pid, &stamp)) {
                keep = processExists(pid, stamp); // a draft
            }
        }
        if (!keep)
            QFile::remove(path);
    }
    // An owner lock goes once its owner has ended and left no claim.
    for (auto lock = ownerLocks.cbegin(); lock != ownerLocks.cend(); ++lock) {
        if (claimOwners.contains(lock.key()))
            continue;
        if (lock.key() == qMakePair(ownPid, ownStamp)) {
            ownership.release(true);
            continue;
        }
        OwnerLock theirs;
        if (theirs.acquire(lock.value(), OwnerLock::ExistingOnly))
            theirs.release(true);
    }
    QDir().rmdir(folder);
}
