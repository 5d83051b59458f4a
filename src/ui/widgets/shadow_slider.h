// The vertical volume fader that can show a second, ducked level as well as its own.
#pragma once

#include <QSlider>

class QPainter;

struct ShadowSliderLook {
    int minimum = 0;
    int maximum = 0;
    int shownValue = 0;  // the shadow while one is shown, else the value
    bool focused = false;
};

// Centre of the handle for `look` in a vertical slider of `area`'s height.
double shadowSliderHandleY(const QRect& area, const ShadowSliderLook& look);

// Paints the vertical fader: track, fill below the handle, handle with its shadow.
void paintShadowSlider(QPainter& painter, const QRect& area, const ShadowSliderLook& look);

// Main thread only. Vertical: a click jumps the handle to the pointer and dragging follows it;
// other orientations behave as a plain QSlider.
class ShadowSlider : public QSlider {
    Q_OBJECT

public:
    explicit ShadowSlider(Qt::Orientation orientation, QWidget* parent = nullptr);
    explicit ShadowSlider(QWidget* parent = nullptr);

    // Clamped to the slider's range.
    void setShadowValue(int value);
    void clearShadow();
    bool hasShadow() const { return m_hasShadow; }
    int shadowValue() const { return m_shadowValue; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void jumpTo(double y);

    bool m_dragging = false;
    bool m_hasShadow = false;
    int m_shadowValue = 0;
};
