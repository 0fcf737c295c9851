// Room for every script of the interface, measured without keeping the
// fallback fonts of those scripts loaded: the heights are those a layout of
// the tallest letters gives, in a label and in a list row, and measuring
// them maps no font file into the window's thread beyond the font's own.
#include "Process.h"
#include "gui/common/ScriptHeights.h"

#include <QApplication>
#include <QFontDatabase>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTextLayout>
#include <QTreeWidget>

#include <cmath>

using namespace plexavo::gui;
using testing_support::mappedFiles;

namespace {

qreal layoutHeight(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    return line.height();
}

} // namespace

class TestScriptHeights : public QObject {
    Q_OBJECT

  private slots:
    // First, while this thread has laid out no other script.
    void measuringLoadsNoFallbackFontHere() {
        if (QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty())
            QSKIP("no font for Chinese is installed: no fallback to keep out");
        QFont font = QApplication::font();
        font.setPointSize(font.pointSize() + 1); // one no other test here measured
        layoutHeight(ownLettersSample(), font);  // the font's own file
        const std::set<std::string> before = mappedFiles("/fonts/");
        QVERIFY(lineHeightForEveryScript(font) > 0);
        QVERIFY(extraHeightForEveryScript(font) >= 0);
        std::string added;
        for (const std::string& file : mappedFiles("/fonts/"))
            if (!before.contains(file))
                added += file + " ";
        QVERIFY2(added.empty(), added.c_str());
    }

    void aLabelLineHoldsTheTallestLetters() {
        const QFont font = QApplication::font();
        const QFontMetrics metrics(font);
        const int expected =
            std::max(metrics.lineSpacing(),
                     static_cast<int>(
                         std::ceil(metrics.leading() + layoutHeight(tallScriptsSample(), font))));
        QCOMPARE(lineHeightForEveryScript(font), expected);
        QCOMPARE(lineHeightForEveryScript(font), expected); // the kept answer
    }

    // The list's rows: measured with the font's own letters plus what the
    // other scripts add, they are as tall as a row of the tallest letters.
    void aListRowOfOwnLettersPlusTheExtraIsAsTallAsOneOfEveryScript() {
        QTreeWidget list;
        QStyleOptionViewItem option;
        option.initFrom(&list);
        option.features |= QStyleOptionViewItem::HasDisplay;
        option.font = list.font();
        option.fontMetrics = QFontMetrics(option.font);
        const auto rowHeight = [&](const QString& text) {
            option.text = text;
            return list.style()
                ->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), &list)
                .height();
        };
        const int own = rowHeight(ownLettersSample());
        const int every = rowHeight(tallScriptsSample());
        QCOMPARE(own + extraHeightForEveryScript(option.font), every);
        if (!QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty())
            QVERIFY2(every > own, "Chinese is drawn taller than the window's font");
    }
};

QTEST_MAIN(TestScriptHeights)
#include "test_script_heights.moc"
