#include "drop_targets.h"

#include <cstdio>

// No COM here: the verbs are command verbs alone.

bool dropTargetsSupported()
{
    return false;
}

bool serveDropTargets(const QList<DropTargetClass> &, int,
                      const std::function<void(const QString &, const QStringList &)> &)
{
    return false;
}

void reportDropFailure(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

int runningDropTargetServers()
{
    return 0;
}

bool dropTargetsActivate(const QStringList &, QString *why)
{
    if (why)
        *why = QStringLiteral("this system has no COM");
    return false;
}
