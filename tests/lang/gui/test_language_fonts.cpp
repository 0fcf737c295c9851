// Switching to a language whose letters no installed font has: the program
// runs here with fontconfig limited to Latin fonts (FONTCONFIG_FILE, set by
// the test's CMake), as on a system without the recommended fonts-noto-cjk.
#include "engine/i18n/ResourceText.h"
#include "engine/settings/StoredSettings.h"
#include "gui/common/MessageBox.h"
#include "gui/shell/Application.h"
#include "gui/shell/LanguagePacksUi.h"
#include "gui/shell/MainWindow.h"

#include <QAction>
#include <QFile>
#include <QFontDatabase>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

using namespace plexavo;

using plexavo::gui::Application;
using plexavo::gui::LanguageSwitch;
using plexavo::gui::MainWindow;
using plexavo::gui::MessageBox;
using plexavo::gui::missingFontNotice;
using plexavo::gui::translationNotice;

class TestLanguageFonts : public QObject {
    Q_OBJECT

    QTemporaryDir m_packs;
    std::unique_ptr<LanguageSwitch> m_switch;
    std::unique_ptr<MainWindow> m_frame;

    // A command as the menu gives it: queued, then the event loop runs it.
    void choose(const QString& entryStart) {
        QAction* entry = nullptr;
        for (QAction* action : m_frame->popups().value(2)->actions())
            if (action->text().startsWith(entryStart))
                entry = action;
        QVERIFY2(entry, qPrintable(entryStart));
        entry->trigger();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

  private slots:
    void initTestCase() {
        QVERIFY(m_packs.isValid());
        for (const char* pack : {"LanResChsDll.so", "LanResJpnDll.so", "LanResDeuDll.so"})
            QVERIFY(
                QFile::copy(QStringLiteral(SHIPPED_PACKS_DIR "/") + pack, m_packs.filePath(pack)));
        i18n::setPackFolder(m_packs.path().toStdString());
        settings::writeToolTipsHidden();
        settings::toolTipsHiddenThisRun = true;
        // The premise: this process sees no font for these scripts.
        QVERIFY2(!qEnvironmentVariableIsEmpty("FONTCONFIG_FILE"), "run through ctest");
        QVERIFY(QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty());
        QVERIFY(QFontDatabase::families(QFontDatabase::Japanese).isEmpty());
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
        m_switch.reset(); // unloads the pack: English again
        QCOMPARE(&i18n::currentModule(), &res::defaultModule());
    }

    void theNoticeNamesThePackageToInstall_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("script");
        QTest::newRow("Chinese") << "&Chinese" << 2052 << "Chinese";
        QTest::newRow("Japanese") << "&Japanese" << 1041 << "Japanese";
    }
    void theNoticeNamesThePackageToInstall() {
        QFETCH(QString, entry);
        QFETCH(int, language);
        QFETCH(QString, script);
        choose(entry);
        // The switch itself goes through: the choice is the user's.
        QCOMPARE(int(m_switch->packs().m_currentLanguage), language);
        QCOMPARE(settings::readLanguage(), std::optional<int>(language));
        // One box, readable without the missing letters, instead of the
        // translation notice that would be drawn in them.
        QCOMPARE(MessageBox::shownTexts().size(), 1);
        const QString text = MessageBox::shownTexts().first();
        QCOMPARE(text, missingFontNotice(static_cast<std::uint16_t>(language)));
        QVERIFY(text.contains(QStringLiteral("sudo apt install fonts-noto-cjk")));
        QVERIFY(text.contains(script));
        for (const QChar c : text)
            QVERIFY2(c.unicode() < 0x80, qPrintable(text));
    }

    void aStartInSuchALanguageSaysSoOnceTheWindowIsUp() {
        m_frame.reset();
        m_switch.reset();
        settings::writeLanguage(2052);
        {
            Application app;
            QVERIFY(app.initInstance({}));
            // Said once the window is there to carry it, before anything else.
            QVERIFY(MessageBox::shownTexts().isEmpty());
            QTRY_COMPARE(MessageBox::shownTexts().size(), 1);
            QCOMPARE(MessageBox::shownTexts().first(), missingFontNotice(2052));
            QVERIFY(app.mainFrame()->isVisible());
            QCOMPARE(int(app.languages().packs().m_currentLanguage), 2052);
        }
        // Where the letters are there (German), a start says nothing.
        settings::writeLanguage(1031);
        MessageBox::shownTexts().clear();
        {
            Application app;
            QVERIFY(app.initInstance({}));
            QTest::qWait(300);
            QCOMPARE(MessageBox::shownTexts(), QStringList());
        }
        settings::writeLanguage(1033);
    }

    void latinLanguagesNeedNoMoreFonts() {
        QCOMPARE(missingFontNotice(1031), QString());
        QCOMPARE(missingFontNotice(1033), QString());
        QCOMPARE(missingFontNotice(0x0404), missingFontNotice(0x0C04)); // Traditional alike
        QVERIFY(!missingFontNotice(0x0412).isEmpty());                  // Korean
        choose(QStringLiteral("&German"));
        QCOMPARE(MessageBox::shownTexts(), QStringList{translationNotice()});
    }
};

QTEST_MAIN(TestLanguageFonts)
#include "test_language_fonts.moc"
