// The registry stand-in's reader: whatever it accepts, it writes back in a
// form it reads again to the very same text, and changes keep it readable.

#include "registry_hive.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    RegistryHive hive;
    if (!hive.parse(QByteArray(reinterpret_cast<const char *>(data), int(size))))
        return 0;
    const QByteArray written = hive.serialize();

    RegistryHive again;
    if (!again.parse(written) || again.serialize() != written)
        std::abort();

    again.setString(QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Classes\\SystemFileAssociations\\.pdf\\Shell\\Vellix01Edit"),
                    QStringLiteral("MUIVerb"), QStringLiteral("Use \"Vellix\" \\ Edit"));
    again.remove(QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE"), QStringLiteral("Classes"));
    again.setString(QStringLiteral("HKEY_CLASSES_ROOT/Vellix.exe/DefaultIcon"), QStringLiteral("."), QStringLiteral("x,0"));
    RegistryHive changed;
    if (!changed.parse(again.serialize()) || changed.serialize() != again.serialize())
        std::abort();
    return 0;
}
