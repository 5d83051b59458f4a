// The animated on/off switch.
#include "ui/widgets/animated_toggle.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVariantAnimation>

namespace {

constexpr int kKnobDiameter = 16;
const QColor kOff(0xD1, 0xD5, 0xDB);
const QColor kOn(0x25, 0x63, 0xEB);

int blend(int off, int on, double position) { return int(off + (on - off) * position); }

}  // namespace

void paintAnimatedToggle(QPainter& painter, const QRect& area, double position, bool focused) {
    const QRectF box(area);
    const double radius = box.height() / 2.0;
    const QColor track(blend(kOff.red(), kOn.red(), position),
                       blend(kOff.green(), kOn.green(), position),
                       blend(kOff.blue(), kOn.blue(), position));
    const double margin = (box.height() - kKnobDiameter) / 2.0;
    const double knobX =
        box.left() + margin + (box.width() - 2 * margin - kKnobDiameter) * position;
    const QRectF knob(knobX, box.top() + margin, kKnobDiameter, kKnobDiameter);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(track);
    painter.drawRoundedRect(box, radius, radius);
    if (focused) {
        // A ring inside the pill: the widget has no margin to draw one outside.
        painter.setPen(QPen(QColor(0x1E, 0x40, 0xAF), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(box.adjusted(0.75, 0.75, -0.75, -0.75), radius - 0.75,
                                radius - 0.75);
        painter.setPen(Qt::NoPen);
    }
    painter.setBrush(QColor(0, 0, 0, 15));
    painter.drawEllipse(knob.translated(0, 1));
    painter.setBrush(Qt::white);
    painter.drawEllipse(knob);
    painter.restore();
}

AnimatedToggle::AnimatedToggle(QWidget* parent)
    : QWidget(parent), m_animation(new QVariantAnimation(this)) {
    setFixedSize(44, 24);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    m_animation->setDuration(150);
    m_animation->setEasingCurve(QEasingCurve::InOutCubic);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_position = value.toDouble();
        update();
    });
}

void AnimatedToggle::setChecked(bool checked) {
    if (checked != m_checked) flip();
}

void AnimatedToggle::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintAnimatedToggle(painter, rect(), m_position, hasFocus());
}

void AnimatedToggle::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void AnimatedToggle::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        flip();
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void AnimatedToggle::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        flip();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void AnimatedToggle::flip() {
    m_checked = !m_checked;
    m_animation->stop();
    m_animation->setStartValue(m_position);
    m_animation->setEndValue(m_checked ? 1.0 : 0.0);
    m_animation->start();
    Q_EMIT toggled(m_checked);
}
