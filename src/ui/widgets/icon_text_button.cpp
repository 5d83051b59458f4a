// A push button that draws its icon and text itself and scrolls a text that does not fit.
#include "ui/widgets/icon_text_button.h"

#include <algorithm>

#include <QPainter>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QTimer>

namespace {

constexpr int kMarqueeTickMs = 50;
constexpr int kMarqueeStepPx = 2;
constexpr int kMarqueePauseOffset = -60;  // 30 ticks of 2 pixels: 1.5 s before it moves

}  // namespace

IconTextButton::IconTextButton(QWidget* parent) : IconTextButton(QIcon(), QString(), parent) {}

IconTextButton::IconTextButton(const QIcon& icon, const QString& text, QWidget* parent)
    : QPushButton(icon, text, parent), m_marqueeTimer(new QTimer(this)) {
    m_marqueeTimer->setInterval(kMarqueeTickMs);
    connect(m_marqueeTimer, &QTimer::timeout, this, &IconTextButton::updateMarquee);
}

void IconTextButton::setIconSpacing(int pixels) {
    m_iconSpacing = std::max(0, pixels);
    update();
}

void IconTextButton::setCenterContent(bool center) {
    m_centerContent = center;
    update();
}

bool IconTextButton::marqueeRunning() const { return m_marqueeTimer->isActive(); }

void IconTextButton::updateMarquee() {
    m_marqueeOffset += kMarqueeStepPx;
    update();
}

void IconTextButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    QStyleOptionButton frame = option;
    frame.text.clear();
    frame.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButtonBevel, frame);

    const bool disabledLook = !isEnabled() && !property("connecting").toBool();
    const QRect contents = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    const QSize iconSz = icon().isNull() ? QSize(0, 0) : iconSize();
    const int textWidth = fontMetrics().horizontalAdvance(text());
    const int iconRoom = iconSz.isEmpty() ? 0 : iconSz.width() + m_iconSpacing + 1;

    int left = contents.left();
    if (m_centerContent && iconRoom + textWidth <= contents.width()) {
        left += (contents.width() - iconRoom - textWidth) / 2;
    }
    if (!iconSz.isEmpty()) {
        const QRect iconRect(left, contents.top() + (contents.height() - iconSz.height()) / 2,
                             iconSz.width(), iconSz.height());
        icon().paint(&painter, iconRect, Qt::AlignCenter,
                     disabledLook ? QIcon::Disabled : QIcon::Normal);
    }
    const QRect textRect(left + iconRoom, contents.top(), contents.right() + 1 - (left + iconRoom),
                         contents.height());
    const QColor colour = option.palette.color(disabledLook ? QPalette::Disabled : QPalette::Normal,
                                               QPalette::ButtonText);
    paintText(painter, textRect, colour);

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

// A hidden button is not painted, so the next paint starts the marquee again if needed.
void IconTextButton::hideEvent(QHideEvent* event) {
    QPushButton::hideEvent(event);
    m_marqueeTimer->stop();
}

void IconTextButton::paintText(QPainter& painter, const QRect& textRect, const QColor& colour) {
    painter.setPen(colour);
    const int textWidth = fontMetrics().horizontalAdvance(text());
    // No room at all (a button narrower than its icon): nothing to scroll, and the marquee's
    // period, text width plus room, could be zero.
    if (textWidth <= textRect.width() || textRect.width() <= 0) {
        resetMarquee();
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text());
        return;
    }
    if (text() != m_marqueeText || textWidth != m_marqueeTextWidth) {
        m_marqueeText = text();
        m_marqueeTextWidth = textWidth;
        m_marqueeOffset = kMarqueePauseOffset;
    }
    if (!m_marqueeTimer->isActive()) m_marqueeTimer->start();

    painter.save();
    painter.setClipRect(textRect);
    const int period = textWidth + textRect.width();
    const int shift = m_marqueeOffset < 0 ? 0 : m_marqueeOffset % period;
    const QRect first(textRect.left() - shift, textRect.top(), textWidth, textRect.height());
    painter.drawText(first, Qt::AlignLeft | Qt::AlignVCenter, text());
    if (shift > 0) {
        painter.drawText(first.translated(period, 0), Qt::AlignLeft | Qt::AlignVCenter, text());
    }
    painter.restore();
}

void IconTextButton::resetMarquee() {
    m_marqueeTimer->stop();
    m_marqueeOffset = 0;
    m_marqueeText.clear();
    m_marqueeTextWidth = 0;
}
