// The shared block's bytes after each of its writers.

#include "instance_block.h"
#include "shared_block.h"
#include "single_application_private.h"
#include "test_support.h"

#include <QtCore/qfile.h>
#include <QtCore/qprocess.h>
#include <QtCore/qrandom.h>
#include <QtCore/qregularexpression.h>
#include <QtCore/qtemporarydir.h>
#include <QtTest/qtest.h>

#include <unistd.h>

#include <cstring>

class tst_InstanceBlock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void crcIsTheIso3309One();
    void resetAndSecondaryStartsWriteTheirFields();
    void anyNonZeroByteMarksALivePrimary();
    void markNamingThisProcessIsStale();
    void nothingIsCommittedToADeadPrimary();
    void aPrimaryClearsOnlyItsOwnMark();
    void shortBlockFileIsNoBlock();
    void pausesSpreadEvenlyFromEightToSeventeen();

private:
    QString randomKey() const
    {
        return QStringLiteral("block-test-%1").arg(QRandomGenerator::global()->generate());
    }
    QString blockFile(const QString &key) const
    {
        return place.path() + QStringLiteral("/vellix-blocks-%1/").arg(::geteuid()) + key;
    }

    QTemporaryDir place;
};

void tst_InstanceBlock::initTestCase()
{
    // The blocks of this run live in a folder of its own.
    qputenv("TMPDIR", QFile::encodeName(place.path()));
    qunsetenv("XDG_RUNTIME_DIR");
}

void tst_InstanceBlock::crcIsTheIso3309One()
{
    QCOMPARE(qChecksum("123456789", 9), quint16(0x906E));
    QCOMPARE(instanceBlockCrc(QByteArray(152, '\0').constData()), quint16(0x242E));
}

void tst_InstanceBlock::resetAndSecondaryStartsWriteTheirFields()
{
    SingleApplicationPrivate p(nullptr);
    p.sharedBlock = new SharedBlock(randomKey());
    QVERIFY(p.sharedBlock->create(152));
    QVERIFY(p.sharedBlock->lock());

    p.resetBlock();
    QByteArray expected(152, '\0');
    expected.replace(8, 8, QByteArray(8, '\xff'));
    expected[144] = char(0xEF);
    expected[145] = char(0x4F);
    QCOMPARE(QByteArray(static_cast<const char *>(p.sharedBlock->constData()), 152), expected);
    QCOMPARE(p.computeBlockCrc(), quint16(0x4FEF));

    p.becomeSecondary();
    p.becomeSecondary();
    const auto *block = static_cast<const InstanceBlock *>(p.sharedBlock->constData());
    QCOMPARE(block->secondaryCounter, 2u);
    QCOMPARE(p.ownNumber, 2u);
    QCOMPARE(block->blockCrc, p.computeBlockCrc());
    QVERIFY(!block->primaryAlive);
    QVERIFY(p.sharedBlock->unlock());
}

// A block that names pid as its primary, marked with the byte given.
static QString plantedMark(const QString &key, SharedBlock &planted, unsigned char mark, qint64 pid)
{
    if (!planted.create(152) || !planted.lock())
        return QString();
    auto *block = static_cast<InstanceBlock *>(planted.data());
    reinterpret_cast<unsigned char *>(block)[0] = mark;
    block->ownerPid = pid;
    block->blockCrc = instanceBlockCrc(block);
    planted.unlock();
    return key;
}

void tst_InstanceBlock::anyNonZeroByteMarksALivePrimary()
{
    // A block of another build may mark its primary with any non-zero byte;
    // the primary is another copy of this very program file, alive.
    WaitingCopy copy;
    QVERIFY(copy.process.state() == QProcess::Running);
    const QString key = randomKey();
    SharedBlock planted(key);
    SingleApplicationPrivate p(nullptr);
    p.instanceKey = plantedMark(key, planted, 2, copy.pid());
    QVERIFY(!p.instanceKey.isEmpty());
    QCOMPARE(p.decideRole(true, 0), SingleApplicationPrivate::BecameSecondary);
    QCOMPARE(p.ownNumber, 1u);
    QCOMPARE(reinterpret_cast<const unsigned char *>(planted.constData())[0], 2);
    copy.end();
}

