// Takes the lock of a shared block on purpose and holds it, for the tests
// of what a copy stopped or killed inside a locked stretch does to the
// others:
//
//   block_holder KEY
//   block_holder --helper PATH    the key of the helper at PATH, this user's
//
// It attaches the block, or makes it as a starting copy would, takes its
// lock and prints "locked". Then, on Linux, it stops itself (SIGSTOP) and,
// once continued, lets the lock go and ends; on Windows it waits to be
// ended (taskkill /f), still holding the lock.

#include "instance_block.h"
#include "login_name.h"
#include "shared_block.h"

#include <QtCore/qcryptographichash.h>
#include <QtCore/qfileinfo.h>
#include <QtCore/qstring.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#ifndef Q_OS_WIN
#  include <unistd.h>
#endif

#ifdef Q_OS_WIN
#  include <qt_windows.h>
#endif

namespace {

// The recipe of the helper's own key, for a helper at that path.
QString keyOfHelper(const QString &path)
{
    const QFileInfo helper(path);
#ifdef Q_OS_WIN
    const QString name = helper.baseName();
    const QString file = helper.absoluteFilePath();
#else
    const QString name = helper.fileName();
    const QString file = helper.canonicalFilePath();
#endif
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData("SingleApplication", 17);
    hash.addData(name.toUtf8());
    hash.addData(file.toLower().toUtf8());
    hash.addData(systemLoginName().toUtf8());
    return QString::fromLatin1(hash.result().toBase64().replace('/', '_'));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    const QString key = argc > 2 && !std::strcmp(argv[1], "--helper")
            ? keyOfHelper(QString::fromLocal8Bit(argv[2])) : QString::fromLatin1(argv[1]);
    SharedBlock block(key);
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
#ifdef Q_OS_WIN
    ::Sleep(INFINITE);
#else
    // In a session of its own. Left in the test runner's process group, it
    // would be continued by the kernel (SIGHUP, then SIGCONT, to every
    // member of a group with stopped members that becomes orphaned) as soon
    // as some detached process of another test there loses its parent, and
    // with SIGHUP ignored by the runner it would let the lock go early.
    ::setsid();
    std::raise(SIGSTOP);
#endif
    block.unlock();
    return 0;
}
