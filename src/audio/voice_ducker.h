#pragma once

#include <QtGlobal>

#include <array>
#include <atomic>
#include <functional>

#include "core/settings_keys.h"

// Voice ducking: a feed-forward compressor with a soft knee. The trigger deck's peak level is
// the side chain; the resulting gain is applied by the mixer to the other deck.
//
// Main thread only (the mixer's level tick and setters), except gain(), which any thread may
// read without blocking.
class VoiceDucker {
public:
    // Copied one to one from the encoder settings; the mixer stores what it is given. The
    // defaults are the settings store's (preset 0, "Balanced Broadcast").
    struct Config {
        bool enabled = false;
        int sourceDeck = 0;  // 0: deck 1 triggers, deck 2 is ducked; 1: the other way round
        float thresholdDb = float(settingskeys::kDuckingThreshold.defaultValue);
        float ratio = float(settingskeys::kDuckingRatio.defaultValue);
        int attackMs = settingskeys::kDuckingAttack.defaultValue;
        int releaseMs = settingskeys::kDuckingRelease.defaultValue;
        float kneeDb = float(settingskeys::kDuckingKnee.defaultValue);
    };

    // Wall-clock milliseconds; replaceable so tests can drive the envelope.
    using Clock = std::function<qint64()>;

    VoiceDucker();

    void setClock(Clock clock);

    const Config& config() const { return m_config; }
    // Copies the configuration and logs it. Disabling, and any change of direction, resets the
    // envelope (gain 1.0, no previous step), so the next step jumps to its target.
    void setConfig(const Config& config);

    bool isEnabled() const { return m_config.enabled; }
    int triggerDeck() const { return m_config.sourceDeck == 1 ? 2 : 1; }
    int duckedDeck() const { return m_config.sourceDeck == 1 ? 1 : 2; }

    // Linear, 1.0 = no reduction. Any thread.
    float gain() const { return m_gain.load(std::memory_order_relaxed); }

    // Gain computer: trigger level in dBFS → linear target gain. The knee is the usual
    // quadratic one, so the reduction is continuous and never falls as the level rises.
    static float computeDuckTarget(const Config& config, float levelDb);
    float computeDuckTarget(float levelDb) const { return computeDuckTarget(m_config, levelDb); }

    // One smoothing step towards target, scaled by the wall-clock time since the last step.
    void smoothDuckGain(float target);

    // Trigger level of a linear peak × volume, with the -100 dBFS floor of silence.
    static float levelToDb(float linearLevel);

    // The log lines of one level tick: transitions and a once-a-second activity line.
    void logTick(float previousGain, float currentGain, float triggerDb);

    void reset();

private:
    Config m_config;
    std::atomic<float> m_gain{1.0f};
    qint64 m_lastDuckUpdateMs = 0;
    int m_activeTicks = 0;
    Clock m_clock;
};

// The settings dialog's ducking presets. Indices 0..5 carry values; 6 is "Advanced", where the
// user sets them. Preset 0 is the settings store's default ducking.
struct DuckingPreset {
    const char* name;
    const char* description;
    float thresholdDb;
    float ratio;
    int attackMs;
    int releaseMs;
    float kneeDb;
};

inline constexpr int kDuckingPresetAdvanced = 6;
inline constexpr std::array<DuckingPreset, 7> kDuckingPresets = {{
    {"Balanced Broadcast (Default)", "Professional broadcast-style ducking",
     float(settingskeys::kDuckingThreshold.defaultValue),
     float(settingskeys::kDuckingRatio.defaultValue), settingskeys::kDuckingAttack.defaultValue,
     settingskeys::kDuckingRelease.defaultValue, float(settingskeys::kDuckingKnee.defaultValue)},
    {"Light Voice Over", "Gentle and natural voice-over", -32.0f, 3.0f, 15, 450, 8.0f},
    {"Strong Ducking (Radio Talkover)", "Classic radio talkover effect", -38.0f, 10.0f, 5, 600,
     4.0f},
    {"Fast Speech (Gaming / Streaming)", "Quick response for fast commentary", -34.0f, 5.0f, 3, 250,
     6.0f},
    {"Background Ambience Mode", "Transparent, keeps music present", -30.0f, 2.5f, 20, 700, 10.0f},
    {"Studio Smooth", "Smooth studio-style transitions", -36.0f, 4.0f, 8, 400, 12.0f},
    // Values of "Advanced" are the controls' own; these are the advanced controls' defaults.
    {"Advanced", "Manual control of all parameters", -20.0f, 4.0f, 10, 100, 6.0f},
}};
