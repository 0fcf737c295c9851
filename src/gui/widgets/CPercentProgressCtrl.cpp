#include "gui/widgets/CPercentProgressCtrl.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QPaintEvent>
#include <QPainter>

#include <cmath>

namespace plexavo {

namespace {

// Screen readers see a progress bar with its value, not an anonymous widget.
class PercentAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit PercentAccessible(CPercentProgressCtrl* bar)
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
    CPercentProgressCtrl* bar() const { return static_cast<CPercentProgressCtrl*>(widget()); }
};

QAccessibleInterface* percentAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("plexavo::CPercentProgressCtrl") && object &&
        object->isWidgetType())
        return new PercentAccessible(static_cast<CPercentProgressCtrl*>(object));
    return nullptr;
}

} // namespace

CPercentProgressCtrl::CPercentProgressCtrl(QWidget* parent)
    : QWidget(parent), m_crBar(palette().color(QPalette::Active, QPalette::Highlight)),
      m_crTrack(palette().color(QPalette::Active, QPalette::Base)), m_crTextOnTrack(m_crBar),
      m_crTextOnBar(m_crTrack) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(percentAccessibleFactory);
        return true;
    }();
    (void)factoryInstalled;
    // Every pixel is painted each time: no background erase, no flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void CPercentProgressCtrl::SetRange(int lower, int upper) {
    m_nLower = lower;
    m_nUpper = upper;
}

double CPercentProgressCtrl::fraction() const {
    if (m_nLower >= m_nUpper)
        return 0.0;
    return static_cast<double>(m_nValue - m_nLower) / static_cast<double>(m_nUpper - m_nLower);
}

int CPercentProgressCtrl::barWidth() const {
    return static_cast<int>(std::trunc(fraction() * width()));
}

QString CPercentProgressCtrl::text() const {
    if (m_nLower >= m_nUpper)
        return {};
    return QStringLiteral("%1%").arg(static_cast<int>(std::trunc(fraction() * 100.0)));
}

int CPercentProgressCtrl::SetPos(int pos) {
    const int old = m_nValue;
    m_nValue = pos;
    const int w = barWidth();
    if (w != m_nDrawnWidth) {
        m_nDrawnWidth = w;
        repaint();
    }
    if (old != pos && QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, pos);
        QAccessible::updateAccessibility(&event);
    }
    return old;
}

QSize CPercentProgressCtrl::sizeHint() const {
    const QFontMetrics fm = fontMetrics();
    return {fm.horizontalAdvance(QStringLiteral("100%")) * 4, fm.height() + 6};
}

QSize CPercentProgressCtrl::minimumSizeHint() const {
    const QFontMetrics fm = fontMetrics();
    return {fm.horizontalAdvance(QStringLiteral("100%")) + 8, fm.height() + 6};
}

void CPercentProgressCtrl::paintEvent(QPaintEvent* event) {
    ++m_paintCount;
    if (m_nLower >= m_nUpper)
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
        painter.fillRect(left, m_crBar);
    if (right.width() > 0)
        painter.fillRect(right, m_crTrack);

    const QString label = text();
    painter.setFont(font());
    if (left.width() > 0) {
        painter.save();
        painter.setClipRect(left.intersected(event->rect()));
        painter.setPen(m_crTextOnBar);
        painter.drawText(client, Qt::AlignCenter | Qt::TextSingleLine, label);
        painter.restore();
    }
    if (right.width() > 0) {
        painter.setClipRect(right.intersected(event->rect()));
        painter.setPen(m_crTextOnTrack);
        painter.drawText(client, Qt::AlignCenter | Qt::TextSingleLine, label);
    }
}

void CPercentProgressCtrl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_nDrawnWidth = -1;
}

} // namespace plexavo
