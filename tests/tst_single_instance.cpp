// Copies of a program built on SingleApplication, started together as the
// file manager starts them, must agree on one primary and number the rest.

#include "instance_block.h"
#include "test_support.h"

#include <QtCore/qelapsedtimer.h>
#include <QtCore/qsharedmemory.h>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace {

QByteArray firstLine(QProcess &process)
{
    return process.readAllStandardOutput().split('\n').value(0);
}

bool waitForLine(QProcess &process, QByteArray *line, int timeoutMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!process.canReadLine()) {
        if (clock.elapsed() > timeoutMs || !process.waitForReadyRead(int(timeoutMs - clock.elapsed())))
            return false;
    }
    *line = process.readLine().trimmed();
    return true;
}

InstanceBlock blockAt(const QString &file)
{
    InstanceBlock block;
    std::memset(&block, 0xAB, sizeof block);
    const QByteArray bytes = readAll(file);
    if (bytes.size() == int(sizeof block))
        std::memcpy(&block, bytes.constData(), sizeof block);
    return block;
}

} // namespace

class tst_SingleInstance : public QObject
{
    Q_OBJECT

private:
    QString peer(const Sandbox &box, const QString &name = QStringLiteral("si_peer"))
    {
        return box.install(QStringLiteral(SI_PEER_PATH), QStringLiteral("bin"), name);
    }
    QString keyOf(const Sandbox &box, const QString &program, const QStringList &arguments = {})
    {
        QProcess process;
        process.setProcessEnvironment(box.environment());
        process.start(program, QStringList{ QStringLiteral("--key-only") } + arguments);
        process.waitForFinished();
        return QString::fromLatin1(process.readAllStandardOutput().trimmed());
    }

private Q_SLOTS:
    void stormsElectOnePrimaryAndNumberTheRest();
    void refusedStartExitsWithZeroAndLeavesTheBlockAlone();
    void inconsistentBlockIsResetAfterFiveSeconds();
    void killedPrimaryIsSucceeded();
    void endsOfPrimaryAndSecondaryTouchOnlyWhatIsTheirs();
    void keyFollowsUserVersionPathAndOptions();
    void everyPathOfTheDecisionSaysItsMessage_data();
    void everyPathOfTheDecisionSaysItsMessage();
};

void tst_SingleInstance::stormsElectOnePrimaryAndNumberTheRest()
{
    const int rounds = qEnvironmentVariableIntValue("VELLIX_STORM_ROUNDS") > 0
            ? qEnvironmentVariableIntValue("VELLIX_STORM_ROUNDS") : 30;
    const int copiesPerRound = 50;
    for (int round = 0; round < rounds; ++round) {
        Sandbox box;
        const QString release = box.path(QStringLiteral("release"));
        Processes copies = startCopies(copiesPerRound, peer(box, QStringLiteral("si_storm")),
                                       { QStringLiteral("--primary-holds"), release },
                                       box.environment());
        // The primary holds its role until every secondary has ended.
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            const auto running = std::count_if(copies.begin(), copies.end(), [](const auto &c) {
                return c->state() != QProcess::NotRunning;
            });
            if (running <= 1 || clock.elapsed() > 60000)
                break;
            for (auto &copy : copies)
                copy->waitForFinished(5);
        }
        QVERIFY(writeAll(release, "go"));
        QVERIFY(waitAll(copies));

        int primaries = 0;
        QList<quint32> numbers;
        for (auto &copy : copies) {
            QCOMPARE(copy->exitStatus(), QProcess::NormalExit);
            QCOMPARE(copy->exitCode(), 0);
            const QList<QByteArray> role = firstLine(*copy).split(' ');
            QCOMPARE(role.size(), 3);
            if (role[1] == "primary") {
                ++primaries;
                QCOMPARE(role[2], QByteArray("0"));
            } else {
                numbers.append(role[2].toUInt());
            }
        }
        QCOMPARE(primaries, 1);
        std::sort(numbers.begin(), numbers.end());
        for (int i = 0; i < numbers.size(); ++i)
            QCOMPARE(numbers[i], quint32(i + 1));
    }
}

