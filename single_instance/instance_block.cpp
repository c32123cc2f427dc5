#include "instance_block.h"

#include <QtCore/qbytearray.h>

quint16 instanceBlockCrc(const void *block)
{
    return qChecksum(static_cast<const char *>(block), InstanceBlockCrcSpan);
}
