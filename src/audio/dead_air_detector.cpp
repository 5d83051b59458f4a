#include "audio/dead_air_detector.h"

void DeadAirDetector::configure(float thresholdDb, int holdSeconds) {
    m_thresholdDb = thresholdDb;
    m_holdSeconds = holdSeconds > 0 ? holdSeconds : 0;
    reset();
}

DeadAirDetector::Event DeadAirDetector::update(float peakDb, qint64 nowMs) {
    if (!isEnabled()) return Event::None;
    // A NaN level is no sound either.
    const bool quiet = !(peakDb >= m_thresholdDb);
    if (!quiet) {
        m_silent = false;
        if (!m_deadAir) return Event::None;
        m_deadAir = false;
        return Event::SoundBack;
    }
    if (!m_silent) {
        m_silent = true;
        m_silentSinceMs = nowMs;
    }
    if (m_deadAir || nowMs - m_silentSinceMs < qint64(m_holdSeconds) * 1000) return Event::None;
    m_deadAir = true;
    return Event::DeadAir;
}

void DeadAirDetector::reset() {
    m_silent = false;
    m_deadAir = false;
    m_silentSinceMs = 0;
}
