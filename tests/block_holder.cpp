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
#include "instance_key.h"
#include "login_name.h"
#include "shared_block.h"
#include "single_application.h"

#include <QtCore/qdir.h>
#include <QtCore/qfileinfo.h>
#include <QtCore/qstring.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#ifndef Q_OS_WIN
#  include <unistd.h>
#endif

#ifdef Q_OS_WIN
#  include <qt_windows.h>
#endif

namespace {

#ifdef Q_OS_WIN
// The version the framework gives a program that sets none: its version
// resource's product version, as a.b.c.d; empty without one.
QString productVersionOf(const QString &path)
{
    const std::wstring file = QDir::toNativeSeparators(path).toStdWString();
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0)
        return QString();
    QByteArray data(int(size), '\0');
    VS_FIXEDFILEINFO *info = nullptr;
    UINT length = 0;
    if (!::GetFileVersionInfoW(file.c_str(), 0, size, data.data())
        || !::VerQueryValueW(data.constData(), L"\\", reinterpret_cast<void **>(&info), &length) || !info)
        return QString();
    return QStringLiteral("%1.%2.%3.%4").arg(HIWORD(info->dwProductVersionMS)).arg(LOWORD(info->dwProductVersionMS))
            .arg(HIWORD(info->dwProductVersionLS)).arg(LOWORD(info->dwProductVersionLS));
}
#endif

// The helper's own key, by the helper's own recipe, for a copy at that
// path started by this user.
QString keyOfHelper(const QString &path)
{
    const QFileInfo helper(path);
    InstanceIdentity identity;
#ifdef Q_OS_WIN
    identity.applicationName = helper.baseName();
    identity.applicationFilePath = helper.absoluteFilePath();
    identity.applicationVersion = productVersionOf(identity.applicationFilePath);
#else
    identity.applicationName = helper.fileName();
    identity.applicationFilePath = helper.canonicalFilePath();
#endif
    identity.loginName = systemLoginName();
    return instanceKeyFor(identity, SingleApplication::PerUserScope);
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
