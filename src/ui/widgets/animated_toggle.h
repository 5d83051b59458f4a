// The animated on/off switch.
#pragma once

#include <QWidget>

class QPainter;
class QVariantAnimation;

// Paints the switch with its knob at `position` (0 off … 1 on) into `area`.
void paintAnimatedToggle(QPainter& painter, const QRect& area, double position, bool focused);

// Main thread only. A click or Space flips it; the knob slides from wherever it is, so a
// reversal half-way does not jump.
class AnimatedToggle : public QWidget {
    Q_OBJECT

public:
    explicit AnimatedToggle(QWidget* parent = nullptr);

    void setChecked(bool checked);
    bool isChecked() const { return m_checked; }
    double position() const { return m_position; }

Q_SIGNALS:
    void toggled(bool checked);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void flip();

    bool m_checked = false;
    double m_position = 0.0;
    QVariantAnimation* m_animation = nullptr;
};
