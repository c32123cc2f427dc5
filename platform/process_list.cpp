#include "process_list.h"

// What every platform shares.

QStringList imageNamesFromCsv(const QString &csv)
{
    QStringList names;
    for (const QString &line : csv.split(QStringLiteral("\r\n"))) {
        // A file name holds no quote, so the field ends at the next one.
        if (!line.startsWith(QLatin1Char('"')))
            continue;
        const int end = line.indexOf(QLatin1Char('"'), 1);
        if (end > 1)
            names.append(line.mid(1, end - 1));
    }
    return names;
}
