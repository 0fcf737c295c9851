// The Language menu and the switch it starts: the window's half of the
// language packs. Lists the installed packs with the current one checked and,
// on a command, makes the chosen pack current and rebuilds what was built from
// the old one: the menus, the title, the main view (its state carried over)
// and the toolbar texts; Qt's own texts (standard buttons, the file dialog)
// follow. The choice is stored and applied at the next start
// before any window exists.
#pragma once

#include "engine/i18n/LanguagePacks.h"
#include "gui/common/QtTranslation.h"

#include <QObject>
#include <QPointer>

class QMenu;

namespace plexavo::gui {

class MainWindow;

// Strings shown after a switch to a pack: with the address the build names,
// and without one.
inline constexpr unsigned kTranslationNotice = 61990;
inline constexpr unsigned kTranslationNoticeNoAddress = 62045;

class LanguageSwitch : public QObject {
    Q_OBJECT

  public:
    explicit LanguageSwitch(QObject* parent = nullptr);
    ~LanguageSwitch() override;

    i18n::LanguagePacks& packs() { return m_packs; }

    // Start-up: the stored "Language" (a number; anything else counts as
    // missing) made current. Call before any window is built.
    void applyStoredLanguage();

    // Takes over the frame's Language menu and its commands.
    void attach(MainWindow* frame);

    // Says so (missingFontNotice) when no installed font has the current
    // language's letters; true when it did. A start in such a language needs
    // it as much as a switch to it: every text would be empty boxes.
    bool noticeMissingFont(QWidget* parent);

    // Commands 32750..32769: the entry's language, when it is not current
    // and its pack loads; the translation notice after any entry but English.
    void onLanguage(int id);

  signals:
    // The window has been rebuilt in the current language.
    void switched();

  private:
    void fillMenu(QMenu* menu);
    void rebuildWindow();

    i18n::LanguagePacks m_packs;
    QtTranslation m_qtTexts; // follows m_packs; goes first, leaving Qt English
    QPointer<MainWindow> m_frame;
};

// When the language's texts need letters that no installed font has (Chinese,
// Japanese, Korean), the message that says which package brings them; ""
// when the fonts are there or the language needs none beyond Latin ones.
QString missingFontNotice(std::uint16_t languageId);

// The address the translation notice names; a build option, "" for none.
const char* translationContact();
// The notice in the current language, naming the address when there is one.
QString translationNotice();

} // namespace plexavo::gui
