// A static text whose lines hold long paths: each line is shortened in the
// middle ("/home/…/clip.mp4") to the label's width instead of widening the
// window or being cut at the edge. The whole text stays available as the
// tooltip and to screen readers.
#pragma once

#include <QLabel>

namespace plexavo::gui {

class PathLabel : public QLabel {
    Q_OBJECT

  public:
    explicit PathLabel(QWidget* parent = nullptr);

    // Sets the whole text; what is shown is it fitted to the width.
    void setFullText(const QString& text);
    QString fullText() const { return m_full; }
    // Lines the label keeps room for, so the window does not jump when a
    // longer text arrives.
    void setReservedLines(int lines);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void refit();

    QString m_full;
    int m_reservedLines = 1;
};

} // namespace plexavo::gui
