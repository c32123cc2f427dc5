// What another local user, a copy stopped inside the lock, or a full or
// read-only temporary folder does to a selection: nothing loses a path,
// and no copy waits past the bound.

#include "instance_block.h"
#include "selection_support.h"

#include <csignal>
#include <pthread.h>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool endedWithoutSignal(const Processes &copies)
{
    return std::all_of(copies.begin(), copies.end(), [](const auto &copy) {
        return copy->state() == QProcess::NotRunning && copy->exitStatus() == QProcess::NormalExit;
    });
}

QList<int> exitCodes(const Processes &copies)
{
    QList<int> codes;
    for (const auto &copy : copies)
        codes.append(copy->exitCode());
    return codes;
}

// A second user of the machine, for as long as the object lives.
class OtherUser
{
public:
    explicit OtherUser(const char *name) : name(QString::fromLatin1(name))
    {
        QProcess::execute(QStringLiteral("/usr/sbin/useradd"), { "-M", "-s", "/usr/sbin/nologin", this->name });
        if (const struct passwd *entry = ::getpwnam(name))
            uid = entry->pw_uid;
    }
    ~OtherUser() { QProcess::execute(QStringLiteral("/usr/sbin/userdel"), { name }); }

    static bool possible()
    {
        return ::geteuid() == 0 && QFileInfo::exists(QStringLiteral("/usr/sbin/useradd"))
                && QFileInfo::exists(QStringLiteral("/usr/bin/setpriv"));
    }
    // Runs a program as this user.
    void start(QProcess &process, const QString &program, const QStringList &arguments) const
    {
        process.start(QStringLiteral("/usr/bin/setpriv"),
                      QStringList{ "--reuid=" + name, "--regid=" + name, "--clear-groups", program } + arguments);
    }
    int run(const QString &program, const QStringList &arguments) const
    {
        QProcess process;
        start(process, program, arguments);
        return process.waitForFinished() ? process.exitCode() : -1;
    }

    QString name;
    uid_t uid = 0;
};

// A block that names pid as its live primary, as a copy of the helper that
// was killed would leave it.
QByteArray blockNaming(qint64 pid)
{
    InstanceBlock block;
    std::memset(&block, 0, sizeof block);
    block.primaryAlive = 1;
    block.ownerPid = pid;
    std::strcpy(block.ownerUserName, "someone");
    block.blockCrc = instanceBlockCrc(&block);
    return QByteArray(reinterpret_cast<const char *>(&block), int(sizeof block));
}

} // namespace

class tst_Hostile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void stoppedLockHolderHoldsNobodyPastTheBound();
    void fullOrReadOnlyTemporaryFolder_data();
    void fullOrReadOnlyTemporaryFolder();
    void namesTakenByAnotherUser_data();
    void namesTakenByAnotherUser();
    void staleMarkOfAnotherUsersCopy();
};

void tst_Hostile::stoppedLockHolderHoldsNobodyPastTheBound()
{
    SelectionRig r(QStringLiteral("VcmStop"), QStringLiteral(EDITOR_DOUBLE_PATH));
    QProcess holder;
    holder.setProcessEnvironment(r.box.environment());
    holder.start(QStringLiteral(BLOCK_HOLDER_PATH), { instanceKeyOf(r.helper) });
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine(), QByteArray("locked\n"));

    // Started as a program that blocks every signal in the starting thread
    // would start them: the timer signal comes blocked.
    QElapsedTimer clock;
    clock.start();
    const QStringList paths = pathsFor(QStringLiteral("stopped"), 5);
    sigset_t alarmOnly, previous;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    ::pthread_sigmask(SIG_BLOCK, &alarmOnly, &previous);
    const Processes copies = r.start(QStringLiteral("-ftype_print"), paths);
    QProcess install;
    install.setProcessEnvironment(r.environment());
    install.start(r.helper, { QStringLiteral("install") });
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    // A drop-target server takes no part in the election: it does not wait
    // for the lock, which COM would wait for in turn.
    QProcess server;
    server.setProcessEnvironment(r.environment());
    server.start(r.helper, { QStringLiteral("-Embedding") });
    QVERIFY(server.waitForFinished(20000));
    QCOMPARE(server.exitCode(), 0);
    QVERIFY(waitAll(copies, 90000));
    QVERIFY(install.waitForFinished(90000));
    // An install does its work all the same.
    QCOMPARE(install.exitStatus(), QProcess::NormalExit);
    QCOMPARE(install.exitCode(), 0);
    QVERIFY(readAll(r.box.config() + QStringLiteral("/Zentharo/Registry/HKEY_CURRENT_USER.reg")).contains("Vellix03Merge"));
    const qint64 tookMs = clock.elapsed();
    QVERIFY2(tookMs < 70000, QByteArray::number(tookMs).constData());
    QVERIFY(endedWithoutSignal(copies));
    // No block to be had: each copy says so and starts the editor alone,
    // which delivers its path.
    for (const auto &copy : copies) {
        const QByteArray said = copy->readAllStandardError();
        QVERIFY2(copy->exitCode() == 0 && said.contains("SingleApplication: Unable to lock memory block after attach."),
                 said.constData());
    }
    QCOMPARE(deliveredPaths(r.launches(), QStringLiteral("-ftype_print")), sorted(paths));

    // Once the holder goes on, the helper works as before.
    ::kill(pid_t(holder.processId()), SIGCONT);
    QVERIFY(holder.waitForFinished());
    QCOMPARE(holder.exitCode(), 0);
    const QStringList next = pathsFor(QStringLiteral("after"), 3);
    const Processes more = r.start(QStringLiteral("-ftype_print"), next);
    QVERIFY(waitAll(more));
    QCOMPARE(exitCodes(more), QVector<int>(3, 0).toList());
    const QList<Launch> launches = r.launches();
    QCOMPARE(launches.size(), 6);
    QCOMPARE(deliveredPaths(launches, QStringLiteral("-ftype_print")), sorted(paths + next));
}

