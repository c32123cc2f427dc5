// The pieces of the hand-off that need no second process.

#include "command_line.h"
#include "drop_targets.h"
#include "handoff_folder.h"
#include "instance_probe.h"
#include "private_folder.h"
#include "process_list.h"
#include "text_files.h"

#include <QtCore/qendian.h>
#include <QtCore/qprocess.h>
#include <QtCore/qrandom.h>
#include <QtCore/qsysinfo.h>
#include <QtCore/qtemporarydir.h>
#include <QtTest/qtest.h>

#include <sys/stat.h>
#include <unistd.h>

class tst_LauncherUnits : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void probeCountsMatchingLines_data();
    void probeCountsMatchingLines();
    void taskListCsvGivesWholeImageNames();
    void filesKeepTheirBytesWithoutMark();
    void listingIsPlainFilesInNameOrder();
    void placeIsTheUsersOwn();
    void onlyThisProgramFileCountsAsACopy();
    void pathBytesComeBackAsTheyWere();
    void handoffFilesAndWorkFileNames();
    void dropBlockGivesItsPathsInOrder_data();
    void dropBlockGivesItsPathsInOrder();
};

void tst_LauncherUnits::probeCountsMatchingLines_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("count");
    QTest::newRow("alone") << QStringList{ "init", "Helper.exe", "sh" } << "Helper" << 1;
    QTest::newRow("two copies") << QStringList{ "Helper.exe", "Helper.exe" } << "Helper" << 2;
    QTest::newRow("longer name") << QStringList{ "Helper.exe", "MyHelperX.exe" } << "Helper" << 2;
    QTest::newRow("other case") << QStringList{ "Helper.exe", "helper.exe" } << "Helper" << 1;
    QTest::newRow("empty list") << QStringList() << "Helper" << 0;
    QTest::newRow("name is no pattern") << QStringList{ "Hel.per", "Helxper", "Hel-per" } << "Hel.per" << 1;
    QTest::newRow("brackets of a second download") << QStringList{ "Helper(2).exe", "Helper2.exe" } << "Helper(2)" << 1;
    QTest::newRow("longer than the table's column")
            << QStringList{ "VellixContextMenu - Copy (2).exe", "VellixContextMenu.exe" }
            << "VellixContextMenu - Copy (2)" << 1;
}

void tst_LauncherUnits::probeCountsMatchingLines()
{
    QFETCH(QStringList, names);
    QFETCH(QString, name);
    QFETCH(int, count);
    QCOMPARE(countListedCopies(names, name), count);
}

void tst_LauncherUnits::taskListCsvGivesWholeImageNames()
{
    // As the tool prints it with /FO CSV /NH: every field quoted, CR LF.
    const QString csv = QString::fromUtf8(
            "\"System Idle Process\",\"0\",\"Services\",\"0\",\"8 K\"\r\n"
            "\"VellixContextMenu - Copy (2).exe\",\"4242\",\"Console\",\"1\",\"12,400 K\"\r\n"
            "\"Übersicht.exe\",\"17\",\"Console\",\"1\",\"1,024 K\"\r\n"
            "INFO: No tasks are running which match the specified criteria.\r\n"
            "Warning: \"quoted.exe\" is no line of the list\r\n"
            "\"\",\"1\"\r\n");
    QCOMPARE(imageNamesFromCsv(csv), (QStringList{ "System Idle Process", "VellixContextMenu - Copy (2).exe",
                                                  QString::fromUtf8("Übersicht.exe") }));
    QCOMPARE(imageNamesFromCsv(QString()), QStringList());
}

void tst_LauncherUnits::filesKeepTheirBytesWithoutMark()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("123.txt"));
    const QByteArray bytes = QString::fromUtf8("C:\\Übersicht\\東京;a.pdf").toUtf8() + "\xE9";
    QVERIFY(writeFileWhole(path, "an older, longer content"));
    QVERIFY(writeFileWhole(path, bytes));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), bytes);
    QByteArray read;
    QVERIFY(readFileWhole(path, &read));
    QCOMPARE(read, bytes);
    QVERIFY(!readFileWhole(dir.filePath(QStringLiteral("missing")), &read));
}

void tst_LauncherUnits::listingIsPlainFilesInNameOrder()
{
    QTemporaryDir dir;
    for (const char *name : { "45.txt", "123.txt", "b", "B", ".hidden" }) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("9.txt")));
    const QStringList expected = { "123.txt", "45.txt", "B", "b" };
    QStringList got;
    for (const QString &path : listFilePaths(dir.path())) {
        QVERIFY(QFileInfo(path).isAbsolute());
        got.append(QFileInfo(path).fileName());
    }
    QCOMPARE(got, expected);
}

