#ifndef REGISTRY_H
#define REGISTRY_H

#include <QtCore/qstring.h>

#include <memory>

class RegistryKeyPrivate;

// One registry key, given by its full path ("HKEY_CURRENT_USER\SOFTWARE\...";
// "/" separates key names as "\" does), used as a settings object is: values
// are set and names removed, and close() (or the destructor) makes it so.
// Key and value names compare without regard to letter case. The value
// named "." is the key's default value. A change the registry refuses
// leaves the entry as it was, and close() says so.
class RegistryKey
{
public:
    explicit RegistryKey(const QString &path);
    ~RegistryKey();

    // Sets a string value, creating the key and its parents.
    void setValue(const QString &name, const QString &data);

    // Removes the subkey of that name with everything beneath it, and a
    // value of that name in this key.
    void remove(const QString &name);

    // A string value of the key; empty when it is missing or not a string.
    QString stringValue(const QString &name) const;

    // Makes the changes so; false when the registry refused any of them.
    bool close();

private:
    Q_DISABLE_COPY(RegistryKey)
    std::unique_ptr<RegistryKeyPrivate> d;
};

// Whether the install can read and write back every root it changes. The
// registry itself always can; a stand-in that keeps a root in a file cannot
// when that file is not one it can read, and then *problem names the file
// and says why. Checked before anything is changed, so that an install
// never stops half done.
bool registryReady(QString *problem);

#endif // REGISTRY_H
