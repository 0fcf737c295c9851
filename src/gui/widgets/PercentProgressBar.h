// A progress bar that paints itself: a solid bar on a solid track with the
// centred percentage drawn over both, in the track's colour over the bar and
// in the bar's colour over the track, so the text stays readable as the bar
// passes under it. It repaints only when the bar's pixel width changes, so a
// position set ten times a second never flickers.
#pragma once

#include <QColor>
#include <QWidget>

namespace plexavo::gui {

class PercentProgressBar : public QWidget {
    Q_OBJECT

  public:
    explicit PercentProgressBar(QWidget* parent = nullptr);

    // Stores both ends; no redraw, no check (a position set afterwards redraws).
    void setRange(int lower, int upper);
    // Returns the previous position. Redraws at once when the bar's pixel
    // width changes, and only then.
    int setPos(int pos);

    int pos() const { return m_value; }
    int lower() const { return m_lower; }
    int upper() const { return m_upper; }
    // The bar's width in pixels at the last redraw (-1: none yet).
    int drawnWidth() const { return m_drawnWidth; }
    // Truncated percentage as drawn ("42%"); empty for an empty range.
    QString text() const;
    // Width of the filled part for the current position and client width.
    int barWidth() const;
    // Paint passes so far (tests count redraws with it).
    int paintCount() const { return m_paintCount; }

    QColor barColor() const { return m_barColor; }
    QColor trackColor() const { return m_trackColor; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    double fraction() const;

    int m_value = 0;
    int m_upper = 100;
    int m_lower = 0;
    int m_drawnWidth = -1;
    // Taken from the palette once, when built.
    QColor m_barColor;
    QColor m_trackColor;
    QColor m_textOnTrackColor;
    QColor m_textOnBarColor;
    int m_paintCount = 0;
};

} // namespace plexavo::gui
