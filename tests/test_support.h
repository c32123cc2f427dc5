#ifndef TEST_SUPPORT_H
#define TEST_SUPPORT_H

// Shared by the tests that start copies of a program: each test gets its own
// home, temporary and configuration folders and its own copy of the program
// under a name of its own, so tests never see each other's processes.

#include <QtCore/qcryptographichash.h>
#include <QtCore/qdir.h>
#include <QtCore/qfile.h>
#include <QtCore/qfileinfo.h>
#include <QtCore/qprocess.h>
#include <QtCore/qtemporarydir.h>
#include <QtTest/qtest.h>

#include <memory>
#include <vector>

#include <pwd.h>
#include <unistd.h>

class Sandbox
{
public:
    Sandbox()
    {
        QDir root(dir.path());
        root.mkpath(QStringLiteral("home"));
        root.mkpath(QStringLiteral("tmp"));
        root.mkpath(QStringLiteral("config"));
    }

    QString path(const QString &relative = QString()) const
    {
        return relative.isEmpty() ? dir.path() : dir.path() + QLatin1Char('/') + relative;
    }
    QString home() const { return path(QStringLiteral("home")); }
    QString tmp() const { return path(QStringLiteral("tmp")); }
    QString config() const { return path(QStringLiteral("config")); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home());
        env.insert(QStringLiteral("TMPDIR"), tmp());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config());
        env.insert(QStringLiteral("XDG_CACHE_HOME"), path(QStringLiteral("cache")));
        // The sandbox's private temporary folder is the copies' place.
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        return env;
    }

    // Copies a program into the sandbox under a name of its own.
    QString install(const QString &program, const QString &folder, const QString &name) const
    {
        QDir().mkpath(path(folder));
        const QString target = path(folder) + QLatin1Char('/') + name;
        QFile::remove(target);
        if (!QFile::copy(program, target))
            return QString();
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return target;
    }

    // The helper under a name of its own, with the association library it
    // loads beside it, as the editor's installer lays them out.
    QString installHelper(const QString &folder, const QString &name) const
    {
        const QString built = QStringLiteral(HELPER_PATH);
        const QString library = QFileInfo(built).path() + QStringLiteral("/FileAssociation.so");
        if (install(library, folder, QStringLiteral("FileAssociation.so")).isEmpty())
            return QString();
        return install(built, folder, name);
    }

    // Where the shared blocks of this sandbox's copies live.
    QString blockFile(const QString &key) const
    {
        return tmp() + QStringLiteral("/vellix-blocks-") + QString::number(::geteuid())
                + QLatin1Char('/') + key;
    }

    QTemporaryDir dir;
};

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The instance key the helper derives for itself, by the same recipe
// written out again, so that a test can reach the helper's shared block and
// channel by name.
inline QString instanceKeyOf(const QString &helper)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData("SingleApplication");
    hash.addData(QFileInfo(helper).fileName().toUtf8());
    hash.addData(QFileInfo(helper).canonicalFilePath().toLower().toUtf8());
    hash.addData(::getpwuid(::geteuid())->pw_name);
    return QString::fromLatin1(hash.result().toBase64().replace('/', '_'));
}

// A copy of this very test program that only waits, for as long as the
// object lives: a live process that counts as a copy of the program. The
// test program's main calls runAsWaitingCopy() first.
constexpr char WaitingCopyVariable[] = "VELLIX_TEST_WAITING_COPY";

inline bool runAsWaitingCopy()
{
    if (!qEnvironmentVariableIsSet(WaitingCopyVariable))
        return false;
    ::sleep(30);
    return true;
}

class WaitingCopy
{
public:
    WaitingCopy()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(WaitingCopyVariable), QStringLiteral("1"));
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationFilePath(), QStringList());
        process.waitForStarted();
    }
    ~WaitingCopy() { end(); }
    qint64 pid() const { return process.processId(); }
    void end()
    {
        process.kill();
        process.waitForFinished();
    }
    QProcess process;
};

using Processes = std::vector<std::unique_ptr<QProcess>>;

// Starts all copies first and only then waits for any, so they overlap.
inline Processes startCopies(int count, const QString &program, const QStringList &arguments,
                             const QProcessEnvironment &env)
{
    Processes copies;
    for (int i = 0; i < count; ++i) {
        auto copy = std::make_unique<QProcess>();
        copy->setProcessEnvironment(env);
        copy->start(program, arguments);
        copies.push_back(std::move(copy));
    }
    return copies;
}

inline bool waitAll(const Processes &copies, int timeoutMs = 60000)
{
    for (const auto &copy : copies) {
        // waitForFinished() is false for a copy that has already ended.
        if (copy->state() != QProcess::NotRunning && !copy->waitForFinished(timeoutMs))
            return false;
    }
    return true;
}

#endif // TEST_SUPPORT_H
