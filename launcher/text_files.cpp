#include "text_files.h"

#include <QtCore/qdir.h>
#include <QtCore/qfile.h>

bool writeFileWhole(const QString &filePath, const QByteArray &bytes)
{
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

bool readFileWhole(const QString &filePath, QByteArray *bytes)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *bytes = file.readAll();
    return file.error() == QFileDevice::NoError;
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
