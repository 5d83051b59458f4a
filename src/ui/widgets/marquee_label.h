// A label that scrolls its text round when the text does not fit.
#pragma once

#include <QLabel>

class QTimer;

// Main thread only. Scrolls `scrollSpeed` pixels per second with a 40-pixel gap between the end
// of the text and its next start; the timer runs only while the text is scrolling.
class MarqueeLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(int scrollSpeed READ scrollSpeed WRITE setScrollSpeed)
    Q_PROPERTY(bool scrollOnHoverOnly READ scrollOnHoverOnly WRITE setScrollOnHoverOnly)

public:
    explicit MarqueeLabel(QWidget* parent = nullptr);
    explicit MarqueeLabel(const QString& text, QWidget* parent = nullptr);

    void setText(const QString& text);
    int scrollSpeed() const { return m_scrollSpeed; }
    void setScrollSpeed(int pixelsPerSecond);
    bool scrollOnHoverOnly() const { return m_scrollOnHoverOnly; }
    void setScrollOnHoverOnly(bool hoverOnly);
    bool needsScroll() const { return m_needsScroll; }
    double scrollOffset() const { return m_offset; }

public Q_SLOTS:
    void updateScroll();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void checkLayout();
    bool scrollAllowed() const { return !m_scrollOnHoverOnly || m_hovered; }
    void stopScrolling();

    int m_scrollSpeed = 50;
    double m_offset = 0.0;
    int m_textWidth = 0;
    bool m_needsScroll = false;
    bool m_scrollOnHoverOnly = false;
    bool m_hovered = false;
    QTimer* m_timer = nullptr;
    int m_gap = 40;
};
