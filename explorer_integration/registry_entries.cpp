#include "registry_entries.h"

#include "captions.h"
#include "drop_targets.h"
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

bool setDefaultValue(const QString &keyPath, const QString &data)
{
    RegistryKey key(keyPath);
    key.setValue(QStringLiteral("."), data);
    return key.close();
}

// The program identifier's key beneath a root of classes: the editor's open
// command and its icon.
bool writeProgramKey(const QString &classesRoot)
{
    const QString programKey = classesRoot + QLatin1Char('\\') + QString::fromUtf16(programId);
    const bool command = setDefaultValue(programKey + QStringLiteral("\\shell\\open\\command"),
                                         quotedProgram(inInstallFolder("/Vellix.exe")) + QLatin1Char(' ') + fileArgument);
    const bool icon = setDefaultValue(programKey + QStringLiteral("\\DefaultIcon"),
                                      inInstallFolder("/Quorlin.dll") + QStringLiteral(",0"));
    return command && icon;
}

bool removeProgramKey(const QString &classesRoot)
{
    RegistryKey classes(classesRoot);
    classes.remove(QString::fromUtf16(programId));
    return classes.close();
}

// New keys under HKEY_CLASSES_ROOT go to the machine's part of it, which
// only an administrator may write; the user's own part, which the system
// merges into the same view, serves everyone else.
const char machineClasses[] = "HKEY_CLASSES_ROOT";
const char userClasses[] = "HKEY_CURRENT_USER\\SOFTWARE\\Classes";

// Each verb's class: the helper as its local server, which COM starts
// with -Embedding.
bool writeClassKeys(const QString &classesRoot)
{
    bool whole = true;
    for (const VerbEntry &entry : verbTable) {
        const QString key = classesRoot + QStringLiteral("\\CLSID\\") + QLatin1String(entry.classId);
        whole = setDefaultValue(key, QLatin1String(entry.keyName) + QStringLiteral(" drop target")) && whole;
        whole = setDefaultValue(key + QStringLiteral("\\LocalServer32"), quotedProgram(helperPath())) && whole;
    }
    return whole;
}

bool removeClassKeys(const QString &classesRoot)
{
    RegistryKey classes(classesRoot + QStringLiteral("\\CLSID"));
    for (const VerbEntry &entry : verbTable)
        classes.remove(QLatin1String(entry.classId));
    return classes.close();
}

QStringList classIds()
{
    QStringList ids;
    for (const VerbEntry &entry : verbTable)
        ids.append(QLatin1String(entry.classId));
    return ids;
}

QString verbKeyPath(const VerbEntry &entry)
{
    return QLatin1String(shellKey) + QLatin1Char('\\') + QLatin1String(entry.keyName);
}

// The file manager hands a verb with a DropTarget key the whole selection
// in one call to its class; only a class that was just seen to answer is
// named, so that no verb ever does nothing.
bool offerDropTargets(const QString &classesRoot, QString *notice)
{
    QString why = QStringLiteral("the classes could not be registered");
    if (!writeClassKeys(classesRoot) || !dropTargetsActivate(classIds(), &why)) {
        removeClassKeys(classesRoot);
        if (notice)
            *notice = QStringLiteral("The context-menu entries stay command verbs: %1").arg(why);
        return true;
    }
    bool whole = true;
    for (const VerbEntry &entry : verbTable) {
        RegistryKey dropTarget(verbKeyPath(entry) + QStringLiteral("\\DropTarget"));
        dropTarget.setValue(QStringLiteral("Clsid"), QLatin1String(entry.classId));
        whole = dropTarget.close() && whole;
    }
    return whole;
}

} // namespace

bool writeVerbKey(const QString &key, const QString &flag, const QString &caption)
{
    if (key.isEmpty() || flag.isEmpty() || caption.isEmpty())
        return false;

    const QString icon = helperPath() + QStringLiteral(",0");
    RegistryKey verb(key);
    verb.setValue(QStringLiteral("."), QString());
    verb.setValue(QStringLiteral("Icon"), icon);
    verb.setValue(QStringLiteral("MUIVerb"), caption);
    // Without it the file manager offers the entry for at most 15 selected
    // files; with it, for up to 100.
    verb.setValue(QStringLiteral("MultiSelectModel"), QStringLiteral("Player"));
    const bool written = verb.close();

    const QString command = quotedProgram(helperPath()) + QLatin1Char(' ') + flag + QLatin1Char(' ') + fileArgument;
    return setDefaultValue(QDir::toNativeSeparators(key + QStringLiteral("/Command")), command) && written;
}

bool installRegistryEntries(QString *notice)
{
    bool whole = SetFileAssociation(u".pdf", programId) != 0;

    QString classesRoot = QLatin1String(machineClasses);
    if (!writeProgramKey(classesRoot)) {
        // What the refused write left behind goes; the user's own part
        // takes the key whole.
        removeProgramKey(classesRoot);
        classesRoot = QLatin1String(userClasses);
        whole = writeProgramKey(classesRoot) && whole;
    }

    for (const VerbEntry &entry : verbTable)
        whole = writeVerbKey(verbKeyPath(entry), QLatin1String(entry.flag), verbCaption(entry.verb)) && whole;

    if (dropTargetsSupported())
        whole = offerDropTargets(classesRoot, notice) && whole;
    return whole;
}

bool uninstallRegistryEntries()
{
    RegistryKey shell{ QLatin1String(shellKey) };
    for (const char *name : removedShellNames)
        shell.remove(QLatin1String(name));
    bool whole = shell.close();

    whole = removeProgramKey(QLatin1String(userClasses)) && whole;
    whole = removeProgramKey(QLatin1String(machineClasses)) && whole;
    if (dropTargetsSupported()) {
        whole = removeClassKeys(QLatin1String(userClasses)) && whole;
        whole = removeClassKeys(QLatin1String(machineClasses)) && whole;
    }

    return SetFileAssociation(u".pdf", u"") != 0 && whole;
}
