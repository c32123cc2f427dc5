// The helper's command line: every run takes part in the choice of the
// primary, makes the hand-off folder and ends with exit code 0; these runs
// do nothing else.

#include "test_support.h"

class tst_EntryPoint : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyRunEndsWithZeroAndLeavesTheFolder_data();
    void everyRunEndsWithZeroAndLeavesTheFolder();
};

void tst_EntryPoint::everyRunEndsWithZeroAndLeavesTheFolder_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("none") << QStringList();
    QTest::newRow("unknown") << QStringList{ "--help" };
    QTest::newRow("install with more") << QStringList{ "install", "extra" };
    QTest::newRow("flag in other case") << QStringList{ "-Ftype_edit", "C:\\a.pdf" };
    QTest::newRow("flag without a path") << QStringList{ "-ftype_edit" };
}

void tst_EntryPoint::everyRunEndsWithZeroAndLeavesTheFolder()
{
    QFETCH(QStringList, arguments);
    Sandbox box;
    const QString helper = box.installHelper(QStringLiteral("Vellix Folder"), QStringLiteral("VcmEntry"));
    QProcess run;
    run.setProcessEnvironment(box.environment());
    run.start(helper, arguments);
    QVERIFY(run.waitForFinished());
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), 0);
    QCOMPARE(run.readAllStandardOutput(), QByteArray());
    QCOMPARE(run.readAllStandardError(), QByteArray());

    const QFileInfo folder(box.tmp() + QStringLiteral("/VellixContextMenu"));
    QVERIFY(folder.isDir());
    QCOMPARE(QDir(folder.filePath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
    QCOMPARE(int(folder.permissions() & (QFile::WriteGroup | QFile::WriteOther)), 0);
    QVERIFY(!QFileInfo::exists(box.config() + QStringLiteral("/Zentharo"))); // no registry entry either
}

QTEST_GUILESS_MAIN(tst_EntryPoint)
#include "tst_entry_point.moc"
