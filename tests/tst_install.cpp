// install and uninstall, run as the installer runs them, against the
// registry stand-in's files of a home of their own.

#include "test_support.h"

#include <QtCore/qregularexpression.h>

#include <algorithm>
#include <sys/stat.h>

namespace {

const QByteArray header = "Windows Registry Editor Version 5.00\n\n";
const QByteArray shell = "HKEY_CURRENT_USER\\SOFTWARE\\Classes\\SystemFileAssociations\\.pdf\\Shell";

QByteArray quotedValue(const QString &text)
{
    QByteArray out = text.toUtf8();
    out.replace("\\", "\\\\").replace("\"", "\\\"");
    return '"' + out + '"';
}

QByteArray verbKey(const QString &helper, const char *name, const char *flag, const char *caption)
{
    const QByteArray key = shell + '\\' + name;
    return "[" + key + "]\n@=\"\"\n\"Icon\"=" + quotedValue(helper + ",0") + "\n\"MUIVerb\"="
            + quotedValue(QString::fromUtf8(caption)) + "\n\"MultiSelectModel\"=\"Player\"\n\n[" + key + "\\Command]\n@="
            + quotedValue("\"" + helper + "\" " + flag + " \"%1\"") + "\n\n";
}

// The whole of what install writes into a home that had nothing.
QByteArray expectedCurrentUser(const QString &helper, const QStringList &captions)
{
    return header + "[HKEY_CURRENT_USER\\SOFTWARE]\n\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Classes]\n\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\.pdf]\n@=\"Vellix.exe\"\n\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\.pdf\\OpenWithProgids]\n\"Vellix.exe\"=\"\"\n\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\SystemFileAssociations]\n\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\SystemFileAssociations\\.pdf]\n\n"
            "[" + shell + "]\n\n"
            + verbKey(helper, "Vellix01Edit", "-ftype_edit", captions[0].toUtf8())
            + verbKey(helper, "Vellix04Split", "-ftype_split", captions[1].toUtf8())
            + verbKey(helper, "Vellix03Merge", "-ftype_merge", captions[2].toUtf8())
            + verbKey(helper, "Vellix02Print", "-ftype_print", captions[3].toUtf8());
}

QByteArray expectedClassesRoot(const QString &folder)
{
    return header + "[HKEY_CLASSES_ROOT\\Vellix.exe]\n\n"
            "[HKEY_CLASSES_ROOT\\Vellix.exe\\shell]\n\n"
            "[HKEY_CLASSES_ROOT\\Vellix.exe\\shell\\open]\n\n"
            "[HKEY_CLASSES_ROOT\\Vellix.exe\\shell\\open\\command]\n@="
            + quotedValue("\"" + folder + "/Vellix.exe\" \"%1\"") + "\n\n"
            "[HKEY_CLASSES_ROOT\\Vellix.exe\\DefaultIcon]\n@=" + quotedValue(folder + "/Quorlin.dll,0") + "\n\n";
}

const QStringList english = { "Use Vellix Edit", "Use Vellix Split", "Use Vellix Combine", "Use Vellix Print" };

} // namespace

class tst_Install : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void installWritesEveryEntry();
    void captionsComeFromTheEditorsSettings();
    void installTwiceIsInstallOnce();
    void oldAndCurrentEntriesGoOthersStay();
    void uninstallOnAnEmptySystemStillTakesTheAssociationBack();
    void missingEditorFilesChangeNothing();
    void unreadableHiveIsLeftAlone_data();
    void unreadableHiveIsLeftAlone();
    void registryEditorExportsStayUtf16();
    void installsAtOnceLeaveWholeFiles();
    void refusedClassesRootGoesToTheUsersOwn();

private:
    int run(const QStringList &arguments, QByteArray *errors = nullptr);
    QString hive(const char *root) const { return box->config() + "/Zentharo/Registry/" + root + ".reg"; }
    QByteArray currentUser() const { return readAll(hive("HKEY_CURRENT_USER")); }
    QByteArray classesRoot() const { return readAll(hive("HKEY_CLASSES_ROOT")); }

    std::unique_ptr<Sandbox> box;
    QString folder;
    QString helper;
};

void tst_Install::init()
{
    box.reset(new Sandbox);
    helper = box->installHelper("Program Files/Vellix Test", "VellixContextMenu");
    QVERIFY(!helper.isEmpty());
    folder = QFileInfo(helper).path();
}

int tst_Install::run(const QStringList &arguments, QByteArray *errors)
{
    QProcess process;
    process.setProcessEnvironment(box->environment());
    process.start(helper, arguments);
    if (!process.waitForFinished() || process.exitStatus() != QProcess::NormalExit)
        return -1;
    if (errors)
        *errors = process.readAllStandardError();
    return process.exitCode();
}

