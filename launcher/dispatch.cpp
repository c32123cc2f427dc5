#include "dispatch.h"

#include "drop_targets.h"
#include "editor_launch.h"
#include "handoff_folder.h"
#include "private_folder.h"
#include "registry.h"
#include "registry_entries.h"
#include "selection_handoff.h"
#include "single_application.h"
#include "verbs.h"

#include <QtCore/qfileinfo.h>

#include <cstdio>

QString handoffFolderPath()
{
    const QString path = temporaryFolder() + QLatin1String("/VellixContextMenu");
    const QString alternative = userOwnAlternative(path);
    if (alternative.isEmpty())
        return path;
    // In a temporary folder that all users share, another user may hold the
    // name. Then the user's own alternative serves, and once it exists it
    // serves every copy of the selection, even if the other user's folder
    // goes meanwhile.
    if (isPrivateFolder(alternative))
        return alternative;
    const QFileInfo standard(path);
    const bool nameIsFree = !standard.exists() && !standard.isSymLink();
    return nameIsFree || isPrivateFolder(path) ? path : alternative;
}

bool isDropTargetServerRun(const QStringList &arguments)
{
    return arguments.size() == 1 && isEmbeddingArgument(arguments.first());
}

bool isSelection(const QStringList &arguments)
{
    return arguments.size() >= 2 && isVerbFlag(arguments.first()) && !arguments.at(1).isEmpty();
}

int startOptionsFor(const QStringList &arguments)
{
    return isSelection(arguments) ? SingleApplication::PerUserScope
                                  : SingleApplication::PerUserScope | SingleApplication::Bystander;
}

int serveVerbsAsDropTargets()
{
    if (!dropTargetsSupported())
        return 0;
    QList<DropTargetClass> classes;
    for (const VerbEntry &entry : verbTable)
        classes.append({ QLatin1String(entry.classId), QLatin1String(entry.flag) });
    bool allStarted = true;
    // A drop whose editor would not start waits, as a selection's paths
    // do, for the next primary; the user learns of it from the event log.
    const auto deliver = [&allStarted](const QString &verbFlag, const QStringList &paths) {
        if (launchEditor(verbFlag, paths))
            return;
        allStarted = false;
        const bool left = HandoffFolder(handoffFolderPath()).leave(verbFlag, paths);
        reportDropFailure(QStringLiteral("The editor could not be started for %1 dropped files (%2); ")
                                  .arg(paths.size()).arg(verbFlag)
                          + (left ? QStringLiteral("they go to it with the next selection.")
                                  : QStringLiteral("they could not be kept for the next selection.")));
    };
    const bool served = serveDropTargets(classes, DropTargetIdleMs, deliver);
    return served && allStarted ? 0 : EditorNotStartedExitCode;
}

namespace {

// install and uninstall: the exit code.
int runRegistryCommand(bool install)
{
    // A root that cannot be read must not leave the other one changed
    // alone, and the installer must hear of it.
    QString problem;
    if (!registryReady(&problem)) {
        std::fprintf(stderr, "Registry not changed: %s\n", problem.toLocal8Bit().constData());
        return RegistryUnusableExitCode;
    }
    // A refused write leaves what a second install or uninstall mends; the
    // installer hears of it.
    bool whole = uninstallRegistryEntries();
    QString notice;
    if (install)
        whole = installRegistryEntries(&notice) && whole;
    if (!notice.isEmpty())
        std::fprintf(stderr, "%s\n", notice.toLocal8Bit().constData());
    if (!whole) {
        std::fprintf(stderr, "Registry not changed whole: the registry refused a change; "
                             "run %s again\n", install ? "install" : "uninstall");
        return RegistryIncompleteExitCode;
    }
    return 0;
}

// -1 unless the arguments are install or uninstall, in any letter case.
int registryCommandOf(const QStringList &arguments)
{
    if (arguments.size() != 1)
        return -1;
    for (const bool install : { true, false }) {
        if (arguments.first().compare(QLatin1String(install ? "install" : "uninstall"), Qt::CaseInsensitive) == 0)
            return install;
    }
    return -1;
}

} // namespace

int runHelper(SingleApplication &app, const QStringList &arguments)
{
    const QString handoffFolder = handoffFolderPath();
    makePrivateFolder(handoffFolder);

    const int registryCommand = registryCommandOf(arguments);
    if (registryCommand >= 0)
        return runRegistryCommand(registryCommand);
    if (!isSelection(arguments))
        return 0;

    if (app.secondaryRole())
        handOffSelection(app, handoffFolder, arguments.at(0), arguments.at(1));
    return collectSelection(app, handoffFolder, arguments.at(0), arguments.at(1)) ? 0 : EditorNotStartedExitCode;
}

int runWithoutElection(const QStringList &arguments)
{
    const int registryCommand = registryCommandOf(arguments);
    if (registryCommand >= 0)
        return runRegistryCommand(registryCommand);
    if (!isSelection(arguments) || launchEditor(arguments.at(0), { arguments.at(1) }))
        return 0;
    HandoffFolder(handoffFolderPath()).leave(arguments.at(0), { arguments.at(1) });
    return EditorNotStartedExitCode;
}
