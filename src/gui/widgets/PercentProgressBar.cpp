#include "gui/widgets/PercentProgressBar.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QPaintEvent>
#include <QPainter>

#include <cmath>

namespace plexavo::gui {

namespace {

// Screen readers see a progress bar with its value, not an anonymous widget.
class PercentAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit PercentAccessible(PercentProgressBar* bar)
        : QAccessibleWidget(bar, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return bar()->text();
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return bar()->pos(); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return bar()->upper(); }
    QVariant minimumValue() const override { return bar()->lower(); }
    QVariant minimumStepSize() const override { return 1; }

  private:
    PercentProgressBar* bar() const { return static_cast<PercentProgressBar*>(widget()); }
};

QAccessibleInterface* percentAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String(PercentProgressBar::staticMetaObject.className()) && object &&
        object->isWidgetType())
        return new PercentAccessible(static_cast<PercentProgressBar*>(object));
    return nullptr;
}

} // namespace

PercentProgressBar::PercentProgressBar(QWidget* parent)
    : QWidget(parent), m_barColor(palette().color(QPalette::Active, QPalette::Highlight)),
      m_trackColor(palette().color(QPalette::Active, QPalette::Base)),
      m_textOnTrackColor(m_barColor), m_textOnBarColor(m_trackColor) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(percentAccessibleFactory);
        return true;
    }();
    (void)factoryInstalled;
    // Every pixel is painted each time: no background erase, no flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void PercentProgressBar::setRange(int lower, int upper) {
    m_lower = lower;
    m_upper = upper;
}

double PercentProgressBar::fraction() const {
    if (m_lower >= m_upper)
        return 0.0;
    return static_cast<double>(m_value - m_lower) / static_cast<double>(m_upper - m_lower);
}

int PercentProgressBar::barWidth() const {
    return static_cast<int>(std::trunc(fraction() * width()));
}

QString PercentProgressBar::text() const {
    if (m_lower >= m_upper)
        return {};
    return QStringLiteral("%1%").arg(static_cast<int>(std::trunc(fraction() * 100.0)));
}

int PercentProgressBar::setPos(int pos) {
    const int old = m_value;
    m_value = pos;
    const int w = barWidth();
    if (w != m_drawnWidth) {
        m_drawnWidth = w;
        repaint();
    }
    if (old != pos && QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, pos);
        QAccessible::updateAccessibility(&event);
    }
    return old;
}

QSize PercentProgressBar::sizeHint() const {
    const QFontMetrics fm = fontMetrics();
    return {fm.horizontalAdvance(QStringLiteral("100%")) * 4, fm.height() + 6};
}

QSize PercentProgressBar::minimumSizeHint() const {
    const QFontMetrics fm = fontMetrics();
    return {fm.horizontalAdvance(QStringLiteral("100%")) + 8, fm.height() + 6};
}

void PercentProgressBar::paintEvent(QPaintEvent* event) {
    ++m_paintCount;
    if (m_lower >= m_upper)
        return;
    // Qt's backing store already paints off screen and shows the result in
    // one block, so no extra buffer is needed here.
    QPainter painter(this);
    painter.setClipRect(event->rect());
    const QRect client = rect();
    const int edge = client.left() + barWidth();
    // Neither part clamps: a position past the upper end draws a bar past the edge.
    const QRect left(client.left(), client.top(), edge - client.left(), client.height());
    const QRect right(edge, client.top(), client.right() + 1 - edge, client.height());
    if (left.width() > 0)
        painter.fillRect(left, m_barColor);
    if (right.width() > 0)
        painter.fillRect(right, m_trackColor);

    const QString label = text();
    painter.setFont(font());
    if (left.width() > 0) {
        painter.save();
        painter.setClipRect(left.intersected(event->rect()));
        painter.setPen(m_textOnBarColor);
        painter.drawText(client, Qt::AlignCenter | Qt::TextSingleLine, label);
        painter.restore();
    }
    if (right.width() > 0) {
        painter.setClipRect(right.intersected(event->rect()));
        painter.setPen(m_textOnTrackColor);
        painter.drawText(client, Qt::AlignCenter | Qt::TextSingleLine, label);
    }
}

void PercentProgressBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_drawnWidth = -1;
}

} // namespace plexavo::gui
