#include "dispatch.h"

#include "private_folder.h"
#include "registry_entries.h"
#include "selection_handoff.h"
#include "single_application.h"
#include "verbs.h"

#include <QtCore/qfileinfo.h>

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

int runHelper(SingleApplication &app, const QStringList &arguments)
{
    const QString handoffFolder = handoffFolderPath();
    makePrivateFolder(handoffFolder);

    if (arguments.isEmpty())
        return 0;

    if (arguments.size() == 1) {
        const QString &command = arguments.first();
        if (command.compare(QLatin1String("install"), Qt::CaseInsensitive) == 0) {
            uninstallRegistryEntries();
            installRegistryEntries();
            return 0;
        }
        if (command.compare(QLatin1String("uninstall"), Qt::CaseInsensitive) == 0) {
            uninstallRegistryEntries();
            return 0;
        }
    }

    // A flag without a path names no file: there is nothing to hand on.
    if (isVerbFlag(arguments.first()) && arguments.size() >= 2) {
        if (app.secondaryRole())
            handOffSelection(handoffFolder, arguments.at(1));
        collectSelection(app, handoffFolder, arguments.at(0), arguments.at(1));
    }
    return 0;
}
