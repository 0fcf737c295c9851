#include "gui/widgets/PathLabel.h"

#include "gui/common/ScriptHeights.h"

#include <QFontMetrics>
#include <QResizeEvent>

namespace plexavo::gui {

PathLabel::PathLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText); // a file name like "<b>.mp4" is not markup
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void PathLabel::setFullText(const QString& text) {
    if (text == m_full)
        return;
    m_full = text;
    setToolTip(text);
    setAccessibleName(text);
    refit();
}

void PathLabel::setReservedLines(int lines) {
    m_reservedLines = std::max(lines, 1);
    updateGeometry();
}

QSize PathLabel::sizeHint() const {
    const QMargins m = contentsMargins();
    const int lines =
        std::max<int>(m_reservedLines, static_cast<int>(m_full.count(QLatin1Char('\n'))) + 1);
    // A path may be Chinese whatever the language: room for its taller font.
    return {fontMetrics().averageCharWidth() * 20,
            lines * lineHeightForEveryScript(font()) + m.top() + m.bottom()};
}

QSize PathLabel::minimumSizeHint() const {
    return sizeHint();
}

void PathLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    refit();
}

void PathLabel::refit() {
    const int width = contentsRect().width();
    const QFontMetrics fm = fontMetrics();
    QStringList lines = m_full.split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = fm.elidedText(line, Qt::ElideMiddle, std::max(width, 1));
    setText(lines.join(QLatin1Char('\n')));
}

} // namespace plexavo::gui
