// Module texts as the windows read them, with a language pack current.
#include "engine/i18n/ResourceText.h"
#include "gui/common/QtTranslation.h"
#include "gui/common/UiText.h"

#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace plexavo;
using res::Entry;
using res::Kind;

namespace {
const Entry kPack[] = {
    {Kind::String, 0, 61212, 0,
     "Pr\xC3\xBC"
     "fe.\nNr. %d/%d: \"%s\""},
    {Kind::String, 0, 61221, 0, "Danke %d %s %s"}, // asks for more than callers pass
    {Kind::Dialog, 101, 1002, 0, "Durchsuchen..."},
    {Kind::Prompt, 0, 32801, 0, "F\xC3\xBCgt hinzu\nHinzuf\xC3\xBCgen"},
};
const res::Module kModule{"Test", 0x0407, kPack, std::size(kPack)};

QString qtCancelText() {
    QMessageBox box(QMessageBox::Question, QString(), QString(), QMessageBox::Cancel);
    return box.button(QMessageBox::Cancel)->text();
}
} // namespace

class UiTextTest : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { i18n::setCurrentModule(nullptr); }

    void packTextsAreFormattedAndDecoded() {
        i18n::setCurrentModule(&kModule);
        QCOMPARE(gui::str(61212, 2, 9, "/m/\xC3\xA4.avi"),
                 QString::fromUtf8("Pr\xC3\xBC"
                                   "fe.\nNr. 2/9: \"/m/\xC3\xA4.avi\""));
        QCOMPARE(gui::dialogText(101, 1002), QStringLiteral("Durchsuchen..."));
        QCOMPARE(gui::commandStatus(32801), QString::fromUtf8("F\xC3\xBCgt hinzu"));
        QCOMPARE(gui::commandTip(32801), QString::fromUtf8("Hinzuf\xC3\xBCgen"));
    }

    void aPackTextWithOtherDirectivesIsShownUnformatted() {
        i18n::setCurrentModule(&kModule);
        QCOMPARE(gui::str(61221, "Plexavo"), QStringLiteral("Danke %d %s %s"));
    }

    void aTextThePackLacksIsEmpty() {
        i18n::setCurrentModule(&kModule);
        QVERIFY(gui::str(61308).isEmpty());
        QVERIFY(gui::dialogText(101, 1003).isEmpty());
        i18n::setCurrentModule(nullptr);
        QCOMPARE(gui::str(61308), QStringLiteral("Add"));
    }

    // Qt's own texts for every language the program ships, from Qt's
    // translations (qt6-translations-l10n).
    void qtSpeaksEveryInterfaceLanguage_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("cancel");
        QTest::newRow("English") << 1033 << QString() << QStringLiteral("Cancel");
        QTest::newRow("German") << 1031 << QStringLiteral("de") << QStringLiteral("Abbrechen");
        QTest::newRow("French") << 1036 << QStringLiteral("fr") << QStringLiteral("Annuler");
        QTest::newRow("Spanish") << 3082 << QStringLiteral("es") << QStringLiteral("Cancelar");
        QTest::newRow("Japanese") << 1041 << QStringLiteral("ja")
                                  << QString::fromUtf8("\xE3\x82\xAD\xE3\x83\xA3\xE3\x83\xB3"
                                                       "\xE3\x82\xBB\xE3\x83\xAB");
        QTest::newRow("Chinese") << 2052 << QStringLiteral("zh_CN")
                                 << QString::fromUtf8("\xE5\x8F\x96\xE6\xB6\x88");
    }
    void qtSpeaksEveryInterfaceLanguage() {
        QFETCH(int, language);
        QFETCH(QString, locale);
        QFETCH(QString, cancel);
        QCOMPARE(gui::qtLocaleName(static_cast<unsigned>(language)), locale);
        if (!locale.isEmpty() && !QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) +
                                                QStringLiteral("/qtbase_") + locale + ".qm"))
            QSKIP("Qt's translations are not installed (scripts/install-deps.sh)");
        const res::Module module{"Test", static_cast<std::uint16_t>(language), kPack,
                                 std::size(kPack)};
        i18n::setCurrentModule(&module);
        {
            gui::QtTranslation translation;
            QVERIFY(translation.followCurrentModule());
            QCOMPARE(translation.installedLocale(), locale);
            QCOMPARE(qtCancelText(), cancel);
        }
        QCOMPARE(qtCancelText(), QStringLiteral("Cancel")); // gone with its owner
    }

    // A language Qt has no translation for, or one that is not installed:
    // Qt stays English, the previous translation does not linger, and the
    // caller learns it.
    void withoutATranslationQtStaysEnglish() {
        const res::Module german{"Test", 0x0407, kPack, std::size(kPack)};
        const res::Module afrikaans{"Test", 0x0436, kPack, std::size(kPack)};
        QTemporaryDir empty;
        gui::QtTranslation translation;
        i18n::setCurrentModule(&german);
        gui::QtTranslation::setFolder(empty.path());
        QVERIFY(!translation.followCurrentModule());
        QVERIFY(translation.installedLocale().isEmpty());
        QCOMPARE(qtCancelText(), QStringLiteral("Cancel"));
        gui::QtTranslation::setFolder(QString());
        if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) +
                           QStringLiteral("/qtbase_de.qm")))
            QSKIP("Qt's translations are not installed (scripts/install-deps.sh)");
        QVERIFY(translation.followCurrentModule());
        QCOMPARE(qtCancelText(), QStringLiteral("Abbrechen"));
        i18n::setCurrentModule(&afrikaans);
        QVERIFY(!translation.followCurrentModule());
        QCOMPARE(qtCancelText(), QStringLiteral("Cancel"));
    }
};

QTEST_MAIN(UiTextTest)
#include "test_ui_text.moc"
