#ifndef TEXT_FILES_H
#define TEXT_FILES_H

#include <QtCore/qstringlist.h>

// UTF-8 text files, without byte-order mark, each opened, used and closed in
// one call. The append says whether every byte of the text was written (a
// full disk may take a part of it); a file that cannot be read reads as the
// empty text.
bool appendTextToFile(const QString &filePath, const QString &text);
QString readTextFile(const QString &filePath);

// Names that begin with a dot: the program's own work files, told by their
// names on every system (on Windows such a name hides nothing).
bool isWorkFileName(const QString &fileName);

// Absolute paths of the plain files in a folder, sorted by file name as
// text; work files, links, folders and anything else that is no plain
// file (a FIFO would hold a reader up) are left out.
QStringList listFilePaths(const QString &folder);

#endif // TEXT_FILES_H
