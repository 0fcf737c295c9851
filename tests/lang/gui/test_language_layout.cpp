// The main window in each of its six languages (English and every shipped
// pack): the settings lists open wide enough for their longest entry and name
// it in their tooltip, the toolbar's buttons share one size that holds every
// label and still fits the window, and every control has a name to announce.
#include "engine/i18n/LanguagePacks.h"
#include "engine/i18n/ResourceText.h"
#include "engine/settings/StoredSettings.h"
#include "gui/shell/MainWindow.h"
#include "gui/support/TabWalk.h"
#include "gui/view/ConversionView.h"
#include "gui/widgets/ToolBar.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

using namespace plexavo;

using plexavo::gui::MainWindow;
using plexavo::gui::ToolBar;

class TestLanguageLayout : public QObject {
    Q_OBJECT

    std::unique_ptr<i18n::LanguagePacks> m_packs;

    // The frame built in `language`, shown.
    std::unique_ptr<MainWindow> frameIn(int language) {
        m_packs = std::make_unique<i18n::LanguagePacks>();
        [&] { QVERIFY(m_packs->selectLanguage(static_cast<unsigned>(language))); }();
        auto frame = std::make_unique<MainWindow>();
        frame->view()->mediaFrameworkReady = [] { return true; };
        frame->show();
        [&] { QVERIFY(QTest::qWaitForWindowExposed(frame.get())); }();
        return frame;
    }

    static void addLanguages() {
        QTest::addColumn<int>("language");
        QTest::newRow("English") << 1033;
        QTest::newRow("Chinese") << 2052;
        QTest::newRow("German") << 1031;
        QTest::newRow("French") << 1036;
        QTest::newRow("Spanish") << 3082;
        QTest::newRow("Japanese") << 1041;
    }

  private slots:
    void initTestCase() {
        settings::writeToolTipsHidden();
        settings::toolTipsHiddenThisRun = true;
        i18n::setPackFolder(SHIPPED_PACKS_DIR);
    }
    void cleanup() { m_packs.reset(); }
    void cleanupTestCase() { i18n::setPackFolder(""); }

    void everyListOpensWideEnoughForItsLongestEntry_data() { addLanguages(); }
    void everyListOpensWideEnoughForItsLongestEntry() {
        QFETCH(int, language);
        auto frame = frameIn(language);
        QCOMPARE(i18n::currentModule().language, language);
        const QList<QComboBox*> lists = frame->view()->findChildren<QComboBox*>();
        int checked = 0;
        for (QComboBox* list : lists) {
            if (!list->isVisible())
                continue; // the hidden volume list
            ++checked;
            // The closed box names its whole entry, whichever is chosen.
            for (int i : {list->count() - 1, 0}) {
                list->setCurrentIndex(i);
                QCOMPARE(list->toolTip(), list->itemText(i));
            }
            list->showPopup();
            QAbstractItemView* view = list->view();
            QTRY_VERIFY(view->isVisible());
            const int room = view->viewport()->width();
            const QFontMetrics metrics(view->font());
            for (int row = 0; row < list->count(); ++row) {
                // What the popup's item needs around a text this wide: asked
                // as a menu asks for its items' width.
                const QModelIndex index = view->model()->index(row, 0);
                QStyleOptionViewItem option;
                option.initFrom(view);
                option.font = view->font();
                option.rect =
                    QRect(0, 0, metrics.horizontalAdvance(list->itemText(row)), metrics.height());
                const int needs = view->itemDelegate()->sizeHint(option, index).width();
                QVERIFY2(needs <= room, qPrintable(QStringLiteral("%1 \"%2\" needs %3 of %4")
                                                       .arg(list->objectName(), list->itemText(row))
                                                       .arg(needs)
                                                       .arg(room)));
            }
            list->hidePopup();
        }
        QCOMPARE(checked, 6);
    }

    void toolbarButtonsShareTheWidestLabelsSize_data() { addLanguages(); }
    void toolbarButtonsShareTheWidestLabelsSize() {
        QFETCH(int, language);
        auto frame = frameIn(language);
        QSize shared;
        int buttons = 0;
        for (QAction* action : frame->toolBar()->actions()) {
            if (action->isSeparator())
                continue;
            auto* button = qobject_cast<QToolButton*>(frame->toolBar()->widgetForAction(action));
            QVERIFY(button && button->isVisible());
            ++buttons;
            if (shared.isEmpty())
                shared = button->size();
            QCOMPARE(button->size(), shared);
            // The label fits whole inside the button's frame, every line of
            // it, and under the image.
            const int frame = button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
            const QStringList lines = button->text().split(QLatin1Char('\n'));
            for (const QString& line : lines)
                QVERIFY2(button->fontMetrics().horizontalAdvance(line) <=
                             shared.width() - 2 * frame,
                         qPrintable(line));
            QVERIFY(lines.size() <= 2);
            QVERIFY2(button->iconSize().height() + lines.size() * button->fontMetrics().height() <=
                         shared.height() - 2 * frame,
                     qPrintable(button->text()));
            // And it is the action's label, only broken at a blank if at all.
            QCOMPARE(button->accessibleName(),
                     QString(button->text()).replace(QLatin1Char('\n'), QLatin1Char(' ')));
        }
        QCOMPARE(buttons, 8);
        QVERIFY(shared.width() >= ToolBar::kButtonSize);
        QVERIFY(shared.height() >= ToolBar::kButtonSize);
        qInfo("%d: buttons %dx%d, the bar needs %d of %d", language, shared.width(),
              shared.height(), frame->toolBar()->sizeHint().width(), frame->width());
        // No button is pushed into an overflow menu, and the view below
        // still has the room it needs.
        QVERIFY(frame->toolBar()->sizeHint().width() <= frame->width());
        const QSize need = frame->view()->minimumSizeHint();
        QVERIFY2(need.width() <= frame->view()->width() && need.height() <= frame->view()->height(),
                 qPrintable(QStringLiteral("the view needs %1x%2 and has %3x%4")
                                .arg(need.width())
                                .arg(need.height())
                                .arg(frame->view()->width())
                                .arg(frame->view()->height())));
    }

    void everyControlHasANameToAnnounce_data() { addLanguages(); }
    void everyControlHasANameToAnnounce() {
        QFETCH(int, language);
        auto frame = frameIn(language);
        frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(frame.get()));
        frame->view()->sourceList()->setFocus();
        const tab_walk::Result walked = tab_walk::walk(frame.get());
        QVERIFY2(walked.unnamed.isEmpty(), qPrintable(walked.unnamed.join(QLatin1Char(' '))));
        QVERIFY2(walked.stops.size() >= 16, qPrintable(walked.stops.join(QLatin1Char(' '))));
    }
};

QTEST_MAIN(TestLanguageLayout)
#include "test_language_layout.moc"
