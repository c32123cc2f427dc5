#ifndef INSTANCE_BLOCK_H
#define INSTANCE_BLOCK_H

#include <QtCore/qglobal.h>

#include <cstddef>

// The record that every copy of the program shares under the instance key.
// Its layout is a format shared between processes (and between builds of the
// program): native byte order, fields at fixed offsets, 152 bytes in all.
struct InstanceBlock
{
    quint8 primaryAlive;            // any non-zero byte counts as set
    quint32 secondaryCounter;       // secondary starts since the last reset
    alignas(8) qint64 ownerPid;     // the primary's process id, -1 without one
    char ownerUserName[128];        // UTF-8, NUL-terminated
    quint16 blockCrc;               // CRC of bytes 0 to 143
};

static_assert(offsetof(InstanceBlock, primaryAlive) == 0, "InstanceBlock layout");
static_assert(offsetof(InstanceBlock, secondaryCounter) == 4, "InstanceBlock layout");
static_assert(offsetof(InstanceBlock, ownerPid) == 8, "InstanceBlock layout");
static_assert(offsetof(InstanceBlock, ownerUserName) == 16, "InstanceBlock layout");
static_assert(offsetof(InstanceBlock, blockCrc) == 144, "InstanceBlock layout");
static_assert(sizeof(InstanceBlock) == 152, "InstanceBlock layout");

// Bytes covered by the checksum: everything before blockCrc.
constexpr int InstanceBlockCrcSpan = offsetof(InstanceBlock, blockCrc);

// The CRC-16 of ISO 3309 over the first 144 bytes of a block.
quint16 instanceBlockCrc(const void *block);

#endif // INSTANCE_BLOCK_H
