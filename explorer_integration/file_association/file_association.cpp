#include "file_association.h"

#include "registry.h"

#include <QtCore/qstring.h>

// The association is the default value of the extension's class key of the
// current user. Taking it back touches it only while it still names the
// editor, so an association that another program has made since stays.

namespace {

const char editorProgramId[] = "Vellix.exe";

} // namespace

extern "C" int FILE_ASSOCIATION_CALL SetFileAssociation(const char16_t *extension, const char16_t *programId)
{
    const QString ext = extension ? QString::fromUtf16(extension) : QString();
    const QString id = programId ? QString::fromUtf16(programId) : QString();
    if (ext.isEmpty() || ext.contains(QLatin1Char('\\')) || ext.contains(QLatin1Char('/')))
        return 0;

    RegistryKey key(QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Classes\\") + ext);
    if (!id.isEmpty())
        key.setValue(QStringLiteral("."), id);
    else if (key.stringValue(QStringLiteral(".")) == QLatin1String(editorProgramId))
        key.remove(QStringLiteral("."));
    return key.close() ? 1 : 0;
}