void tst_Install::installWritesEveryEntry()
{
    QCOMPARE(run({ "install" }), 0);
    QCOMPARE(currentUser(), expectedCurrentUser(helper, english));
    QCOMPARE(classesRoot(), expectedClassesRoot(folder));

    QCOMPARE(run({ "uninstall" }), 0);
    // The keys above the entries stay; the entries, the identifier and the
    // association go.
    QCOMPARE(currentUser(), header + "[HKEY_CURRENT_USER\\SOFTWARE]\n\n"
             "[HKEY_CURRENT_USER\\SOFTWARE\\Classes]\n\n"
             "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\.pdf]\n\n"
             "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\.pdf\\OpenWithProgids]\n\n"
             "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\SystemFileAssociations]\n\n"
             "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\SystemFileAssociations\\.pdf]\n\n"
             "[" + shell + "]\n\n");
    QCOMPARE(classesRoot(), header);

    QCOMPARE(run({ "INSTALL" }), 0); // the installer's words ignore case
    QCOMPARE(currentUser(), expectedCurrentUser(helper, english));
    QCOMPARE(run({ "UnInstall" }), 0);
    QVERIFY(!currentUser().contains("Vellix0"));
    QCOMPARE(classesRoot(), header);
}

void tst_Install::captionsComeFromTheEditorsSettings()
{
    const QString settings = box->home() + "/AppData/Roaming/Zentharo/Vellix/config.ini";
    QDir().mkpath(QFileInfo(settings).path());
    QVERIFY(writeAll(settings, "[Main]\nLanguage=Japanese\n"));
    QCOMPARE(run({ "install" }), 0);
    QCOMPARE(currentUser(), expectedCurrentUser(helper, { "Vellixエディターで編集する", "Vellixエディターで分割する",
                                                          "Vellixエディターで結合する", "Vellixを使用して印刷" }));
}

void tst_Install::installTwiceIsInstallOnce()
{
    QCOMPARE(run({ "install" }), 0);
    const QByteArray once = currentUser() + classesRoot();
    QCOMPARE(run({ "install" }), 0);
    QCOMPARE(currentUser() + classesRoot(), once);
}

void tst_Install::oldAndCurrentEntriesGoOthersStay()
{
    const QByteArray other = "[" + shell + "\\OtherApp]\n@=\"Other\"\n\n[" + shell + "\\OtherApp\\command]\n@=\"other.exe \\\"%1\\\"\"\n\n";
    const QByteArray dword = "[HKEY_CURRENT_USER\\Software\\Zentharo]\n\"Installed\"=dword:00000001\n\n";
    QByteArray planted = header + dword + "[" + shell + "]\n\n" + other;
    for (const char *name : { "VellixEdit", "VellixSplit", "VellixMerge", "VellixPrint", "Vellix01Edit", "Vellix02Print" })
        planted += "[" + shell + "\\" + name + "]\n\"MUIVerb\"=\"old\"\n\n[" + shell + "\\" + name + "\\Command\\Deeper]\n@=\"x\"\n\n";
    QDir().mkpath(QFileInfo(hive("HKEY_CURRENT_USER")).path());
    QVERIFY(writeAll(hive("HKEY_CURRENT_USER"), planted));

    QCOMPARE(run({ "install" }), 0);
    QByteArray after = currentUser();
    QVERIFY(after.contains(other));
    QVERIFY(after.contains(dword));
    QVERIFY(!after.contains("VellixEdit") && !after.contains("VellixPrint") && !after.contains("Deeper"));
    QVERIFY(!after.contains("\"old\""));
    QVERIFY(after.contains(verbKey(helper, "Vellix01Edit", "-ftype_edit", "Use Vellix Edit")));

    QCOMPARE(run({ "uninstall" }), 0);
    after = currentUser();
    QVERIFY(after.contains(other));
    QVERIFY(after.contains(dword));
    QVERIFY(!after.contains("Vellix0"));
    QVERIFY(after.contains("[" + shell + "]\n"));
}

void tst_Install::uninstallOnAnEmptySystemStillTakesTheAssociationBack()
{
    QDir().mkpath(QFileInfo(hive("HKEY_CURRENT_USER")).path());
    const QByteArray associated = header + "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\.pdf]\n@=\"Vellix.exe\"\n\n";
    QVERIFY(writeAll(hive("HKEY_CURRENT_USER"), associated));
    QCOMPARE(run({ "uninstall" }), 0);
    QCOMPARE(currentUser(), header + "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\.pdf]\n\n");
    QVERIFY(!QFile::exists(hive("HKEY_CLASSES_ROOT"))); // removing nothing writes nothing

    // An association another program has made since is not ours to undo.
    const QByteArray taken = header + "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\.pdf]\n@=\"Other.exe\"\n\n";
    QVERIFY(writeAll(hive("HKEY_CURRENT_USER"), taken));
    QCOMPARE(run({ "uninstall" }), 0);
    QCOMPARE(currentUser(), taken);
}

