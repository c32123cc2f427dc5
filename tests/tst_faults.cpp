// Faults and hostile peers around a selection: killed copies, a damaged
// shared block, a second user, and strangers on the primary's channel.
// Whatever happens, no path of a selection is lost.

#include "selection_support.h"

#include <QtCore/qregularexpression.h>
#include <QtCore/qtextcodec.h>
#include <QtNetwork/qlocalsocket.h>

#include <algorithm>
#include <cstdio>

#include <pwd.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

qint64 peakKb(qint64 pid)
{
    for (const QByteArray &line : readAll(QStringLiteral("/proc/%1/status").arg(pid)).split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// A process whose name contains the helper's: while it runs, the primary
// waits, which gives a test time to act on it.
class Holder
{
public:
    Holder(const SelectionRig &rig, const QString &helperName)
    {
        process.start(rig.box.install(QStringLiteral("/bin/sleep"), QStringLiteral("other"), helperName + QStringLiteral("Hold")),
                      { QStringLiteral("300") });
        process.waitForStarted();
    }
    ~Holder() { release(); }
    void release()
    {
        process.kill();
        process.waitForFinished();
    }
    QProcess process;
};

bool waitUntilRunning(const Processes &copies, int count, int timeoutMs = 30000)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        const auto running = std::count_if(copies.begin(), copies.end(), [](const auto &copy) {
            return copy->state() != QProcess::NotRunning;
        });
        if (running == count)
            return true;
        for (const auto &copy : copies)
            copy->waitForFinished(5);
    }
    return false;
}

int faultsInjected = 0;

// Arms the trap of trap_preload.c in the copies the rig starts from now on.
void setTrap(SelectionRig &r, const QString &trap)
{
    r.extraEnvironment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(TRAP_PRELOAD_PATH));
    r.extraEnvironment.insert(QStringLiteral("VELLIX_TRAP"), trap);
    // The sanitizers' run-time must come first among the libraries; the
    // trap only stands in front of two calls.
    r.extraEnvironment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("verify_asan_link_order=0"));
    ++faultsInjected;
}

// The paths under one flag over all the editor's starts, sorted: each path
// as often as it was delivered.
QStringList deliveredUnder(const QList<Launch> &launches, const QString &flag)
{
    return deliveredPaths(launchesUnder(launches, flag), flag);
}

qint64 runningCopyPid(const Processes &copies)
{
    for (const auto &copy : copies) {
        if (copy->state() != QProcess::NotRunning)
            return copy->processId();
    }
    return 0;
}

bool isStopped(qint64 pid)
{
    const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
    return stat.mid(stat.lastIndexOf(')') + 2, 1) == "T";
}

bool allExitedWith(const Processes &copies, int code)
{
    return std::all_of(copies.begin(), copies.end(), [code](const auto &copy) {
        return copy->exitStatus() == QProcess::NormalExit && copy->exitCode() == code;
    });
}

// The editor's arguments as the bytes it was given, one entry a start.
QList<QByteArray> launchBytes(const SelectionRig &r)
{
    r.launches(); // until nothing new comes
    QList<QByteArray> starts;
    const QDir folder(r.box.path(r.installFolder() + QStringLiteral("/launches")));
    for (const QString &name : folder.entryList({ QStringLiteral("*.launch") }, QDir::Files, QDir::Name))
        starts.append(readAll(folder.filePath(name)));
    return starts;
}

} // namespace

class tst_Faults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanupTestCase();
    void primaryKilledDuringItsWait_data();
    void primaryKilledDuringItsWait();
    void copiesKilledBeforeTheyWrite();
    void damagedBlockIsWaitedOnAndReset();
    void strangersOnThePrimarysChannel_data();
    void strangersOnThePrimarysChannel();
    void twoUsersAtOnceKeepTheirSelections();
    void selectionBesideAnInstallThatWasPrimary();
    void primaryKilledAfterItClaimed_data();
    void primaryKilledAfterItClaimed();
    void stoppedPrimaryDeliversLateNeverTwice_data();
    void stoppedPrimaryDeliversLateNeverTwice();
    void primaryHeldUpPastTheBoundIsDeposed();
    void waitingFileOutlivesAReusedProcessId();
    void selectionBesideAHeldUpBystander_data();
    void selectionBesideAHeldUpBystander();
    void fileNamesReachTheEditorAsTheirBytes_data();
    void fileNamesReachTheEditorAsTheirBytes();
    void handoffFilesWithoutAPathAreNoPaths();
    void refusedFilesReachTheEditorOnce_data();
    void refusedFilesReachTheEditorOnce();
    void twoInstallationsKeepTheirSelections();
};

void tst_Faults::cleanupTestCase()
{
    std::printf("faults injected: %d\n", faultsInjected);
}

void tst_Faults::primaryKilledDuringItsWait_data()
{
    QTest::addColumn<QString>("nextFlag");
    QTest::newRow("then a selection of another verb") << QStringLiteral("-ftype_print");
    QTest::newRow("then one of the same verb") << QStringLiteral("-ftype_merge");
}

