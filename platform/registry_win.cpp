#include "registry.h"

#include <QtCore/qsettings.h>

// The registry itself, through the settings class in native format.
class RegistryKeyPrivate
{
public:
    explicit RegistryKeyPrivate(const QString &path) : settings(path, QSettings::NativeFormat) {}
    QSettings settings;
};

RegistryKey::RegistryKey(const QString &path) : d(new RegistryKeyPrivate(path)) {}

RegistryKey::~RegistryKey() = default;

void RegistryKey::setValue(const QString &name, const QString &data)
{
    d->settings.setValue(name, data);
}

void RegistryKey::remove(const QString &name)
{
    d->settings.remove(name);
}

QString RegistryKey::stringValue(const QString &name) const
{
    return d->settings.value(name).toString();
}

bool RegistryKey::close()
{
    d->settings.sync();
    return d->settings.status() == QSettings::NoError;
}

bool registryReady(QString *)
{
    return true;
}
