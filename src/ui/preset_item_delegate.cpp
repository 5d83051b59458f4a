// How a ducking preset is drawn in its list: the name above a grey description line.
#include "ui/preset_item_delegate.h"

#include <QPainter>

namespace {
constexpr int kItemHeightPx = 46;
constexpr int kPaddingXPx = 12;
constexpr int kNamePixelSize = 13;
constexpr int kDescriptionPixelSize = 12;
}  // namespace

void PresetItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRect area = option.rect;
    QColor background(0xFF, 0xFF, 0xFF);
    if (option.state & QStyle::State_Selected) {
        background = QColor(0xE0, 0xF2, 0xFE);
    } else if (option.state & QStyle::State_MouseOver) {
        background = QColor(0xF3, 0xF4, 0xF6);
    }
    painter->fillRect(area, background);

    const QRect text = area.adjusted(kPaddingXPx, 5, -kPaddingXPx, -5);
    QFont nameFont = option.font;
    nameFont.setPixelSize(kNamePixelSize);
    nameFont.setWeight(QFont::Medium);
    painter->setFont(nameFont);
    painter->setPen(QColor(0x1F, 0x29, 0x37));
    const QRect nameRect(text.left(), text.top(), text.width(), text.height() / 2);
    painter->drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetrics(nameFont).elidedText(index.data(Qt::DisplayRole).toString(),
                                                        Qt::ElideRight, nameRect.width()));

    QFont descriptionFont = option.font;
    descriptionFont.setPixelSize(kDescriptionPixelSize);
    painter->setFont(descriptionFont);
    painter->setPen(QColor(0x9C, 0xA3, 0xAF));
    const QRect descriptionRect(text.left(), nameRect.bottom() + 1, text.width(),
                                text.bottom() - nameRect.bottom());
    painter->drawText(descriptionRect, Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetrics(descriptionFont)
                          .elidedText(index.data(kDescriptionRole).toString(), Qt::ElideRight,
                                      descriptionRect.width()));
    painter->restore();
}

QSize PresetItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
    return QSize(QStyledItemDelegate::sizeHint(option, index).width(), kItemHeightPx);
}
