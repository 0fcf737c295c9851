#include "gui/preview/PreviewWidgets.h"

#include <QImage>
#include <QMetaObject>
#include <QPainter>
#include <QStyleOptionSlider>
#include <QStylePainter>

#include <algorithm>

namespace plexavo::gui {

SelectionSlider::SelectionSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {}

void SelectionSlider::setSelection(int start, int end) {
    m_start = start;
    m_end = end;
    update();
}

int SelectionSlider::centreOf(int value) const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    option.sliderPosition = std::clamp(value, minimum(), maximum());
    option.sliderValue = option.sliderPosition;
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    return handle.center().x();
}

void SelectionSlider::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionSlider option;
    initStyleOption(&option);

    // Groove and ticks first, the selection over the groove, the thumb last
    // so that it stays on top of the band. Some styles fill the groove up to
    // the thumb; drawn as if at the start, only the part is highlighted.
    QStyleOptionSlider grooveOption = option;
    grooveOption.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderTickmarks;
    grooveOption.sliderPosition = grooveOption.upsideDown ? maximum() : minimum();
    grooveOption.sliderValue = grooveOption.sliderPosition;
    painter.drawComplexControl(QStyle::CC_Slider, grooveOption);

    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const int left = centreOf(std::min(m_start, m_end));
    const int right = centreOf(std::max(m_start, m_end));
    const QColor band =
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Highlight);
    const int bandHeight = std::max(4, groove.height() / 2);
    painter.fillRect(
        QRect(left, groove.center().y() - bandHeight / 2 + 1, right - left + 1, bandHeight), band);
    // Both ends marked across the groove, so an empty part still shows.
    const int markTop = groove.center().y() - bandHeight / 2 - 3;
    const int markHeight = bandHeight + 7;
    for (int x : {left, right})
        painter.fillRect(QRect(x - 1, markTop, 3, markHeight), band.darker(130));

    option.subControls = QStyle::SC_SliderHandle;
    if (isSliderDown())
        option.activeSubControls = QStyle::SC_SliderHandle;
    painter.drawComplexControl(QStyle::CC_Slider, option);
}

// ---------------------------------------------------------------------------

VideoSurface::VideoSurface(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
}

void VideoSurface::setPlayer(player::Player* player) {
    m_player = player;
    update();
}

void VideoSurface::frameArrived() {
    // One queued repaint at a time: a slow paint must not let a backlog of
    // update calls build up behind it.
    if (m_repaintQueued.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this, [this] { update(); }, Qt::QueuedConnection);
}

void VideoSurface::paintEvent(QPaintEvent*) {
    m_repaintQueued = false;
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!m_player || !m_player->latestFrame(m_frame) || m_frame.width <= 0 || m_frame.height <= 0)
        return;
    const QImage image(m_frame.pixels.data(), m_frame.width, m_frame.height, m_frame.stride,
                       QImage::Format_RGB32);
    // The player already scaled the frame to this size; only a frame of
    // another size (a different screen scale) is fitted here.
    QSize target = image.size().scaled(size() * devicePixelRatioF(), Qt::KeepAspectRatio);
    target /= devicePixelRatioF();
    const QRect where(QPoint((width() - target.width()) / 2, (height() - target.height()) / 2),
                      target);
    painter.drawImage(where, image);
    ++m_paintedFrames;
}

} // namespace plexavo::gui
