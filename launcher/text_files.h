#ifndef TEXT_FILES_H
#define TEXT_FILES_H

#include <QtCore/qstringlist.h>

// UTF-8 text files, without byte-order mark, each opened, used and closed in
// one call. Failures are silent: nothing written, or an empty text.
void appendTextToFile(const QString &filePath, const QString &text);
QString readTextFile(const QString &filePath);

// Absolute paths of the plain files in a folder (no hidden ones, no
// folders), sorted by file name as text.
QStringList listFilePaths(const QString &folder);

#endif // TEXT_FILES_H
