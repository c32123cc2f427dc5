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
// a stranger whose name contains ours) must not keep the files from the
// editor for ever.
constexpr qint64 MaxWaitMs = 60000;

// After giving up its role the primary lets copies that had registered
// finish writing their file; they need milliseconds.
constexpr qint64 SettleWaitMs = 1000;

QString handoffFilePath(const QString &folder, qint64 pid)
{
    return folder + QStringLiteral("/%1.txt").arg(pid);
}

// Each hand-off file holds exactly its writer's path: a file of the same
// name left by an interrupted run is replaced, not appended to. The primary
// of an earlier selection removes the folder once it is empty, so it may
// have to be made again. Nothing is written into a folder that is not ours.
bool writeHandoffFile(const QString &folder, const QString &filePath)
{
    const QString handoffFile = handoffFilePath(folder, QCoreApplication::applicationPid());
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!makePrivateFolder(folder))
            return false;
        QFile::remove(handoffFile);
        appendTextToFile(handoffFile, filePath);
        if (QFile::exists(handoffFile))
            return true;
    }
    return false;
}

void serveEventsFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool isOtherRunningCopy(const QString &handoffFile)
{
    bool numeric = false;
    const qint64 pid = QFileInfo(handoffFile).completeBaseName().toLongLong(&numeric);
    return numeric && pid != QCoreApplication::applicationPid() && isRunningCopy(pid);
}

// Removes what the folder holds but the plain files that were not gathered
// (those of a copy that came after us, for its own launch), and the folder
// itself once it is empty. Links are removed, never followed.
void removeGathered(const QString &folder, const QStringList &gathered)
{
    QDirIterator entries(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    while (entries.hasNext()) {
        const QString path = entries.next();
        const QFileInfo entry = entries.fileInfo();
        if (entry.isDir() && !entry.isSymLink())
            QDir(path).removeRecursively();
        else if (!entry.isFile() || entry.isSymLink() || entry.isHidden() || gathered.contains(path))
            QFile::remove(path);
    }
    QDir().rmdir(folder);
}

} // namespace

void handOffSelection(const QString &handoffFolder, const QString &filePath)
{
    writeHandoffFile(handoffFolder, filePath);
    std::exit(0);
}

void collectSelection(SingleApplication &app, const QString &handoffFolder,
                      const QString &verbFlag, const QString &filePath)
{
    const bool ownFileWritten = writeHandoffFile(handoffFolder, filePath);

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

    serveEventsFor(200);
    qint64 lastProbe = -ProbeIntervalMs;
    while (clock.elapsed() < MaxWaitMs) {
        if (clock.elapsed() - lastRegistration >= QuietWindowMs && clock.elapsed() - lastProbe >= ProbeIntervalMs) {
            lastProbe = clock.elapsed();
            if (isSoleRunningCopy())
                break;
        }
        serveEventsFor(PollIntervalMs);
    }
    watch.stop();

    // From here on a new copy becomes a primary of its own and launches its
    // own files; those that registered with us before are waited for.
    if (app.releasePrimaryRole() != registered) {
        QElapsedTimer settle;
        settle.start();
        while (!isSoleRunningCopy() && settle.elapsed() < SettleWaitMs)
            serveEventsFor(PollIntervalMs);
    }

    QStringList paths;
    QStringList gathered;
    const bool folderIsOurs = isPrivateFolder(handoffFolder);
    if (folderIsOurs) {
        const QStringList handoffFiles = listFilePaths(handoffFolder);
        for (const QString &handoffFile : handoffFiles) {
            if (isOtherRunningCopy(handoffFile))
                continue;
            gathered.append(handoffFile);
            paths.append(readTextFile(handoffFile));
        }
    }
    // Without a hand-off file of its own (no folder of ours, a full disk),
    // this copy's path still goes to the editor.
    if (!ownFileWritten)
        paths.append(filePath);
    paths.prepend(verbFlag);

    const QString editor = QCoreApplication::applicationDirPath() + QStringLiteral("/Vellix.exe");
    QProcess::startDetached(editor, QStringList{ paths.join(QLatin1Char(';')) });

    if (folderIsOurs)
        removeGathered(handoffFolder, gathered);
}
