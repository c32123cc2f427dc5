#include "instance_probe.h"

#include "drop_targets.h"
#include "process_list.h"
#include "single_application.h"

#include <QtCore/qcoreapplication.h>
#include <QtCore/qregexp.h>

namespace {

// The task list is given this long at most.
constexpr int TaskListTimeoutMs = 30000;

} // namespace

int countListedCopies(const QStringList &imageNames, const QString &applicationName)
{
    // The name is matched as it stands: a copy named "Helper(2)" must find
    // its own line.
    const QRegExp pattern(QRegExp::escape(applicationName), Qt::CaseSensitive, QRegExp::RegExp);
    return imageNames.filter(pattern).size();
}

bool isSoleRunningCopy(int timeoutMs, int otherPrimaries)
{
    // A copy that is stopped or held up past the bound will not hand its
    // path on soon; if it ever runs again, it finds the role gone and
    // starts the editor itself.
    const QStringList names = runningImageNames(qMin(timeoutMs, TaskListTimeoutMs), SingleApplication::HeldUpAfterMs);
    // A drop-target server bears our name and gathers nothing.
    return countListedCopies(names, QCoreApplication::applicationName())
            <= 1 + otherPrimaries + runningDropTargetServers();
}
