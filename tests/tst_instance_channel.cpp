// The primary's side of the instance channel, fed real frames over a local
// socket, and the frame the connecting side writes, byte for byte.

#include "handshake.h"
#include "instance_block.h"
#include "private_folder.h"
#include "shared_block.h"
#include "single_application.h"
#include "single_application_private.h"
#include "test_support.h"

#include <QtCore/qcryptographichash.h>
#include <QtCore/qelapsedtimer.h>
#include <QtCore/qmetaobject.h>
#include <QtCore/qtemporarydir.h>
#include <QtCore/qrandom.h>
#include <QtNetwork/qlocalserver.h>
#include <QtNetwork/qlocalsocket.h>
#include <QtTest/qsignalspy.h>
#include <QtTest/qtest.h>

#include <memory>

namespace {

QString randomKey()
{
    const QByteArray seed = QByteArray::number(QRandomGenerator::global()->generate64());
    return QString::fromLatin1(QCryptographicHash::hash(seed, QCryptographicHash::Sha256)
                                       .toBase64().replace('/', '_'));
}

QByteArray bigEndian(quint64 value, int bytes)
{
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xff));
    return out;
}

// The frame as the format describes it, put together by hand.
QByteArray frameOf(const QString &key, quint8 kind, quint32 number, int crcFlip = 0)
{
    QByteArray body = bigEndian(quint32(key.size()), 4) + key.toLatin1() + char(kind)
            + bigEndian(number, 4);
    body += bigEndian(quint16(qChecksum(body.constData(), uint(body.size())) ^ crcFlip), 2);
    return bigEndian(quint64(body.size()), 8) + body;
}

} // namespace

class tst_InstanceChannel : public QObject
{
    Q_OBJECT

public:
    explicit tst_InstanceChannel(SingleApplication *app) : app(app) {}

private Q_SLOTS:
    void init();
    void cleanup();

    void socketSlotsCanBeInvokedByName();
    void frameHasTheDocumentedBytes();
    void listenerAdmitsByScope();
    void announceWritesOneFrameOnce();
    void secondaryAnnouncesItsStartOnTheWire();
    void announceWithoutListenerGivesUpInTime();

    void listenerFollowsTheHandshake_data();
    void listenerFollowsTheHandshake();
    void peerEntriesGoWithTheirSockets();

private:
    void startListener(int options);

    SingleApplication *app;
    std::unique_ptr<SingleApplicationPrivate> primary;
    QStringList events;
};

void tst_InstanceChannel::init()
{
    events.clear();
    connect(app, &SingleApplication::instanceStarted, this, [this] { events << QStringLiteral("started"); });
    connect(app, &SingleApplication::receivedMessage, this, [this](quint32 id, const QByteArray &bytes) {
        events << QStringLiteral("message %1 %2").arg(id).arg(QString::fromLatin1(bytes));
    });
}

void tst_InstanceChannel::cleanup()
{
    disconnect(app, nullptr, this, nullptr);
    if (primary) {
        delete primary->listener; // the block's owner would do this; there is no block here
        primary->listener = nullptr;
        primary.reset();
    }
}

void tst_InstanceChannel::startListener(int options)
{
    primary.reset(new SingleApplicationPrivate(app));
    primary->instanceKey = randomKey();
    primary->startOptions = options;
    primary->startListener();
    QVERIFY(primary->listener->isListening());
}

void tst_InstanceChannel::listenerAdmitsByScope()
{
    startListener(SingleApplication::PerUserScope);
    QCOMPARE(primary->listener->socketOptions(), QLocalServer::UserAccessOption);
    const QString socket = primary->listener->fullServerName();
    QCOMPARE(socket, privateChannelName(primary->instanceKey));
    QCOMPARE(QFileInfo(socket).permissions() & (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup | QFile::WriteGroup),
             QFile::Permissions());
    cleanup();
    startListener(0);
    QCOMPARE(primary->listener->socketOptions(), QLocalServer::WorldAccessOption);
    QVERIFY(QFileInfo(primary->listener->fullServerName()).permissions() & QFile::WriteOther);
}

void tst_InstanceChannel::frameHasTheDocumentedBytes()
{
    const QString key = randomKey();
    QCOMPARE(key.size(), 44);
    const QByteArray body = handshakeBody(key, RefusedStart, 0x01020304);
    const QByteArray frame = handshakePrefix(body.size()) + body;
    QCOMPARE(frame.size(), 63);
    QCOMPARE(frame.left(8), QByteArray::fromHex("0000000000000037"));
    QCOMPARE(frame.mid(8, 4), QByteArray::fromHex("0000002c"));
    QCOMPARE(frame.mid(12, 44), key.toLatin1());
    QCOMPARE(frame.mid(56, 5), QByteArray::fromHex("0101020304"));
    QCOMPARE(frame.right(2), bigEndian(qChecksum(frame.constData() + 8, 53), 2));
    QCOMPARE(frame, frameOf(key, RefusedStart, 0x01020304));
}

