#include "registry_entries.h"

#include "captions.h"
#include "file_association.h"
#include "registry.h"
#include "verbs.h"

#include <QtCore/qcoreapplication.h>
#include <QtCore/qdir.h>

namespace {

const char shellKey[] = "HKEY_CURRENT_USER\\SOFTWARE\\Classes\\SystemFileAssociations\\.pdf\\Shell";
// The editor's program identifier, as the association library takes it.
const char16_t programId[] = u"Vellix.exe";

// Entry names of earlier releases go too, though nothing writes them now.
const char *const removedShellNames[] = {
    "VellixEdit", "VellixSplit", "VellixMerge", "VellixPrint",
    "Vellix01Edit", "Vellix04Split", "Vellix03Merge", "Vellix02Print",
};

QString inInstallFolder(const char *fileName)
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + QLatin1String(fileName));
}

QString helperPath()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
}

const QString fileArgument = QStringLiteral("\"%1\"");

// A command's program in quotation marks: unquoted, a path with a space is
// ambiguous ("C:\Program.exe" is tried first) and the program's own name
// would end at the first space, so its arguments would not start with the
// verb flag.
QString quotedProgram(const QString &path)
{
    return QLatin1Char('"') + path + QLatin1Char('"');
}

void setDefaultValue(const QString &keyPath, const QString &data)
{
    RegistryKey key(keyPath);
    key.setValue(QStringLiteral("."), data);
    key.close();
}

} // namespace

void writeVerbKey(const QString &key, const QString &flag, const QString &caption)
{
    if (key.isEmpty() || flag.isEmpty() || caption.isEmpty())
        return;

    const QString icon = helperPath() + QStringLiteral(",0");
    RegistryKey verb(key);
    verb.setValue(QStringLiteral("."), QString());
    verb.setValue(QStringLiteral("Icon"), icon);
    verb.setValue(QStringLiteral("MUIVerb"), caption);
    // Without it the file manager offers the entry for at most 15 selected
    // files; with it, for up to 100.
    verb.setValue(QStringLiteral("MultiSelectModel"), QStringLiteral("Player"));
    verb.close();

    const QString command = quotedProgram(helperPath()) + QLatin1Char(' ') + flag + QLatin1Char(' ') + fileArgument;
    setDefaultValue(QDir::toNativeSeparators(key + QStringLiteral("/Command")), command);
}

void installRegistryEntries()
{
    SetFileAssociation(u".pdf", programId);

    const QString programKey = QStringLiteral("HKEY_CLASSES_ROOT\\") + QString::fromUtf16(programId);
    setDefaultValue(programKey + QStringLiteral("\\shell\\open\\command"),
                    quotedProgram(inInstallFolder("/Vellix.exe")) + QLatin1Char(' ') + fileArgument);
    setDefaultValue(programKey + QStringLiteral("\\DefaultIcon"),
                    inInstallFolder("/Quorlin.dll") + QStringLiteral(",0"));

    for (const VerbEntry &entry : verbTable) {
        const QString caption = verbCaption(entry.verb);
        writeVerbKey(QLatin1String(shellKey) + QLatin1Char('\\') + QLatin1String(entry.keyName),
                     QLatin1String(entry.flag), caption);
    }
}

void uninstallRegistryEntries()
{
    RegistryKey shell{ QLatin1String(shellKey) };
    for (const char *name : removedShellNames)
        shell.remove(QLatin1String(name));
    shell.close();

    RegistryKey classesRoot(QStringLiteral("HKEY_CLASSES_ROOT"));
    classesRoot.remove(QString::fromUtf16(programId));
    classesRoot.close();

    SetFileAssociation(u".pdf", u"");
}
