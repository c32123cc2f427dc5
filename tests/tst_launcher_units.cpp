// The pieces of the hand-off that need no second process.

#include "instance_probe.h"
#include "text_files.h"

#include <QtCore/qtemporarydir.h>
#include <QtTest/qtest.h>

class tst_LauncherUnits : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void probeCountsMatchingLines_data();
    void probeCountsMatchingLines();
    void textFilesAreUtf8WithoutMark();
    void listingIsPlainFilesInNameOrder();
};

void tst_LauncherUnits::probeCountsMatchingLines_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("count");
    QTest::newRow("alone") << QByteArray("init\r\nHelper.exe\r\nsh") << "Helper" << 1;
    QTest::newRow("two copies") << QByteArray("Helper.exe\r\nHelper.exe") << "Helper" << 2;
    QTest::newRow("longer name") << QByteArray("Helper.exe\r\nMyHelperX.exe") << "Helper" << 2;
    QTest::newRow("other case") << QByteArray("Helper.exe\r\nhelper.exe") << "Helper" << 1;
    QTest::newRow("bare LF does not split") << QByteArray("Helper.exe\nHelper.exe") << "Helper" << 1;
    QTest::newRow("nothing after NUL") << QByteArray("Helper.exe\r\n\0Helper.exe", 24) << "Helper" << 1;
    QTest::newRow("empty list") << QByteArray() << "Helper" << 0;
    QTest::newRow("name is no pattern") << QByteArray("Hel.per\r\nHelxper\r\nHel-per") << "Hel.per" << 1;
    QTest::newRow("brackets of a second download") << QByteArray("Helper(2).exe\r\nHelper2.exe") << "Helper(2)" << 1;
    QTest::newRow("bad UTF-8") << QByteArray("\xff\xfeHelper\r\n\xc3") << "Helper" << 1;
}

void tst_LauncherUnits::probeCountsMatchingLines()
{
    QFETCH(QByteArray, list);
    QFETCH(QString, name);
    QFETCH(int, count);
    QCOMPARE(countListedCopies(list, name), count);
}

void tst_LauncherUnits::textFilesAreUtf8WithoutMark()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("123.txt"));
    const QString text = QString::fromUtf8("C:\\Übersicht\\東京;a.pdf");
    appendTextToFile(path, text);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), text.toUtf8());
    QCOMPARE(readTextFile(path), text);
    QCOMPARE(readTextFile(dir.filePath(QStringLiteral("missing"))), QString());
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

QTEST_GUILESS_MAIN(tst_LauncherUnits)
#include "tst_launcher_units.moc"
