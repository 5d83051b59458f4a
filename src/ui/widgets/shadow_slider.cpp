// The vertical volume fader that can show a second, ducked level as well as its own.
#include "ui/widgets/shadow_slider.h"

#include <algorithm>

#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr double kTrackMargin = 20.0;  // the handle's centre stays this far from either end
constexpr double kTrackWidth = 8.0;
constexpr double kHandleWidth = 20.0;
constexpr double kHandleHeight = 40.0;
constexpr double kRadius = 4.0;

const QColor kTrack(0xE5, 0xE7, 0xEB);
const QColor kFill(0x3B, 0x82, 0xF6);
const QColor kHandleBorder(0x9C, 0xA3, 0xAF);

}  // namespace

double shadowSliderHandleY(const QRect& area, const ShadowSliderLook& look) {
    const QRectF box(area);
    const double top = box.top() + kTrackMargin;
    const double bottom = box.bottom() - kTrackMargin;
    if (bottom <= top) return box.center().y();
    const int range = look.maximum - look.minimum;
    const double fraction = range > 0 ? double(look.shownValue - look.minimum) / range : 0.0;
    return std::clamp(bottom - (bottom - top) * fraction, top, bottom);
}

void paintShadowSlider(QPainter& painter, const QRect& area, const ShadowSliderLook& look) {
    const QRectF box(area);
    const double centreX = box.center().x();
    const double handleY = shadowSliderHandleY(area, look);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kTrack);
    painter.drawRoundedRect(QRectF(centreX - kTrackWidth / 2, box.top(), kTrackWidth, box.height()),
                            kRadius, kRadius);
    painter.setBrush(kFill);
    painter.drawRoundedRect(
        QRectF(centreX - kTrackWidth / 2, handleY, kTrackWidth, box.bottom() - handleY), kRadius,
        kRadius);

    const QRectF handle(centreX - kHandleWidth / 2, handleY - kHandleHeight / 2, kHandleWidth,
                        kHandleHeight);
    painter.setBrush(QColor(0, 0, 0, 45));
    painter.drawRoundedRect(handle.translated(0, 2), kRadius, kRadius);
    // Keyboard users see where the focus is by the handle's blue outline.
    painter.setPen(QPen(look.focused ? kFill : kHandleBorder, 2.0));
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(handle.adjusted(1, 1, -1, -1), kRadius, kRadius);
    painter.restore();
}

ShadowSlider::ShadowSlider(Qt::Orientation orientation, QWidget* parent)
    : QSlider(orientation, parent) {}

ShadowSlider::ShadowSlider(QWidget* parent) : QSlider(parent) {}

void ShadowSlider::setShadowValue(int value) {
    value = std::clamp(value, minimum(), maximum());
    if (m_hasShadow && m_shadowValue == value) return;
    m_shadowValue = value;
    m_hasShadow = true;
    update();
}

void ShadowSlider::clearShadow() {
    if (!m_hasShadow) return;
    m_hasShadow = false;
    update();
}

void ShadowSlider::mousePressEvent(QMouseEvent* event) {
    if (orientation() != Qt::Vertical || event->button() != Qt::LeftButton) {
        QSlider::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    jumpTo(event->position().y());
    event->accept();
}

void ShadowSlider::mouseMoveEvent(QMouseEvent* event) {
    if (orientation() != Qt::Vertical || !m_dragging) {
        QSlider::mouseMoveEvent(event);
        return;
    }
    jumpTo(event->position().y());
    event->accept();
}

void ShadowSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (orientation() != Qt::Vertical) {
        QSlider::mouseReleaseEvent(event);
        return;
    }
    if (event->button() == Qt::LeftButton) m_dragging = false;
    event->accept();
}

void ShadowSlider::paintEvent(QPaintEvent* event) {
    if (orientation() != Qt::Vertical) {
        QSlider::paintEvent(event);
        return;
    }
    QPainter painter(this);
    paintShadowSlider(painter, rect(),
                      {minimum(), maximum(), m_hasShadow ? m_shadowValue : value(), hasFocus()});
}

void ShadowSlider::jumpTo(double y) {
    const double length = height() - 2 * kTrackMargin;
    // Too short to have a track: a click there means no level in particular.
    if (length <= 0) return;
    const double fraction = std::clamp((y - kTrackMargin) / length, 0.0, 1.0);
    setValue(int(maximum() - double(maximum() - minimum()) * fraction));
}
