#ifndef TEXT_FILES_H
#define TEXT_FILES_H

#include <QtCore/qstringlist.h>

// Files each opened, used and closed in one call, their bytes as they are
// (no byte-order mark, no conversion). The write replaces what the file
// held and says whether every byte was written (a full disk may take a
// part of it); the read says whether the file could be read whole.
bool writeFileWhole(const QString &filePath, const QByteArray &bytes);
bool readFileWhole(const QString &filePath, QByteArray *bytes);

// Names that begin with a dot: the program's own work files, told by their
// names on every system (on Windows such a name hides nothing).
bool isWorkFileName(const QString &fileName);

// Absolute paths of the plain files in a folder, sorted by file name as
// text; work files, links, folders and anything else that is no plain
// file (a FIFO would hold a reader up) are left out.
QStringList listFilePaths(const QString &folder);

#endif // TEXT_FILES_H
