// Module texts as the windows read them, with a language pack current.
#include "engine/services/ResourceText.h"
#include "gui/common/UiText.h"

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
} // namespace

class UiTextTest : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { res::setCurrentModule(nullptr); }

    void packTextsAreFormattedAndDecoded() {
        res::setCurrentModule(&kModule);
        QCOMPARE(ui::str(61212, 2, 9, "/m/\xC3\xA4.avi"),
                 QString::fromUtf8("Pr\xC3\xBC"
                                   "fe.\nNr. 2/9: \"/m/\xC3\xA4.avi\""));
        QCOMPARE(ui::dialogText(101, 1002), QStringLiteral("Durchsuchen..."));
        QCOMPARE(ui::commandStatus(32801), QString::fromUtf8("F\xC3\xBCgt hinzu"));
        QCOMPARE(ui::commandTip(32801), QString::fromUtf8("Hinzuf\xC3\xBCgen"));
    }

    void aPackTextWithOtherDirectivesIsShownUnformatted() {
        res::setCurrentModule(&kModule);
        QCOMPARE(ui::str(61221, "Plexavo"), QStringLiteral("Danke %d %s %s"));
    }

    void aTextThePackLacksIsEmpty() {
        res::setCurrentModule(&kModule);
        QVERIFY(ui::str(61308).isEmpty());
        QVERIFY(ui::dialogText(101, 1003).isEmpty());
        res::setCurrentModule(nullptr);
        QCOMPARE(ui::str(61308), QStringLiteral("Add"));
    }
};

QTEST_MAIN(UiTextTest)
#include "test_ui_text.moc"