void tst_LauncherUnits::placeIsTheUsersOwn()
{
    QTemporaryDir dir;
    const auto folder = [&](const char *name, mode_t mode) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QDir().mkpath(path);
        ::chmod(QFile::encodeName(path).constData(), mode);
        return path;
    };
    const QString runtime = folder("run", 0700);
    const QString openRuntime = folder("openrun", 0777);
    const QString temporary = folder("tmp", 0755);
    const QString shared = folder("shared", 01777);
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath(QStringLiteral("cache"))));

    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    qputenv("TMPDIR", QFile::encodeName(temporary));
    QCOMPARE(chooseTemporaryFolder(), runtime);
    // Chosen once per process: what the first use found serves every use.
    const QString chosen = temporaryFolder();
    QCOMPARE(chosen, runtime);
    QCOMPARE(privateChannelName(QStringLiteral("KEY")), runtime + QStringLiteral("/KEY"));

    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(openRuntime));
    QCOMPARE(chooseTemporaryFolder(), temporary);
    qunsetenv("XDG_RUNTIME_DIR");
    QCOMPARE(chooseTemporaryFolder(), temporary);

    // A folder every user can write into, as /tmp is, or none at all: a
    // private folder of the user's cache.
    const QString cache = dir.filePath(QStringLiteral("cache/vellix-runtime-") + QSysInfo::machineHostName());
    for (const QString &unusable : { shared, dir.filePath(QStringLiteral("missing")) }) {
        qputenv("TMPDIR", QFile::encodeName(unusable));
        QCOMPARE(chooseTemporaryFolder(), cache);
        QVERIFY(isPrivateFolder(cache));
    }
    QCOMPARE(temporaryFolder(), chosen);
    qunsetenv("TMPDIR");
    qunsetenv("XDG_CACHE_HOME");
}

void tst_LauncherUnits::onlyThisProgramFileCountsAsACopy()
{
    QVERIFY(isRunningCopy(QCoreApplication::applicationPid()));
    QVERIFY(!isRunningCopy(0));
    QVERIFY(!isRunningCopy(-1));

    // Another program file under this program's name is not a copy of it.
    QTemporaryDir dir;
    const QString namesake = dir.filePath(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), namesake));
    QFile::setPermissions(namesake, QFile::ReadOwner | QFile::ExeOwner);
    QProcess other;
    other.start(namesake, { QStringLiteral("5") });
    QVERIFY(other.waitForStarted());
    QVERIFY(!isRunningCopy(other.processId()));
    other.kill();
    other.waitForFinished();
    QVERIFY(!isRunningCopy(other.processId()));
}

void tst_LauncherUnits::pathBytesComeBackAsTheyWere()
{
    // UTF-8 is text; any other byte is carried as U+DC80 + byte.
    QCOMPARE(pathFromBytes("caf\xC3\xA9"), QString(QChar(0x63)) + QChar(0x61) + QChar(0x66) + QChar(0xE9));
    QCOMPARE(pathFromBytes("caf\xE9"), QStringLiteral("caf") + QChar(0xDCE9));
    // A surrogate's three bytes, an overlong form, a cut sequence: bytes.
    QCOMPARE(pathFromBytes("\xED\xA0\x80"), QString(QChar(0xDCED)) + QChar(0xDCA0) + QChar(0xDC80));
    QCOMPARE(pathFromBytes("\xC0\xAF"), QString(QChar(0xDCC0)) + QChar(0xDCAF));
    QCOMPARE(pathFromBytes("a\xF0\x9F\x98"), QStringLiteral("a") + QChar(0xDCF0) + QChar(0xDC9F) + QChar(0xDC98));
    QCOMPARE(pathFromBytes("\xF0\x9F\x98\x80"), QString(QChar(0xD83D)) + QChar(0xDE00));

    keepPathBytesExact();
    QRandomGenerator random(20261209);
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes(int(random.bounded(1, 24)), Qt::Uninitialized);
        for (char &byte : bytes)
            byte = char(random.bounded(1, 256));
        QCOMPARE(pathToBytes(pathFromBytes(bytes)), bytes);
        // The framework's own conversions keep them too: arguments, file
        // names, the editor's start.
        QCOMPARE(QString::fromLocal8Bit(bytes).toLocal8Bit(), bytes);
        QCOMPARE(QFile::encodeName(QFile::decodeName(bytes)), bytes);
    }
}

