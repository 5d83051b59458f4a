// Icons recoloured to one colour, and the looks of the buttons that show them.
#pragma once

#include <QPixmap>
#include <QString>

class QAbstractButton;
class QColor;
class QIcon;
class QSize;

// A pixmap of `size` × `devicePixelRatio` (each side at least 1 pixel) with `icon` painted
// centred and then recoloured to `colour`; it carries the ratio, so it stays crisp on high-DPI
// screens.
QPixmap tintedIcon(const QIcon& icon, const QSize& size, const QColor& colour,
                   qreal devicePixelRatio);

// A checkable icon button: white icon on the coloured "on" background, dimmed black when off.
// The style sheet keys the background on the button's "variant" property.
void applyTintedIconLook(QAbstractButton& button, const QString& iconPath, const QString& variant,
                         bool on, const QString& toolTip);

// The deck mute buttons.
void applyMuteButtonLook(QAbstractButton& button, bool muted);
