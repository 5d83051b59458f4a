// The small round light beside the air status.
#include "ui/widgets/status_dot.h"

#include <cmath>

#include <QPainter>
#include <QTimerEvent>

namespace {

// Opacity steps a viewer can tell apart on a dot this small; finer changes are not repainted.
constexpr qreal kVisibleSteps = 48.0;
constexpr int kBreathCycleMs = 2000;
constexpr qreal kBreathLowest = 0.4;
// A slow breath needs no more than 25 frames a second; a coarse timer lets the system batch it.
constexpr int kBreathFrameMs = 40;

}  // namespace

StatusDot::StatusDot(int diameter, QWidget* parent) : QWidget(parent) {
    setFixedSize(diameter, diameter);
    setAttribute(Qt::WA_TranslucentBackground);
}

void StatusDot::setColor(const QColor& color) {
    if (color == m_color) return;
    m_color = color;
    update();
}

void StatusDot::setOpacity(qreal opacity) {
    opacity = std::clamp(opacity, 0.0, 1.0);
    const bool visible =
        std::lround(opacity * kVisibleSteps) != std::lround(m_opacity * kVisibleSteps);
    m_opacity = opacity;
    if (visible) update();
}

void StatusDot::setBreathing(bool breathing) {
    if (breathing == isBreathing()) return;
    if (breathing) {
        m_breath.start();
        m_timerId = startTimer(kBreathFrameMs, Qt::CoarseTimer);
    } else {
        killTimer(m_timerId);
        m_timerId = 0;
        setOpacity(1.0);
    }
}

void StatusDot::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_timerId) {
        QWidget::timerEvent(event);
        return;
    }
    // A sine from full (phase 0) down to the lowest (half way) and back up.
    const qreal phase = qreal(m_breath.elapsed() % kBreathCycleMs) / kBreathCycleMs;
    const qreal depth = 0.5 - 0.5 * std::cos(2.0 * M_PI * phase);
    setOpacity(1.0 - (1.0 - kBreathLowest) * depth);
}

void StatusDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QColor color = m_color;
    color.setAlphaF(color.alphaF() * m_opacity);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(rect()));
}