void tst_Install::missingEditorFilesChangeNothing()
{
    QCOMPARE(run({ "install" }), 0);
    const QByteArray without = currentUser() + classesRoot();
    QVERIFY(writeAll(folder + "/Vellix.exe", "editor"));
    QVERIFY(writeAll(folder + "/Quorlin.dll", "icons"));
    QCOMPARE(run({ "install" }), 0);
    QCOMPARE(currentUser() + classesRoot(), without);
}

void tst_Install::unreadableHiveIsLeftAlone_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("why");
    QTest::newRow("garbage") << "garbage" << "it is not a registry export";
    QTest::newRow("FIFO") << "fifo" << "it is not a regular file";
    QTest::newRow("folder") << "folder" << "it is not a regular file";
    QTest::newRow("link to a readable export") << "link" << "it is a symbolic link";
}

void tst_Install::unreadableHiveIsLeftAlone()
{
    QFETCH(QString, kind);
    QFETCH(QString, why);
    const QString currentUserHive = hive("HKEY_CURRENT_USER");
    QDir().mkpath(QFileInfo(currentUserHive).path());
    const QByteArray garbage("\xff\xfe not an export \x00\x01", 20);
    const QString elsewhere = box->path("elsewhere.reg");
    QVERIFY(writeAll(elsewhere, header));
    if (kind == "garbage")
        QVERIFY(writeAll(currentUserHive, garbage));
    else if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(currentUserHive).constData(), 0600), 0);
    else if (kind == "folder")
        QVERIFY(QDir().mkpath(currentUserHive));
    else
        QVERIFY(QFile::link(elsewhere, currentUserHive));
    const QFileInfo before(currentUserHive);

    for (const char *command : { "install", "uninstall" }) {
        QProcess process;
        process.setProcessEnvironment(box->environment());
        process.start(helper, { command });
        const bool ended = process.waitForFinished(20000); // a FIFO must not hang it
        if (!ended)
            process.kill();
        QVERIFY(ended);
        QCOMPARE(process.exitCode(), 2);
        QCOMPARE(QString::fromLocal8Bit(process.readAllStandardError()),
                 "Registry not changed: cannot read " + currentUserHive + ": " + why
                         + (kind == "garbage" ? " (UTF-8, or UTF-16LE with a byte-order mark)\n" : "\n"));
        // Neither root changed: the other one is not written alone.
        QVERIFY(!QFileInfo::exists(hive("HKEY_CLASSES_ROOT")));
        QCOMPARE(QFileInfo(currentUserHive).isSymLink(), before.isSymLink());
        QCOMPARE(QFileInfo(currentUserHive).isDir(), before.isDir());
        if (kind == "garbage")
            QCOMPARE(currentUser(), garbage);
        QCOMPARE(readAll(elsewhere), header);
    }
}

void tst_Install::registryEditorExportsStayUtf16()
{
    // As the registry editor exports: UTF-16LE with its mark, CR LF lines.
    const QByteArray other = "[" + shell + "\\OtherApp]\n@=\"Other \xe2\x80\x93 \xe6\x9d\xb1\"\n\n"
                             "[HKEY_CURRENT_USER\\Software\\Zentharo]\n\"Installed\"=dword:00000001\n\n";
    const auto utf16 = [](const QByteArray &utf8) {
        const QString text = QString::fromUtf8(utf8).replace("\n", "\r\n");
        return QByteArray("\xff\xfe") + QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    };
    const auto text = [](const QByteArray &bytes) {
        return QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData() + 2), (bytes.size() - 2) / 2);
    };
    QDir().mkpath(QFileInfo(hive("HKEY_CURRENT_USER")).path());
    QVERIFY(writeAll(hive("HKEY_CURRENT_USER"), utf16(header + other)));

    QCOMPARE(run({ "install" }), 0);
    const QByteArray installed = currentUser();
    QVERIFY(installed.startsWith("\xff\xfe"));
    const QString afterInstall = text(installed);
    QVERIFY(!afterInstall.contains(QRegularExpression("[^\r]\n")));
    QVERIFY(afterInstall.contains(QString::fromUtf8(other).replace("\n", "\r\n")));
    const QByteArray edit = verbKey(helper, "Vellix01Edit", "-ftype_edit", "Use Vellix Edit");
    QVERIFY(afterInstall.contains(QString::fromUtf8(edit).replace("\n", "\r\n")));
    QVERIFY(afterInstall.contains("\"MultiSelectModel\"=\"Player\"\r\n"));

    QCOMPARE(run({ "install" }), 0);
    QCOMPARE(currentUser(), installed);

    QCOMPARE(run({ "uninstall" }), 0);
    const QByteArray removed = currentUser();
    QVERIFY(removed.startsWith("\xff\xfe"));
    QVERIFY(text(removed).contains(QString::fromUtf8(other).replace("\n", "\r\n")));
    QVERIFY(!text(removed).contains("Vellix0"));
    QVERIFY(!text(removed).contains("\"Vellix.exe\""));
}

