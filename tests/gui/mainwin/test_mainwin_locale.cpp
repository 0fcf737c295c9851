// Under a German locale QApplication would make every decimal a comma, and
// the core refuses "-r 29,970". The program puts numbers back to "C" and
// leaves the rest of the user's locale alone. Runs with LC_ALL=de_DE.UTF-8.
#include "engine/convert/EncodingOptions.h"
#include "engine/settings/StoredSettings.h"
#include "gui/common/MessageBox.h"
#include "gui/shell/Application.h"
#include "gui/shell/MainWindow.h"
#include "gui/view/ConversionView.h"

#include <QComboBox>
#include <QTest>

#include <clocale>
#include <cstdio>

using namespace plexavo;

using plexavo::convert::buildOptionText;
using plexavo::gui::Application;
using plexavo::gui::initProcessLocale;
using plexavo::gui::MessageBox;
using plexavo::settings::ConversionSettings;
using plexavo::settings::frameRateListTexts;

namespace {
std::string printed(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
    return buffer;
}
} // namespace

class TestMainWinLocale : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        // The precondition: QApplication really adopted a German locale.
        if (printed(29.97) != "29,970")
            QFAIL("the de_DE.UTF-8 locale is not active; scripts/install-deps.sh generates it");
        settings::writeToolTipsHidden();
        MessageBox::setAutoAnswer(QMessageBox::Ok);
    }

    void numbersAreCAfterTheProcessLocaleIsSet() {
        initProcessLocale();
        QCOMPARE(printed(29.97), std::string("29.970"));
        // Only the numbers: texts and file names keep the user's encoding.
        QVERIFY(QByteArray(std::setlocale(LC_CTYPE, nullptr)).startsWith("de_DE"));

        ConversionSettings settings;
        settings.frameRateChoice = 3;
        const std::string options = buildOptionText(settings);
        QVERIFY2(options.find(" -r 29.970") != std::string::npos, options.c_str());
        QCOMPARE(frameRateListTexts()[3], std::string("29.970 fps"));
    }

    void startingTheProgramSetsIt() {
        std::setlocale(LC_NUMERIC, "");
        QCOMPARE(printed(14.985), std::string("14,985"));
        Application app;
        QVERIFY(app.initInstance());
        QCOMPARE(printed(14.985), std::string("14.985"));
        auto* rates = app.mainFrame()->view()->findChild<QComboBox*>(QStringLiteral("ctl1106"));
        QCOMPARE(rates->itemText(1), QStringLiteral("14.985 fps"));
        app.mainFrame()->close();
    }
};

QTEST_MAIN(TestMainWinLocale)
#include "test_mainwin_locale.moc"
