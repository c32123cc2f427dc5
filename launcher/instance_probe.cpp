#include "instance_probe.h"

#include "process_list.h"

#include <QtCore/qcoreapplication.h>
#include <QtCore/qregexp.h>
#include <QtCore/qstringlist.h>

int countListedCopies(const QByteArray &taskList, const QString &applicationName)
{
    // Decoded up to the first NUL byte; bad UTF-8 becomes U+FFFD.
    const QString text = QString::fromUtf8(taskList.constData());
    const QStringList lines = text.split(QStringLiteral("\r\n"), Qt::KeepEmptyParts);
    // The name is matched as it stands: a copy named "Helper(2)" must find
    // its own line.
    const QRegExp pattern(QRegExp::escape(applicationName), Qt::CaseSensitive, QRegExp::RegExp);
    return lines.filter(pattern).size();
}

bool isSoleRunningCopy()
{
    return countListedCopies(runningProcessList(), QCoreApplication::applicationName()) == 1;
}
