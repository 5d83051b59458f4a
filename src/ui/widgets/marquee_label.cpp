// A label that scrolls its text round when the text does not fit.
#include "ui/widgets/marquee_label.h"

#include <cmath>

#include <QEnterEvent>
#include <QPainter>
#include <QTimer>

namespace {

constexpr int kTickMs = 16;

}  // namespace

MarqueeLabel::MarqueeLabel(QWidget* parent) : MarqueeLabel(QString(), parent) {}

MarqueeLabel::MarqueeLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent), m_timer(new QTimer(this)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TranslucentBackground);
    setAlignment(Qt::AlignCenter);
    m_timer->setInterval(kTickMs);
    connect(m_timer, &QTimer::timeout, this, &MarqueeLabel::updateScroll);
    checkLayout();
}

void MarqueeLabel::setText(const QString& text) {
    if (text == QLabel::text()) return;
    QLabel::setText(text);
    m_offset = 0.0;
    checkLayout();
    update();
}

void MarqueeLabel::setScrollSpeed(int pixelsPerSecond) { m_scrollSpeed = pixelsPerSecond; }

void MarqueeLabel::setScrollOnHoverOnly(bool hoverOnly) {
    if (hoverOnly == m_scrollOnHoverOnly) return;
    m_scrollOnHoverOnly = hoverOnly;
    if (!scrollAllowed()) {
        stopScrolling();
    } else if (m_needsScroll && isVisible() && !m_timer->isActive()) {
        m_timer->start();
    }
    update();
}

void MarqueeLabel::updateScroll() {
    if (!m_needsScroll) {
        m_timer->stop();
        return;
    }
    m_offset = std::fmod(m_offset + m_scrollSpeed * double(m_timer->interval()) / 1000.0,
                         double(m_textWidth + m_gap));
    update();
}

void MarqueeLabel::paintEvent(QPaintEvent* event) {
    if (!m_needsScroll) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const QRect contents = contentsRect();
    painter.setClipRect(contents);
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics = fontMetrics();
    const int baseline =
        contents.top() + (contents.height() - metrics.height()) / 2 + metrics.ascent();
    if (!scrollAllowed()) {
        painter.drawText(contents.left(), baseline,
                         metrics.elidedText(text(), Qt::ElideRight, contents.width()));
        return;
    }
    const double x = contents.left() - m_offset;
    painter.drawText(QPointF(x, baseline), text());
    painter.drawText(QPointF(x + m_textWidth + m_gap, baseline), text());
}

void MarqueeLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    checkLayout();
}

void MarqueeLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        checkLayout();
    }
}

void MarqueeLabel::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    m_hovered = true;
    if (m_scrollOnHoverOnly && m_needsScroll) {
        m_offset = 0.0;
        m_timer->start();
        update();
    }
}

void MarqueeLabel::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    m_hovered = false;
    if (m_scrollOnHoverOnly) stopScrolling();
}

void MarqueeLabel::showEvent(QShowEvent* event) {
    QLabel::showEvent(event);
    if (m_needsScroll && !m_scrollOnHoverOnly) m_timer->start();
}

void MarqueeLabel::hideEvent(QHideEvent* event) {
    QLabel::hideEvent(event);
    m_timer->stop();
}

void MarqueeLabel::checkLayout() {
    const bool neededBefore = m_needsScroll;
    m_textWidth = fontMetrics().horizontalAdvance(text());
    m_needsScroll = m_textWidth > contentsRect().width();
    if (m_needsScroll && scrollAllowed() && isVisible() && !m_timer->isActive()) {
        m_offset = neededBefore ? m_offset : 0.0;
        m_timer->start();
    } else if (!m_needsScroll && neededBefore) {
        stopScrolling();
    }
}

void MarqueeLabel::stopScrolling() {
    m_timer->stop();
    m_offset = 0.0;
    update();
}
