// The percentage bar: pixel width, the truncated text in two colours, and
// redraws only when the bar's pixel width changes.
#include "gui/widgets/PercentProgressBar.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QImage>
#include <QTest>

using plexavo::gui::PercentProgressBar;

namespace {

// The bar as painted, over a magenta ground that shows any pixel left unpainted.
QImage rendered(PercentProgressBar& bar) {
    QImage image(bar.size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    bar.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
}

// Pixels of the text drawn in `ink` over `ground`: any colour between the two
// (glyph edges are blended), but not the ground itself.
int countInk(const QImage& image, const QRect& area, QColor ink, QColor ground) {
    auto between = [](int v, int a, int b) { return v >= std::min(a, b) && v <= std::max(a, b); };
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c != ground && between(c.red(), ink.red(), ground.red()) &&
                between(c.green(), ink.green(), ground.green()) &&
                between(c.blue(), ink.blue(), ground.blue()))
                ++n;
        }
    return n;
}

int countColour(const QImage& image, const QRect& area, QColor colour) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixelColor(x, y) == colour)
                ++n;
    return n;
}

} // namespace

class ProgressBarTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<PercentProgressBar> m_bar;

    PercentProgressBar& shownBar(int width, int height = 20) {
        m_bar = std::make_unique<PercentProgressBar>();
        m_bar->resize(width, height);
        m_bar->show();
        QCoreApplication::processEvents();
        return *m_bar;
    }

  private slots:
    void cleanup() { m_bar.reset(); }

    void startsAtZeroOfHundred() {
        PercentProgressBar bar;
        QCOMPARE(bar.lower(), 0);
        QCOMPARE(bar.upper(), 100);
        QCOMPARE(bar.pos(), 0);
        QCOMPARE(bar.drawnWidth(), -1);
        QVERIFY(bar.barColor() != bar.trackColor());
    }

    void fortyTwoOfHundredOnThreeHundredPixels() {
        auto& bar = shownBar(300);
        QCOMPARE(bar.setPos(42), 0);
        QCOMPARE(bar.drawnWidth(), 126);
        QCOMPARE(bar.text(), QStringLiteral("42%"));
        const QImage image = rendered(bar);
        // Top row, clear of the text: bar up to pixel 125, track from 126 on.
        QCOMPARE(image.pixelColor(0, 0), bar.barColor());
        QCOMPARE(image.pixelColor(125, 0), bar.barColor());
        QCOMPARE(image.pixelColor(126, 0), bar.trackColor());
        QCOMPARE(image.pixelColor(299, 19), bar.trackColor());
        QCOMPARE(countColour(image, image.rect(), Qt::magenta), 0);
        QCOMPARE(bar.setPos(43), 42);
    }

    void percentIsTruncatedNotRounded() {
        auto& bar = shownBar(200);
        bar.setRange(0, 1000);
        bar.setPos(999);
        QCOMPARE(bar.text(), QStringLiteral("99%"));
        bar.setRange(10, 20);
        bar.setPos(15);
        QCOMPARE(bar.text(), QStringLiteral("50%"));
        QCOMPARE(bar.barWidth(), 100);
    }

    void positionPastTheEndIsNotClamped() {
        auto& bar = shownBar(300);
        bar.setPos(150);
        QCOMPARE(bar.text(), QStringLiteral("150%"));
        QCOMPARE(bar.drawnWidth(), 450);
        const QImage image = rendered(bar);
        QCOMPARE(countColour(image, QRect(0, 0, 300, 1), bar.barColor()), 300);
    }

    void textIsDrawnInTheOtherPartsColour() {
        auto& bar = shownBar(300, 30);
        bar.setPos(50); // the edge runs through the middle of "50%"
        const QImage image = rendered(bar);
        const QRect text = bar.fontMetrics().boundingRect(bar.text());
        const QRect box(150 - text.width() / 2 - 2, 0, text.width() + 4, 30);
        const QRect onBar(box.left(), 0, 150 - box.left(), 30);
        const QRect onTrack(150, 0, box.right() - 150 + 1, 30);
        // Glyph pixels over the bar take the track's colour, and the other way round.
        QVERIFY(countInk(image, onBar, bar.trackColor(), bar.barColor()) > 10);
        QVERIFY(countInk(image, onTrack, bar.barColor(), bar.trackColor()) > 10);
        // And nowhere else: outside the text box each part is plain.
        QCOMPARE(countColour(image, QRect(0, 0, box.left(), 30), bar.trackColor()), 0);
        QCOMPARE(countColour(image, QRect(box.right() + 1, 0, 300 - box.right() - 1, 30),
                             bar.barColor()),
                 0);
    }

    void redrawsOnlyWhenThePixelWidthChanges() {
        auto& bar = shownBar(50);
        bar.setPos(10); // 5 px
        const int painted = bar.paintCount();
        bar.setPos(10);
        QCOMPARE(bar.paintCount(), painted);
        bar.setPos(11); // still 5 px: no redraw even though the text would read 11%
        QCOMPARE(bar.paintCount(), painted);
        QCOMPARE(bar.setPos(12), 11); // 6 px
        QCOMPARE(bar.paintCount(), painted + 1);
        QCOMPARE(bar.drawnWidth(), 6);
    }

    void resizeForcesTheNextRedraw() {
        auto& bar = shownBar(100);
        bar.setPos(30);
        QCOMPARE(bar.drawnWidth(), 30);
        bar.resize(200, 20);
        QCOMPARE(bar.drawnWidth(), -1);
        bar.setPos(30);
        QCOMPARE(bar.drawnWidth(), 60);
    }

    void emptyRangeDrawsNothing() {
        auto& bar = shownBar(100);
        bar.setRange(100, 100);
        bar.setPos(100);
        QCOMPARE(bar.text(), QString());
        const QImage image = rendered(bar);
        QCOMPARE(countColour(image, image.rect(), Qt::magenta), 100 * 20);
    }

    void screenReadersSeeAProgressBarWithItsValue() {
        auto& bar = shownBar(100);
        bar.setAccessibleName(QStringLiteral("Overall Progress"));
        bar.setPos(42);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&bar);
        QVERIFY(iface);
        QCOMPARE(iface->role(), QAccessible::ProgressBar);
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Overall Progress"));
        QVERIFY(iface->valueInterface());
        QCOMPARE(iface->valueInterface()->currentValue().toInt(), 42);
        QCOMPARE(iface->valueInterface()->maximumValue().toInt(), 100);
    }
};

QTEST_MAIN(ProgressBarTest)
#include "test_progress_bar.moc"
