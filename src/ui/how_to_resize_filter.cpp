// Keeps the how-to dialog's pictures as wide as its scroll area's viewport.
#include "ui/how_to_resize_filter.h"

#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QScrollArea>

HowToResizeFilter::HowToResizeFilter(QScrollArea* scrollArea, QList<Picture> pictures,
                                     QObject* parent)
    : QObject(parent), m_scrollArea(scrollArea), m_pictures(std::move(pictures)) {}

void HowToResizeFilter::rescale() {
    const int widthPx = qMax(1, m_scrollArea->viewport()->width());
    if (QWidget* content = m_scrollArea->widget()) content->setMinimumWidth(widthPx);
    for (const Picture& picture : m_pictures) {
        if (picture.original.isNull()) continue;
        // The step card's own margins come off, or the picture's right edge is cut away.
        int pictureWidthPx = widthPx;
        if (QLayout* card = picture.label->parentWidget()->layout()) {
            const QMargins margins = card->contentsMargins();
            pictureWidthPx = qMax(1, widthPx - margins.left() - margins.right());
        }
        picture.label->setPixmap(
            picture.original.scaledToWidth(pictureWidthPx, Qt::SmoothTransformation));
    }
}

bool HowToResizeFilter::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_scrollArea->viewport() && event->type() == QEvent::Resize) rescale();
    return QObject::eventFilter(watched, event);
}
