#include "dispatch.h"

#include "drop_targets.h"
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

bool isSelection(const QStringList &arguments)
{
    return arguments.size() >= 2 && isVerbFlag(arguments.first()) && !arguments.at(1).isEmpty();
}

int startOptionsFor(const QStringList &arguments)
{
    return isSelection(arguments) ? SingleApplication::PerUserScope
                                  : SingleApplication::PerUserScope | SingleApplication::Bystander;
}

namespace {

// COM starts the helper as the verbs' drop targets: the file manager hands
// it each selection whole, and each goes to the editor as a selection of
// copies would (the verb flag, the system's bound, the install folder, the
// foreground). A run that gathers nothing, it took part in the election as
// a bystander. Where there is no COM it has nothing to serve.
int serveVerbsAsDropTargets()
{
    if (!dropTargetsSupported())
        return 0;
    QList<DropTargetClass> classes;
    for (const VerbEntry &entry : verbTable)
        classes.append({ QLatin1String(entry.classId), QLatin1String(entry.flag) });
    bool allStarted = true;
    const bool served = serveDropTargets(classes, DropTargetIdleMs,
                                         [&allStarted](const QString &verbFlag, const QStringList &paths) {
                                             allStarted = launchEditor(verbFlag, paths) && allStarted;
                                         });
    return served && allStarted ? 0 : EditorNotStartedExitCode;
}

} // namespace

int runHelper(SingleApplication &app, const QStringList &arguments)
{
    const QString handoffFolder = handoffFolderPath();
    makePrivateFolder(handoffFolder);

    const bool selection = isSelection(arguments);
    if (arguments.isEmpty())
        return 0;

    if (arguments.size() == 1) {
        const QString &command = arguments.first();
        const bool install = command.compare(QLatin1String("install"), Qt::CaseInsensitive) == 0;
        if (install || command.compare(QLatin1String("uninstall"), Qt::CaseInsensitive) == 0) {
            // A root that cannot be read must not leave the other one
            // changed alone, and the installer must hear of it.
            QString problem;
            if (!registryReady(&problem)) {
                std::fprintf(stderr, "Registry not changed: %s\n", problem.toLocal8Bit().constData());
                return RegistryUnusableExitCode;
            }
            // A refused write leaves what a second install or uninstall
            // mends; the installer hears of it.
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
    }
    if (arguments.size() == 1 && isEmbeddingArgument(arguments.first()))
        return serveVerbsAsDropTargets();
    if (!selection)
        return 0;

    if (app.secondaryRole())
        handOffSelection(app, handoffFolder, arguments.at(0), arguments.at(1));
    return collectSelection(app, handoffFolder, arguments.at(0), arguments.at(1)) ? 0 : EditorNotStartedExitCode;
}