void tst_Faults::primaryKilledDuringItsWait()
{
    SelectionRig r(QStringLiteral("VcmKill"), QStringLiteral(EDITOR_DOUBLE_PATH));
    Holder holder(r, QStringLiteral("VcmKill"));
    const QStringList first = pathsFor(QStringLiteral("first"), 5);
    Processes copies = r.start(QStringLiteral("-ftype_merge"), first);
    QVERIFY(waitUntilRunning(copies, 1)); // the secondaries are gone, the primary waits
    QTest::qWait(300);
    const auto primary = std::find_if(copies.begin(), copies.end(), [](const auto &copy) {
        return copy->state() != QProcess::NotRunning;
    });
    QVERIFY(primary != copies.end());
    const qint64 primaryPid = (*primary)->processId();
    // Each copy's path lies in a file named by its process id and its start
    // stamp: a line with its verb and its primary (id and stamp), then the
    // path. Beside them is nothing but the primary's owner lock.
    const QStringList names = sorted(QDir(r.handoffFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    QCOMPARE(names.size(), first.size() + 1);
    const QStringList locks = names.filter(QRegularExpression(QStringLiteral("^\\.owner-%1-[1-9][0-9]*$").arg(primaryPid)));
    QCOMPARE(locks.size(), 1);
    const QString primaryStamp = locks.first().section(QLatin1Char('-'), 2);
    for (int i = 0; i < first.size(); ++i) {
        const QStringList mine = names.filter(QRegularExpression(QStringLiteral("^%1-[1-9][0-9]*\\.txt$").arg(r.pids[i])));
        QCOMPARE(mine.size(), 1);
        QCOMPARE(readAll(r.handoffFolder() + QLatin1Char('/') + mine.first()),
                 QStringLiteral("-ftype_merge %1-%2\n%3").arg(primaryPid).arg(primaryStamp, first[i]).toUtf8());
    }
    for (auto &copy : copies) {
        if (copy->state() != QProcess::NotRunning) {
            ::kill(pid_t(copy->processId()), SIGKILL);
            ++faultsInjected;
        }
    }
    QVERIFY(waitAll(copies));
    holder.release();
    QCOMPARE(r.launches(100).size(), 0);

    // The next selection takes over the dead primary's mark; what the first
    // one left goes to the editor under its own verb, in a start of its
    // own, never mixed into the new selection's, whatever the verb.
    QFETCH(QString, nextFlag);
    const QStringList second = pathsFor(QStringLiteral("second"), 3);
    QVERIFY(waitAll(r.start(nextFlag, second)));
    const QList<Launch> launches = r.launches();
    QCOMPARE(launches.size(), 2);
    QList<QStringList> starts;
    for (const Launch &launch : launches) {
        QStringList elements = launch.arguments.value(0).split(QLatin1Char(';'));
        const QString flag = elements.takeFirst();
        starts.append(QStringList{ flag } + sorted(elements));
    }
    std::sort(starts.begin(), starts.end());
    QList<QStringList> expected = { QStringList{ QStringLiteral("-ftype_merge") } + sorted(first),
                                    QStringList{ nextFlag } + sorted(second) };
    std::sort(expected.begin(), expected.end());
    QCOMPARE(starts, expected);
}

void tst_Faults::copiesKilledBeforeTheyWrite()
{
    SelectionRig r(QStringLiteral("VcmSlay"), QStringLiteral(EDITOR_DOUBLE_PATH));
    const QStringList kept = pathsFor(QStringLiteral("kept"), 7);
    Processes copies = r.start(QStringLiteral("-ftype_edit"), kept);
    QTest::qWait(60);
    Processes doomed = r.start(QStringLiteral("-ftype_edit"), pathsFor(QStringLiteral("doomed"), 3));
    for (auto &copy : doomed) {
        ::kill(pid_t(copy->processId()), SIGKILL);
        ++faultsInjected;
    }
    QVERIFY(waitAll(copies));
    QVERIFY(waitAll(doomed));
    const QList<Launch> launches = r.launches();
    QCOMPARE(launches.size(), 1);
    // The killed copies had nothing to hand on; everyone else's path arrives.
    QCOMPARE(deliveredPaths(launches, QStringLiteral("-ftype_edit")), sorted(kept));
    QVERIFY(!QFileInfo::exists(r.handoffFolder()));
}

void tst_Faults::damagedBlockIsWaitedOnAndReset()
{
    SelectionRig r(QStringLiteral("VcmDamage"), QStringLiteral(EDITOR_DOUBLE_PATH));
    const QString blockFile = r.box.blockFile(instanceKeyOf(r.helper));
    QDir().mkpath(QFileInfo(blockFile).path());
    ::chmod(QFile::encodeName(QFileInfo(blockFile).path()).constData(), 0700);
    QVERIFY(writeAll(blockFile, QByteArray(152, '\xab'))); // a torn write: the checksum does not match
    ++faultsInjected;

    QElapsedTimer clock;
    clock.start();
    const QStringList paths = pathsFor(QStringLiteral("damaged"), 4);
    const Processes copies = r.start(QStringLiteral("-ftype_print"), paths);
    QVERIFY(waitAll(copies));
    const QList<Launch> launches = r.launches();
    QVERIFY(clock.elapsed() > 5000);
    QCOMPARE(launches.size(), 1);
    QCOMPARE(deliveredPaths(launches, QStringLiteral("-ftype_print")), sorted(paths));
    int warned = 0;
    for (const auto &copy : copies)
        warned += copy->readAllStandardError().count("inconsistent state from more than 5s");
    QVERIFY(warned >= 1);
}

void tst_Faults::strangersOnThePrimarysChannel_data()
{
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<int>("floodMb");
    QTest::newRow("garbage") << QByteArray("GET / HTTP/1.1\r\n\r\n") << 16;
    QTest::newRow("huge announced length") << QByteArray::fromHex("7fffffffffffffff") << 16;
    QTest::newRow("length of a real frame, body of garbage") << QByteArray::fromHex("0000000000000037") << 16;
    QTest::newRow("nothing at all") << QByteArray() << 0;
}

void tst_Faults::strangersOnThePrimarysChannel()
{
    QFETCH(QByteArray, greeting);
    QFETCH(int, floodMb);
    SelectionRig r(QStringLiteral("VcmPeer"), QStringLiteral(EDITOR_DOUBLE_PATH));
    Holder holder(r, QStringLiteral("VcmPeer"));
    const QStringList paths = pathsFor(QStringLiteral("peer"), 4);
    Processes copies = r.start(QStringLiteral("-ftype_split"), paths);
    QVERIFY(waitUntilRunning(copies, 1));
    qint64 primaryPid = 0;
    for (const auto &copy : copies) {
        if (copy->state() != QProcess::NotRunning)
            primaryPid = copy->processId();
    }
    const qint64 peakBefore = peakKb(primaryPid);

    QLocalSocket stranger;
    stranger.connectToServer(r.box.tmp() + QLatin1Char('/') + instanceKeyOf(r.helper));
    QVERIFY(stranger.waitForConnected(2000));
    ++faultsInjected;
    stranger.write(greeting);
    const QByteArray chunk(1 << 20, 'x');
    for (int i = 0; i < floodMb && stranger.state() == QLocalSocket::ConnectedState; ++i) {
        stranger.write(chunk);
        stranger.waitForBytesWritten(200);
    }
    QTest::qWait(300);
    const qint64 peakAfter = peakKb(primaryPid);
    // What a stranger sends is not kept: the primary's memory barely moves.
    // (The address sanitizer holds freed memory back on purpose; its
    // figures say nothing of the program's.)
#ifndef VELLIX_SANITIZED
    QVERIFY2(peakAfter - peakBefore < 4096, qPrintable(QStringLiteral("%1 -> %2 KiB").arg(peakBefore).arg(peakAfter)));
#else
    Q_UNUSED(peakBefore);
    Q_UNUSED(peakAfter);
#endif

    holder.release();
    QVERIFY(waitAll(copies));
    const QList<Launch> launches = r.launches();
    QCOMPARE(launches.size(), 1);
    QCOMPARE(deliveredPaths(launches, QStringLiteral("-ftype_split")), sorted(paths));
}

void tst_Faults::twoUsersAtOnceKeepTheirSelections()
{
    if (::geteuid() != 0 || !QFileInfo::exists(QStringLiteral("/usr/sbin/useradd"))
        || !QFileInfo::exists(QStringLiteral("/usr/bin/setpriv")))
        QSKIP("a second user needs root, useradd and setpriv");
    const QString other = QStringLiteral("vellixtwo");
    QProcess::execute(QStringLiteral("/usr/sbin/useradd"), { "-M", "-s", "/usr/sbin/nologin", other });
    const struct passwd *entry = ::getpwnam("vellixtwo");
    QVERIFY(entry);
    const uid_t uid = entry->pw_uid;
    const gid_t gid = entry->pw_gid;
    struct UserGone {
        ~UserGone() { QProcess::execute(QStringLiteral("/usr/sbin/userdel"), { QStringLiteral("vellixtwo") }); }
    } userGone;

    // One temporary folder for both, as /tmp is; the same program in the
    // same place, as a system-wide install is.
    SelectionRig r(QStringLiteral("VcmTwo"), QStringLiteral(EDITOR_DOUBLE_PATH));
    ::chmod(QFile::encodeName(r.box.path()).constData(), 0755);
    ::chmod(QFile::encodeName(r.box.tmp()).constData(), 01777);
    ::chmod(QFile::encodeName(r.box.path(QStringLiteral("Program Files"))).constData(), 0755);
    ::chmod(QFile::encodeName(QFileInfo(r.helper).path()).constData(), 0777); // both record launches there
    for (const QString &file : { r.helper, QFileInfo(r.helper).path() + QStringLiteral("/FileAssociation.so"),
                                 QFileInfo(r.helper).path() + QStringLiteral("/Vellix.exe") })
        ::chmod(QFile::encodeName(file).constData(), 0755);
    const QString launches = QFileInfo(r.helper).path() + QStringLiteral("/launches");
    QDir().mkpath(launches);
    ::chmod(QFile::encodeName(launches).constData(), 01777);
    const QString otherHome = r.box.path(QStringLiteral("otherhome"));
    QDir().mkpath(otherHome);
    QVERIFY(::chown(QFile::encodeName(otherHome).constData(), uid, gid) == 0);
    QProcessEnvironment otherEnv = r.box.environment();
    otherEnv.insert(QStringLiteral("HOME"), otherHome);
    otherEnv.insert(QStringLiteral("XDG_CONFIG_HOME"), otherHome + QStringLiteral("/.config"));
    otherEnv.insert(QStringLiteral("XDG_CACHE_HOME"), otherHome + QStringLiteral("/.cache"));
    otherEnv.insert(QStringLiteral("USERNAME"), other);

    const QStringList mine = pathsFor(QStringLiteral("mine"), 8);
    const QStringList theirs = pathsFor(QStringLiteral("theirs"), 8);
    Processes copies;
    for (int i = 0; i < 8; ++i) {
        for (auto &copy : r.start(QStringLiteral("-ftype_merge"), { mine[i] }))
            copies.push_back(std::move(copy));
        auto copy = std::make_unique<QProcess>();
        copy->setProcessEnvironment(otherEnv);
        copy->start(QStringLiteral("/usr/bin/setpriv"),
                    { "--reuid=vellixtwo", "--regid=vellixtwo", "--clear-groups", r.helper, "-ftype_edit", theirs[i] });
        copies.push_back(std::move(copy));
    }
    QVERIFY(waitAll(copies));
    for (const auto &copy : copies)
        QCOMPARE(copy->exitCode(), 0);

    const QList<Launch> starts = r.launches();
    QCOMPARE(starts.size(), 2);
    QList<QStringList> selections;
    for (const Launch &launch : starts)
        selections.append(launch.arguments.value(0).split(QLatin1Char(';')));
    std::sort(selections.begin(), selections.end());
    QCOMPARE(selections[0].takeFirst(), QStringLiteral("-ftype_edit"));
    QCOMPARE(sorted(selections[0]), sorted(theirs));
    QCOMPARE(selections[1].takeFirst(), QStringLiteral("-ftype_merge"));
    QCOMPARE(sorted(selections[1]), sorted(mine));
}


void tst_Faults::selectionBesideAnInstallThatWasPrimary()
{
    // An install that is the primary and takes its time (the registry
    // file's lock is held for a while): copies of a selection started
    // meanwhile must not hand their paths to it, for it never gathers.
    SelectionRig r(QStringLiteral("VcmInst"), QStringLiteral(EDITOR_DOUBLE_PATH));
    const QString registry = r.box.config() + QStringLiteral("/Zentharo/Registry");
    QVERIFY(QDir().mkpath(registry));
    const int lockFd = ::open(QFile::encodeName(registry + QStringLiteral("/HKEY_CURRENT_USER.reg.lock")).constData(),
                              O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    QVERIFY(lockFd != -1 && ::flock(lockFd, LOCK_EX) == 0);
    QProcess install;
    install.setProcessEnvironment(r.box.environment());
    install.start(r.helper, { QStringLiteral("install") });
    QVERIFY(install.waitForStarted());
    QTest::qWait(500);
    QCOMPARE(install.state(), QProcess::Running);

    const QStringList paths = pathsFor(QStringLiteral("beside"), 3);
    const Processes copies = r.start(QStringLiteral("-ftype_print"), paths);
    QTest::qWait(1000);
    ::close(lockFd);
    QVERIFY(install.waitForFinished());
    QCOMPARE(install.exitCode(), 0);
    QVERIFY(waitAll(copies, 30000));
    const QList<Launch> launches = r.launches();
    QCOMPARE(launches.size(), 1);
    QCOMPARE(deliveredPaths(launches, QStringLiteral("-ftype_print")), sorted(paths));
}

void tst_Faults::primaryKilledAfterItClaimed_data()
{
    QTest::addColumn<QString>("trap");
    QTest::addColumn<QStringList>("first");
    QTest::addColumn<int>("startsBeforeTheKill");
    QTest::newRow("before its first start") << QStringLiteral("fork:1:kill") << pathsFor(QStringLiteral("first"), 3) << 0;
    // Past one argument's 128 KiB: two starts.
    QStringList longPaths;
    for (int i = 0; i < 34; ++i)
        longPaths.append(QStringLiteral("C:\\long\\%1 ").arg(i) + QString(4000, QLatin1Char('x')) + QStringLiteral(".pdf"));
    QTest::newRow("between two starts of a long selection") << QStringLiteral("fork:2:kill") << longPaths << 1;
}

void tst_Faults::primaryKilledAfterItClaimed()
{
    QFETCH(QString, trap);
    QFETCH(QStringList, first);
    QFETCH(int, startsBeforeTheKill);
    SelectionRig r(QStringLiteral("VcmClaim"), QStringLiteral(EDITOR_DOUBLE_PATH));
    setTrap(r, trap);
    const Processes copies = r.start(QStringLiteral("-ftype_merge"), first);
    QVERIFY(waitAll(copies));
    QCOMPARE(std::count_if(copies.begin(), copies.end(), [](const auto &copy) {
                 return copy->exitStatus() == QProcess::CrashExit;
             }), 1L);
    QCOMPARE(r.launches().size(), startsBeforeTheKill);

    // The next primary delivers what the dead one claimed and did not
    // deliver, under its verb, in a start of its own; nothing twice.
    r.extraEnvironment = QProcessEnvironment();
    const QStringList second = pathsFor(QStringLiteral("second"), 2);
    const Processes next = r.start(QStringLiteral("-ftype_print"), second);
    QVERIFY(waitAll(next));
    QVERIFY(allExitedWith(next, 0));
    const QList<Launch> launches = r.launches();
    QCOMPARE(deliveredUnder(launches, QStringLiteral("-ftype_merge")), sorted(first));
    QCOMPARE(deliveredUnder(launches, QStringLiteral("-ftype_print")), sorted(second));
    QCOMPARE(launchesUnder(launches, QStringLiteral("-ftype_print")).size(), 1);
    QVERIFY(!QFileInfo::exists(r.handoffFolder()));
}

void tst_Faults::stoppedPrimaryDeliversLateNeverTwice_data()
{
    QTest::addColumn<QString>("trap");
    QTest::newRow("in its wait") << QString();
    QTest::newRow("at its first start, its files claimed") << QStringLiteral("fork:1:stop");
}

void tst_Faults::stoppedPrimaryDeliversLateNeverTwice()
{
    QFETCH(QString, trap);
    SelectionRig r(QStringLiteral("VcmHalt"), QStringLiteral(EDITOR_DOUBLE_PATH));
    std::unique_ptr<Holder> holder;
    if (trap.isEmpty())
        holder = std::make_unique<Holder>(r, QStringLiteral("VcmHalt"));
    else
        setTrap(r, trap);
    const QStringList first = pathsFor(QStringLiteral("first"), 3);
    const Processes copies = r.start(QStringLiteral("-ftype_merge"), first);
    r.extraEnvironment = QProcessEnvironment();
    QVERIFY(waitUntilRunning(copies, 1)); // the secondaries have handed on
    const qint64 primary = runningCopyPid(copies);
    QVERIFY(primary > 0);
    if (holder) {
        QTest::qWait(300);
        ::kill(pid_t(primary), SIGSTOP);
        ++faultsInjected;
        holder->release();
    }
    QTRY_VERIFY_WITH_TIMEOUT(isStopped(primary), 20000);

    // A selection made while it is stopped reaches the editor at once; what
    // the stopped primary holds, it keeps.
    const QStringList second = pathsFor(QStringLiteral("second"), 2);
    const Processes next = r.start(QStringLiteral("-ftype_print"), second);
    QVERIFY(waitAll(next, 30000));
    QVERIFY(allExitedWith(next, 0));
    QList<Launch> launches = r.launches();
    QCOMPARE(launches.size(), 1);
    QCOMPARE(deliveredUnder(launches, QStringLiteral("-ftype_print")), sorted(second));

    // Run again, it delivers its own selection: late, each path once.
    ::kill(pid_t(primary), SIGCONT);
    QVERIFY(waitAll(copies));
    QVERIFY(allExitedWith(copies, 0));
    launches = r.launches();
    QCOMPARE(launches.size(), 2);
    QCOMPARE(deliveredUnder(launches, QStringLiteral("-ftype_merge")), sorted(first));
    QCOMPARE(deliveredUnder(launches, QStringLiteral("-ftype_print")), sorted(second));
    QVERIFY(!QFileInfo::exists(r.handoffFolder()));
}

void tst_Faults::primaryHeldUpPastTheBoundIsDeposed()
{
    if (qEnvironmentVariableIsSet("VELLIX_BOUND_WAIT_APART"))
        QSKIP("runs as tst_faults_bound");
    // Asleep, not stopped: only its age tells that it is held up. One is
    // held right after the election, the other at its first start, its
    // files claimed; both sleep through the same wait.
    SelectionRig r(QStringLiteral("VcmFrozen"), QStringLiteral(EDITOR_DOUBLE_PATH));
    setTrap(r, QStringLiteral("mkdir:1:hang"));
    const Processes held = r.start(QStringLiteral("-ftype_merge"), { QStringLiteral("C:\\held.pdf") });
    r.extraEnvironment = QProcessEnvironment();
    SelectionRig asleep(QStringLiteral("VcmAsleep"), QStringLiteral(EDITOR_DOUBLE_PATH));
    setTrap(asleep, QStringLiteral("fork:1:hang"));
    const QStringList claimed = pathsFor(QStringLiteral("claimed"), 3);
    const Processes sleeper = asleep.start(QStringLiteral("-ftype_merge"), claimed);
    asleep.extraEnvironment = QProcessEnvironment();
    // The minute of a copy's run and the margin for its last steps.
    QTest::qWait(76000);
    QCOMPARE(held[0]->state(), QProcess::Running);
    QCOMPARE(runningCopyPid(sleeper) > 0, true);

    const QStringList second = pathsFor(QStringLiteral("second"), 3);
    QElapsedTimer clock;
    clock.start();
    const Processes next = r.start(QStringLiteral("-ftype_print"), second);
    const Processes besideTheSleeper = asleep.start(QStringLiteral("-ftype_print"), second);
    QVERIFY(waitAll(next, 30000));
    QVERIFY(waitAll(besideTheSleeper, 30000));
    QVERIFY(allExitedWith(next, 0));
    QVERIFY(allExitedWith(besideTheSleeper, 0));
    QVERIFY2(clock.elapsed() < 20000, QByteArray::number(clock.elapsed()).constData()); // not another minute
    QList<Launch> launches = r.launches();
    QCOMPARE(launches.size(), 1);
    QCOMPARE(deliveredUnder(launches, QStringLiteral("-ftype_print")), sorted(second));
    QCOMPARE(deliveredPaths(asleep.launches(), QStringLiteral("-ftype_print")), sorted(second));

    // Woken, the deposed copy has no time left to wait, and delivers its
    // own path alone; the one asleep at its start delivers what it claimed,
    // each path once.
    ::kill(pid_t(held[0]->processId()), SIGUSR1);
    ::kill(pid_t(runningCopyPid(sleeper)), SIGUSR1);
    QVERIFY(waitAll(held));
    QVERIFY(waitAll(sleeper));
    QVERIFY(allExitedWith(held, 0));
    QVERIFY(allExitedWith(sleeper, 0));
    launches = r.launches();
    QCOMPARE(launches.size(), 2);
    QCOMPARE(deliveredUnder(launches, QStringLiteral("-ftype_merge")), QStringList{ QStringLiteral("C:\\held.pdf") });
    launches = asleep.launches();
    QCOMPARE(launches.size(), 2);
    QCOMPARE(deliveredUnder(launches, QStringLiteral("-ftype_merge")), sorted(claimed));
}

void tst_Faults::waitingFileOutlivesAReusedProcessId()
{
    if (::geteuid() != 0)
        QSKIP("setting the next process id takes root");
    SelectionRig r(QStringLiteral("VcmReuse"), QStringLiteral(EDITOR_DOUBLE_PATH));
    const QString editor = r.box.path(r.installFolder() + QStringLiteral("/Vellix.exe"));
    // A start that fails leaves the path waiting for the next primary.
    QVERIFY(QFile::rename(editor, editor + QStringLiteral(".away")));
    const Processes first = r.start(QStringLiteral("-ftype_edit"), { QStringLiteral("C:\\waiting.pdf") });
    QVERIFY(waitAll(first));
    QVERIFY(allExitedWith(first, 1));
    const qint64 pid = r.pids.last();
    QCOMPARE(QDir(r.handoffFolder()).entryList({ QStringLiteral("%1-*.txt").arg(pid) }).size(), 1);
    QVERIFY(QFile::rename(editor + QStringLiteral(".away"), editor));

    // The next copy gets the same process id.
    QVERIFY(writeAll(QStringLiteral("/proc/sys/kernel/ns_last_pid"), QByteArray::number(pid - 1)));
    const Processes second = r.start(QStringLiteral("-ftype_edit"), { QStringLiteral("C:\\new.pdf") });
    QVERIFY(waitAll(second));
    if (r.pids.last() != pid)
        QSKIP("another process took that id first");
    ++faultsInjected;
    QVERIFY(allExitedWith(second, 0));
    QCOMPARE(deliveredPaths(r.launches(), QStringLiteral("-ftype_edit")),
             sorted({ QStringLiteral("C:\\waiting.pdf"), QStringLiteral("C:\\new.pdf") }));
}

void tst_Faults::selectionBesideAHeldUpBystander_data()
{
    QTest::addColumn<QString>("argument");
    QTest::newRow("an install") << QStringLiteral("install");
}

void tst_Faults::selectionBesideAHeldUpBystander()
{
    // A run that gathers nothing, held up right after the election (a busy
    // machine), never was a primary that a selection could hand its paths
    // to.
    QFETCH(QString, argument);
    SelectionRig r(QStringLiteral("VcmBusy"), QStringLiteral(EDITOR_DOUBLE_PATH));
    setTrap(r, QStringLiteral("mkdir:1:hang"));
    QProcess install;
    install.setProcessEnvironment(r.environment());
    install.start(r.helper, { argument });
    QVERIFY(install.waitForStarted());
    r.extraEnvironment = QProcessEnvironment();
    QTest::qWait(500);
    QCOMPARE(install.state(), QProcess::Running);

    // The selection's primary waits while the bystander runs, as for any
    // copy; once the bystander has gone on and ended, it delivers.
    const QStringList paths = pathsFor(QStringLiteral("beside"), 3);
    const Processes copies = r.start(QStringLiteral("-ftype_print"), paths);
    QTest::qWait(1500);
    ::kill(pid_t(install.processId()), SIGUSR1);
    QVERIFY(install.waitForFinished());
    QCOMPARE(install.exitCode(), 0);
    QVERIFY(waitAll(copies, 30000));
    QVERIFY(allExitedWith(copies, 0));
    const QList<Launch> launches = r.launches();
    QCOMPARE(launches.size(), 1);
    QCOMPARE(deliveredUnder(launches, QStringLiteral("-ftype_print")), sorted(paths));
}

void tst_Faults::fileNamesReachTheEditorAsTheirBytes_data()
{
    QTest::addColumn<QList<QByteArray>>("names");
    QTest::newRow("a Latin-1 name alone") << QList<QByteArray>{ "/docs/caf\xE9.pdf" };
    QTest::newRow("in a selection of two") << QList<QByteArray>{ "/docs/caf\xE9.pdf", "/docs/na\xC3\xAFve \xFF\xC3.pdf" };
}

void tst_Faults::fileNamesReachTheEditorAsTheirBytes()
{
    QFETCH(QList<QByteArray>, names);
    SelectionRig r(QStringLiteral("VcmBytes"), QStringLiteral(EDITOR_DOUBLE_PATH));
    // This test program hands the names over as bytes: each byte a
    // character of Latin-1.
    QTextCodec *before = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
    QStringList paths;
    for (const QByteArray &name : names)
        paths.append(QString::fromLatin1(name));
    const Processes copies = r.start(QStringLiteral("-ftype_edit"), paths);
    QTextCodec::setCodecForLocale(before);
    QVERIFY(waitAll(copies));
    QVERIFY(allExitedWith(copies, 0));
    const QList<QByteArray> starts = launchBytes(r);
    QCOMPARE(starts.size(), 1);
    QList<QByteArray> elements = starts.first().split(';');
    QCOMPARE(elements.takeFirst(), QByteArray("-ftype_edit"));
    std::sort(elements.begin(), elements.end());
    std::sort(names.begin(), names.end());
    QCOMPARE(elements, names);
}

void tst_Faults::handoffFilesWithoutAPathAreNoPaths()
{
    SelectionRig r(QStringLiteral("VcmEmpty"), QStringLiteral(EDITOR_DOUBLE_PATH));
    QVERIFY(QDir().mkpath(r.handoffFolder()));
    QVERIFY(QFile::setPermissions(r.handoffFolder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(writeAll(r.handoffFolder() + QStringLiteral("/1-1.txt"), QByteArray()));
    QVERIFY(writeAll(r.handoffFolder() + QStringLiteral("/2-2.txt"), "-ftype_edit 2\n"));
    ++faultsInjected;
    const QStringList paths = pathsFor(QStringLiteral("real"), 2);
    const Processes copies = r.start(QStringLiteral("-ftype_edit"), paths);
    QVERIFY(waitAll(copies));
    QVERIFY(allExitedWith(copies, 0));
    const QList<Launch> launches = r.launches();
    QCOMPARE(launches.size(), 1);
    // No empty element, and nothing of the planted files.
    QCOMPARE(deliveredPaths(launches, QStringLiteral("-ftype_edit")), sorted(paths));
    QVERIFY(!QFileInfo::exists(r.handoffFolder()));

    // An empty path names no file: nothing is handed on or started.
    const Processes none = r.start(QStringLiteral("-ftype_edit"), { QString() });
    QVERIFY(waitAll(none));
    QVERIFY(allExitedWith(none, 0));
    QCOMPARE(r.launches().size(), 1);
}

void tst_Faults::refusedFilesReachTheEditorOnce_data()
{
    QTest::addColumn<QString>("refuse");
    QTest::addColumn<QString>("trap");
    QTest::addColumn<int>("primaryExit"); // -1: killed
    QTest::addColumn<int>("firstStarts");
    // A file held without delete sharing can be neither renamed nor removed.
    QTest::newRow("posted files held for a moment, a kill before the start")
            << QStringLiteral("rename:.txt:2,unlink:.txt:2") << QStringLiteral("fork:1:kill") << -1 << 0;
    QTest::newRow("posted files unreadable for a moment, a kill before the start")
            << QStringLiteral("open:.txt:2") << QStringLiteral("fork:1:kill") << -1 << 0;
    QTest::newRow("posted files held for good")
            << QStringLiteral("rename:.txt:0,unlink:.txt:0") << QString() << 1 << 0;
    // The primary's own file it can take back: its path goes alone.
    QTest::newRow("posted files unreadable for good") << QStringLiteral("open:.txt:0") << QString() << 1 << 1;
    QTest::newRow("claims that cannot go after their start")
            << QStringLiteral("unlink:.claimed-:0") << QString() << 0 << 1;
    QTest::newRow("claims that cannot go, and a full disk for their record")
            << QStringLiteral("unlink:.claimed-:0,write:.owner-:0") << QString() << 0 << 1;
}

void tst_Faults::refusedFilesReachTheEditorOnce()
{
    QFETCH(QString, refuse);
    QFETCH(QString, trap);
    QFETCH(int, primaryExit);
    QFETCH(int, firstStarts);
    SelectionRig r(QStringLiteral("VcmRefuse"), QStringLiteral(EDITOR_DOUBLE_PATH));
    setTrap(r, trap);
    r.extraEnvironment.insert(QStringLiteral("VELLIX_REFUSE"), refuse);
    const QStringList first = pathsFor(QStringLiteral("first"), 4);
    const Processes copies = r.start(QStringLiteral("-ftype_merge"), first);
    QVERIFY(waitAll(copies));
    const QList<qint64> firstPids = r.pids;
    // The copies whose paths went on say so; the one that could not
    // deliver them says so too.
    const long failed = std::count_if(copies.begin(), copies.end(), [&](const auto &copy) {
        return primaryExit < 0 ? copy->exitStatus() == QProcess::CrashExit : copy->exitCode() == primaryExit;
    });
    QCOMPARE(failed, primaryExit == 0 ? long(copies.size()) : 1L);
    QList<Launch> launches = r.launches();
    QCOMPARE(launches.size(), firstStarts);

    r.extraEnvironment = QProcessEnvironment();
    const QStringList second = pathsFor(QStringLiteral("second"), 2);
    const Processes next = r.start(QStringLiteral("-ftype_print"), second);
    QVERIFY(waitAll(next));
    QVERIFY(allExitedWith(next, 0));
    launches = r.launches();
    QCOMPARE(deliveredUnder(launches, QStringLiteral("-ftype_print")), sorted(second));
    // Each path once; in one start, in the textual order of its copy's id.
    QCOMPARE(deliveredUnder(launches, QStringLiteral("-ftype_merge")), sorted(first));
    const QList<Launch> merged = launchesUnder(launches, QStringLiteral("-ftype_merge"));
    QCOMPARE(merged.size(), primaryExit == 0 ? firstStarts : firstStarts + 1);
    if (merged.size() > 1)
        return;
    QList<int> order{ 0, 1, 2, 3 };
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        return QString::number(firstPids[a]) + QLatin1Char('-') < QString::number(firstPids[b]) + QLatin1Char('-');
    });
    QStringList expected;
    for (int i : order)
        expected.append(first[i]);
    QCOMPARE(merged.first().arguments.value(0), QStringLiteral("-ftype_merge;") + expected.join(QLatin1Char(';')));
    QVERIFY(!QFileInfo::exists(r.handoffFolder()));
}

void tst_Faults::twoInstallationsKeepTheirSelections()
{
    // Two helpers of one name in two folders: two primaries, one hand-off
    // folder.
    SelectionRig r(QStringLiteral("VcmTwin"), QStringLiteral(EDITOR_DOUBLE_PATH));
    const QString twinFolder = QStringLiteral("Program Files/Vellix Twin");
    const QString twin = r.box.installHelper(twinFolder, QStringLiteral("VcmTwin"));
    QVERIFY(!r.box.install(QStringLiteral(EDITOR_DOUBLE_PATH), twinFolder, QStringLiteral("Vellix.exe")).isEmpty());
    const QStringList ours = pathsFor(QStringLiteral("ours"), 12);
    const QStringList theirs = pathsFor(QStringLiteral("theirs"), 12);
    Processes copies;
    for (int i = 0; i < ours.size(); ++i) {
        for (auto &copy : r.start(QStringLiteral("-ftype_merge"), { ours[i] }))
            copies.push_back(std::move(copy));
        for (auto &copy : r.start(QStringLiteral("-ftype_merge"), { theirs[i] }, 0, twin))
            copies.push_back(std::move(copy));
    }
    // Neither primary waits for the other, which is no copy of its own.
    QVERIFY(waitAll(copies, 30000));
    QVERIFY(allExitedWith(copies, 0));
    QCOMPARE(deliveredPaths(r.launches(), QStringLiteral("-ftype_merge")), sorted(ours));
    QCOMPARE(deliveredPaths(r.launches(300, twinFolder), QStringLiteral("-ftype_merge")), sorted(theirs));

    // A primary held up before it made its owner lock: what its copies
    // posted for it stays its own while it exists. (Stopped then, it is no
    // copy that the other primary waits for.)
    setTrap(r, QStringLiteral("mkdir:1:hang"));
    const Processes held = r.start(QStringLiteral("-ftype_print"), { QStringLiteral("C:\\twin held.pdf") }, 0, twin);
    r.extraEnvironment = QProcessEnvironment();
    QTest::qWait(500);
    const QStringList posted = pathsFor(QStringLiteral("posted"), 3);
    QVERIFY(waitAll(r.start(QStringLiteral("-ftype_print"), posted, 0, twin)));
    ::kill(pid_t(held[0]->processId()), SIGSTOP);
    QTRY_VERIFY(isStopped(held[0]->processId()));
    const QStringList later = pathsFor(QStringLiteral("later"), 2);
    QVERIFY(waitAll(r.start(QStringLiteral("-ftype_print"), later)));
    QCOMPARE(deliveredPaths(launchesUnder(r.launches(), QStringLiteral("-ftype_print")), QStringLiteral("-ftype_print")),
             sorted(later));
    ::kill(pid_t(held[0]->processId()), SIGCONT);
    ::kill(pid_t(held[0]->processId()), SIGUSR1);
    QVERIFY(waitAll(held));
    QCOMPARE(deliveredPaths(launchesUnder(r.launches(300, twinFolder), QStringLiteral("-ftype_print")),
                            QStringLiteral("-ftype_print")),
             sorted(posted + QStringList{ QStringLiteral("C:\\twin held.pdf") }));
}

QTEST_GUILESS_MAIN(tst_Faults)
#include "tst_faults.moc"
