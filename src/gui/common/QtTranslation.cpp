#include "gui/common/QtTranslation.h"

#include "engine/i18n/ResourceText.h"
#include "engine/platform/DebugLog.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

namespace plexavo::gui {

namespace {

QString g_folder;

// Primary language ids (the low ten bits) and Qt's name for them.
struct PrimaryLanguage {
    unsigned id;
    const char* name;
};
constexpr PrimaryLanguage kLanguages[] = {
    {0x01, "ar"}, {0x05, "cs"}, {0x06, "da"}, {0x07, "de"}, {0x08, "el"}, {0x0A, "es"},
    {0x0B, "fi"}, {0x0C, "fr"}, {0x0D, "he"}, {0x0E, "hu"}, {0x10, "it"}, {0x11, "ja"},
    {0x12, "ko"}, {0x13, "nl"}, {0x14, "nb"}, {0x15, "pl"}, {0x19, "ru"}, {0x1B, "sk"},
    {0x1D, "sv"}, {0x1F, "tr"}, {0x22, "uk"}, {0x2A, "vi"},
};
constexpr unsigned kChinese = 0x04;
constexpr unsigned kEnglish = 0x09;
constexpr unsigned kPortuguese = 0x16;

} // namespace

QString qtLocaleName(unsigned languageId) {
    const unsigned primary = languageId & 0x3FF;
    const unsigned sub = (languageId >> 10) & 0x3F;
    if (primary == kEnglish)
        return {};
    // Simplified in China and Singapore; Taiwan, Hong Kong and Macao write
    // the traditional characters.
    if (primary == kChinese)
        return sub == 2 || sub == 4 ? QStringLiteral("zh_CN") : QStringLiteral("zh_TW");
    if (primary == kPortuguese)
        return sub == 2 ? QStringLiteral("pt_PT") : QStringLiteral("pt_BR");
    for (const PrimaryLanguage& language : kLanguages)
        if (language.id == primary)
            return QString::fromLatin1(language.name);
    return {};
}

void QtTranslation::setFolder(const QString& folder) {
    g_folder = folder;
}

bool QtTranslation::followCurrentModule() {
    const unsigned language = i18n::currentModule().language;
    const QString locale = qtLocaleName(language);
    if (locale != m_locale) { // m_locale is set only while its translation is installed
        std::unique_ptr<QTranslator> next;
        if (!locale.isEmpty()) {
            const QString folder =
                g_folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : g_folder;
            next = std::make_unique<QTranslator>();
            // "zh_CN" falls back to "zh" and so on, as Qt's loader does.
            if (!next->load(QLocale(locale), QStringLiteral("qtbase"), QStringLiteral("_"),
                            folder)) {
                platform::writeLog("Qt has no translation for %s in %s: its buttons stay English",
                                   locale.toUtf8().constData(), folder.toUtf8().constData());
                next.reset();
            }
        }
        m_translator = std::move(next); // the old one takes itself out
        if (m_translator)
            QCoreApplication::installTranslator(m_translator.get());
        m_locale = m_translator ? locale : QString();
    }
    return !m_locale.isEmpty() || (language & 0x3FF) == kEnglish;
}

} // namespace plexavo::gui
