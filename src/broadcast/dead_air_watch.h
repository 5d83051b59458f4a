#pragma once

// Watching what is sent for dead air while the broadcast is on.

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

#include "audio/dead_air_detector.h"

// Reads the peak of what went to the encoder a few times a second and feeds the detector; says
// once when the silence has lasted the configured time ("Dead air: nothing above -50 dBFS for
// 15 s") and once when sound is back. Main thread only.
class DeadAirWatch : public QObject {
    Q_OBJECT

public:
    static constexpr int kTickMs = 250;

    // `takePeak` returns the highest sample magnitude (0..1) since its last call.
    explicit DeadAirWatch(std::function<float()> takePeak, QObject* parent = nullptr);

    // 0 seconds turns the watch off; applies from the next start().
    void setHoldSeconds(int seconds);
    int holdSeconds() const { return m_holdSeconds; }

    void start();
    void stop();
    bool isDeadAir() const { return m_detector.isDeadAir(); }
    // "Dead air: nothing above -50 dBFS for 15 s"
    QString warningText() const;

Q_SIGNALS:
    void deadAir(const QString& warning);
    void soundBack();

private:
    void tick();

    std::function<float()> m_takePeak;
    DeadAirDetector m_detector;
    int m_holdSeconds = DeadAirDetector::kDefaultHoldSeconds;
    QTimer m_timer;
};