void tst_InstanceChannel::announceWritesOneFrameOnce()
{
    QLocalServer server;
    const QString key = randomKey();
    QVERIFY(server.listen(privateChannelName(key)));

    SingleApplicationPrivate starter(app);
    starter.instanceKey = key;
    starter.ownNumber = 7;
    QVERIFY(starter.announceToPrimary(1000, SecondaryStart));
    QVERIFY(starter.announceToPrimary(1000, SecondaryStart)); // connected: nothing more is sent

    QVERIFY(server.waitForNewConnection(1000));
    QLocalSocket *peer = server.nextPendingConnection();
    QTRY_VERIFY(peer->bytesAvailable() >= 63);
    QTest::qWait(50);
    QCOMPARE(peer->readAll(), frameOf(key, SecondaryStart, 7));
}

void tst_InstanceChannel::secondaryAnnouncesItsStartOnTheWire()
{
    // A block whose primary is another live copy of this program, and a
    // server on its name standing in for that primary's.
    WaitingCopy copy;
    QVERIFY(copy.process.state() == QProcess::Running);
    const QString key = randomKey();
    SharedBlock planted(key);
    QVERIFY(planted.create(int(sizeof(InstanceBlock))));
    auto *block = static_cast<InstanceBlock *>(planted.data());
    block->primaryAlive = 1;
    block->ownerPid = copy.pid();
    block->blockCrc = instanceBlockCrc(block);
    QLocalServer server;
    QVERIFY(server.listen(privateChannelName(key)));

    SingleApplicationPrivate starter(app);
    starter.instanceKey = key;
    starter.startOptions = SingleApplication::AnnounceSecondaries;
    QCOMPARE(starter.decideRole(true, 1000), SingleApplicationPrivate::BecameSecondary);
    QVERIFY(server.waitForNewConnection(1000));
    QLocalSocket *peer = server.nextPendingConnection();
    QTRY_VERIFY(peer->bytesAvailable() >= 63);
    const QByteArray frame = peer->readAll();
    // Kind 2, a secondary's start, then its number: the first one.
    QCOMPARE(frame.mid(56, 5), QByteArray::fromHex("0200000001"));
}

void tst_InstanceChannel::announceWithoutListenerGivesUpInTime()
{
    SingleApplicationPrivate starter(app);
    starter.instanceKey = randomKey();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!starter.announceToPrimary(300, RefusedStart));
    QVERIFY(clock.elapsed() >= 300);
    QVERIFY(clock.elapsed() < 2000);

    clock.restart();
    QVERIFY(!starter.announceToPrimary(0, RefusedStart)); // one attempt after one pause
    QVERIFY(clock.elapsed() >= 8);
    QVERIFY(clock.elapsed() < 300);
}

using Chunks = QList<QByteArray>;

void tst_InstanceChannel::listenerFollowsTheHandshake_data()
{
    QTest::addColumn<int>("options");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("mangle");
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<bool>("peerLeaves");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("closedByPrimary");

    enum { Intact, InPieces, OtherCase, WrongCrc, ShortFields, AnnounceMore };
    const QStringList none;
    QTest::newRow("refused start") << 1 << 1 << int(Intact) << QByteArray() << false
                                   << QStringList{ "started" } << false;
    QTest::newRow("in pieces") << 1 << 1 << int(InPieces) << QByteArray() << false
                               << QStringList{ "started" } << false;
    QTest::newRow("with further bytes") << 1 << 1 << int(Intact) << QByteArray("hello") << false
                                        << QStringList{ "started", "message 9 hello" } << false;
    QTest::newRow("secondary, not announced") << 1 << 2 << int(Intact) << QByteArray("x") << false
                                              << QStringList{ "message 9 x" } << false;
    QTest::newRow("secondary, announced") << 5 << 2 << int(Intact) << QByteArray() << false
                                          << QStringList{ "started" } << false;
    QTest::newRow("unknown kind") << 1 << 7 << int(Intact) << QByteArray("y") << false
                                  << QStringList{ "message 9 y" } << false;
    QTest::newRow("key in other case") << 1 << 1 << int(OtherCase) << QByteArray("z") << false
                                       << QStringList{ "message 0 z" } << true;
    QTest::newRow("wrong crc") << 1 << 1 << int(WrongCrc) << QByteArray() << false << none << true;
    QTest::newRow("length shorter than the fields") << 1 << 1 << int(ShortFields) << QByteArray()
                                                    << false << none << true;
    QTest::newRow("body never completes") << 1 << 1 << int(AnnounceMore) << QByteArray() << true
                                          << QStringList{ "message 0 partial" } << false;
}

