#ifndef REGISTRY_ENTRIES_H
#define REGISTRY_ENTRIES_H

#include <QtCore/qstring.h>

// The editor's Explorer integration: the association of .pdf files, the
// program identifier key with its open command and icon, and the four
// captioned context-menu entries. Nothing is checked or reported.
void installRegistryEntries();
void uninstallRegistryEntries();

// One context-menu entry: its key (a full path beneath HKEY_CURRENT_USER)
// with the caption and icon, and its Command subkey. Writes nothing when any
// of the three is empty.
void writeVerbKey(const QString &key, const QString &flag, const QString &caption);

#endif // REGISTRY_ENTRIES_H