void tst_Install::installsAtOnceLeaveWholeFiles()
{
    // Installs that overlap may leave the keys in another order, but every
    // file is whole and holds the entries of one install, each once.
    const auto keyBlocks = [this] {
        QList<QByteArray> blocks;
        for (const QByteArray &file : { currentUser(), classesRoot() }) {
            QList<QByteArray> keys = file.split('[');
            std::sort(keys.begin(), keys.end());
            blocks += keys;
        }
        return blocks;
    };
    QCOMPARE(run({ "install" }), 0);
    const QList<QByteArray> once = keyBlocks();
    for (int round = 0; round < 3; ++round) {
        const Processes installs = startCopies(8, helper, { "install" }, box->environment());
        QVERIFY(waitAll(installs));
        QVERIFY(currentUser().startsWith(header) && classesRoot().startsWith(header));
        QCOMPARE(keyBlocks(), once);
    }
    const QStringList leftovers = QDir(QFileInfo(hive("HKEY_CURRENT_USER")).path()).entryList(QDir::Files);
    QCOMPARE(leftovers, QStringList({ "HKEY_CLASSES_ROOT.reg", "HKEY_CLASSES_ROOT.reg.lock",
                                      "HKEY_CURRENT_USER.reg", "HKEY_CURRENT_USER.reg.lock" }));
}

void tst_Install::refusedClassesRootGoesToTheUsersOwn()
{
    // A root whose every write is refused, as the machine's part of
    // HKEY_CLASSES_ROOT is to a user who is no administrator.
    const auto refuse = [this](const char *root) {
        QFile::remove(hive(root) + ".lock");
        return QDir().mkpath(hive(root) + ".lock");
    };
    QVERIFY(refuse("HKEY_CLASSES_ROOT"));
    QByteArray errors;
    QCOMPARE(run({ "install" }, &errors), 0);
    QCOMPARE(errors, QByteArray());
    QVERIFY(!QFileInfo::exists(hive("HKEY_CLASSES_ROOT")));
    const QByteArray programKey = "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\Vellix.exe]\n\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\Vellix.exe\\shell]\n\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\Vellix.exe\\shell\\open]\n\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\Vellix.exe\\shell\\open\\command]\n@="
            + quotedValue("\"" + folder + "/Vellix.exe\" \"%1\"") + "\n\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Classes\\Vellix.exe\\DefaultIcon]\n@="
            + quotedValue(folder + "/Quorlin.dll,0") + "\n\n";
    QVERIFY2(currentUser().contains(programKey), currentUser().constData());
    QVERIFY(currentUser().contains("Vellix03Merge\\Command]"));

    // Uninstall takes it from the user's part as from the machine's.
    QVERIFY(QDir().rmdir(hive("HKEY_CLASSES_ROOT") + ".lock"));
    QCOMPARE(run({ "uninstall" }), 0);
    QVERIFY(!currentUser().contains("Vellix.exe"));

    // Neither part can be written: said, with an exit code of its own; a
    // second install, once the registry lets it, mends it.
    QVERIFY(refuse("HKEY_CLASSES_ROOT"));
    QVERIFY(refuse("HKEY_CURRENT_USER"));
    QCOMPARE(run({ "install" }, &errors), 3);
    QCOMPARE(errors, QByteArray("Registry not changed whole: the registry refused a change; run install again\n"));
    QVERIFY(QDir().rmdir(hive("HKEY_CLASSES_ROOT") + ".lock"));
    QVERIFY(QDir().rmdir(hive("HKEY_CURRENT_USER") + ".lock"));
    QCOMPARE(run({ "install" }), 0);
    QCOMPARE(currentUser(), expectedCurrentUser(helper, english));
    QCOMPARE(classesRoot(), expectedClassesRoot(folder));
}

QTEST_GUILESS_MAIN(tst_Install)
#include "tst_install.moc"
