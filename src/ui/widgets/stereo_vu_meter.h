// The stereo level meter of a deck, the master or the monitor, and the painting behind it.
#pragma once

#include <functional>

#include <QColor>
#include <QRectF>
#include <QWidget>

class QPainter;

// Levels in dBFS, each within -60 … +3.
struct StereoLevels {
    float peakLeft = -60.0f;
    float peakRight = -60.0f;
    float holdLeft = -60.0f;
    float holdRight = -60.0f;
    float rmsLeft = -60.0f;
    float rmsRight = -60.0f;
};

struct StereoMeterLook {
    StereoLevels levels;
    bool muted = false;  // muted and ducked both draw the pale colours
    bool ducked = false;
    bool showScale = true;
    bool compact = false;
};

struct StereoMeterGeometry {
    QRectF leftBar;
    QRectF rightBar;
    QRectF scale;  // empty without the scale
};

StereoMeterGeometry stereoMeterGeometry(const QSize& size, bool showScale, bool compact);

// Paints the meter into `area`. Parts lying wholly outside `exposed` (when given) are skipped,
// so a repaint of one bar does not lay out the scale's text again.
void paintStereoMeter(QPainter& painter, const QRect& area, const StereoMeterLook& look,
                      const QRect& exposed = QRect());

// Main thread only. Repaints only the bar whose values moved by more than 0.01 dB; a hold line
// stays 10 s and then drops straight to the current peak.
class StereoVUMeter : public QWidget {
    Q_OBJECT

public:
    // Milliseconds since the epoch; tests hand in their own clock.
    using Clock = std::function<qint64()>;

    explicit StereoVUMeter(QWidget* parent = nullptr);

    // The hold candidates only ever raise the hold lines.
    void setLevels(float peakLeft, float peakRight, float holdLeft, float holdRight, float rmsLeft,
                   float rmsRight);
    void setMuted(bool muted);
    void setDucked(bool ducked);
    void setShowScale(bool showScale);
    void setCompact(bool compact);
    // The plain colour the meter sits on. With one, the meter paints it itself and Qt need not
    // paint the widgets behind it on each of its 30 repaints a second.
    void setBackdrop(const QColor& color);
    const StereoMeterLook& look() const { return m_look; }

    void setClock(Clock clock);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void repaintBars(bool left, bool right);
    void watchHolds();
    void restyle();

    StereoMeterLook m_look;
    QColor m_backdrop;
    int m_timerId = 0;
    qint64 m_holdLeftTimeMs = 0;
    qint64 m_holdRightTimeMs = 0;
    Clock m_clock;
};
