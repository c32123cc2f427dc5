#include "shared_block.h"

// On Windows the kernel objects behind QSharedMemory are sound for many
// processes at once, so the block is QSharedMemory itself.
class SharedBlockPrivate
{
public:
    explicit SharedBlockPrivate(const QString &key) : memory(key) {}
    QSharedMemory memory;
};

SharedBlock::SharedBlock(const QString &key) : d(new SharedBlockPrivate(key)) {}
SharedBlock::~SharedBlock() = default;

bool SharedBlock::create(int size) { return d->memory.create(size, QSharedMemory::ReadWrite); }
bool SharedBlock::attach() { return d->memory.attach(QSharedMemory::ReadWrite); }
bool SharedBlock::isAttached() const { return d->memory.isAttached(); }
bool SharedBlock::lock() { return d->memory.lock(); }
bool SharedBlock::unlock() { return d->memory.unlock(); }
void *SharedBlock::data() { return d->memory.data(); }
const void *SharedBlock::constData() const { return d->memory.constData(); }
int SharedBlock::size() const { return d->memory.size(); }
QSharedMemory::SharedMemoryError SharedBlock::error() const { return d->memory.error(); }
QString SharedBlock::errorString() const { return d->memory.errorString(); }
