#include "selection_handoff.h"

#include "command_line.h"
#include "instance_probe.h"
#include "private_folder.h"
#include "process_list.h"
#include "single_application.h"
#include "text_files.h"
#include "verbs.h"

#include <QtCore/qdir.h>
#include <QtCore/qdiriterator.h>
#include <QtCore/qelapsedtimer.h>
#include <QtCore/qeventloop.h>
#include <QtCore/qfileinfo.h>
#include <QtCore/qprocess.h>
#include <QtCore/qtimer.h>

#include <cstdlib>

// A copy's path travels in a file named after its process id. The file is
// written whole under a draft name first, then put in place under the
// shared block's lock, and only while the primary that the copy registered
// with still holds its role and runs; the primary gives up its role and
// claims the files it gathers (by renaming them to names of its own) under
// the same lock. So each file goes to exactly one editor start, and a copy
// that comes too late, or cannot write its file at all, starts the editor
// with its own path: a second start rather than a lost path.
//
// The file's first line names the verb of the copy's own action and the
// primary it was meant for; the path follows. The primary starts the editor
// once for each verb (its own first), and separately for what a primary
// that died left behind, so every path goes under the verb it was picked
// for. A file that holds a path alone goes with the primary's own.

namespace {

// The file manager starts the copies one after another, and a start can be
// slowed by a busy disk: the primary gathers only once no copy has
// registered for this long. The first pause after its own start is part of
// it, so a lone file costs no more than that pause.
constexpr int QuietWindowMs = 200;

// Between two looks at the block, events are served; the task list, which
// costs a walk over every process, is asked for no more often than this.
constexpr int PollIntervalMs = 5;
constexpr qint64 ProbeIntervalMs = 25;

// A task list that never shows the primary alone (a stranger whose name
// contains ours, a copy stopped for good) must not keep the files from the
// editor for ever. The forced release at the end is part of the bound.
constexpr qint64 MaxWaitMs = 60000;

// The lock is held for microseconds; a release that cannot have it this
// soon is tried again in the next round, and at the end of the wait the
// role is given up without it after what is left of the bound (at least the
// first, at most the second).
constexpr int ReleaseLockTimeoutMs = 500;
constexpr int ForcedReleaseLockTimeoutMs = 5000;

// The program's own work files: drafts (".<pid>.draft") and claims
// (".claimed-<pid>-<name>").
const QLatin1String draftSuffix(".draft");
const QLatin1String claimPrefix(".claimed-");

QString handoffFilePath(const QString &folder, qint64 pid)
{
    return folder + QStringLiteral("/%1.txt").arg(pid);
}

QString draftFilePath(const QString &folder, qint64 pid)
{
    return folder + QStringLiteral("/.%1").arg(pid) + draftSuffix;
}

QString claimedFilePath(const QString &folder, const QString &fileName)
{
    return folder + QLatin1Char('/') + claimPrefix + QString::number(QCoreApplication::applicationPid())
            + QLatin1Char('-') + fileName;
}

// The process that owns a draft or a claim, from its name; 0 for any other.
qint64 ownerOfWorkFile(const QString &fileName)
{
    QString pid;
    if (fileName.startsWith(claimPrefix))
        pid = fileName.mid(claimPrefix.size()).section(QLatin1Char('-'), 0, 0);
    else if (fileName.startsWith(QLatin1Char('.')) && fileName.endsWith(draftSuffix))
        pid = fileName.mid(1, fileName.size() - 1 - draftSuffix.size());
    return pid.toLongLong();
}

// What one hand-off file carries.
struct HandedPath
{
    QString verbFlag;     // empty: the primary's own
    qint64 primaryPid = 0; // the primary it was meant for; 0: the primary's own
    QString path;
    QString claim;        // the file it came in, once claimed
};

QString handoffText(const QString &verbFlag, qint64 primaryPid, const QString &path)
{
    return verbFlag + QLatin1Char(' ') + QString::number(primaryPid) + QLatin1Char('\n') + path;
}

HandedPath parseHandoffText(const QString &text)
{
    HandedPath handed;
    handed.path = text;
    const int end = text.indexOf(QLatin1Char('\n'));
    if (end < 0)
        return handed;
    const QString header = text.left(end);
    bool numeric = false;
    const qint64 pid = header.section(QLatin1Char(' '), 1).toLongLong(&numeric);
    const QString flag = header.section(QLatin1Char(' '), 0, 0);
    if (!isVerbFlag(flag) || !numeric || pid <= 0)
        return handed;
    handed.verbFlag = flag;
    handed.primaryPid = pid;
    handed.path = text.mid(end + 1);
    return handed;
}

// Writes the text whole under the draft name and returns that name; empty
// when it could not be written whole (no folder of ours, a full disk), and
// then no draft is left behind. The primary of an earlier selection removes
// the folder once it is empty, so it may have to be made again.
QString writeDraft(const QString &folder, const QString &text)
{
    const QString draft = draftFilePath(folder, QCoreApplication::applicationPid());
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!makePrivateFolder(folder))
            return QString();
        QFile::remove(draft);
        if (appendTextToFile(draft, text))
            return draft;
        QFile::remove(draft);
    }
    return QString();
}

