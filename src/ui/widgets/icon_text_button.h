// A push button that draws its icon and text itself and scrolls a text that does not fit.
#pragma once

#include <QPushButton>

class QTimer;

// Main thread only. A text wider than its room waits 1.5 s, then scrolls at 40 pixels per second;
// the marquee timer runs only while it does. A disabled button whose "connecting" property is
// true keeps its normal look (the connect button while a connection is being made).
class IconTextButton : public QPushButton {
    Q_OBJECT

public:
    explicit IconTextButton(QWidget* parent = nullptr);
    IconTextButton(const QIcon& icon, const QString& text, QWidget* parent = nullptr);

    void setIconSpacing(int pixels);  // negative counts as 0
    int iconSpacing() const { return m_iconSpacing; }
    void setCenterContent(bool center);
    bool marqueeRunning() const;

public Q_SLOTS:
    void updateMarquee();

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void paintText(QPainter& painter, const QRect& textRect, const QColor& colour);
    void resetMarquee();

    int m_iconSpacing = 12;
    bool m_centerContent = false;
    QTimer* m_marqueeTimer = nullptr;
    int m_marqueeOffset = 0;
    QString m_marqueeText;
    int m_marqueeTextWidth = 0;
};