void tst_Hostile::fullOrReadOnlyTemporaryFolder_data()
{
    QTest::addColumn<QString>("state");
    QTest::newRow("full") << QStringLiteral("full");
    QTest::newRow("room for the block alone") << QStringLiteral("one page");
    QTest::newRow("read-only") << QStringLiteral("read-only");
}

void tst_Hostile::fullOrReadOnlyTemporaryFolder()
{
    QFETCH(QString, state);
    if (::geteuid() != 0)
        QSKIP("mounting a small file system needs root");
    SelectionRig r(QStringLiteral("VcmFull"), QStringLiteral(EDITOR_DOUBLE_PATH));
    const QString mountPoint = r.box.path(QStringLiteral("small"));
    QVERIFY(QDir().mkpath(mountPoint));
    const QByteArray target = QFile::encodeName(mountPoint);
    if (::mount("tmpfs", target.constData(), "tmpfs", 0, "size=64k,mode=0700") != 0)
        QSKIP("no tmpfs can be mounted here");
    struct Unmount {
        QByteArray target;
        ~Unmount() { ::umount2(target.constData(), MNT_DETACH); }
    } unmount{ target };

    if (state == QLatin1String("read-only")) {
        QVERIFY(::mount("tmpfs", target.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k,mode=0700") == 0);
    } else {
        // Page by page until nothing more fits.
        const QByteArray page(4096, 'x');
        int pages = 0;
        while (writeAll(mountPoint + QStringLiteral("/fill%1").arg(pages), page))
            ++pages;
        QFile::remove(mountPoint + QStringLiteral("/fill%1").arg(pages));
        if (state == QLatin1String("one page"))
            QVERIFY(QFile::remove(mountPoint + QStringLiteral("/fill%1").arg(pages - 1)));
    }

    QProcessEnvironment env = r.box.environment();
    env.insert(QStringLiteral("TMPDIR"), mountPoint);
    const QStringList paths = pathsFor(QStringLiteral("small"), 5);
    Processes copies;
    for (const QString &path : paths) {
        auto copy = std::make_unique<QProcess>();
        copy->setProcessEnvironment(env);
        copy->start(r.helper, { QStringLiteral("-ftype_edit"), path });
        copies.push_back(std::move(copy));
    }
    QVERIFY(waitAll(copies, 90000));
    QVERIFY(endedWithoutSignal(copies));
    const QList<Launch> launches = r.launches();
    QCOMPARE(deliveredPaths(launches, QStringLiteral("-ftype_edit")), sorted(paths));
    if (state == QLatin1String("read-only")) {
        // The user's cache serves instead, and the selection is one.
        QCOMPARE(launches.size(), 1);
        QCOMPARE(exitCodes(copies), QVector<int>(5, 0).toList());
    }
}

void tst_Hostile::namesTakenByAnotherUser_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("folders open to all") << QStringLiteral("0777");
    QTest::newRow("folders closed") << QStringLiteral("0700");
}

void tst_Hostile::namesTakenByAnotherUser()
{
    QFETCH(QString, mode);
    if (!OtherUser::possible())
        QSKIP("a second user needs root, useradd and setpriv");
    OtherUser squatter("vellixsquat");
    QVERIFY(squatter.uid != 0);

    // One temporary folder for every user, as /tmp is.
    SelectionRig r(QStringLiteral("VcmSquat"), QStringLiteral(EDITOR_DOUBLE_PATH));
    ::chmod(QFile::encodeName(r.box.path()).constData(), 0755);
    ::chmod(QFile::encodeName(r.box.tmp()).constData(), 01777);
    const QString uid = QString::number(::geteuid());
    const QStringList names = { "vellix-blocks-" + uid, "VellixContextMenu", "VellixContextMenu-" + uid,
                                instanceKeyOf(r.helper) };
    const auto squat = [&] {
        QStringList folders;
        for (const QString &name : names)
            folders.append(r.box.tmp() + QLatin1Char('/') + name);
        QCOMPARE(squatter.run(QStringLiteral("/bin/mkdir"), QStringList{ "-p", "-m", mode } + folders), 0);
        for (const QString &folder : folders)
            QCOMPARE(QFileInfo(folder).ownerId(), squatter.uid);
    };
    const auto selection = [&](const QString &label) {
        const QStringList paths = pathsFor(label, 5);
        const int before = r.launches(50).size();
        const Processes copies = r.start(QStringLiteral("-ftype_merge"), paths);
        QVERIFY(waitAll(copies));
        QCOMPARE(exitCodes(copies), QVector<int>(5, 0).toList());
        const QList<Launch> launches = r.launches().mid(before);
        QCOMPARE(launches.size(), 1);
        QCOMPARE(deliveredPaths(launches, QStringLiteral("-ftype_merge")), sorted(paths));
    };

    // Taken between two selections, then before an install and an uninstall.
    selection(QStringLiteral("before"));
    squat();
    selection(QStringLiteral("after"));
    QProcess install;
    install.setProcessEnvironment(r.box.environment());
    const QString hive = r.box.config() + QStringLiteral("/Zentharo/Registry/HKEY_CURRENT_USER.reg");
    for (const char *command : { "install", "uninstall" }) {
        install.start(r.helper, { command });
        QVERIFY(install.waitForFinished());
        QCOMPARE(install.exitCode(), 0);
        QCOMPARE(readAll(hive).contains("Vellix01Edit"), command == QLatin1String("install"));
    }
}

void tst_Hostile::staleMarkOfAnotherUsersCopy()
{
    if (!OtherUser::possible())
        QSKIP("a second user needs root, useradd and setpriv");
    SelectionRig r(QStringLiteral("VcmStale"), QStringLiteral(EDITOR_DOUBLE_PATH));
    const QString helperName = QFileInfo(r.helper).fileName();

    // Our very program file, run by another user, kept waiting by a process
    // of that user whose name contains the helper's: alive under the pid the
    // block names, and not ours.
    QProcess stranger;
    QProcess strangerHold;
    std::unique_ptr<OtherUser> other;
    {
        other.reset(new OtherUser("vellixstale"));
        for (const QString &folder : { r.box.path(), r.box.path(QStringLiteral("Program Files")),
                                       QFileInfo(r.helper).path() })
            ::chmod(QFile::encodeName(folder).constData(), 0755);
        for (const QString &file : { r.helper, QFileInfo(r.helper).path() + QStringLiteral("/FileAssociation.so") })
            ::chmod(QFile::encodeName(file).constData(), 0755);
        const QString otherHome = r.box.path(QStringLiteral("otherhome"));
        QDir().mkpath(otherHome);
        QVERIFY(::chown(QFile::encodeName(otherHome).constData(), other->uid, other->uid) == 0);
        QProcessEnvironment env;
        env.insert(QStringLiteral("HOME"), otherHome);
        env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        const QString hold = r.box.install(QStringLiteral("/bin/sleep"), QStringLiteral("other"), helperName + QStringLiteral("Hold"));
        ::chmod(QFile::encodeName(r.box.path(QStringLiteral("other"))).constData(), 0755);
        ::chmod(QFile::encodeName(hold).constData(), 0755);
        strangerHold.setProcessEnvironment(env);
        other->start(strangerHold, hold, { QStringLiteral("60") });
        QVERIFY(strangerHold.waitForStarted());
        stranger.setProcessEnvironment(env);
        other->start(stranger, r.helper, { QStringLiteral("-ftype_edit"), QStringLiteral("C:\\theirs.pdf") });
    }
    QVERIFY(stranger.waitForStarted());
    QTest::qWait(300);
    QCOMPARE(stranger.state(), QProcess::Running);

    const QString blockFile = r.box.blockFile(instanceKeyOf(r.helper));
    QVERIFY(QDir().mkpath(QFileInfo(blockFile).path()));
    ::chmod(QFile::encodeName(QFileInfo(blockFile).path()).constData(), 0700);
    QVERIFY(writeAll(blockFile, blockNaming(stranger.processId())));

    const QStringList paths = pathsFor(QStringLiteral("stale"), 3);
    const Processes copies = r.start(QStringLiteral("-ftype_split"), paths);
    QVERIFY(waitAll(copies));
    QCOMPARE(exitCodes(copies), QVector<int>(3, 0).toList());
    const QList<Launch> launches = r.launches();
    QCOMPARE(launches.size(), 1);
    QCOMPARE(deliveredPaths(launches, QStringLiteral("-ftype_split")), sorted(paths));
    stranger.kill();
    strangerHold.kill();
    stranger.waitForFinished();
    strangerHold.waitForFinished();
}

QTEST_GUILESS_MAIN(tst_Hostile)
#include "tst_hostile.moc"
