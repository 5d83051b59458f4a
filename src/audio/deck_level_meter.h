#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "audio/audio_levels.h"

// Peak, smoothed peak and RMS of one deck, fed from that deck's capture thread and read by the
// main thread's meter refresh. The lock is only held for a handful of stores, so the capture
// thread never waits long.
class DeckLevelMeter {
public:
    DeckLevelMeter();

    // Capture thread; locks briefly, never allocates. `data` is interleaved; channels other
    // than 1 are read as left = channel 0, right = channel 1.
    void process(const float* data, int frames, int channels);
    // Same, at an explicit monotonic time, so the ballistics can be checked without a clock.
    void processAt(const float* data, int frames, int channels, std::int64_t nowNs);

    // Any thread; all values back to the floor and the smoothing restarted from now.
    void reset();
    void resetAt(std::int64_t nowNs);

    // Any thread; a consistent copy.
    DeckLevels levels() const;

    // Any thread; a disabled meter ignores what it is fed.
    void setEnabled(bool enabled) { m_enabled.store(enabled, std::memory_order_relaxed); }
    bool isEnabled() const { return m_enabled.load(std::memory_order_relaxed); }

    static std::int64_t monotonicNowNs();

    // Attack and release of the peak follower, and the RMS smoothing time, in seconds.
    static constexpr double kPeakAttackSeconds = 0.005;
    static constexpr double kPeakReleaseSeconds = 0.4;
    static constexpr double kRmsSeconds = 0.3;

private:
    mutable std::mutex m_mutex;
    DeckLevels m_levels;
    std::int64_t m_lastPeakUpdateNs = 0;
    std::int64_t m_lastRmsUpdateNs = 0;
    std::atomic<bool> m_enabled{true};
};
