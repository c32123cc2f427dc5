// A selection of files picked in the file manager: one copy of the helper
// per file, and exactly one start of the editor with every path.

#include "selection_support.h"

#include <QtCore/qdatetime.h>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList numberedPaths(int count, const QString &pattern = QStringLiteral("C:\\Docs\\file %1.pdf"))
{
    QStringList paths;
    for (int i = 0; i < count; ++i)
        paths.append(pattern.arg(i));
    return paths;
}

// The paths in the textual order of the process ids of their copies.
QStringList inPidTextOrder(const QList<qint64> &pids, const QStringList &paths)
{
    QList<QPair<QString, QString>> byPid;
    for (int i = 0; i < pids.size(); ++i)
        byPid.append({ QString::number(pids[i]), paths[i] });
    std::sort(byPid.begin(), byPid.end());
    QStringList ordered;
    for (const auto &entry : byPid)
        ordered.append(entry.second);
    return ordered;
}

// The one argument the editor gets: the flag, then the paths in order.
QStringList launchArgument(const QString &flag, const QStringList &orderedPaths)
{
    return { (QStringList{ flag } + orderedPaths).join(QLatin1Char(';')) };
}

bool allEndedWithZero(const Processes &copies)
{
    if (!waitAll(copies, 120000))
        return false;
    return std::all_of(copies.begin(), copies.end(), [](const auto &copy) {
        return copy->exitStatus() == QProcess::NormalExit && copy->exitCode() == 0;
    });
}

qint64 nowNs()
{
    return QDateTime::currentMSecsSinceEpoch() * 1000000;
}

} // namespace

class tst_Selection : public QObject
{
    Q_OBJECT

private:
    SelectionRig rig(const QString &name)
    {
        return SelectionRig(name, QStringLiteral(EDITOR_DOUBLE_PATH));
    }

private Q_SLOTS:
    void oneLaunchWithEveryPath_data();
    void oneLaunchWithEveryPath();
    void lateCopiesLaunchOnTheirOwnAndLoseNothing();
    void pathsPassUnchanged();
    void onlyTheFirstPathCounts();
    void otherEntriesOfTheFolder();
    void eachPathGoesUnderItsOwnVerb();
    void longSelectionGoesInSeveralStarts();
    void strangerWithOurNameDelaysTheLaunch_data();
    void strangerWithOurNameDelaysTheLaunch();
    void foldersNotOursAreNeitherReadNorRemoved_data();
    void foldersNotOursAreNeitherReadNorRemoved();
    void waitIsBounded();
    void copyFindsItselfWhateverItIsCalled_data();
    void copyFindsItselfWhateverItIsCalled();
};

void tst_Selection::oneLaunchWithEveryPath_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("apartMs");
    QTest::newRow("1 file") << 1 << 0;
    QTest::newRow("2 files") << 2 << 0;
    QTest::newRow("15 files") << 15 << 0;
    QTest::newRow("100 files") << 100 << 0;
    QTest::newRow("15 files, 20 ms apart") << 15 << 20;
    QTest::newRow("15 files, 100 ms apart") << 15 << 100;
}

void tst_Selection::oneLaunchWithEveryPath()
{
    QFETCH(int, count);
    QFETCH(int, apartMs);
    SelectionRig r = rig(QStringLiteral("Vcm1%1x%2q").arg(count).arg(apartMs));
    const QStringList paths = numberedPaths(count);
    const Processes copies = r.start(QStringLiteral("-ftype_merge"), paths, apartMs);
    QVERIFY(allEndedWithZero(copies));

    const QList<Launch> launches = r.launches();
    QCOMPARE(launches.size(), 1);
    QCOMPARE(launches[0].arguments, launchArgument(QStringLiteral("-ftype_merge"), inPidTextOrder(r.pids, paths)));
    QVERIFY(!QFileInfo::exists(r.handoffFolder()));
    // The editor runs in the install folder, not in the copies' own.
    const QDir launched(r.box.path(r.installFolder() + QStringLiteral("/launches")));
    const QStringList cwd = launched.entryList({ QStringLiteral("*.cwd") });
    QCOMPARE(cwd.size(), 1);
    QCOMPARE(QString::fromUtf8(readAll(launched.filePath(cwd.first()))),
             QFileInfo(r.helper).canonicalPath());
}

