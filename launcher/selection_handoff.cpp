#include "selection_handoff.h"

#include "instance_probe.h"
#include "private_folder.h"
#include "process_list.h"
#include "single_application.h"
#include "text_files.h"

#include <QtCore/qdir.h>
#include <QtCore/qdiriterator.h>
#include <QtCore/qelapsedtimer.h>
#include <QtCore/qeventloop.h>
#include <QtCore/qfileinfo.h>
#include <QtCore/qprocess.h>
#include <QtCore/qtimer.h>

#include <cstdlib>

// A copy's path travels in a file named after its process id. The file is
// written whole under a hidden draft name first, then put in place under
// the shared block's lock, and only while the primary that the copy
// registered with still holds its role; the primary gives up its role and
// claims the files it gathers (by renaming them to hidden names of its own)
// under the same lock. So each file goes to exactly one editor start, and a
// copy that comes too late, or cannot write its file at all, starts the
// editor with its own path: a second start rather than a lost path.

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

// A task list that never shows the primary alone (a tool that cannot run,
// a stranger whose name contains ours, a copy stopped for good) must not
// keep the files from the editor for ever.
constexpr qint64 MaxWaitMs = 60000;

// The lock is held for microseconds; a release that cannot have it this
// soon is tried again in the next round, and at the end of the wait the
// role is given up without it after this long.
constexpr int ReleaseLockTimeoutMs = 500;
constexpr int ForcedReleaseLockTimeoutMs = 5000;

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

// Writes the path whole under the draft name and returns that name; empty
// when it could not be written whole (no folder of ours, a full disk), and
// then no draft is left behind. The primary of an earlier selection removes
// the folder once it is empty, so it may have to be made again.
QString writeDraft(const QString &folder, const QString &filePath)
{
    const QString draft = draftFilePath(folder, QCoreApplication::applicationPid());
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!makePrivateFolder(folder))
            return QString();
        QFile::remove(draft);
        if (appendTextToFile(draft, filePath))
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
// hidden names of its own, so that no later primary gathers them again.
// Returns the claimed names in the order of the listing.
QStringList claimHandoffFiles(const QString &folder)
{
    QStringList claimed;
    if (!isPrivateFolder(folder))
        return claimed;
    for (const QString &path : listFilePaths(folder)) {
        const QString claim = claimedFilePath(folder, QFileInfo(path).fileName());
        if (QFile::rename(path, claim))
            claimed.append(claim);
    }
    return claimed;
}

// Removes what this primary claimed, and what else lies in the folder but
// the hand-off files, drafts and claims of copies still running; then the
// folder itself once it is empty. Links are removed, never followed.
void removeGathered(const QString &folder, const QStringList &claimed)
{
    for (const QString &path : claimed)
        QFile::remove(path);
    QDirIterator entries(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    while (entries.hasNext()) {
        const QString path = entries.next();
        const QFileInfo entry = entries.fileInfo();
        if (entry.isDir() && !entry.isSymLink()) {
            QDir(path).removeRecursively();
            continue;
        }
        const qint64 owner = ownerOfWorkFile(entry.fileName());
        const bool inUse = entry.isFile() && !entry.isSymLink()
                && (!entry.isHidden() || (owner > 0 && isRunningCopy(owner)));
        if (!inUse)
            QFile::remove(path);
    }
    QDir().rmdir(folder);
}

} // namespace

void launchEditor(const QString &verbFlag, const QStringList &paths)
{
    const QString editor = QCoreApplication::applicationDirPath() + QStringLiteral("/Vellix.exe");
    QProcess::startDetached(editor, QStringList{ (QStringList{ verbFlag } + paths).join(QLatin1Char(';')) });
}

void handOffSelection(SingleApplication &app, const QString &handoffFolder, const QString &verbFlag,
                      const QString &filePath)
{
    const QString draft = writeDraft(handoffFolder, filePath);
    const QString handoffFile = handoffFilePath(handoffFolder, QCoreApplication::applicationPid());
    const bool handedOn = !draft.isEmpty() && app.commitToPrimary([&] {
        return putInPlace(draft, handoffFile);
    });
    if (!handedOn) {
        if (!draft.isEmpty())
            QFile::remove(draft);
        launchEditor(verbFlag, { filePath });
    }
    std::exit(0);
}

void collectSelection(SingleApplication &app, const QString &handoffFolder,
                      const QString &verbFlag, const QString &filePath)
{
    const QString draft = writeDraft(handoffFolder, filePath);
    const bool ownFileWritten = !draft.isEmpty()
            && putInPlace(draft, handoffFilePath(handoffFolder, QCoreApplication::applicationPid()));
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
    QStringList claimed;
    const auto claim = [&] { claimed = claimHandoffFiles(handoffFolder); };
    bool released = false;
    serveEventsFor(200);
    qint64 lastProbe = -ProbeIntervalMs;
    while (!released && clock.elapsed() < MaxWaitMs) {
        if (clock.elapsed() - lastRegistration >= QuietWindowMs && clock.elapsed() - lastProbe >= ProbeIntervalMs) {
            lastProbe = clock.elapsed();
            released = isSoleRunningCopy()
                    && app.releasePrimaryRole(registered, false, ReleaseLockTimeoutMs, claim);
        }
        if (!released)
            serveEventsFor(PollIntervalMs);
    }
    watch.stop();
    if (!released)
        app.releasePrimaryRole(registered, true, ForcedReleaseLockTimeoutMs, claim);

    QStringList paths;
    for (const QString &file : qAsConst(claimed))
        paths.append(readTextFile(file));
    // Without a hand-off file of its own (no folder of ours, a full disk),
    // this copy's path still goes to the editor.
    if (!ownFileWritten)
        paths.append(filePath);
    launchEditor(verbFlag, paths);

    if (isPrivateFolder(handoffFolder))
        removeGathered(handoffFolder, claimed);
}
