#ifndef TEXT_FILES_H
#define TEXT_FILES_H

#include <QtCore/qstringlist.h>

// UTF-8 text files, without byte-order mark, each opened, used and closed in
// one call. The append says whether every byte of the text was written (a
// full disk may take a part of it); a file that cannot be read reads as the
// empty text.
bool appendTextToFile(const QString &filePath, const QString &text);
QString readTextFile(const QString &filePath);

// Absolute paths of the plain files in a folder, sorted by file name as
// text. Files whose names begin with a dot are left out, on every system
// (on Windows such a name hides nothing), and so are links and folders.
QStringList listFilePaths(const QString &folder);

#endif // TEXT_FILES_H
