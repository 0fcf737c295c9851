// Switching the language from the menu: the Language menu's order and checks,
// the routing of its commands, the rebuilt window with its state carried over,
// the translation notice, and packs that fail at the last moment.
#include "gui/mainwin/MainWinSupport.h"

#include "engine/i18n/ResourceText.h"
#include "engine/settings/StoredSettings.h"
#include "gui/common/MessageBox.h"
#include "gui/common/UiText.h"
#include "gui/shell/LanguagePacksUi.h"
#include "gui/shell/MainWindow.h"
#include "gui/view/ConversionView.h"
#include "gui/widgets/ToolBar.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

using namespace plexavo;
using namespace mainwin_test;

using plexavo::gui::ConversionView;
using plexavo::gui::LanguageSwitch;
using plexavo::gui::MainWindow;
using plexavo::gui::MessageBox;
using plexavo::gui::translationContact;
using plexavo::gui::translationNotice;
using plexavo::settings::ConversionSettings;

namespace {

const QString kAlpha = QStringLiteral("&Alpha");
constexpr std::uint16_t kAlphaId = 0x0436; // the test catalog's language
const QString kChinese =
    QString::fromUtf8("&Chinese Simplified (\xE7\xAE\x80\xE4\xBD\x93\xE4\xB8\xAD\xE6\x96\x87)");
const QString kGerman = QStringLiteral("&German (Deutsch)");

bool copyPack(const QString& from, const QString& to) {
    QFile::remove(to);
    return QFile::copy(from, to);
}

} // namespace

class TestLanguageSwitch : public QObject {
    Q_OBJECT

    QTemporaryDir m_packs;
    std::unique_ptr<LanguageSwitch> m_switch;
    std::unique_ptr<MainWindow> m_frame;

