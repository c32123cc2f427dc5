#ifndef REGISTRY_ENTRIES_H
#define REGISTRY_ENTRIES_H

#include <QtCore/qstring.h>

// The editor's Explorer integration: the association of .pdf files, the
// program identifier key with its open command and icon (beneath
// HKEY_CLASSES_ROOT, or the user's own part of it where the machine's
// refuses the write), and the four captioned context-menu entries. Each
// returns false when the registry refused a change: the integration is then
// not whole, and a second install or uninstall can mend it. Where the
// system has COM, install also registers each verb's class and names it
// under the verb's DropTarget key, once each class has been seen to answer;
// where one does not, the verbs stay command verbs and *notice says why.
bool installRegistryEntries(QString *notice = nullptr);
bool uninstallRegistryEntries();

// One context-menu entry: its key (a full path beneath HKEY_CURRENT_USER)
// with the caption and icon, and its Command subkey. Writes nothing when any
// of the three is empty.
bool writeVerbKey(const QString &key, const QString &flag, const QString &caption);

#endif // REGISTRY_ENTRIES_H