void tst_SingleInstance::refusedStartExitsWithZeroAndLeavesTheBlockAlone()
{
    Sandbox box;
    const QString program = peer(box);
    const QString blockFile = box.blockFile(keyOf(box, program));
    QProcess primary;
    primary.setProcessEnvironment(box.environment());
    primary.start(program, { QStringLiteral("--hold-until"), box.path(QStringLiteral("release")) });
    QByteArray line;
    QVERIFY(waitForLine(primary, &line));
    QCOMPARE(line, QByteArray("role primary 0"));
    const QByteArray before = readAll(blockFile);
    QCOMPARE(before.size(), 152);

    QProcess refused;
    refused.setProcessEnvironment(box.environment());
    refused.start(program, { QStringLiteral("--no-secondary") });
    QVERIFY(refused.waitForFinished());
    QCOMPARE(refused.exitStatus(), QProcess::NormalExit);
    QCOMPARE(refused.exitCode(), 0);
    QCOMPARE(refused.readAllStandardOutput(), QByteArray()); // never got past its constructor
    QCOMPARE(readAll(blockFile), before);

    // The primary hears of it through its channel.
    QVERIFY(waitForLine(primary, &line));
    QCOMPARE(line, QByteArray("started"));
    writeAll(box.path(QStringLiteral("release")), "go");
    QVERIFY(primary.waitForFinished());
}

void tst_SingleInstance::inconsistentBlockIsResetAfterFiveSeconds()
{
    Sandbox box;
    const QString program = peer(box);
    const QString blockFile = box.blockFile(keyOf(box, program));
    QDir().mkpath(QFileInfo(blockFile).path());
    QFile::setPermissions(QFileInfo(blockFile).path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // All zero: stored CRC 0 against a computed 0x242E.
    QVERIFY(writeAll(blockFile, QByteArray(152, '\0')));
    QCOMPARE(instanceBlockCrc(QByteArray(152, '\0').constData()), quint16(0x242E));

    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.setProcessEnvironment(box.environment());
    process.start(program, QStringList());
    QVERIFY(process.waitForFinished(20000));
    const qint64 took = clock.elapsed();
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(firstLine(process), QByteArray("role primary 0"));
    QVERIFY2(took > 5000 && took < 9000, QByteArray::number(took).constData());
    QVERIFY(process.readAllStandardError().contains(
            "SingleApplication: Shared memory block has been in an inconsistent state from more than 5s. "
            "Assuming primary instance failure.\n"));
}

void tst_SingleInstance::killedPrimaryIsSucceeded()
{
    Sandbox box;
    const QString program = peer(box);
    const QString release = box.path(QStringLiteral("release"));
    QByteArray line;

    QProcess first;
    first.setProcessEnvironment(box.environment());
    first.start(program, { QStringLiteral("--hold-until"), release });
    QVERIFY(waitForLine(first, &line));
    QCOMPARE(line, QByteArray("role primary 0"));

    QProcess secondary;
    secondary.setProcessEnvironment(box.environment());
    secondary.start(program, QStringList());
    QVERIFY(secondary.waitForFinished());
    QCOMPARE(firstLine(secondary), QByteArray("role secondary 1"));

    first.kill(); // SIGKILL: no chance to clear its mark in the block
    QVERIFY(first.waitForFinished());

    QProcess successor;
    successor.setProcessEnvironment(box.environment());
    successor.start(program, { QStringLiteral("--hold-until"), release });
    QVERIFY(waitForLine(successor, &line));
    QCOMPARE(line, QByteArray("role primary 0"));

    QProcess next;
    next.setProcessEnvironment(box.environment());
    next.start(program, QStringList());
    QVERIFY(next.waitForFinished());
    QCOMPARE(firstLine(next), QByteArray("role secondary 2")); // the count goes on

    writeAll(release, "go");
    QVERIFY(successor.waitForFinished());
    QCOMPARE(successor.exitCode(), 0);
}

void tst_SingleInstance::endsOfPrimaryAndSecondaryTouchOnlyWhatIsTheirs()
{
    Sandbox box;
    const QString program = peer(box);
    const QString blockFile = box.blockFile(keyOf(box, program));
    QByteArray line;
    const auto holder = [&](const QString &release) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(box.environment());
        process->start(program, { QStringLiteral("--hold-until"), box.path(release) });
        return process;
    };

    auto primary = holder(QStringLiteral("p"));
    QVERIFY(waitForLine(*primary, &line));
    QCOMPARE(line, QByteArray("role primary 0"));
    const InstanceBlock asPrimary = blockAt(blockFile);
    QCOMPARE(asPrimary.primaryAlive, quint8(1));
    QCOMPARE(asPrimary.secondaryCounter, 0u);
    QCOMPARE(asPrimary.ownerPid, primary->processId());
    QCOMPARE(QByteArray(asPrimary.ownerUserName), QByteArray(::getpwuid(::geteuid())->pw_name));
    QCOMPARE(asPrimary.blockCrc, instanceBlockCrc(&asPrimary));
    const QByteArray primaryBytes = readAll(blockFile);

    auto first = holder(QStringLiteral("s1"));
    QVERIFY(waitForLine(*first, &line));
    QCOMPARE(line, QByteArray("role secondary 1"));
    // A secondary's start counts itself and touches nothing else.
    const InstanceBlock asSecondary = blockAt(blockFile);
    QCOMPARE(asSecondary.secondaryCounter, 1u);
    QCOMPARE(asSecondary.blockCrc, instanceBlockCrc(&asSecondary));
    QCOMPARE(readAll(blockFile).left(4), primaryBytes.left(4));
    QCOMPARE(readAll(blockFile).mid(8, 136), primaryBytes.mid(8, 136));
    auto second = holder(QStringLiteral("s2"));
    QVERIFY(waitForLine(*second, &line));
    QCOMPARE(line, QByteArray("role secondary 2"));

    // A secondary's end leaves the block byte for byte as it was.
    const QByteArray withSecondaries = readAll(blockFile);
    writeAll(box.path(QStringLiteral("s2")), "go");
    QVERIFY(second->waitForFinished());
    QCOMPARE(readAll(blockFile), withSecondaries);

    // The primary's end clears its marks and nothing else.
    writeAll(box.path(QStringLiteral("p")), "go");
    QVERIFY(primary->waitForFinished());
    const InstanceBlock after = blockAt(blockFile);
    QCOMPARE(after.primaryAlive, quint8(0));
    QCOMPARE(after.secondaryCounter, 2u);
    QCOMPARE(after.ownerPid, qint64(-1));
    QCOMPARE(after.ownerUserName[0], '\0');
    QVERIFY(std::memcmp(after.ownerUserName + 1, asPrimary.ownerUserName + 1, 127) == 0);
    QCOMPARE(after.blockCrc, instanceBlockCrc(&after));

    writeAll(box.path(QStringLiteral("s1")), "go");
    QVERIFY(first->waitForFinished());
    QVERIFY(!QFile::exists(blockFile)); // gone with its last user
}