// Puts a draft in place as the hand-off file; a file of the same name left
// by an interrupted run is replaced, not appended to.
bool putInPlace(const QString &draft, const QString &handoffFile)
{
    QFile::remove(handoffFile);
    return QFile::rename(draft, handoffFile);
}

void serveEventsFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Under the lock: the files of the folder become this primary's by taking
// names of its own, so that no later primary gathers them again. A file
// meant for another primary that still runs is left to that one. Returns
// what the claimed files carry, in the order of the listing.
QList<HandedPath> claimHandoffFiles(const QString &folder)
{
    QList<HandedPath> claimed;
    if (!isPrivateFolder(folder))
        return claimed;
    const qint64 ownPid = QCoreApplication::applicationPid();
    // The listing leaves out the work files (drafts, claims) by their names.
    for (const QString &path : listFilePaths(folder)) {
        HandedPath handed = parseHandoffText(readTextFile(path));
        if (handed.primaryPid != 0 && handed.primaryPid != ownPid && isRunningCopy(handed.primaryPid))
            continue;
        const QString claim = claimedFilePath(folder, QFileInfo(path).fileName());
        if (!QFile::rename(path, claim))
            continue;
        handed.claim = claim;
        claimed.append(handed);
    }
    return claimed;
}

// One start of the editor: the verb and paths that share it, and the files
// they came in.
struct EditorStart
{
    QString verbFlag;
    qint64 primaryPid = 0;
    QStringList paths;
    QStringList claims;
};

// This primary's own action first, then the others (another verb, or what a
// dead primary left) in the order they were found.
QList<EditorStart> startsFor(const QString &ownFlag, const QList<HandedPath> &handed)
{
    const qint64 ownPid = QCoreApplication::applicationPid();
    QList<EditorStart> starts{ EditorStart{ ownFlag, ownPid, {}, {} } };
    for (const HandedPath &item : handed) {
        const QString flag = item.verbFlag.isEmpty() ? ownFlag : item.verbFlag;
        const qint64 pid = item.primaryPid == 0 ? ownPid : item.primaryPid;
        auto start = std::find_if(starts.begin(), starts.end(), [&](const EditorStart &s) {
            return s.verbFlag == flag && s.primaryPid == pid;
        });
        if (start == starts.end())
            start = starts.insert(starts.end(), EditorStart{ flag, pid, {}, {} });
        start->paths.append(item.path);
        if (!item.claim.isEmpty())
            start->claims.append(item.claim);
    }
    return starts;
}

// A claim whose start failed is put back under its name, for the next
// primary to deliver; it is never removed unread.
void giveBack(const QString &claim)
{
    const QFileInfo info(claim);
    const QString name = info.fileName().mid(claimPrefix.size()).section(QLatin1Char('-'), 1);
    QFile::rename(claim, info.path() + QLatin1Char('/') + name);
}

// Removes what else lies in the folder but the hand-off files, drafts and
// claims of copies still running; then the folder itself once it is empty.
// Links are removed, never followed.
void removeLeftovers(const QString &folder)
{
    QDirIterator entries(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    while (entries.hasNext()) {
        const QString path = entries.next();
        const QFileInfo entry = entries.fileInfo();
        if (entry.isDir() && !entry.isSymLink()) {
            removeTree(path);
            continue;
        }
        const qint64 owner = ownerOfWorkFile(entry.fileName());
        const bool inUse = entry.isFile() && !entry.isSymLink()
                && (!isWorkFileName(entry.fileName()) || (owner > 0 && isRunningCopy(owner)));
        if (!inUse)
            QFile::remove(path);
    }
    QDir().rmdir(folder);
}

} // namespace