void tst_Selection::lateCopiesLaunchOnTheirOwnAndLoseNothing()
{
    // About as far apart as the quiet window, some farther: primaries come
    // and go while the next copies start, some just as one gives up its role.
    // One gap is long enough for any primary, however slow the machine, to
    // have started the editor before the next copy comes.
    SelectionRig r = rig(QStringLiteral("Vcm20q"));
    const int gapsMs[] = { 0, 180, 220, 260, 450, 200, 4000, 240, 500, 210, 230, 190, 600 };
    QStringList paths;
    Processes copies;
    for (int gap : gapsMs) {
        QThread::msleep(ulong(gap));
        paths.append(QStringLiteral("C:\\Docs\\late %1.pdf").arg(paths.size()));
        for (auto &copy : r.start(QStringLiteral("-ftype_edit"), { paths.last() }))
            copies.push_back(std::move(copy));
    }
    QVERIFY(allEndedWithZero(copies));

    const QList<Launch> launches = r.launches(600);
    QVERIFY(launches.size() >= 2);
    QCOMPARE(deliveredPaths(launches, QStringLiteral("-ftype_edit")), sorted(paths)); // each once
    QVERIFY(!QFileInfo::exists(r.handoffFolder()));
}

void tst_Selection::pathsPassUnchanged()
{
    SelectionRig r = rig(QStringLiteral("Vcm21q"));
    const QStringList paths = {
        QStringLiteral("C:\\Docs\\a;b.pdf"),
        QStringLiteral("C:\\My Documents\\report 2026.pdf"),
        QString::fromUtf8("C:\\Dokumente\\Übersicht – 東京.pdf"),
        QStringLiteral("/home/user/forward/slashes.pdf"),
    };
    const Processes copies = r.start(QStringLiteral("-ftype_print"), paths);
    QVERIFY(allEndedWithZero(copies));
    const QList<Launch> launches = r.launches();
    QCOMPARE(launches.size(), 1);
    QCOMPARE(launches[0].arguments, launchArgument(QStringLiteral("-ftype_print"), inPidTextOrder(r.pids, paths)));
}

void tst_Selection::onlyTheFirstPathCounts()
{
    SelectionRig r = rig(QStringLiteral("Vcm28q"));
    QProcess copy;
    copy.setProcessEnvironment(r.box.environment());
    copy.start(r.helper, { "-ftype_split", "C:\\a.pdf", "C:\\b.pdf" });
    QVERIFY(copy.waitForFinished());
    QCOMPARE(copy.exitCode(), 0);
    QCOMPARE(r.launches().value(0).arguments, QStringList{ "-ftype_split;C:\\a.pdf" });
}

void tst_Selection::otherEntriesOfTheFolder()
{
    SelectionRig r = rig(QStringLiteral("Vcm22q"));
    const QDir folder(r.handoffFolder());
    QVERIFY(QDir().mkpath(folder.filePath(QStringLiteral("sub"))));
    ::chmod(QFile::encodeName(folder.path()).constData(), 0700);
    QVERIFY(writeAll(folder.filePath(QStringLiteral("notes.md")), "extra"));
    QVERIFY(writeAll(folder.filePath(QStringLiteral(".hidden")), "hidden"));
    QVERIFY(writeAll(folder.filePath(QStringLiteral("sub/inner.txt")), "inner"));

    const Processes copies = r.start(QStringLiteral("-ftype_split"), { QStringLiteral("C:\\x.pdf") });
    QVERIFY(allEndedWithZero(copies));
    const QList<Launch> launches = r.launches();
    QCOMPARE(launches.size(), 1);
    // Digits sort before letters: the copy's own file comes first.
    QCOMPARE(launches[0].arguments, QStringList{ QStringLiteral("-ftype_split;C:\\x.pdf;extra") });
    QVERIFY(!QFileInfo::exists(r.handoffFolder()));
}

void tst_Selection::eachPathGoesUnderItsOwnVerb()
{
    // Merge on two files; while that primary waits (a stranger with our
    // name holds it), Print on three others. Their copies find the merge
    // primary and hand their paths to it, yet they are printed.
    SelectionRig r = rig(QStringLiteral("Vcm23q"));
    QProcess stranger;
    stranger.start(r.box.install(QStringLiteral("/bin/sleep"), QStringLiteral("other"), QStringLiteral("Vcm23qHold")),
                   { QStringLiteral("3") });
    QVERIFY(stranger.waitForStarted());
    const QStringList merged = { QStringLiteral("C:\\m1.pdf"), QStringLiteral("C:\\m2.pdf") };
    const QStringList printed = { QStringLiteral("C:\\p1.pdf"), QStringLiteral("C:\\p2.pdf"), QStringLiteral("C:\\p3.pdf") };
    Processes first = r.start(QStringLiteral("-ftype_merge"), merged);
    QTRY_COMPARE_WITH_TIMEOUT(QDir(r.handoffFolder()).entryList({ QStringLiteral("*.txt") }).size(), 2, 10000);
    Processes second = r.start(QStringLiteral("-ftype_print"), printed);
    QVERIFY(allEndedWithZero(first));
    QVERIFY(allEndedWithZero(second));
    stranger.waitForFinished();

    const QList<Launch> launches = r.launches();
    QCOMPARE(launches.size(), 2);
    QCOMPARE(launchesUnder(launches, QStringLiteral("-ftype_merge")).value(0).arguments,
             launchArgument(QStringLiteral("-ftype_merge"), inPidTextOrder(r.pids.mid(0, 2), merged)));
    QCOMPARE(launchesUnder(launches, QStringLiteral("-ftype_print")).value(0).arguments,
             launchArgument(QStringLiteral("-ftype_print"), inPidTextOrder(r.pids.mid(2), printed)));
}