void tst_SingleInstance::keyFollowsUserVersionPathAndOptions()
{
    Sandbox box;
    const QString program = peer(box);
    const QString key = keyOf(box, program);
    QCOMPARE(key, instanceKeyOf(program)); // the recipe, written out again
    QCOMPARE(key.size(), 44);
    QVERIFY(!key.contains(QLatin1Char('/')));
    QVERIFY(key.endsWith(QLatin1Char('=')));
    QCOMPARE(keyOf(box, program), key);

    const QString elsewhere = box.install(program, QStringLiteral("other"), QStringLiteral("si_peer"));
    QVERIFY(keyOf(box, elsewhere) != key);
    const QString otherCase = box.install(program, QStringLiteral("BIN"), QStringLiteral("si_peer"));
    QCOMPARE(keyOf(box, otherCase), key);

    const QString machineWide = keyOf(box, program, { QStringLiteral("--options"), QStringLiteral("0") });
    QVERIFY(machineWide != key);
    QCOMPARE(keyOf(box, program, { QStringLiteral("--options"), QStringLiteral("2") }), machineWide);
    QVERIFY(keyOf(box, program, { QStringLiteral("--options"), QStringLiteral("16") }) != machineWide);
    QVERIFY(keyOf(box, program, { QStringLiteral("--extra"), QStringLiteral("x") }) != key);
}

