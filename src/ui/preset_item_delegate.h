// How a ducking preset is drawn in its list: the name above a grey description line.
#pragma once

#include <QStyledItemDelegate>

// Main thread only. The description is the item's kDescriptionRole data.
class PresetItemDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    static constexpr int kDescriptionRole = Qt::UserRole + 1;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
