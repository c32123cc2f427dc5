// The captions of the four entries, read through the editor's settings file
// as the install reads them.

#include "captions.h"

#include <QtCore/qdatetime.h>
#include <QtCore/qdir.h>
#include <QtCore/qtemporarydir.h>
#include <QtTest/qtest.h>

namespace {

const QStringList english = { "Use Vellix Edit", "Use Vellix Split", "Use Vellix Combine", "Use Vellix Print" };

// Every row as the editor's users see it, kept apart from the program's
// own table so that a slip in either shows.
const QList<QPair<QString, QStringList>> expectedRows = {
    { "ChineseSimplified", { "使用Vellix编辑", "使用Vellix拆分", "使用Vellix合并", "使用Vellix打印" } },
    { "Japanese", { "Vellixエディターで編集する", "Vellixエディターで分割する", "Vellixエディターで結合する", "Vellixを使用して印刷" } },
    { "English", english },
    { "Spanish", { "Usar Vellix para editar", "Usar Vellix para dividir", "Usar Vellix para combinar", "Utilice Vellix Imprimir" } },
    { "French", { "Utiliser Vellix pour modifier", "Utiliser Vellix pour diviser", "Utiliser Vellix pour combiner", "Utiliser l'impression Vellix" } },
    { "German", { "Zum Bearbeiten den Vellix verwenden", "Zum Aufteilen den Vellix verwenden", "Zum Kombinieren den Vellix verwenden", "Vellix-Druck verwenden" } },
    { "Portuguese", { "Use Vellix para editar", "Use Vellix para dividir", "Use Vellix para combinar", "Usar Impressão Vellix" } },
    { "PortugueseBrazi", { "Use Vellix para editar", "Use Vellix para dividir", "Use Vellix para combinar", "Usar Impressão Vellix" } },
    { "ChineseTraditional", { "使用Vellix編輯", "使用Vellix拆分", "使用Vellix合併", "使用Vellix列印" } },
    { "Italian", { "Usa Vellix Modifica", "Usa Vellix Dividi", "Usa Vellix Combina", "Utilizza la stampa Vellix" } },
    { "Czech", { "Použít Vellix Upravit", "Použít Vellix Rozdělit", "Použít Vellix Sloučit", "Použijte Vellix Print" } },
    { "Finnish", { "Käytä Vellix in muokkaustoimintoa", "Käytä Vellix in jakamistoimintoa", "Käytä Vellix in yhdistämistoimintoa", "Use Vellix Print" } },
    { "Dutch", { "Gebruik Vellix Bewerken", "Gebruik Vellix Splitsen", "Gebruik Vellix Combineren", "Gebruik Vellix Print" } },
    { "Norwegian", { "Bruk Vellix redigering", "Bruk Vellix deling", "Bruk Vellix kombinering", "Use Vellix Print" } },
    { "Polish", { "Użyj Vellix Edytuj", "Użyj Vellix FPodziel", "Użyj Vellix FPołącz", "Use Vellix Print" } },
    { "Swedish", { "Använd Vellix Redigering", "Använd Vellix Delning", "Använd Vellix Kombinering", "Use Vellix Print" } },
    { "Turkish", { "Vellix Düzenleme Kullanın", "Vellix Split kullanın", "Vellix Birleştirme Kullanın", "Use Vellix Print" } },
    { "Danish", { "Brug Vellix Rediger", "Brug Vellix Opdel", "Brug Vellix Kombiner", "Use Vellix Print" } },
    { "Korean", { "Vellix 편집기 편집 사용", "Vellix 편집기 분할 사용", "Vellix 편집기 조합 사용", "Use Vellix Print" } },
    { "Arabic", { "استخدم تعديل أداة Vellix", "استخدم فصل أداة Vellix", "استخدم دمج أداة Vellix", "Use Vellix Print" } },
};

} // namespace

