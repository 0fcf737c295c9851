// A progress bar that paints itself: a solid bar on a solid track with the
// centred percentage drawn over both, in the track's colour over the bar and
// in the bar's colour over the track, so the text stays readable as the bar
// passes under it. It repaints only when the bar's pixel width changes, so a
// position set ten times a second never flickers.
#pragma once

#include <QColor>
#include <QWidget>

namespace plexavo {

class CPercentProgressCtrl : public QWidget {
    Q_OBJECT

  public:
    explicit CPercentProgressCtrl(QWidget* parent = nullptr);

    // Stores both ends; no redraw, no check (a position set afterwards redraws).
    void SetRange(int lower, int upper);
    // Returns the previous position. Redraws at once when the bar's pixel
    // width changes, and only then.
    int SetPos(int pos);

    int pos() const { return m_nValue; }
    int lower() const { return m_nLower; }
    int upper() const { return m_nUpper; }
    // The bar's width in pixels at the last redraw (-1: none yet).
    int drawnWidth() const { return m_nDrawnWidth; }
    // Truncated percentage as drawn ("42%"); empty for an empty range.
    QString text() const;
    // Width of the filled part for the current position and client width.
    int barWidth() const;
    // Paint passes so far (tests count redraws with it).
    int paintCount() const { return m_paintCount; }

    QColor barColor() const { return m_crBar; }
    QColor trackColor() const { return m_crTrack; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    double fraction() const;

    int m_nValue = 0;
    int m_nUpper = 100;
    int m_nLower = 0;
    int m_nDrawnWidth = -1;
    // Taken from the palette once, when built.
    QColor m_crBar;
    QColor m_crTrack;
    QColor m_crTextOnTrack;
    QColor m_crTextOnBar;
    int m_paintCount = 0;
};

} // namespace plexavo
