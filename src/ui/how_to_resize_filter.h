// Keeps the how-to dialog's pictures as wide as its scroll area's viewport.
#pragma once

#include <QList>
#include <QObject>
#include <QPixmap>

class QLabel;
class QScrollArea;

// Installed on the scroll area's viewport; each viewport resize widens the content to the
// viewport and rescales every picture to that width, keeping its aspect ratio. Main thread only.
class HowToResizeFilter : public QObject {
    Q_OBJECT

public:
    struct Picture {
        QLabel* label = nullptr;
        QPixmap original;  // null when the file failed to load: the label stays empty
    };

    HowToResizeFilter(QScrollArea* scrollArea, QList<Picture> pictures, QObject* parent);

    // Also called once when the dialog opens.
    void rescale();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QScrollArea* m_scrollArea;
    QList<Picture> m_pictures;
};
