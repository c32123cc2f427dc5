// The registry stand-in's file: what it reads, what it keeps, what it refuses.

#include "registry_hive.h"

#include <QtTest/qtest.h>

namespace {

// Written by someone else: blank lines, keys in any order, other types.
const QByteArray foreign =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Other\\Deep]\r\n"
        "\"Count\"=dword:0000002a\r\n"
        "\"Blob\"=hex:01,02,03,\\\r\n"
        "  04,05\r\n"
        "[HKEY_CURRENT_USER\\Software]\r\n"
        "@=\"with \\\"quotes\\\" and \\\\ slash\"\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
        "\"Expand\"=hex(2):25,00,00,00\r\n";

} // namespace

class tst_RegistryHive : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keepsWhatItDidNotChange();
    void onlyIndentedLinesContinueBinaryData();
    void setsAndRemovesWithoutRegardToCase();
    void refusesWhatIsNotAnExport_data();
    void refusesWhatIsNotAnExport();
};

void tst_RegistryHive::keepsWhatItDidNotChange()
{
    RegistryHive hive;
    QVERIFY(hive.parse(foreign));
    QCOMPARE(hive.stringValue("HKEY_CURRENT_USER/software", "."), QString("with \"quotes\" and \\ slash"));
    const QByteArray again = hive.serialize();
    QCOMPARE(again,
             QByteArray("Windows Registry Editor Version 5.00\r\n\r\n"
                        "[HKEY_CURRENT_USER\\Software\\Other\\Deep]\r\n"
                        "\"Count\"=dword:0000002a\r\n"
                        "\"Blob\"=hex:01,02,03,\\\r\n  04,05\r\n\r\n"
                        "[HKEY_CURRENT_USER\\Software]\r\n"
                        "@=\"with \\\"quotes\\\" and \\\\ slash\"\r\n\r\n"
                        "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
                        "\"Expand\"=hex(2):25,00,00,00\r\n\r\n"));
    RegistryHive reread;
    QVERIFY(reread.parse(again));
    QCOMPARE(reread.serialize(), again);
}

void tst_RegistryHive::onlyIndentedLinesContinueBinaryData()
{
    // A value cut short by its backslash must not swallow the key after it.
    const QByteArray text = "Windows Registry Editor Version 5.00\n\n"
                            "[HKEY_CURRENT_USER\\A]\n\"B\"=hex:01,\\\n"
                            "[HKEY_CURRENT_USER\\C]\n@=\"d\"\n";
    RegistryHive hive;
    QVERIFY(hive.parse(text));
    QCOMPARE(hive.stringValue("HKEY_CURRENT_USER\\C", "."), QString("d"));
    RegistryHive again;
    QVERIFY(again.parse(hive.serialize()));
    QCOMPARE(again.serialize(), hive.serialize());
}

void tst_RegistryHive::setsAndRemovesWithoutRegardToCase()
{
    RegistryHive hive;
    QVERIFY(hive.parse(foreign));
    hive.setString("hkey_current_user\\SOFTWARE\\other/New\\Leaf", "Name", "C:\\a \"b\"");
    hive.setString("HKEY_CURRENT_USER\\Software\\Other", "EXPAND", "now text");
    hive.setString("HKEY_CURRENT_USER\\Software\\Other", ".", "");
    QCOMPARE(hive.stringValue("HKEY_CURRENT_USER\\Software\\Other\\New\\Leaf", "name"), QString("C:\\a \"b\""));
    QVERIFY(hive.hasKey("HKEY_CURRENT_USER\\Software\\Other\\New"));

    const QByteArray text = hive.serialize();
    QVERIFY(text.contains("[HKEY_CURRENT_USER\\Software\\Other]\r\n\"Expand\"=\"now text\"\r\n@=\"\"\r\n"));
    QVERIFY(text.contains("[HKEY_CURRENT_USER\\Software\\Other\\New\\Leaf]\r\n\"Name\"=\"C:\\\\a \\\"b\\\"\"\r\n"));
    // A new key goes after the keys beneath its parent, its parent first.
    QVERIFY(text.indexOf("[HKEY_CURRENT_USER\\Software\\Other\\New]") < text.indexOf("\\New\\Leaf]"));
    QVERIFY(text.indexOf("[HKEY_CURRENT_USER\\Software\\Other]") < text.indexOf("\\Other\\New]"));

    // Removing a name takes the subkey with all beneath it and the value.
    hive.setString("HKEY_CURRENT_USER\\Software", "other", "a value of that name");
    hive.remove("HKEY_CURRENT_USER\\SOFTWARE", "OTHER");
    QVERIFY(!hive.hasKey("HKEY_CURRENT_USER\\Software\\Other"));
    QVERIFY(!hive.hasKey("HKEY_CURRENT_USER\\Software\\Other\\Deep"));
    QVERIFY(!hive.hasKey("HKEY_CURRENT_USER\\Software\\Other\\New\\Leaf"));
    QCOMPARE(hive.stringValue("HKEY_CURRENT_USER\\Software", "other"), QString());
    QCOMPARE(hive.stringValue("HKEY_CURRENT_USER\\Software", "."), QString("with \"quotes\" and \\ slash"));
    hive.remove("HKEY_CURRENT_USER\\Software", "Missing"); // nothing to do
    QCOMPARE(RegistryHive::rootOf("hkey_classes_root/Vellix.exe"), QString("HKEY_CLASSES_ROOT"));
}

void tst_RegistryHive::refusesWhatIsNotAnExport_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("other header") << QByteArray("REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n");
    QTest::newRow("UTF-16 export") << QByteArray("\xff\xfeW\0i\0n\0", 8);
    QTest::newRow("value before any key") << QByteArray("Windows Registry Editor Version 5.00\n\n\"A\"=\"b\"\n");
    QTest::newRow("deletion entry") << QByteArray("Windows Registry Editor Version 5.00\n\n[-HKEY_CURRENT_USER\\A]\n");
    QTest::newRow("open string") << QByteArray("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n\"A\"=\"b\n");
    QTest::newRow("stray text") << QByteArray("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\nhello\n");
    QTest::newRow("unclosed key") << QByteArray("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A\n");
    QTest::newRow("not UTF-8") << QByteArray("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\\xe9]\n");
}

void tst_RegistryHive::refusesWhatIsNotAnExport()
{
    QFETCH(QByteArray, text);
    RegistryHive hive;
    QVERIFY(!hive.parse(text));
}

QTEST_GUILESS_MAIN(tst_RegistryHive)
#include "tst_registry_hive.moc"
