#pragma once

#include <QtGlobal>

// Dead air: what is sent stays below a threshold for too long. Fed with the peak level of the
// mix as the encoder gets it (after the master gain, mutes and ducking), a few times a second;
// reports once when the silence has lasted `holdMs`, and once when sound comes back.
//
// One thread only (the main thread's level tick).
class DeadAirDetector {
public:
    static constexpr float kDefaultThresholdDb = -50.0f;
    static constexpr int kDefaultHoldSeconds = 15;

    enum class Event { None, DeadAir, SoundBack };

    // holdSeconds 0 turns detection off.
    void configure(float thresholdDb, int holdSeconds);
    float thresholdDb() const { return m_thresholdDb; }
    int holdSeconds() const { return m_holdSeconds; }
    bool isEnabled() const { return m_holdSeconds > 0; }

    // A peak level in dBFS at a monotonic time in milliseconds.
    Event update(float peakDb, qint64 nowMs);
    // Forgets the silence so far (a new broadcast, a new pipeline); no event follows.
    void reset();
    bool isDeadAir() const { return m_deadAir; }

private:
    float m_thresholdDb = kDefaultThresholdDb;
    int m_holdSeconds = kDefaultHoldSeconds;
    bool m_silent = false;
    qint64 m_silentSinceMs = 0;
    bool m_deadAir = false;
};