void tst_InstanceChannel::listenerFollowsTheHandshake()
{
    QFETCH(int, options);
    QFETCH(int, kind);
    QFETCH(int, mangle);
    QFETCH(QByteArray, tail);
    QFETCH(bool, peerLeaves);
    QFETCH(QStringList, expected);
    QFETCH(bool, closedByPrimary);
    startListener(options);

    const QString key = primary->instanceKey;
    QByteArray frame = frameOf(key, quint8(kind), 9);
    Chunks chunks{ frame + tail };
    switch (mangle) {
    case 1: // prefix in three pieces, then the body in two
        chunks = { frame.left(3), frame.mid(3, 4), frame.mid(7, 20), frame.mid(27) + tail };
        break;
    case 2:
        chunks = { frameOf(key.toLower() == key ? key.toUpper() : key.toLower(), quint8(kind), 9) + tail };
        break;
    case 3:
        chunks = { frameOf(key, quint8(kind), 9, 0x0100) + tail };
        break;
    case 4:
        chunks = { bigEndian(3, 8) + QByteArray("abc") };
        break;
    case 5:
        chunks = { bigEndian(500, 8) + QByteArray("partial") };
        break;
    }

    QLocalSocket client;
    client.connectToServer(privateChannelName(key));
    QVERIFY(client.waitForConnected(1000));
    for (const QByteArray &chunk : chunks) {
        client.write(chunk);
        client.flush();
        QTest::qWait(40);
        if (&chunk != &chunks.last())
            QVERIFY(events.isEmpty()); // nothing before the handshake is whole
    }
    if (peerLeaves) {
        QVERIFY(events.isEmpty());
        client.disconnectFromServer();
    }
    QTest::qWait(80);
    QCOMPARE(events, expected);
    QCOMPARE(client.state() == QLocalSocket::UnconnectedState, closedByPrimary || peerLeaves);
}

void tst_InstanceChannel::peerEntriesGoWithTheirSockets()
{
    startListener(1);
    const QString key = primary->instanceKey;

    // Lengths of zero, below zero and past any real handshake are refused at
    // once, without waiting for a byte more.
    for (qint64 length : { qint64(0), qint64(-5), qint64(1) << 40 }) {
        QLocalSocket client;
        client.connectToServer(privateChannelName(key));
        QVERIFY(client.waitForConnected(1000));
        client.write(bigEndian(quint64(length), 8));
        client.flush();
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QLocalSocket::UnconnectedState, 2000);
    }
    QTRY_VERIFY(primary->peers.isEmpty());

    // Two bursts after the handshake are two messages from the same peer.
    QLocalSocket client;
    client.connectToServer(privateChannelName(key));
    QVERIFY(client.waitForConnected(1000));
    client.write(frameOf(key, 2, 4));
    client.flush();
    QTest::qWait(40);
    client.write("one");
    client.flush();
    QTest::qWait(40);
    client.write("two");
    client.flush();
    QTRY_COMPARE(events.size(), 2);
    QCOMPARE(events, (QStringList{ "message 4 one", "message 4 two" }));
    QCOMPARE(primary->peers.size(), 1);
    QCOMPARE(int(primary->peers.first().phase), int(PeerState::Established));
    client.disconnectFromServer();
    QTRY_VERIFY(primary->peers.isEmpty());
}

void tst_InstanceChannel::socketSlotsCanBeInvokedByName()
{
    // Asking the slots for their argument type registers it; nothing else
    // in this run may have done so before (this test comes first).
    QCOMPARE(QMetaType::type("QLocalSocket*"), int(QMetaType::UnknownType));
    startListener(SingleApplication::PerUserScope);
    const QMetaObject *meta = primary->metaObject();
    QCOMPARE(meta->className(), "SingleApplicationPrivate");
    QCOMPARE(meta->methodCount() - meta->methodOffset(), 3);
    for (const char *slot : { "slotDataAvailable(QLocalSocket*,quint32)", "slotClientConnectionClosed(QLocalSocket*,quint32)" }) {
        const QMetaMethod method = meta->method(meta->indexOfSlot(slot));
        QVERIFY2(method.isValid(), slot);
        const int socketType = method.parameterType(0);
        QCOMPARE(QMetaType::typeName(socketType), "QLocalSocket*");
        QCOMPARE(socketType, qMetaTypeId<QLocalSocket *>());
        QVERIFY(QMetaType::typeFlags(socketType) & QMetaType::PointerToQObject);
        QCOMPARE(method.parameterType(1), int(QMetaType::UInt));
    }

    // Queued, the socket travels as a registered type: a call that could
    // not copy its argument would be refused here.
    QLocalSocket idle;
    QVERIFY(QMetaObject::invokeMethod(primary.get(), "slotClientConnectionClosed", Qt::QueuedConnection,
                                      Q_ARG(QLocalSocket *, &idle), Q_ARG(quint32, 9)));
    QCoreApplication::processEvents();
    QCOMPARE(events, QStringList());
}

int main(int argc, char **argv)
{
    if (runAsWaitingCopy())
        return 0;
    // The channel and the block live in a temporary folder of this run's.
    QTemporaryDir place;
    qputenv("TMPDIR", QFile::encodeName(place.path()));
    qunsetenv("XDG_RUNTIME_DIR");
    // A key of this test run alone, so parallel runs never meet.
    SingleApplication app(argc, argv, true, SingleApplication::PerUserScope, 1000,
                          QString::number(QCoreApplication::applicationPid()));
    tst_InstanceChannel test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_instance_channel.moc"