void tst_Selection::longSelectionGoesInSeveralStarts()
{
    // 40 paths of 5,000 bytes: joined, more than one argument may hold (26
    // of them).
    SelectionRig r = rig(QStringLiteral("Vcm29q"));
    const QStringList paths = numberedPaths(40, QStringLiteral("/deep/") + QString(4980, QLatin1Char('d')) + QStringLiteral("/%1.pdf"));
    const Processes copies = r.start(QStringLiteral("-ftype_print"), paths);
    QVERIFY(allEndedWithZero(copies));
    const QList<Launch> launches = r.launches();
    QVERIFY(launches.size() >= 2);
    // Each start holds whole paths in order; the starts, made one right
    // after another, may record their times in either order.
    const QStringList expected = inPidTextOrder(r.pids, paths);
    QMap<int, QStringList> byFirstPath;
    for (const Launch &launch : launches) {
        QCOMPARE(launch.arguments.size(), 1);
        QVERIFY(launch.arguments[0].toUtf8().size() < 128 * 1024);
        QStringList elements = launch.arguments[0].split(QLatin1Char(';'));
        QCOMPARE(elements.takeFirst(), QStringLiteral("-ftype_print"));
        byFirstPath.insert(expected.indexOf(elements.value(0)), elements);
    }
    QStringList delivered;
    QStringList previous;
    for (const QStringList &elements : qAsConst(byFirstPath)) {
        // As many as fit: a start would not have held the next one's first.
        if (!previous.isEmpty()) {
            const QString fuller = QStringLiteral("-ftype_print;") + previous.join(QLatin1Char(';'))
                    + QLatin1Char(';') + elements.first();
            QVERIFY(fuller.toUtf8().size() + 1 > 128 * 1024);
        }
        delivered += elements;
        previous = elements;
    }
    QCOMPARE(delivered, expected); // every path once, whole, in order
    QVERIFY(!QFileInfo::exists(r.handoffFolder()));
}

void tst_Selection::strangerWithOurNameDelaysTheLaunch_data()
{
    QTest::addColumn<QString>("strangerName");
    QTest::addColumn<bool>("delays");
    QTest::newRow("name contains ours") << QStringLiteral("Vcm24qDaemon") << true;
    QTest::newRow("ours in other letter case") << QStringLiteral("vcm24Q") << false;
    QTest::newRow("ours only in an argument") << QString() << false;
}

void tst_Selection::strangerWithOurNameDelaysTheLaunch()
{
    QFETCH(QString, strangerName);
    QFETCH(bool, delays);
    SelectionRig r = rig(QStringLiteral("Vcm24q"));
    // Long enough that even a slow (sanitized) selection is done well before
    // the stranger ends, unless it waits for it.
    QProcess stranger;
    if (strangerName.isEmpty())
        stranger.start(QStringLiteral("/bin/sh"), { "-c", "sleep 6; true", "Vcm24q" });
    else
        stranger.start(r.box.install(QStringLiteral("/bin/sleep"), QStringLiteral("other"), strangerName),
                       { QStringLiteral("6") });
    QVERIFY(stranger.waitForStarted());
    const qint64 start = nowNs();
    const Processes copies = r.start(QStringLiteral("-ftype_edit"), numberedPaths(3));
    QVERIFY(allEndedWithZero(copies));
    QVERIFY(stranger.waitForFinished());
    const qint64 strangerEnd = nowNs();

    const QList<Launch> launches = r.launches();
    QCOMPARE(launches.size(), 1);
    if (delays)
        QVERIFY(launches[0].startedNs > start + qint64(5900) * 1000000);
    else
        QVERIFY(launches[0].startedNs < strangerEnd - qint64(2000) * 1000000);
}

void tst_Selection::foldersNotOursAreNeitherReadNorRemoved_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("link to a folder of the user's") << QStringLiteral("link");
    QTest::newRow("folder others can write into") << QStringLiteral("open");
    QTest::newRow("folder of another user") << QStringLiteral("foreign");
    QTest::newRow("file in its place") << QStringLiteral("file");
}

