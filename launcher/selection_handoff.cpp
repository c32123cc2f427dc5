#include "selection_handoff.h"

#include "command_line.h"
#include "handoff_folder.h"
#include "instance_probe.h"
#include "single_application.h"

#include <QtCore/qelapsedtimer.h>
#include <QtCore/qeventloop.h>
#include <QtCore/qprocess.h>
#include <QtCore/qtimer.h>

#include <algorithm>
#include <cstdlib>

// A copy's path travels in a file of its own in the hand-off folder (see
// HandoffFolder): written whole, posted under the shared block's lock only
// while the primary that the copy registered with still holds its role and
// runs, and claimed by the primary under the same lock as it gives its
// role up. So each file goes to exactly one editor start, and a copy that
// comes too late, or cannot write its file at all, starts the editor with
// its own path: a second start rather than a lost path.
//
// The primary starts the editor once for each verb among its files (its
// own first), and separately for what a primary that died left behind, so
// every path goes under the verb it was picked for. Each claim is removed
// as soon as the start that carries its path has succeeded: what a primary
// killed between its claim and its starts leaves, the next one delivers.

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

QString editorPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Vellix.exe");
}

// The paths as the editor's list carries them, each found once: a name
// may have to be looked up on its volume.
QStringList listedPaths(const QStringList &paths)
{
    QStringList listed;
    listed.reserve(paths.size());
    for (const QString &path : paths)
        listed.append(pathForList(path));
    return listed;
}

// The editor's one argument: the verb flag and the listed paths, joined by
// ";".
QString editorArgument(const QString &verbFlag, const QStringList &listed)
{
    return verbFlag + QLatin1Char(';') + listed.join(QLatin1Char(';'));
}

// Where one argument with every path would pass the system's bound on a
// command line, the editor is started several times, each with the flag
// and as many whole paths as fit, in order: the end (one past the last
// index) of each start's paths. How many fit is found by doubling, then
// halving, so that a selection of thousands costs a few arguments' length
// per start, not one each path.
QList<int> startSpans(const QString &verbFlag, const QStringList &listed)
{
    const QString editor = editorPath();
    const auto fit = [&](int first, int count) {
        return fitsOneStart(editor, editorArgument(verbFlag, listed.mid(first, count)));
    };
    QList<int> ends;
    int first = 0;
    while (first < listed.size()) {
        const int left = listed.size() - first;
        int fits = 1; // a start carries at least one path
        int tooMany = 2;
        while (tooMany <= left && fit(first, tooMany)) {
            fits = tooMany;
            tooMany = qMin(2 * tooMany, left + 1);
        }
        tooMany = qMin(tooMany, left + 1);
        while (tooMany - fits > 1) {
            const int middle = (fits + tooMany) / 2;
            (fit(first, middle) ? fits : tooMany) = middle;
        }
        ends.append(first + fits);
        first += fits;
    }
    return ends;
}

// Starts the editor beside the helper, detached, with the listed paths.
// False when it could not be started, or there is no path to give it.
bool startEditor(const QString &verbFlag, const QStringList &listed)
{
    // The file manager starts the helper in the selected files' folder; the
    // editor runs in its own, so that it keeps no user's folder (or stick)
    // from being renamed, removed or ejected while it runs.
    qint64 pid = 0;
    if (listed.isEmpty()
        || !QProcess::startDetached(editorPath(), QStringList{ editorArgument(verbFlag, listed) },
                                    QCoreApplication::applicationDirPath(), &pid))
        return false;
    allowToComeForward(pid);
    return true;
}

} // namespace

bool launchEditor(const QString &verbFlag, const QStringList &paths)
{
    const QStringList listed = listedPaths(paths);
    bool allStarted = true;
    int first = 0;
    for (const int end : startSpans(verbFlag, listed)) {
        allStarted = startEditor(verbFlag, listed.mid(first, end - first)) && allStarted;
        first = end;
    }
    return allStarted;
}

void handOffSelection(SingleApplication &app, const QString &handoffFolder, const QString &verbFlag,
                      const QString &filePath)
{
    HandoffFolder folder(handoffFolder);
    const bool drafted = folder.writeDraft(verbFlag, app.primaryProcessId(), filePath);
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
    const bool ownFilePosted = folder.writeDraft(verbFlag, QCoreApplication::applicationPid(), filePath)
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
            released = isSoleRunningCopy(app.remainingRunMs() - ReleaseReserveMs)
                    && app.releasePrimaryRole(registered, false, ReleaseLockTimeoutMs, claim);
        }
        if (!released)
            serveEventsFor(PollIntervalMs);
    }
    watch.stop();
    if (!released)
        app.releasePrimaryRole(registered, true, app.remainingRunMs(), claim);

    QList<EditorStart> starts = startsFor(verbFlag, claimed);
    bool allStarted = true;
    // Without a hand-off file of its own (no folder of ours, a full disk),
    // this copy's path still goes to the editor. A file of its own that it
    // could not claim goes with this start too, if it can be taken away;
    // else it stays for a later primary, and the run says so. One that
    // another primary took (this copy was held up) is that one's.
    if (!ownFilePosted) {
        starts.first().paths.append(filePath);
        starts.first().claims.append(QString());
    } else if (folder.isPosted()) {
        if (folder.takeBack()) {
            folder.discardDraft();
            starts.first().paths.append(filePath);
            starts.first().claims.append(QString());
        } else {
            allStarted = false;
        }
    }

    for (const EditorStart &start : qAsConst(starts)) {
        const QStringList listed = listedPaths(start.paths);
        int first = 0;
        for (const int end : startSpans(start.verbFlag, listed)) {
            // A claim that another primary took over while this one was
            // held up is that one's to deliver.
            QStringList paths, claims;
            for (int i = first; i < end; ++i) {
                const QString &claim = start.claims.at(i);
                if (!claim.isEmpty() && !folder.holds(claim))
                    continue;
                paths.append(listed.at(i));
                if (!claim.isEmpty())
                    claims.append(claim);
            }
            first = end;
            if (paths.isEmpty())
                continue;
            if (startEditor(start.verbFlag, paths)) {
                folder.acknowledge(claims);
            } else {
                folder.handBack(claims);
                allStarted = false;
            }
        }
    }

    folder.sweep();
    return allStarted;
}
