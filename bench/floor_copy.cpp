// The floor of the fan-out benchmark: the least a copy of a Qt helper must
// do. It starts the framework, takes a shared-memory lock, writes its path
// (its second argument) to a file named after its process id in
// $TMPDIR/floor, lets the lock go and ends.

#include <QtCore/qcoreapplication.h>
#include <QtCore/qdir.h>
#include <QtCore/qfile.h>
#include <QtCore/qsharedmemory.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QSharedMemory block(QStringLiteral("vellix-bench-floor"));
    if (!block.create(152) && !block.attach())
        return 1;
    if (!block.lock())
        return 1;
    const QString folder = QDir::tempPath() + QStringLiteral("/floor");
    QDir().mkpath(folder);
    QFile out(folder + QStringLiteral("/%1.txt").arg(QCoreApplication::applicationPid()));
    if (out.open(QIODevice::WriteOnly) && argc > 2)
        out.write(argv[2]);
    out.close();
    block.unlock();
    return 0;
}
