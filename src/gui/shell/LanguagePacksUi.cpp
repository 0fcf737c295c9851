#include "gui/shell/LanguagePacksUi.h"

#include "engine/i18n/ResourceText.h"
#include "engine/settings/StoredSettings.h"
#include "gui/common/MessageBox.h"
#include "gui/common/UiText.h"
#include "gui/common/UnsavedSettings.h"
#include "gui/shell/MainWindow.h"

#include <QAction>
#include <QFontDatabase>
#include <QMenu>
#include <QTimer>

#ifndef PLEXAVO_TRANSLATION_CONTACT
#define PLEXAVO_TRANSLATION_CONTACT ""
#endif

namespace plexavo::gui {

const char* translationContact() {
    return PLEXAVO_TRANSLATION_CONTACT;
}

LanguageSwitch::LanguageSwitch(QObject* parent) : QObject(parent) {}

LanguageSwitch::~LanguageSwitch() {
    if (m_frame) {
        m_frame->fillLanguageMenu = nullptr;
        m_frame->onLanguageCommand = nullptr;
    }
}

void LanguageSwitch::applyStoredLanguage() {
    // Nothing when the value is missing or not a number.
    if (const auto stored = settings::readLanguage())
        m_packs.selectLanguage(static_cast<unsigned>(*stored));
    m_qtTexts.followCurrentModule();
}

void LanguageSwitch::attach(MainWindow* frame) {
    m_frame = frame;
    frame->fillLanguageMenu = [this](QMenu* menu) { fillMenu(menu); };
    // Every entry, the second one too, selects the pack it names: a pack
    // whose name sorts before Chinese must not send its users to Chinese.
    frame->onLanguageCommand = [this](int id) { onLanguage(id); };
    frame->refillLanguageMenu();
}

void LanguageSwitch::fillMenu(QMenu* menu) {
    m_packs.refreshLanguageList();
    menu->clear();
    for (std::size_t i = 0; i < m_packs.m_languageIds.size(); ++i) {
        const int id = i18n::kFirstLanguageCommand + static_cast<int>(i);
        QAction* action = menu->addAction(QString::fromUtf8(m_packs.m_languageNames[i].c_str()));
        action->setObjectName(QStringLiteral("cmd%1").arg(id));
        action->setData(id);
        action->setCheckable(true);
        const bool current = m_packs.m_languageIds[i] == m_packs.m_currentLanguage;
        action->setChecked(current);
        // Only twenty commands exist; later packs show but cannot be chosen.
        action->setEnabled(id <= i18n::kLastLanguageCommand);
        connect(action, &QAction::triggered, this, [this, action, current, id] {
            action->setChecked(current); // the switch sets the checks, not the click
            // The switch rebuilds the menu this entry sits in: let it close first.
            QTimer::singleShot(0, this, [this, id] {
                if (m_frame)
                    m_frame->onCommand(id);
            });
        });
    }
}

void LanguageSwitch::rebuildWindow() {
    m_qtTexts.followCurrentModule();
    if (!m_frame)
        return;
    m_frame->rebuildMenus(true);
    m_frame->updateTitle();
    m_frame->recreateViewWhenFree(); // re-texts the toolbar too
    emit switched();
}

void LanguageSwitch::onLanguage(int id) {
    const int index = id - i18n::kFirstLanguageCommand;
    if (index < 0 || index >= static_cast<int>(m_packs.m_languageIds.size()))
        return;
    const std::uint16_t langId = m_packs.m_languageIds[static_cast<std::size_t>(index)];
    if (langId == m_packs.m_currentLanguage)
        return;
    const res::Module* before = &i18n::currentModule();
    if (!m_packs.selectLanguage(langId)) {
        // A pack that broke after the menu was built: the previous language
        // stays, unless it could not be taken back either; then the window
        // follows the texts that are current.
        if (&i18n::currentModule() != before)
            rebuildWindow();
        return;
    }
    rebuildWindow();
    reportUnsavedSetting(m_frame, settings::writeLanguage(langId));
    if (id == i18n::kFirstLanguageCommand || !m_frame)
        return;
    // Without the letters, the notice in the new language would be boxes too.
    if (noticeMissingFont(m_frame))
        return;
    const QString notice = translationNotice();
    if (!notice.isEmpty()) // a pack without the text has nothing to say
        MessageBox::show(m_frame, notice, QMessageBox::Information);
}

bool LanguageSwitch::noticeMissingFont(QWidget* parent) {
    const QString fonts = missingFontNotice(m_packs.m_currentLanguage);
    if (fonts.isEmpty())
        return false;
    MessageBox::show(parent, fonts, QMessageBox::Warning);
    return true;
}

QString missingFontNotice(std::uint16_t languageId) {
    // Windows language ids: the primary language in the low ten bits, the
    // region above (Chinese: 2 the PRC and 4 Singapore write Simplified).
    const unsigned primary = languageId & 0x3FFu;
    const unsigned region = languageId >> 10;
    QFontDatabase::WritingSystem script = QFontDatabase::Any;
    const char* name = nullptr;
    if (primary == 0x04 && (region == 2 || region == 4)) {
        script = QFontDatabase::SimplifiedChinese;
        name = "Chinese";
    } else if (primary == 0x04) {
        script = QFontDatabase::TraditionalChinese;
        name = "Chinese";
    } else if (primary == 0x11) {
        script = QFontDatabase::Japanese;
        name = "Japanese";
    } else if (primary == 0x12) {
        script = QFontDatabase::Korean;
        name = "Korean";
    }
    if (!name || !QFontDatabase::families(script).isEmpty())
        return {};
    // English whatever the language: its own letters are what cannot be drawn.
    return QStringLiteral("The %1 texts need a font with %1 characters, and none is installed, "
                          "so they show as empty boxes.\n\n"
                          "Install the fonts-noto-cjk package (sudo apt install fonts-noto-cjk), "
                          "then start Plexavo again.")
        .arg(QLatin1String(name));
}

QString translationNotice() {
    // No address at all rather than one that nobody reads.
    const char* contact = translationContact();
    return *contact ? str(kTranslationNotice, contact) : str(kTranslationNoticeNoAddress);
}

} // namespace plexavo::gui
