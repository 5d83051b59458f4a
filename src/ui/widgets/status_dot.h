// The small round light beside the air status: its colour and how brightly it shows.
#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QWidget>

// Paints itself (no style sheet, no graphics effect), so breathing it many times a second costs
// a repaint of its own few pixels only.
class StatusDot : public QWidget {
    Q_OBJECT

public:
    explicit StatusDot(int diameter, QWidget* parent = nullptr);

    void setColor(const QColor& color);
    // 0 (invisible) .. 1; repaints only when the change can be seen.
    void setOpacity(qreal opacity);
    qreal opacity() const { return m_opacity; }
    // Breathes from full to 40 % and back every 2 s while on; full again when off.
    void setBreathing(bool breathing);
    bool isBreathing() const { return m_timerId != 0; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    QElapsedTimer m_breath;
    int m_timerId = 0;
    QColor m_color = Qt::white;
    qreal m_opacity = 1.0;
};