class tst_Captions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void captionsFollowTheSettingsFile_data();
    void captionsFollowTheSettingsFile();
    void eachCaptionReadsTheFileAnew();

private:
    QString settingsFile() const { return home.path() + "/AppData/Roaming/Zentharo/Vellix/config.ini"; }
    void writeSettings(const QByteArray *content);

    QTemporaryDir home;
};

void tst_Captions::initTestCase()
{
    qputenv("HOME", QFile::encodeName(home.path()));
}

void tst_Captions::writeSettings(const QByteArray *content)
{
    QFile::remove(settingsFile());
    if (!content)
        return;
    QDir().mkpath(QFileInfo(settingsFile()).path());
    QFile file(settingsFile());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(*content);
    file.flush();
    // The settings class knows a file again by its size and time; tell it
    // that this is another file, as a real change of the editor's would.
    static int generation = 0;
    file.setFileTime(QDateTime::currentDateTime().addSecs(++generation), QFileDevice::FileModificationTime);
}

void tst_Captions::captionsFollowTheSettingsFile_data()
{
    QTest::addColumn<bool>("hasFile");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QStringList>("captions");

    QTest::newRow("no file") << false << QByteArray() << QString() << english;
    for (const auto &row : expectedRows) {
        QTest::newRow(qPrintable(row.first)) << true << "[Main]\nLanguage=" + row.first.toUtf8() + "\n"
                                             << row.first << row.second;
    }
    const QStringList german = expectedRows.at(5).second;
    QTest::newRow("lower case") << true << QByteArray("[Main]\nLanguage=german\n") << "german" << english;
    QTest::newRow("a letter less") << true << QByteArray("[Main]\nLanguage=Germa\n") << "Germa" << english;
    QTest::newRow("a letter more") << true << QByteArray("[Main]\nLanguage=Germany\n") << "Germany" << english;
    QTest::newRow("quoted space") << true << QByteArray("[Main]\nLanguage=\"German \"\n") << "German " << english;
    QTest::newRow("spaces the reader trims") << true << QByteArray("[Main]\nLanguage =  German  \n") << "German" << german;
    QTest::newRow("outside Main") << true << QByteArray("Language=German\n[Other]\nLanguage=German\n") << QString() << english;
    QTest::newRow("empty file") << true << QByteArray() << QString() << english;
    QTest::newRow("binary") << true << QByteArray("\x00\xff\x7f[Main\x00]\nLanguage\x01=\xfe", 20) << QString() << english;
    QTest::newRow("not UTF-8") << true << QByteArray("[Main]\nLanguage=Fran\xe7" "ais\n") << QString::fromUtf8("Fran\xef\xbf\xbd" "ais") << english;
}

void tst_Captions::captionsFollowTheSettingsFile()
{
    QFETCH(bool, hasFile);
    QFETCH(QByteArray, content);
    QFETCH(QString, language);
    QFETCH(QStringList, captions);
    writeSettings(hasFile ? &content : nullptr);

    QCOMPARE(readUserLanguage(), language);
    const Verb verbs[] = { Verb::Edit, Verb::Split, Verb::Merge, Verb::Print };
    for (int i = 0; i < 4; ++i)
        QCOMPARE(verbCaption(verbs[i]).toUtf8(), captions.at(i).toUtf8());
}

void tst_Captions::eachCaptionReadsTheFileAnew()
{
    const QByteArray german("[Main]\nLanguage=German\n");
    writeSettings(&german);
    QCOMPARE(verbCaption(Verb::Edit), QStringLiteral("Zum Bearbeiten den Vellix verwenden"));
    const QByteArray dutch("[Main]\nLanguage=Dutch\n");
    writeSettings(&dutch);
    QCOMPARE(verbCaption(Verb::Split), QStringLiteral("Gebruik Vellix Splitsen"));
}

QTEST_GUILESS_MAIN(tst_Captions)
#include "tst_captions.moc"
