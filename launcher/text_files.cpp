#include "text_files.h"

#include <QtCore/qdir.h>
#include <QtCore/qfile.h>
#include <QtCore/qtextstream.h>

bool appendTextToFile(const QString &filePath, const QString &text)
{
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    QTextStream out(&file);
    out.setCodec("utf-8");
    out << text;
    out.flush();
    const bool written = out.status() == QTextStream::Ok && file.flush();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

QString readTextFile(const QString &filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QTextStream in(&file);
    in.setCodec("utf-8");
    const QString text = in.readAll();
    file.close();
    return text;
}

bool isWorkFileName(const QString &fileName)
{
    return fileName.startsWith(QLatin1Char('.'));
}

QStringList listFilePaths(const QString &folder)
{
    QStringList paths;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System
                                                             | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (!isWorkFileName(entry.fileName()) && !entry.isSymLink() && entry.isFile())
            paths.append(entry.absoluteFilePath());
    }
    return paths;
}