void tst_LauncherUnits::handoffFilesAndWorkFileNames()
{
    // The header is ASCII: the verb flag, a space, the primary's id and
    // start stamp, LF. An older program's header names the id alone.
    QCOMPARE(handoffFileBytes(QStringLiteral("-ftype_print"), 4242, 987, QStringLiteral("C:\\Docs\\a.pdf")),
             QByteArray("-ftype_print 4242-987\nC:\\Docs\\a.pdf"));
    HandedPath handed = parseHandoffFile("-ftype_split 17-4\n/home/u/caf\xE9.pdf");
    QCOMPARE(handed.verbFlag, QStringLiteral("-ftype_split"));
    QCOMPARE(handed.primaryPid, qint64(17));
    QCOMPARE(handed.primaryStamp, quint64(4));
    QCOMPARE(pathToBytes(handed.path), QByteArray("/home/u/caf\xE9.pdf"));
    handed = parseHandoffFile("-ftype_split 17\nb");
    QCOMPARE(handed.primaryPid, qint64(17));
    QCOMPARE(handed.primaryStamp, quint64(0));
    QCOMPARE(parseHandoffFile("-ftype_split 17-4-1\nb").verbFlag, QString());
    // A file that holds a path alone goes with the primary's verb.
    QCOMPARE(parseHandoffFile("-ftype_nothing 17\nx").verbFlag, QString());
    QCOMPARE(parseHandoffFile("/a.pdf").path, QStringLiteral("/a.pdf"));

    QCOMPARE(HandoffFolder::postedFileName(4242, 987654), QStringLiteral("4242-987654.txt"));
    qint64 pid = 0;
    quint64 stamp = 0;
    QVERIFY(HandoffFolder::ownerOfWorkFile(QStringLiteral(".claimed-12-345-67-89"), &pid, &stamp));
    QCOMPARE(pid, qint64(12));
    QCOMPARE(stamp, quint64(345));
    QVERIFY(HandoffFolder::ownerOfWorkFile(QStringLiteral(".owner-13-346"), &pid, &stamp));
    QCOMPARE(pid, qint64(13));
    QCOMPARE(stamp, quint64(346));
    QVERIFY(HandoffFolder::ownerOfWorkFile(QStringLiteral(".12-345.draft"), &pid, &stamp));
    QCOMPARE(pid, qint64(12));
    QCOMPARE(stamp, quint64(345));
    // An older program's names carry the id alone.
    QVERIFY(HandoffFolder::ownerOfWorkFile(QStringLiteral(".77.draft"), &pid, &stamp));
    QCOMPARE(pid, qint64(77));
    QCOMPARE(stamp, quint64(0));
    QVERIFY(!HandoffFolder::ownerOfWorkFile(QStringLiteral("12-345.txt"), &pid, &stamp));
    QVERIFY(!HandoffFolder::ownerOfWorkFile(QStringLiteral(".hidden"), &pid, &stamp));
    // Posted names sort as their writers' ids do as text.
    QVERIFY(HandoffFolder::postedFileName(123, 99999) < HandoffFolder::postedFileName(1234, 1));
}

namespace {

// A CF_HDROP block as a file manager hands it over: the DROPFILES header
// (list offset, point, non-client flag, wide flag), then the list.
QByteArray dropBlock(const QByteArray &list, bool wide, quint32 listAt = 20)
{
    QByteArray block(20, '\0');
    qToLittleEndian<quint32>(listAt, block.data());
    qToLittleEndian<quint32>(wide ? 1 : 0, block.data() + 16);
    block.append(QByteArray(int(qMax(listAt, 20u)) - 20, 'x'));
    return block + list;
}

QByteArray wideList(const QStringList &names, bool ended = true)
{
    QByteArray list;
    for (const QString &name : names) {
        for (const QChar c : name + QChar(0))
            list.append(char(c.unicode() & 0xff)).append(char(c.unicode() >> 8));
    }
    return ended ? list + QByteArray(2, '\0') : list;
}

} // namespace

void tst_LauncherUnits::dropBlockGivesItsPathsInOrder_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QStringList>("paths");
    const QStringList three = { QStringLiteral("C:\\Docs\\b 2;v2.pdf"), QString::fromUtf8("C:\\Docs\\\xC3\x9C" "ber \xF0\x9F\x93\x84" ".pdf"),
                                QStringLiteral("\\\\server\\share\\a.pdf") };
    QTest::newRow("UTF-16 names, in the block's order") << dropBlock(wideList(three), true) << three;
    QTest::newRow("the list further on than the header") << dropBlock(wideList(three), true, 28) << three;
    QTest::newRow("8-bit names") << dropBlock(QByteArray("C:\\b.pdf\0C:\\a.pdf\0\0", 20), false)
                                 << QStringList{ QStringLiteral("C:\\b.pdf"), QStringLiteral("C:\\a.pdf") };
    QTest::newRow("what follows the list is no path")
            << dropBlock(wideList(three) + QByteArray("C\0:\0\0\0", 6), true) << three;
    QTest::newRow("no empty name at the block's end") << dropBlock(wideList(three, false), true) << three;
    QTest::newRow("a name the block cuts off is no path")
            << dropBlock(wideList(three, false).chopped(4), true) << QStringList(three.mid(0, 2));
    QTest::newRow("half a character at the end")
            << dropBlock(wideList(three, false) + QByteArray(1, 'C'), true) << three;
    QTest::newRow("an empty list") << dropBlock(QByteArray(2, '\0'), true) << QStringList();
    QTest::newRow("a list inside the header") << dropBlock(wideList(three), true, 16) << QStringList();
    QTest::newRow("a list past the block's end") << dropBlock(QByteArray(), true, 4000) << QStringList();
    QTest::newRow("shorter than the header") << QByteArray(19, '\0') << QStringList();
}

void tst_LauncherUnits::dropBlockGivesItsPathsInOrder()
{
    QFETCH(QByteArray, block);
    QFETCH(QStringList, paths);
    QCOMPARE(pathsOfDropFiles(block), paths);
}

QTEST_GUILESS_MAIN(tst_LauncherUnits)
#include "tst_launcher_units.moc"
