#include "file_association.h"

#include "registry.h"

#include <QtCore/qstring.h>

#ifdef Q_OS_WIN
#  include <qt_windows.h>
#  include <shlobj.h>
#endif

// The association is the default value of the extension's class key of the
// current user, and the program identifier's name among the programs the
// extension may open with (OpenWithProgids), which is what the "Open with"
// menu and the default apps settings offer: on Windows 10 and later the
// user's own protected choice wins over the default value, and no program
// may write that choice for the user. Taking it back touches only what the
// library wrote: the default value while it still names the editor, so an
// association that another program has made since stays.

namespace {

const char editorProgramId[] = "Vellix.exe";

// The file manager reads associations once and keeps them; it is told.
void announceAssociationChange()
{
#ifdef Q_OS_WIN
    ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
#endif
}

} // namespace

extern "C" int FILE_ASSOCIATION_CALL SetFileAssociation(const char16_t *extension, const char16_t *programId)
{
    const QString ext = extension ? QString::fromUtf16(extension) : QString();
    const QString id = programId ? QString::fromUtf16(programId) : QString();
    if (ext.isEmpty() || ext.contains(QLatin1Char('\\')) || ext.contains(QLatin1Char('/')))
        return 0;

    const QString classKey = QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Classes\\") + ext;
    RegistryKey key(classKey);
    RegistryKey openWith(classKey + QStringLiteral("\\OpenWithProgids"));
    if (!id.isEmpty()) {
        key.setValue(QStringLiteral("."), id);
        openWith.setValue(id, QString());
    } else {
        if (key.stringValue(QStringLiteral(".")) == QLatin1String(editorProgramId))
            key.remove(QStringLiteral("."));
        openWith.remove(QLatin1String(editorProgramId));
    }
    const bool made = key.close() && openWith.close();
    announceAssociationChange();
    return made ? 1 : 0;
}
