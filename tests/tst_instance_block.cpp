// The shared block's bytes after each of its writers.

#include "instance_block.h"
#include "shared_block.h"
#include "single_application_private.h"

#include <QtCore/qrandom.h>
#include <QtTest/qtest.h>

#include <cstring>

class tst_InstanceBlock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void crcIsTheIso3309One();
    void resetAndSecondaryStartsWriteTheirFields();
};

void tst_InstanceBlock::crcIsTheIso3309One()
{
    QCOMPARE(qChecksum("123456789", 9), quint16(0x906E));
    QCOMPARE(instanceBlockCrc(QByteArray(152, '\0').constData()), quint16(0x242E));
}

void tst_InstanceBlock::resetAndSecondaryStartsWriteTheirFields()
{
    SingleApplicationPrivate p(nullptr);
    p.sharedBlock = new SharedBlock(QStringLiteral("block-test-%1").arg(QRandomGenerator::global()->generate()));
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

QTEST_GUILESS_MAIN(tst_InstanceBlock)
#include "tst_instance_block.moc"