void tst_SingleInstance::everyPathOfTheDecisionSaysItsMessage_data()
{
    QTest::addColumn<QString>("before");       // "": nothing; "primary": one holds the role; "torn": an all-zero block
    QTest::addColumn<QString>("fail");         // VARIABLE=CALLS for the test build of the block
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("role");
    QTest::addColumn<QByteArray>("messages");  // as "%{type}: %{message}" lines

    const QByteArray fatal = "critical: SingleApplication:  %1 \"SharedBlock::%2: injected failure\"\n";
    const auto fatalLine = [&](QSharedMemory::SharedMemoryError code, const char *call) {
        return QByteArray(fatal).replace("%1", QByteArray::number(int(code))).replace("%2", call);
    };
    const QByteArray unlockFailed = "debug: \"SharedBlock::unlock: injected failure\"\n";
    const QByteArray warning = "warning: SingleApplication: Shared memory block has been in an inconsistent state "
                               "from more than 5s. Assuming primary instance failure.\n";

    QTest::newRow("primary") << "" << "" << QStringList() << 0 << QByteArray("role primary 0") << QByteArray();
    QTest::newRow("secondary") << "primary" << "" << QStringList() << 0 << QByteArray("role secondary 1") << QByteArray();
    QTest::newRow("create fails") << "" << "VELLIX_FAIL_CREATE=1" << QStringList() << 1 << QByteArray()
            << "critical: SingleApplication: Unable to create block.\n" + fatalLine(QSharedMemory::PermissionDenied, "create");
    QTest::newRow("lock after create fails") << "" << "VELLIX_FAIL_LOCK=1" << QStringList() << 1 << QByteArray()
            << "critical: SingleApplication: Unable to lock memory block after create.\n" + fatalLine(QSharedMemory::LockError, "lock");
    QTest::newRow("lock after attach fails") << "primary" << "VELLIX_FAIL_LOCK=1" << QStringList() << 1 << QByteArray()
            << "critical: SingleApplication: Unable to lock memory block after attach.\n" + fatalLine(QSharedMemory::LockError, "lock");
    QTest::newRow("lock after the random wait fails") << "torn" << "VELLIX_FAIL_LOCK=2" << QStringList() << 1 << QByteArray()
            << "critical: SingleApplication: Unable to lock memory after random wait.\n" + fatalLine(QSharedMemory::LockError, "lock");
    QTest::newRow("unlock before the random wait fails") << "torn" << "VELLIX_FAIL_UNLOCK=1" << QStringList() << 0
            << QByteArray("role primary 0")
            << "debug: SingleApplication: Unable to unlock memory for random wait.\n" + unlockFailed + warning;
    QTest::newRow("unlock after primary start fails") << "" << "VELLIX_FAIL_UNLOCK=1" << QStringList() << 0
            << QByteArray("role primary 0")
            << "debug: SingleApplication: Unable to unlock memory after primary start.\n" + unlockFailed;
    QTest::newRow("unlock after secondary start fails") << "primary" << "VELLIX_FAIL_UNLOCK=1" << QStringList() << 0
            << QByteArray("role secondary 1")
            << "debug: SingleApplication: Unable to unlock memory after secondary start.\n" + unlockFailed;
    QTest::newRow("unlock in a refused start fails") << "primary" << "VELLIX_FAIL_UNLOCK=1"
            << QStringList{ "--no-secondary" } << 0 << QByteArray()
            << "debug: SingleApplication: Unable to unlock memory at end of execution.\n" + unlockFailed;
}

void tst_SingleInstance::everyPathOfTheDecisionSaysItsMessage()
{
    QFETCH(QString, before);
    QFETCH(QString, fail);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, role);
    QFETCH(QByteArray, messages);
    Sandbox box;
    const QString program = box.install(QStringLiteral(SI_PEER_FAULTY_PATH), QStringLiteral("bin"),
                                        QStringLiteral("si_faulty"));
    QProcessEnvironment env = box.environment();
    env.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{type}: %{message}"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=true"));

    QProcess primary;
    const QString release = box.path(QStringLiteral("release"));
    if (before == QLatin1String("primary")) {
        primary.setProcessEnvironment(box.environment());
        primary.start(program, { QStringLiteral("--hold-until"), release });
        QByteArray line;
        QVERIFY(waitForLine(primary, &line));
        QCOMPARE(line, QByteArray("role primary 0"));
    } else if (before == QLatin1String("torn")) {
        const QString blockFile = box.blockFile(keyOf(box, program));
        QDir().mkpath(QFileInfo(blockFile).path());
        ::chmod(QFile::encodeName(QFileInfo(blockFile).path()).constData(), 0700);
        QVERIFY(writeAll(blockFile, QByteArray(152, '\0')));
    }
    if (!fail.isEmpty())
        env.insert(fail.section(QLatin1Char('='), 0, 0), fail.section(QLatin1Char('='), 1));

    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    QCOMPARE(firstLine(process), role);
    QCOMPARE(process.readAllStandardError(), messages);

    writeAll(release, "go");
    if (primary.state() != QProcess::NotRunning)
        QVERIFY(primary.waitForFinished());
}

QTEST_GUILESS_MAIN(tst_SingleInstance)
#include "tst_single_instance.moc"
