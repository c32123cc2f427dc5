// Takes the lock of a shared block on purpose and holds it, for the tests
// of what a copy stopped (or killed) inside a locked stretch does to the
// others: block_holder KEY. It attaches the block named by KEY, or makes it
// as a starting copy would, takes its lock, prints "locked" and stops
// itself (SIGSTOP); once continued it lets the lock go and ends.

#include "instance_block.h"
#include "shared_block.h"

#include <QtCore/qstring.h>

#include <csignal>
#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    SharedBlock block(QString::fromLatin1(argv[1]));
    const bool created = block.create(int(sizeof(InstanceBlock)));
    if (!created && !block.attach(int(sizeof(InstanceBlock))))
        return 3;
    if (!block.lock())
        return 4;
    if (created) {
        InstanceBlock *b = static_cast<InstanceBlock *>(block.data());
        std::memset(b, 0, sizeof *b);
        b->ownerPid = -1;
        b->blockCrc = instanceBlockCrc(b);
    }
    std::puts("locked");
    std::fflush(stdout);
    std::raise(SIGSTOP);
    block.unlock();
    return 0;
}