void tst_InstanceBlock::markNamingThisProcessIsStale()
{
    // The id of a primary that died may be given to this very process: its
    // mark is no live primary to hand off to.
    const QString key = randomKey();
    SharedBlock planted(key);
    SingleApplicationPrivate p(nullptr);
    p.instanceKey = plantedMark(key, planted, 1, QCoreApplication::applicationPid());
    QVERIFY(!p.instanceKey.isEmpty());
    QCOMPARE(p.decideRole(true, 0), SingleApplicationPrivate::BecamePrimary);
    QVERIFY(p.listener != nullptr);
}

void tst_InstanceBlock::nothingIsCommittedToADeadPrimary()
{
    // Registered with a live primary that then dies: its mark stays, but
    // nothing is committed to it.
    WaitingCopy copy;
    QVERIFY(copy.process.state() == QProcess::Running);
    const QString key = randomKey();
    SharedBlock planted(key);
    SingleApplicationPrivate p(nullptr);
    p.instanceKey = plantedMark(key, planted, 1, copy.pid());
    QCOMPARE(p.decideRole(true, 0), SingleApplicationPrivate::BecameSecondary);
    int commits = 0;
    const auto commit = [&] { return ++commits > 0; };
    QVERIFY(p.commitToPrimary(commit, nullptr));
    copy.end();
    QVERIFY(!p.commitToPrimary(commit, nullptr));
    QCOMPARE(commits, 1);
}

void tst_InstanceBlock::aPrimaryClearsOnlyItsOwnMark()
{
    // Another copy took the role over meanwhile (a reset of a block it
    // thought dead): the deposed primary's end leaves that one's mark.
    WaitingCopy copy;
    QVERIFY(copy.process.state() == QProcess::Running);
    const QString key = randomKey();
    SingleApplicationPrivate p(nullptr);
    p.instanceKey = key;
    QCOMPARE(p.decideRole(true, 0), SingleApplicationPrivate::BecamePrimary);
    SharedBlock other(key);
    QVERIFY(other.attach(152));
    QVERIFY(other.lock());
    auto *block = static_cast<InstanceBlock *>(other.data());
    block->ownerPid = copy.pid();
    block->blockCrc = instanceBlockCrc(block);
    QVERIFY(other.unlock());
    const QByteArray before(static_cast<const char *>(other.constData()), 152);

    bool ran = false;
    QVERIFY(p.releasePrimaryRole(12345, false, 1000, [&] { ran = true; }));
    QVERIFY(ran);
    QVERIFY(p.listener == nullptr);
    QCOMPARE(QByteArray(static_cast<const char *>(other.constData()), 152), before);
    copy.end();
}

void tst_InstanceBlock::shortBlockFileIsNoBlock()
{
    const QString key = randomKey();
    {
        SharedBlock made(key); // makes the folder
        QVERIFY(made.create(152));
    }
    QFile file(blockFile(key));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(QByteArray(100, '\x01')), 100);
    file.close();

    SingleApplicationPrivate p(nullptr);
    p.instanceKey = key;
    QTest::ignoreMessage(QtCriticalMsg, "SingleApplication: Unable to attach to shared memory block.");
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^SingleApplication:  %1 \".+100 bytes.+\"$")
                                                                   .arg(int(QSharedMemory::InvalidSize))));
    QCOMPARE(p.decideRole(true, 0), SingleApplicationPrivate::SharedMemoryFailed);
    QVERIFY(p.listener == nullptr);
    QCOMPARE(QFileInfo(blockFile(key)).size(), 100);
}

void tst_InstanceBlock::pausesSpreadEvenlyFromEightToSeventeen()
{
    QCOMPARE(SingleApplicationPrivate::jitterPauseMs(0), 8);
    QCOMPARE(SingleApplicationPrivate::jitterPauseMs(0xffffffffu), 17);
    // Over many draws of the process-wide generator, as the pauses draw.
    const int draws = 100000;
    QMap<int, int> counts;
    for (int i = 0; i < draws; ++i)
        ++counts[SingleApplicationPrivate::jitterPauseMs(QRandomGenerator::global()->generate())];
    QCOMPARE(counts.firstKey(), 8);
    QCOMPARE(counts.lastKey(), 17);
    QCOMPARE(counts.size(), 10);
    for (int count : qAsConst(counts))
        QVERIFY2(qAbs(count - draws / 10) < draws / 200, QByteArray::number(count).constData());
}

int main(int argc, char **argv)
{
    if (runAsWaitingCopy())
        return 0;
    QCoreApplication app(argc, argv);
    tst_InstanceBlock test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_instance_block.moc"