void tst_Selection::foldersNotOursAreNeitherReadNorRemoved()
{
    QFETCH(QString, kind);
    SelectionRig r = rig(QStringLiteral("Vcm26q"));
    const QString folder = r.handoffFolder();
    const QString precious = r.box.path(QStringLiteral("precious"));
    QVERIFY(QDir().mkpath(precious));
    QVERIFY(writeAll(precious + QStringLiteral("/keep.txt"), "keep"));

    QString watched = precious + QStringLiteral("/keep.txt");
    if (kind == QLatin1String("link")) {
        QVERIFY(QFile::link(precious, folder));
    } else if (kind == QLatin1String("file")) {
        QVERIFY(writeAll(folder, "a file"));
        watched = folder;
    } else {
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(writeAll(folder + QStringLiteral("/keep.txt"), "keep"));
        watched = folder + QStringLiteral("/keep.txt");
        if (kind == QLatin1String("open")) {
            ::chmod(QFile::encodeName(folder).constData(), 0777);
        } else {
            if (::geteuid() != 0)
                QSKIP("making a folder of another user needs root");
            QVERIFY(::chown(QFile::encodeName(folder).constData(), 65534, 65534) == 0);
            ::chmod(QFile::encodeName(folder).constData(), 0755);
        }
    }
    const QByteArray before = readAll(watched);

    const QStringList paths = numberedPaths(3);
    const Processes copies = r.start(QStringLiteral("-ftype_edit"), paths);
    QVERIFY(allEndedWithZero(copies));
    const QList<Launch> launches = r.launches();
    QCOMPARE(launches.size(), 1);
    // The selection goes through a folder of the user's own beside it;
    // nothing of the other one reaches the editor.
    QCOMPARE(launches[0].arguments, launchArgument(QStringLiteral("-ftype_edit"), inPidTextOrder(r.pids, paths)));
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("-%1").arg(::geteuid())));
    QCOMPARE(readAll(watched), before);
    QCOMPARE(QDir(precious).entryList(QDir::Files), QStringList{ QStringLiteral("keep.txt") });
    QVERIFY(QFileInfo(folder).exists() || QFileInfo(folder).isSymLink());
}

void tst_Selection::waitIsBounded()
{
    SelectionRig r = rig(QStringLiteral("Vcm27q"));
    QProcess stranger;
    stranger.start(r.box.install(QStringLiteral("/bin/sleep"), QStringLiteral("other"),
                                 QStringLiteral("xVcm27qx")),
                   { QStringLiteral("90") });
    QVERIFY(stranger.waitForStarted());
    const qint64 start = nowNs();
    const Processes copies = r.start(QStringLiteral("-ftype_edit"), numberedPaths(3));
    QVERIFY(allEndedWithZero(copies));
    const QList<Launch> launches = r.launches();
    stranger.kill();
    stranger.waitForFinished();
    QCOMPARE(launches.size(), 1);
    const qint64 waitedMs = (launches[0].startedNs - start) / 1000000;
    // The whole run of a copy, from its start to its last editor start,
    // stays within the minute; the wait takes all of it but the release.
    QVERIFY2(waitedMs >= 58000 && waitedMs < 61000, QByteArray::number(waitedMs).constData());
    QCOMPARE(launches[0].arguments.value(0).split(QLatin1Char(';')).size(), 4);
}

void tst_Selection::copyFindsItselfWhateverItIsCalled_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("link");
    QTest::newRow("started through a link of another name") << QStringLiteral("Vcm29q") << QStringLiteral("Launcher");
    QTest::newRow("named as a second download") << QStringLiteral("VellixContextMenu(2)") << QString();
}

void tst_Selection::copyFindsItselfWhateverItIsCalled()
{
    QFETCH(QString, name);
    QFETCH(QString, link);
    SelectionRig r = rig(name);
    if (!link.isEmpty()) {
        QVERIFY(QDir().mkpath(r.box.path(QStringLiteral("links"))));
        const QString linked = r.box.path(QStringLiteral("links/") + link);
        QVERIFY(QFile::link(r.helper, linked));
        r.helper = linked;
    }
    const qint64 start = nowNs();
    const QStringList paths = numberedPaths(3);
    const Processes copies = r.start(QStringLiteral("-ftype_split"), paths);
    QVERIFY(allEndedWithZero(copies));
    const QList<Launch> launches = r.launches();
    QCOMPARE(launches.size(), 1);
    QCOMPARE(launches[0].arguments, launchArgument(QStringLiteral("-ftype_split"), inPidTextOrder(r.pids, paths)));
    // A copy that cannot find itself in the task list waits the full minute.
    const qint64 waitedMs = (launches[0].startedNs - start) / 1000000;
    QVERIFY2(waitedMs < 20000, QByteArray::number(waitedMs).constData());
}

QTEST_GUILESS_MAIN(tst_Selection)
#include "tst_selection.moc"
