// Icons recoloured to one colour, and the looks of the buttons that show them.
#include "ui/widgets/tinted_icon.h"

#include <algorithm>
#include <cmath>

#include <QAbstractButton>
#include <QIcon>
#include <QPainter>
#include <QStyle>

QPixmap tintedIcon(const QIcon& icon, const QSize& size, const QColor& colour,
                   qreal devicePixelRatio) {
    // A ratio of 0, a negative one or NaN would make an empty or enormous pixmap.
    const qreal ratio =
        devicePixelRatio > 0.0 && std::isfinite(devicePixelRatio) ? devicePixelRatio : 1.0;
    const QSize pixels(std::max(1, int(std::lround(size.width() * ratio))),
                       std::max(1, int(std::lround(size.height() * ratio))));
    QPixmap pixmap(pixels);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);

    const QSizeF logical = QSizeF(pixels) / ratio;
    // Rendered at the device resolution, so the SVG is drawn sharp instead of scaled up.
    const QPixmap source = icon.pixmap(logical.toSize().expandedTo(QSize(1, 1)), ratio);
    const QSizeF sourceSize = QSizeF(source.size()) / source.devicePixelRatio();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(QPointF((logical.width() - sourceSize.width()) / 2.0,
                               (logical.height() - sourceSize.height()) / 2.0),
                       source);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRectF(QPointF(0, 0), logical), colour);
    painter.end();
    return pixmap;
}

void applyTintedIconLook(QAbstractButton& button, const QString& iconPath, const QString& variant,
                         bool on, const QString& toolTip) {
    constexpr QSize kIconSize(16, 16);
    const QColor colour = on ? QColor(Qt::white) : QColor(0, 0, 0, 153);
    button.setIcon(
        QIcon(tintedIcon(QIcon(iconPath), kIconSize, colour, button.devicePixelRatioF())));
    button.setIconSize(kIconSize);
    button.setToolTip(toolTip);
    if (button.property("variant").toString() != variant) {
        button.setProperty("variant", variant);
        button.style()->unpolish(&button);
        button.style()->polish(&button);
    }
}

void applyMuteButtonLook(QAbstractButton& button, bool muted) {
    applyTintedIconLook(button, QStringLiteral(":/icons/volume-x.svg"), QStringLiteral("mute"),
                        muted,
                        muted ? QStringLiteral("Muted - Click to unmute")
                              : QStringLiteral("Unmuted - Click to mute"));
}
