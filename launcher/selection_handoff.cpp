#include "selection_handoff.h"

#include "editor_launch.h"
#include "handoff_folder.h"
#include "instance_probe.h"
#include "process_list.h"
#include "single_application.h"

#include <QtCore/qelapsedtimer.h>
#include <QtCore/qeventloop.h>
#include <QtCore/qtimer.h>

#include <algorithm>
#include <cstdlib>

// A copy's path travels in a file of its own in the hand-off folder (see
// HandoffFolder): written whole, posted under the shared block's lock only
// while the primary that the copy registered with still holds its role and
// runs, and claimed by the primary under the same lock as it gives its
// role up. So each file goes to exactly one editor start, and a copy that
// comes too late, or cannot write its file at all, starts the editor with
// its own path: a second start rather than a lost path. A primary that is
// stopped or held up keeps what it claimed (the system keeps its owner
// lock for it): its paths come late, never twice.
//
// The primary starts the editor once for each verb among its files (its
// own first), and separately for what a primary that died left behind, so
// every path goes under the verb it was picked for. Each claim is removed
// as soon as the start that carries its path has succeeded: what a primary
// killed between its claim and its starts leaves, the next one delivers.
// Only a primary killed between a start and the removal of that start's
// claims has that start's paths delivered again.

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
// editor for ever: the wait ends within the copy's bound, this much before
// it, so that the release at the end (which then does without the lock if
// it must) fits in too.
constexpr int ReleaseReserveMs = 1000;

// The lock is held for microseconds; a release that cannot have it this
// soon is tried again in the next round.
constexpr int ReleaseLockTimeoutMs = 500;

// A file that another program holds (a scanner, an indexer) is let go
// within moments; one still held after this long stays for a later
// primary rather than hold the selection up for the rest of the bound.
constexpr int RefusedFilePatienceMs = 10000;

void serveEventsFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// One start of the editor: the verb and paths that share it, and the
// claims they came in (empty for this copy's own path when it came without
// a file).
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
        start->claims.append(item.claim);
    }
    return starts;
}

} // namespace

void handOffSelection(SingleApplication &app, const QString &handoffFolder, const QString &verbFlag,
                      const QString &filePath)
{
    HandoffFolder folder(handoffFolder);
    const qint64 primary = app.primaryProcessId();
    const bool drafted = folder.writeDraft(verbFlag, primary, processStartStamp(primary), filePath);
    const bool handedOn = drafted && app.commitToPrimary([&] { return folder.post(); },
                                                         [&] { return folder.takeBack(); });
    if (handedOn)
        std::exit(0);
    const bool started = startEditor(verbFlag, listedPaths({ filePath }));
    // An editor that cannot be started leaves the path for the next
    // primary to deliver.
    if (!started && drafted && folder.post())
        std::exit(1);
    folder.discardDraft();
    std::exit(started ? 0 : 1);
}

bool collectSelection(SingleApplication &app, const QString &handoffFolder,
                      const QString &verbFlag, const QString &filePath)
{
    HandoffFolder folder(handoffFolder);
    const qint64 self = QCoreApplication::applicationPid();
    // Before anything is claimed: what this copy claims stays its own for
    // as long as it lives, stopped or not.
    folder.takeOwnership();
    const bool ownFilePosted = folder.writeDraft(verbFlag, self, processStartStamp(self), filePath)
            && folder.post();
    if (!ownFilePosted)
        folder.discardDraft();

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
    const auto claim = [&] { claimed = folder.claim(); };
    bool released = false;
    serveEventsFor(QuietWindowMs);
    qint64 lastProbe = -ProbeIntervalMs;
    while (!released && app.remainingRunMs() > ReleaseReserveMs) {
        if (clock.elapsed() - lastRegistration >= QuietWindowMs && clock.elapsed() - lastProbe >= ProbeIntervalMs) {
            lastProbe = clock.elapsed();
            released = isSoleRunningCopy(app.remainingRunMs() - ReleaseReserveMs, folder.otherOwnerCount())
                    && app.releasePrimaryRole(registered, false, ReleaseLockTimeoutMs, claim);
        }
        if (!released)
            serveEventsFor(PollIntervalMs);
    }
    watch.stop();
    if (!released)
        app.releasePrimaryRole(registered, true, app.remainingRunMs(), claim);
    // Files that another program held, or that could not be read, are tried
    // again within the bound; the rename decides, so the lock is not held.
    claimed += folder.claimRefused(qBound(0, app.remainingRunMs() - ReleaseReserveMs, RefusedFilePatienceMs));

    // Without a hand-off file of its own (no folder of ours, a full disk),
    // this copy's path still goes to the editor, in its place among the
    // others. A file of its own that it could not claim goes too, if it can
    // be taken away; else it stays for a later primary. One that another
    // primary took (this copy was held up) is that one's.
    bool allDelivered = !folder.leftFilesBehind();
    if (!ownFilePosted || (folder.isPosted() && folder.takeBack())) {
        folder.discardDraft();
        HandedPath own;
        own.path = filePath;
        own.name = folder.postedName();
        claimed.append(own);
    } else if (folder.isPosted()) {
        allDelivered = false;
    }
    std::sort(claimed.begin(), claimed.end(), [](const HandedPath &a, const HandedPath &b) {
        return a.name < b.name;
    });

    for (const EditorStart &start : startsFor(verbFlag, claimed)) {
        const QStringList listed = listedPaths(start.paths);
        int first = 0;
        for (const int end : startSpans(start.verbFlag, listed)) {
            QStringList claims;
            for (int i = first; i < end; ++i) {
                if (!start.claims.at(i).isEmpty())
                    claims.append(start.claims.at(i));
            }
            if (startEditor(start.verbFlag, listed.mid(first, end - first))) {
                folder.acknowledge(claims);
            } else {
                folder.handBack(claims);
                allDelivered = false;
            }
            first = end;
        }
    }

    folder.sweep();
    return allDelivered;
}
