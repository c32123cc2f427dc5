#include "captions.h"

#include "user_folders.h"

#include <QtCore/qfileinfo.h>
#include <QtCore/qsettings.h>
#include <QtCore/qstandardpaths.h>

namespace {

struct CaptionRow
{
    const char *language;
    const char *captions[4]; // edit, split, merge, print; UTF-8
};

// Compared top to bottom, exactly, letter case included.
const CaptionRow captionTable[] = {
    { "ChineseSimplified", { "使用Vellix编辑", "使用Vellix拆分", "使用Vellix合并", "使用Vellix打印" } },
    { "Japanese", { "Vellixエディターで編集する", "Vellixエディターで分割する", "Vellixエディターで結合する", "Vellixを使用して印刷" } },
    { "English", { "Use Vellix Edit", "Use Vellix Split", "Use Vellix Combine", "Use Vellix Print" } },
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

// For any other value, the empty one included.
const char *const defaultCaptions[4] = { "Use Vellix Edit", "Use Vellix Split", "Use Vellix Combine", "Use Vellix Print" };

} // namespace

QString readUserLanguage()
{
    // The editor keeps its settings in the roaming folder the system knows
    // (a roaming profile or folder redirection may have moved it); the
    // folder under the home folder serves where that has none.
    const QString settingsFile = QStringLiteral("/Zentharo/Vellix/config.ini");
    const QString roaming = roamingAppDataFolder();
    QString path = QStandardPaths::writableLocation(QStandardPaths::HomeLocation)
            + QStringLiteral("/AppData") + QStringLiteral("/Roaming") + settingsFile;
    if (!roaming.isEmpty() && QFileInfo::exists(roaming + settingsFile))
        path = roaming + settingsFile;
    QSettings settings(path, QSettings::IniFormat);
    settings.setIniCodec("utf-8");
    settings.beginGroup(QStringLiteral("Main"));
    const QString language = settings.value(QStringLiteral("Language"), QVariant()).toString();
    settings.endGroup();
    return language;
}

QString verbCaptionFor(const QString &language, Verb verb)
{
    const int column = int(verb);
    for (const CaptionRow &row : captionTable) {
        if (language == QLatin1String(row.language))
            return QString::fromUtf8(row.captions[column]);
    }
    return QString::fromUtf8(defaultCaptions[column]);
}

QString verbCaption(Verb verb)
{
    return verbCaptionFor(readUserLanguage(), verb);
}
