// Start-up with a stored language: the pack is current before the window is
// built, so everything comes up in it; a stored value of the wrong type, or a
// language whose pack has gone, starts in English with no entry checked.
#include "engine/services/RegistryKey.h"
#include "gui/shell/CMainFrame.h"
#include "gui/shell/CVantrelApp.h"
#include "gui/view/CVantrelView.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace plexavo;

namespace {

// Replaces the whole settings store, so no value of a previous case remains.
void storeSettings(const QString& values) {
    QFile hive(QString::fromStdString(CRegistryKey::hivePath()));
    QVERIFY(hive.open(QIODevice::WriteOnly | QIODevice::Truncate));
    hive.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Vantrel\\Plexavo]\n"
               "\"HiddenToolTips\"=\"TRUE\"\n");
    hive.write(values.toUtf8());
}

QList<bool> languageChecks(CMainFrame* frame) {
    QList<bool> checked;
    for (QAction* action : frame->popups().value(2)->actions())
        checked.append(action->isChecked());
    return checked;
}

QString browseText(CMainFrame* frame) {
    auto* browse = frame->view()->findChild<QPushButton*>(QStringLiteral("ctl1002"));
    return browse ? browse->text() : QString();
}

} // namespace

class TestLanguageStartup : public QObject {
    Q_OBJECT

    QTemporaryDir m_packs;

  private slots:
    void initTestCase() {
        QVERIFY(m_packs.isValid());
        for (const char* pack : {"LanResChsDll.so", "LanResDeuDll.so"})
            QVERIFY(
                QFile::copy(QStringLiteral(SHIPPED_PACKS_DIR "/") + pack, m_packs.filePath(pack)));
        lang::setPackFolder(m_packs.path().toStdString());
        QDir().mkpath(QString::fromStdString(CRegistryKey::hiveFolder()));
    }
    void cleanupTestCase() { lang::setPackFolder(""); }

    void startsInTheStoredLanguage_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("fileMenu");
        QTest::addColumn<QString>("browse");
        QTest::addColumn<QList<bool>>("checks"); // English, Chinese, German

        const QString english = QStringLiteral("Browse...");
        QTest::newRow("Chinese") << QStringLiteral("\"Language\"=dword:00000804\n") << 2052
                                 << QString::fromUtf8("\xE6\x96\x87\xE4\xBB\xB6(&F)")
                                 << QString::fromUtf8("\xE6\xB5\x8F\xE8\xA7\x88...")
                                 << QList<bool>{false, true, false};
        QTest::newRow("German") << QStringLiteral("\"Language\"=dword:00000407\n") << 1031
                                << QStringLiteral("&Datei") << QStringLiteral("Durchsuchen...")
                                << QList<bool>{false, false, true};
        QTest::newRow("English chosen")
            << QStringLiteral("\"Language\"=dword:00000409\n") << 1033 << QStringLiteral("&File")
            << english << QList<bool>{true, false, false};
        QTest::newRow("nothing stored") << QString() << 0 << QStringLiteral("&File") << english
                                        << QList<bool>{false, false, false};
        // A text is not a language id: read as missing.
        QTest::newRow("stored as text")
            << QStringLiteral("\"Language\"=\"2052\"\n") << 0 << QStringLiteral("&File") << english
            << QList<bool>{false, false, false};
        // Russian was chosen once, and its pack has gone since.
        QTest::newRow("pack gone")
            << QStringLiteral("\"Language\"=dword:00000419\n") << 0 << QStringLiteral("&File")
            << english << QList<bool>{false, false, false};
    }

    void startsInTheStoredLanguage() {
        QFETCH(QString, stored);
        QFETCH(int, language);
        QFETCH(QString, fileMenu);
        QFETCH(QString, browse);
        QFETCH(QList<bool>, checks);
        storeSettings(stored);

        CVantrelApp app;
        QVERIFY(app.InitInstance());
        CMainFrame* frame = app.mainFrame();
        QVERIFY(frame);
        QCOMPARE(int(app.languages().packs().m_currentLanguage), language);
        QCOMPARE(frame->popups().first()->title(), fileMenu);
        QCOMPARE(frame->windowTitle(), QStringLiteral("Plexavo"));
        // The view was built once, at start: it has the stored language only
        // because the language was current before the window existed.
        QCOMPARE(browseText(frame), browse);
        QCOMPARE(languageChecks(frame), checks);
    }
};

QTEST_MAIN(TestLanguageStartup)
#include "test_language_startup.moc"
