#include "editor_launch.h"

#include "command_line.h"

#include <QtCore/qcoreapplication.h>
#include <QtCore/qprocess.h>

namespace {

QString editorPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Vellix.exe");
}

// The editor's one argument: the verb flag and the listed paths, joined by
// ";".
QString editorArgument(const QString &verbFlag, const QStringList &listed)
{
    return verbFlag + QLatin1Char(';') + listed.join(QLatin1Char(';'));
}

} // namespace

// Each path is found once: a name may have to be looked up on its volume.
QStringList listedPaths(const QStringList &paths)
{
    QStringList listed;
    listed.reserve(paths.size());
    for (const QString &path : paths)
        listed.append(pathForList(path));
    return listed;
}

// How many fit is found by doubling, then halving, so that a selection of
// thousands costs a few arguments' length per start, not one each path.
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