bool launchEditor(const QString &verbFlag, const QStringList &paths, QList<int> *failedStarts)
{
    const QString editor = QCoreApplication::applicationDirPath() + QStringLiteral("/Vellix.exe");
    // The system bounds a command line: a long selection goes in several
    // starts, each with the verb and as many whole paths as fit, in order.
    bool allStarted = true;
    int first = 0;
    do {
        QString argument = verbFlag;
        int next = first;
        while (next < paths.size()) {
            const QString longer = argument + QLatin1Char(';') + paths.at(next);
            if (next > first && !fitsOneStart(editor, longer))
                break;
            argument = longer;
            ++next;
        }
        if (!QProcess::startDetached(editor, QStringList{ argument })) {
            allStarted = false;
            for (int i = first; failedStarts && i < next; ++i)
                failedStarts->append(i);
        }
        first = next;
    } while (first < paths.size());
    return allStarted;
}

void handOffSelection(SingleApplication &app, const QString &handoffFolder, const QString &verbFlag,
                      const QString &filePath)
{
    const QString draft = writeDraft(handoffFolder, handoffText(verbFlag, app.primaryProcessId(), filePath));
    const QString handoffFile = handoffFilePath(handoffFolder, QCoreApplication::applicationPid());
    const bool handedOn = !draft.isEmpty() && app.commitToPrimary(
            [&] { return putInPlace(draft, handoffFile); },
            [&] { return QFile::rename(handoffFile, draft); });
    if (handedOn)
        std::exit(0);
    const bool started = launchEditor(verbFlag, { filePath });
    if (!draft.isEmpty()) {
        // An editor that cannot be started leaves the path for the next
        // primary to deliver.
        if (!started)
            putInPlace(draft, handoffFile);
        else
            QFile::remove(draft);
    }
    std::exit(started ? 0 : 1);
}

bool collectSelection(SingleApplication &app, const QString &handoffFolder,
                      const QString &verbFlag, const QString &filePath)
{
    const qint64 ownPid = QCoreApplication::applicationPid();
    const QString draft = writeDraft(handoffFolder, handoffText(verbFlag, ownPid, filePath));
    const bool ownFileWritten = !draft.isEmpty() && putInPlace(draft, handoffFilePath(handoffFolder, ownPid));
    if (!draft.isEmpty() && !ownFileWritten)
        QFile::remove(draft);

    // Registrations are watched from the start, the first pause included,
    // so that the quiet window counts from when a copy registered.
    QElapsedTimer clock;
    clock.start();
    quint32 registered = app.secondaryStartCount();
    qint64 lastRegistration = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const quint32 now = app.secondaryStartCount();
        if (now != registered) {
            registered = now;
            lastRegistration = clock.elapsed();
        }
    });
    watch.start(PollIntervalMs);

    // The role is given up only while no copy has registered since the
    // last look; from then on a new copy becomes a primary of its own, and
    // one that registered with us but comes too late starts the editor
    // itself.
    QList<HandedPath> claimed;
    const auto claim = [&] { claimed = claimHandoffFiles(handoffFolder); };
    bool released = false;
    serveEventsFor(200);
    qint64 lastProbe = -ProbeIntervalMs;
    while (!released && clock.elapsed() < MaxWaitMs) {
        if (clock.elapsed() - lastRegistration >= QuietWindowMs && clock.elapsed() - lastProbe >= ProbeIntervalMs) {
            lastProbe = clock.elapsed();
            released = isSoleRunningCopy(int(MaxWaitMs - clock.elapsed()))
                    && app.releasePrimaryRole(registered, false, ReleaseLockTimeoutMs, claim);
        }
        if (!released)
            serveEventsFor(PollIntervalMs);
    }
    watch.stop();
    if (!released) {
        const int left = int(qBound<qint64>(ReleaseLockTimeoutMs, MaxWaitMs - clock.elapsed(), ForcedReleaseLockTimeoutMs));
        app.releasePrimaryRole(registered, true, left, claim);
    }

    QList<EditorStart> starts = startsFor(verbFlag, claimed);
    // Without a hand-off file of its own (no folder of ours, a full disk),
    // this copy's path still goes to the editor.
    if (!ownFileWritten)
        starts.first().paths.append(filePath);
    bool allStarted = true;
    for (const EditorStart &start : qAsConst(starts)) {
        QList<int> failed;
        allStarted = launchEditor(start.verbFlag, start.paths, &failed) && allStarted;
        // The claims line up with the paths, but for this copy's own path
        // when it came without a file (last).
        for (int i = 0; i < start.claims.size(); ++i) {
            if (failed.contains(i))
                giveBack(start.claims.at(i));
            else
                QFile::remove(start.claims.at(i));
        }
    }

    if (isPrivateFolder(handoffFolder))
        removeLeftovers(handoffFolder);
    return allStarted;
}
