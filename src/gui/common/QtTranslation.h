// Qt's own texts (the standard buttons of message boxes, the file dialog) in
// the language of the interface. Qt ships them as qtbase_<locale>.qm
// (Debian: qt6-translations-l10n); without that file they stay English.
#pragma once

#include <QString>
#include <QTranslator>

#include <memory>

namespace plexavo::gui {

// The locale a pack's language id stands for, as Qt names its translations
// ("de", "zh_CN"); empty for English and for ids without one.
QString qtLocaleName(unsigned languageId);

// Follows the language of the current resource module: installs Qt's
// translation for it in the application, replacing the one installed
// before, or none for English and where Qt has none. Every window then gets
// a LanguageChange event.
class QtTranslation {
  public:
    QtTranslation() = default;
    ~QtTranslation() = default; // the translation leaves the application with it
    QtTranslation(const QtTranslation&) = delete;
    QtTranslation& operator=(const QtTranslation&) = delete;

    // True when Qt now speaks the module's language: English, or its
    // translation is installed.
    bool followCurrentModule();
    // The locale of the installed translation; empty when none is.
    QString installedLocale() const { return m_locale; }

    // Where Qt's translations are looked for: Qt's own folder unless set
    // (tests; "" restores it).
    static void setFolder(const QString& folder);

  private:
    std::unique_ptr<QTranslator> m_translator; // removes itself when destroyed
    QString m_locale;
};

} // namespace plexavo::gui
