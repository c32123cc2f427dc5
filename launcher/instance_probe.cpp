#include "instance_probe.h"

#include "process_list.h"

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

bool isSoleRunningCopy(int timeoutMs)
{
    const QStringList names = runningImageNames(qMin(timeoutMs, TaskListTimeoutMs));
    return countListedCopies(names, QCoreApplication::applicationName()) <= 1;
}