    QMenu* languageMenu() const { return m_frame->popups().value(2); }
    QStringList languageEntries() const {
        QStringList texts;
        for (QAction* action : languageMenu()->actions())
            texts.append(action->text());
        return texts;
    }
    QList<bool> checks() const {
        QList<bool> checked;
        for (QAction* action : languageMenu()->actions())
            checked.append(action->isChecked());
        return checked;
    }
    template <typename T> T* control(int id) const {
        return m_frame->view()->findChild<T*>(QStringLiteral("ctl%1").arg(id));
    }
    // A command as the menu gives it: queued, then the event loop runs it.
    void choose(int id) {
        QAction* entry = nullptr;
        for (QAction* action : languageMenu()->actions())
            if (action->data().toInt() == id)
                entry = action;
        QVERIFY2(entry, qPrintable(QString::number(id)));
        entry->trigger();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

  private slots:
    void initTestCase() {
        QVERIFY(m_packs.isValid());
        const QString shipped = QStringLiteral(SHIPPED_PACKS_DIR "/");
        const QString test = QStringLiteral(LANG_TEST_PACKS "/");
        QVERIFY(copyPack(shipped + "LanResDeuDll.so", m_packs.filePath("LanResDeuDll.so")));
        QVERIFY(copyPack(shipped + "LanResChsDll.so", m_packs.filePath("LanResChsDll.so")));
        // "&Alpha" sorts before the Chinese pack, so it holds the second entry.
        QVERIFY(copyPack(test + "LanResAlphaDll.so", m_packs.filePath("LanResAlphaDll.so")));
        i18n::setPackFolder(m_packs.path().toStdString());

        settings::writeToolTipsHidden();
        settings::toolTipsHiddenThisRun = true;
    }

    void cleanupTestCase() { i18n::setPackFolder(""); }

    void init() {
        MessageBox::shownTexts().clear();
        MessageBox::setAutoAnswer(QMessageBox::Ok);
        m_switch = std::make_unique<LanguageSwitch>();
        m_frame = std::make_unique<MainWindow>();
        m_switch->attach(m_frame.get());
        m_frame->rebuildMenus(false);
    }

    void cleanup() {
        m_frame.reset();
        m_switch.reset();
        QCOMPARE(&i18n::currentModule(), &res::defaultModule());
    }

    void theMenuListsEnglishThenThePacksByName() {
        QCOMPARE(languageEntries(), (QStringList{"&English", kAlpha, kChinese, kGerman}));
        QList<int> ids;
        for (QAction* action : languageMenu()->actions()) {
            ids.append(action->data().toInt());
            QCOMPARE(action->objectName(), QStringLiteral("cmd%1").arg(action->data().toInt()));
            QVERIFY(action->isEnabled());
        }
        QCOMPARE(ids, (QList<int>{32750, 32751, 32752, 32753}));
        QCOMPARE(checks(), (QList<bool>{false, false, false, false})); // nothing chosen yet
        // The rest of the bar is the module's own.
        QCOMPARE(m_frame->popups().first()->title(), QStringLiteral("&File"));
    }

    void theCurrentLanguageIsChecked() {
        QVERIFY(m_switch->packs().selectLanguage(1031));
        m_frame->rebuildMenus(true);
        QCOMPARE(checks(), (QList<bool>{false, false, false, true}));
        QCOMPARE(m_frame->popups().first()->title(), QStringLiteral("&Datei"));
        QVERIFY(m_switch->packs().selectLanguage(1033));
        m_frame->rebuildMenus(true);
        QCOMPARE(checks(), (QList<bool>{true, false, false, false}));
    }

    void theSecondEntrySelectsThePackItNames() {
        const QPointer<ConversionView> before = m_frame->view();
        choose(32751); // the "&Alpha" entry, before Chinese
        QCOMPARE(m_switch->packs().m_currentLanguage, kAlphaId);
        QCOMPARE(i18n::currentModule().language, kAlphaId);
        QCOMPARE(settings::readLanguage(), std::optional<int>(kAlphaId));
        QVERIFY(before.isNull()); // the view was rebuilt
        QCOMPARE(checks(), (QList<bool>{false, true, false, false}));

        // Chosen again, it is current: nothing happens, as with every entry.
        const QPointer<ConversionView> second = m_frame->view();
        choose(32751);
        QVERIFY(!second.isNull());
        choose(32752); // the Chinese entry is Chinese
        QCOMPARE(m_switch->packs().m_currentLanguage, i18n::kChineseSimplified);
        QCOMPARE(settings::readLanguage(), std::optional<int>(2052));
        QVERIFY(second.isNull());
        QCOMPARE(m_frame->popups().first()->title(),
                 QString::fromUtf8("\xE6\x96\x87\xE4\xBB\xB6(&F)"));
    }

    void withoutAChinesePackTheSecondEntryIsNotChinese() {
        QFile::rename(m_packs.filePath("LanResChsDll.so"), m_packs.filePath("away.so"));
        m_frame->rebuildMenus(true);
        QCOMPARE(languageEntries(), (QStringList{"&English", kAlpha, kGerman}));
        settings::writeLanguage(1031);
        choose(32752); // German, now the third entry
        QCOMPARE(settings::readLanguage(), std::optional<int>(1031));
        choose(32751);
        QFile::rename(m_packs.filePath("away.so"), m_packs.filePath("LanResChsDll.so"));
        QCOMPARE(settings::readLanguage(), std::optional<int>(kAlphaId));
        QCOMPARE(i18n::currentModule().language, kAlphaId);
        QCOMPARE(checks(), (QList<bool>{false, true, false}));
    }

    void laterEntriesSwitchWithTheNotice() {
        choose(32753);
        QCOMPARE(m_switch->packs().m_currentLanguage, 1031);
        QCOMPARE(settings::readLanguage(), std::optional<int>(1031));
        QCOMPARE(MessageBox::shownTexts().size(), 1);
        const QString notice = MessageBox::shownTexts().first();
        QCOMPARE(notice, translationNotice()); // in the new language
        QVERIFY(notice.startsWith(QStringLiteral("Wenn Sie")));
        // The address only when the build names one: none is made up.
        if (*translationContact() == '\0')
            QCOMPARE(notice, QStringLiteral("Wenn Sie einen \u00dcbersetzungsfehler finden, "
                                            "teilen Sie uns das bitte mit. Vielen Dank!"));
        else
            QVERIFY(notice.contains(QString::fromUtf8(translationContact())));

        // The window speaks German: menus, title, toolbar, view.
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Plexavo"));
        QCOMPARE(m_frame->action(gui::cmd::kAdd)->text(),
                 QString::fromUtf8("&Hinzuf\xC3\xBCgen..."));
        QCOMPARE(m_frame->action(gui::cmd::kAbout)->text(), QString::fromUtf8("\xC3\x9C&"
                                                                              "ber Plexavo..."));
        auto* addButton = qobject_cast<QToolButton*>(
            m_frame->toolBar()->widgetForAction(m_frame->action(gui::cmd::kAdd)));
        QVERIFY(addButton);
        QCOMPARE(addButton->text(), QString::fromUtf8("Hinzuf\xC3\xBCgen"));
        QCOMPARE(control<QPushButton>(gui::ctl::kBrowse)->text(), QStringLiteral("Durchsuchen..."));

        // The checked entry again: nothing happens.
        const QPointer<ConversionView> view = m_frame->view();
        choose(32753);
        QVERIFY(!view.isNull());
        QCOMPARE(MessageBox::shownTexts().size(), 1);

        // Back to English through the first entry: no notice.
        choose(32750);
        QCOMPARE(m_switch->packs().m_currentLanguage, i18n::kEnglishUs);
        QCOMPARE(settings::readLanguage(), std::optional<int>(1033));
        QCOMPARE(MessageBox::shownTexts().size(), 1);
        QCOMPARE(m_frame->action(gui::cmd::kAdd)->text(), QStringLiteral("&Add..."));
        QCOMPARE(checks(), (QList<bool>{true, false, false, false}));
    }

    // Qt's own texts follow: a message box's standard buttons speak the
    // pack's language (Qt's translation, package qt6-translations-l10n),
    // a box already open too, and English again after the switch back.
    void standardButtonsSpeakTheChosenLanguage() {
        if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) +
                           QStringLiteral("/qtbase_de.qm")))
            QSKIP("Qt's German translation is not installed (scripts/install-deps.sh)");
        QMessageBox open(QMessageBox::Question, QString(), QString(),
                         QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(open.button(QMessageBox::Cancel)->text(), QStringLiteral("Cancel"));
        choose(32753);
        QCOMPARE(m_switch->packs().m_currentLanguage, 1031);
        QMessageBox box(QMessageBox::Question, QString(), QString(),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, m_frame.get());
        QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("Abbrechen"));
        QCOMPARE(box.button(QMessageBox::Yes)->text(), QStringLiteral("&Ja"));
        QCOMPARE(box.button(QMessageBox::No)->text(), QStringLiteral("&Nein"));
        QTRY_COMPARE(open.button(QMessageBox::Cancel)->text(), QStringLiteral("Abbrechen"));

        choose(32750);
        QMessageBox english(QMessageBox::Question, QString(), QString(), QMessageBox::Cancel,
                            m_frame.get());
        QCOMPARE(english.button(QMessageBox::Cancel)->text(), QStringLiteral("Cancel"));
        QTRY_COMPARE(open.button(QMessageBox::Cancel)->text(), QStringLiteral("Cancel"));
    }

    void theTipsOfAFirstStartDoNotReturnAfterASwitch() {
        int opened = 0;
        m_frame->configureView = [&](ConversionView* view) {
            view->runHelpTips = [&] { ++opened; };
        };
        settings::toolTipsHiddenThisRun =
            false; // a first start: the view opens the tips a second later
        m_frame->recreateView();
        QTRY_COMPARE_WITH_TIMEOUT(opened, 1, 5000);
        QVERIFY(settings::toolTipsHiddenThisRun); // closed, for the rest of this run too
        choose(32753);
        QCOMPARE(m_switch->packs().m_currentLanguage, 1031);
        QTest::qWait(ConversionView::kTipsDelayMs + 500);
        QCOMPARE(opened, 1);
        settings::toolTipsHiddenThisRun = true;
    }

    void theViewKeepsItsRowsAndSettings() {
        ConversionView* view = m_frame->view();
        addRows(*view, 3);
        select(*view, {0});
        view->onRemove(); // leaves an empty slot in the item array
        addRows(*view, 2);
        select(*view, {0, 2});
        view->onMoveDown();
        control<QRadioButton>(1005)->click();
        control<QComboBox>(gui::ctl::kSize)->setCurrentIndex(4);
        control<QLineEdit>(gui::ctl::kWidth)->setText(QStringLiteral("352"));
        control<QComboBox>(gui::ctl::kFrameRate)->setCurrentIndex(2);
        control<QComboBox>(gui::ctl::kChannels)->setCurrentIndex(1);
        control<QComboBox>(gui::ctl::kSampleRate)->setCurrentIndex(3);
        control<QCheckBox>(gui::ctl::kVariableBitRate)->setChecked(true);
        control<QLineEdit>(gui::ctl::kMaxRate)->setText(QStringLiteral("900"));
        control<QLineEdit>(gui::ctl::kMinRate)->setText(QStringLiteral("300"));
        const QStringList order = rowTitles(*view);
        const QList<int> selection = view->selectedRows();
        QList<int> tags;
        for (int row = 0; row < view->rowCount(); ++row)
            tags.append(view->rowTag(row));
        const ConversionSettings before = view->settings();
        // The output folder comes from the store, not from the old view.
        QTemporaryDir out;
        settings::writeOutputPath(out.path().toStdString() + "/");

        choose(32753);
        ConversionView* fresh = m_frame->view();
        QVERIFY(fresh != view);
        QCOMPARE(rowTitles(*fresh), order);
        QCOMPARE(fresh->selectedRows(), selection);
        for (int row = 0; row < fresh->rowCount(); ++row) {
            QCOMPARE(fresh->rowTag(row), tags[row]);
            QCOMPARE(fresh->cellText(row, 3), QStringLiteral("Bereit")); // columns refilled
        }
        QCOMPARE(fresh->itemAt(0), nullptr);
        const ConversionSettings after = fresh->settings();
        QCOMPARE(after.targetFormat, before.targetFormat);
        QCOMPARE(after.sizeChoice, 4);
        QCOMPARE(after.width, std::string("352"));
        QCOMPARE(after.height, before.height);
        QCOMPARE(after.frameRateChoice, 2);
        QCOMPARE(after.channelsChoice, 1);
        QCOMPARE(after.sampleRateChoice, 3);
        QVERIFY(after.variableBitRate);
        QCOMPARE(after.maxRate, std::string("900"));
        QCOMPARE(after.minRate, std::string("300"));
        QVERIFY(control<QLineEdit>(gui::ctl::kMaxRate)->isEnabled());
        QCOMPARE(fresh->outputPath(), out.path() + "/");
        // The probe details survive: the box still describes the file, in German.
        QVERIFY2(fresh->infoText().contains(QStringLiteral("Dauer:00:01:00.00")),
                 qPrintable(fresh->infoText()));
    }

    // The pointer rests on a toolbar button while the language changes (the
    // menu closes over the toolbar): the bar shows the button's tip in the
    // new language, alone, and "Ready" once the pointer has left.
    void aTipUnderThePointerStaysAloneInTheStatusBarThroughASwitch() {
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        choose(32752); // Chinese
        QStatusBar* bar = m_frame->statusBar();
        auto* ready = bar->findChild<QLabel*>(QStringLiteral("statusReady"));
        QVERIFY(ready);
        QAction* removeAll = m_frame->action(gui::cmd::kRemoveAll);
        QWidget* button = m_frame->toolBar()->widgetForAction(removeAll);
        QTest::mouseMove(button, button->rect().center());
        QTRY_COMPARE(bar->currentMessage(), removeAll->statusTip());
        QVERIFY(!ready->isVisible());

        choose(32750);    // English, the pointer still on the button
        QTest::qWait(50); // whatever the rebuilt bar queued has run
        QCOMPARE(bar->currentMessage(), QStringLiteral("Remove all files"));
        QCOMPARE(ready->text(), QStringLiteral("Ready"));
        QVERIFY(!ready->isVisible());
        // What is drawn: no pane of the bar lies over the tip's text.
        const QRect tipText(0, 0, bar->fontMetrics().horizontalAdvance(bar->currentMessage()) + 12,
                            bar->height());
        for (QWidget* pane : bar->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            QVERIFY2(!pane->isVisible() || !pane->geometry().intersects(tipText),
                     qPrintable(pane->objectName()));

        QTest::mouseMove(m_frame->view(), QPoint(5, m_frame->view()->height() - 5));
        QTRY_VERIFY(bar->currentMessage().isEmpty());
        QVERIFY(ready->isVisible());
    }

    void aPackThatBreaksBeforeTheSwitchChangesNothing() {
        QVERIFY(copyPack(QStringLiteral(LANG_TEST_PACKS "/LanResFlakyDll.so"),
                         m_packs.filePath("LanResFlakyDll.so")));
        choose(32753); // German first
        MessageBox::shownTexts().clear();
        qputenv("PLEXAVO_TEST_FLAKY_CALLS", "0");
        m_frame->rebuildMenus(true);
        QCOMPARE(languageEntries().last(), QStringLiteral("Flaky"));
        const QPointer<ConversionView> view = m_frame->view();
        qputenv("PLEXAVO_TEST_FLAKY_CALLS", "0"); // listed again by the switch, then broken
        choose(32754);
        QFile::remove(m_packs.filePath("LanResFlakyDll.so"));
        QVERIFY(!view.isNull()); // no rebuild
        QCOMPARE(m_switch->packs().m_currentLanguage, 1031);
        QCOMPARE(i18n::currentModule().language, 1031);
        QCOMPARE(settings::readLanguage(), std::optional<int>(1031));
        QVERIFY(MessageBox::shownTexts().isEmpty());
    }

    void entriesPastTheLastCommandAreDisabled() {
        QStringList copies;
        for (int i = 0; i < 20; ++i) {
            const QString name = m_packs.filePath(QStringLiteral("LanResAlpha%1Dll.so").arg(i));
            QVERIFY(copyPack(QStringLiteral(LANG_TEST_PACKS "/LanResAlphaDll.so"), name));
            copies.append(name);
        }
        m_frame->rebuildMenus(true);
        const QList<QAction*> entries = languageMenu()->actions();
        QCOMPARE(entries.size(), 24);
        for (QAction* action : entries)
            QCOMPARE(action->isEnabled(), action->data().toInt() <= 32769);
        for (const QString& copy : copies)
            QFile::remove(copy);
    }
};

QTEST_MAIN(TestLanguageSwitch)
#include "test_language_switch.moc"
