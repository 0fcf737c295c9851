// Start-up with a stored language: the pack is current before the window is
// built, so everything comes up in it; a stored value of the wrong type, or a
// language whose pack has gone, starts in English with no entry checked. The
// language an older Plexavo stored in its Plexavo.reg is taken over once.
#include "engine/settings/StoredSettings.h"
#include "gui/shell/Application.h"
#include "gui/shell/MainWindow.h"
#include "gui/view/ConversionView.h"

#include <QAction>
#include <QFile>
#include <QLibraryInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace plexavo;

using plexavo::gui::Application;
using plexavo::gui::MainWindow;

namespace {

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces the whole settings file, so no value of a previous case remains.
void storeSettings(const QString& values) {
    writeBytes(QString::fromStdString(settings::SettingsFile().path()),
               "[Settings]\nHiddenToolTips=true\n" + values.toUtf8());
}

QList<bool> languageChecks(MainWindow* frame) {
    QList<bool> checked;
    for (QAction* action : frame->popups().value(2)->actions())
        checked.append(action->isChecked());
    return checked;
}

// What Qt itself calls the Cancel button now.
QString qtCancelText() {
    QMessageBox box(QMessageBox::Question, QString(), QString(), QMessageBox::Cancel);
    return box.button(QMessageBox::Cancel)->text();
}

QString browseText(MainWindow* frame) {
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
        i18n::setPackFolder(m_packs.path().toStdString());
        QDir().mkpath(QString::fromStdString(settings::SettingsFile::folder()));
    }
    void cleanupTestCase() { i18n::setPackFolder(""); }

    void startsInTheStoredLanguage_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("fileMenu");
        QTest::addColumn<QString>("browse");
        QTest::addColumn<QList<bool>>("checks"); // English, Chinese, German
        QTest::addColumn<QString>("cancel");     // Qt's own text, in the same language

        const QString english = QStringLiteral("Browse...");
        QTest::newRow("Chinese") << QStringLiteral("Language=2052\n") << 2052
                                 << QString::fromUtf8("\xE6\x96\x87\xE4\xBB\xB6(&F)")
                                 << QString::fromUtf8("\xE6\xB5\x8F\xE8\xA7\x88...")
                                 << QList<bool>{false, true, false}
                                 << QString::fromUtf8("\xE5\x8F\x96\xE6\xB6\x88");
        QTest::newRow("German") << QStringLiteral("Language=1031\n") << 1031
                                << QStringLiteral("&Datei") << QStringLiteral("Durchsuchen...")
                                << QList<bool>{false, false, true} << QStringLiteral("Abbrechen");
        QTest::newRow("English chosen")
            << QStringLiteral("Language=1033\n") << 1033 << QStringLiteral("&File") << english
            << QList<bool>{true, false, false} << QStringLiteral("Cancel");
        QTest::newRow("nothing stored")
            << QString() << 0 << QStringLiteral("&File") << english
            << QList<bool>{false, false, false} << QStringLiteral("Cancel");
        // A text is not a language id: read as missing.
        QTest::newRow("stored as text")
            << QStringLiteral("Language=\"2052\"\n") << 0 << QStringLiteral("&File") << english
            << QList<bool>{false, false, false} << QStringLiteral("Cancel");
        // Russian was chosen once, and its pack has gone since.
        QTest::newRow("pack gone")
            << QStringLiteral("Language=1049\n") << 0 << QStringLiteral("&File") << english
            << QList<bool>{false, false, false} << QStringLiteral("Cancel");
    }

    void startsInTheStoredLanguage() {
        QFETCH(QString, stored);
        QFETCH(int, language);
        QFETCH(QString, fileMenu);
        QFETCH(QString, browse);
        QFETCH(QList<bool>, checks);
        storeSettings(stored);

        Application app;
        QVERIFY(app.initInstance());
        MainWindow* frame = app.mainFrame();
        QVERIFY(frame);
        QCOMPARE(int(app.languages().packs().m_currentLanguage), language);
        QCOMPARE(frame->popups().first()->title(), fileMenu);
        QCOMPARE(frame->windowTitle(), QStringLiteral("Plexavo"));
        // The view was built once, at start: it has the stored language only
        // because the language was current before the window existed.
        QCOMPARE(browseText(frame), browse);
        QCOMPARE(languageChecks(frame), checks);
        QFETCH(QString, cancel);
        if (cancel != QStringLiteral("Cancel") &&
            !QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_de.qm"))
            QSKIP("Qt's translations are not installed (scripts/install-deps.sh)");
        QCOMPARE(qtCancelText(), cancel);
    }

    void theLanguageAnOlderPlexavoStoredIsTakenOverOnce() {
        const QString folder = QString::fromStdString(settings::SettingsFile::folder());
        const QString oldFile = folder + QStringLiteral("/Plexavo.reg");
        QVERIFY(QFile::remove(QString::fromStdString(settings::SettingsFile().path())));
        QByteArray old = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Vantrel\\Plexavo]\n"
                         "\"HiddenToolTips\"=\"TRUE\"\n\"Language\"=dword:00000407\n";
        writeBytes(oldFile, old);
        {
            Application app;
            QVERIFY(app.initInstance());
            QCOMPARE(int(app.languages().packs().m_currentLanguage), 1031);
            QCOMPARE(browseText(app.mainFrame()), QStringLiteral("Durchsuchen..."));
            QVERIFY(settings::toolTipsHiddenThisRun);
        }
        // Now in the new file; the old one is as it was, and read no more.
        QCOMPARE(settings::readLanguage(), std::optional<int>(1031));
        QCOMPARE(readBytes(oldFile), old);
        writeBytes(oldFile, old.replace("00000407", "00000804"));
        Application app;
        QVERIFY(app.initInstance());
        QCOMPARE(int(app.languages().packs().m_currentLanguage), 1031);
        QVERIFY(QFile::remove(oldFile));
    }
};

QTEST_MAIN(TestLanguageStartup)
#include "test_language_startup.moc"
