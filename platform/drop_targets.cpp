#include "drop_targets.h"

#include <QtCore/qendian.h>

// What every platform shares.

namespace {

// DROPFILES, as Windows lays it out on every architecture.
constexpr int DropFilesSize = 20;
constexpr int ListOffsetAt = 0;
constexpr int WideFlagAt = 16;

quint32 fieldAt(const QByteArray &block, int at)
{
    return qFromLittleEndian<quint32>(block.constData() + at);
}

} // namespace

QStringList pathsOfDropFiles(const QByteArray &block)
{
    QStringList paths;
    if (block.size() < DropFilesSize)
        return paths;
    const quint32 listAt = fieldAt(block, ListOffsetAt);
    if (listAt < quint32(DropFilesSize) || listAt >= quint32(block.size()))
        return paths;
    const bool wide = fieldAt(block, WideFlagAt) != 0;
    const int unit = wide ? 2 : 1;
    int name = int(listAt);
    for (;;) {
        int end = name;
        while (end + unit <= block.size()
               && (wide ? qFromLittleEndian<quint16>(block.constData() + end) != 0 : block.at(end) != '\0'))
            end += unit;
        if (end + unit > block.size() || end == name)
            break; // cut off, or the empty name that ends the list
        if (wide) {
            QString path((end - name) / 2, Qt::Uninitialized);
            for (int i = 0; i < path.size(); ++i)
                path[i] = QChar(qFromLittleEndian<quint16>(block.constData() + name + 2 * i));
            paths.append(path);
        } else {
            paths.append(QString::fromLocal8Bit(block.constData() + name, end - name));
        }
        name = end + unit;
    }
    return paths;
}

bool isEmbeddingArgument(const QString &argument)
{
    return argument.compare(QLatin1String("-Embedding"), Qt::CaseInsensitive) == 0
            || argument.compare(QLatin1String("/Embedding"), Qt::CaseInsensitive) == 0;
}
