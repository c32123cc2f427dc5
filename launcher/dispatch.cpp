#include "dispatch.h"

#include "private_folder.h"
#include "single_application.h"
#include "verbs.h"

#include <QtCore/qstandardpaths.h>

QString handoffFolderPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::TempLocation)
            + QLatin1String("/VellixContextMenu");
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
            // Registry entries: not part of this build yet.
            return 0;
        }
        if (command.compare(QLatin1String("uninstall"), Qt::CaseInsensitive) == 0)
            return 0;
    }

    if (isVerbFlag(arguments.first())) {
        // A flag without a path names no file: there is nothing to hand on.
        if (arguments.size() < 2)
            return 0;
        // Selection hand-off: not part of this build yet.
        Q_UNUSED(app);
    }
    return 0;
}
