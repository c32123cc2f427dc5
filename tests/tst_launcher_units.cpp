// The pieces of the hand-off that need no second process.

#include "instance_probe.h"
#include "private_folder.h"
#include "process_list.h"
#include "text_files.h"

#include <QtCore/qprocess.h>
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
    void textFilesAreUtf8WithoutMark();
    void listingIsPlainFilesInNameOrder();
    void placeIsTheUsersOwn();
    void onlyThisProgramFileCountsAsACopy();
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

QTEST_GUILESS_MAIN(tst_LauncherUnits)
#include "tst_launcher_units.moc"
