// The local monitor: switching it on and off with the decks it started for itself, and the
// silent monitor prime that keeps decks and mix running while a connect is in flight.
#pragma once

#include <functional>

class GStreamerMixer;
class OBSAudioManager;

// A deck the monitor started is stopped again when the monitor goes off while nothing is being
// encoded; while encoding the decks keep running.
//
// Main thread only. Switching on may block briefly while the mixer's pipeline (re)starts.
class LocalMonitor {
public:
    // What the monitor needs from the broadcast controller.
    struct Hooks {
        // The mixer runs (without encoding, when it was stopped) and receives the decks' audio.
        std::function<void()> ensureMixerRunning;
        // Broadcasting, or a primed connect in flight: the encoder needs the decks.
        std::function<bool()> encodingBusy;
        std::function<bool()> shuttingDown;
    };

    // Both components must outlive the monitor.
    LocalMonitor(GStreamerMixer* mixer, OBSAudioManager* audioManager, Hooks hooks);

    void setEnabled(bool enabled);
    // Switches the mixer's monitor off and restarts its pipeline at the next switch-on.
    void forceRestart();
    // During a silent prime the choice is kept until the prime ends.
    void setVolume(float volume);
    void passDeckActivityToMixer();

    // Before a connect: when the monitor is off, the decks and the mix are started with the
    // monitor muted, and its volume is put back when the prime ends.
    void beginConnectPrime();
    // Ends the prime, switching the monitor off again when it was off before the connect (if
    // asked to), and restores the saved volume.
    void finishConnectPrime(bool switchMonitorOff);
    // The hold after a successful connect ran out.
    void endConnectPrimeHold();
    // Forgets the prime without touching the mixer (it is being shut down).
    void forgetConnectPrime();

    bool isPrimeActive() const { return m_primeActive; }
    // The monitor is to go off again once the connect is through.
    bool isAutoDisablePending() const { return m_autoDisablePending; }
    // The prime switched a monitor on that was off, and has not ended yet.
    bool isSilentPrimePending() const {
        return m_autoDisablePending && m_primeActive && !m_wasEnabledBeforePrime;
    }

private:
    void enablePath(bool audible);
    void disablePath();
    void restoreSavedVolume();

    GStreamerMixer* m_mixer;
    OBSAudioManager* m_audioManager;
    Hooks m_hooks;

    bool m_primeActive = false;
    bool m_wasEnabledBeforePrime = false;
    bool m_autoDisablePending = false;
    bool m_savedVolumeValid = false;
    float m_savedVolume = 1.0f;

    bool m_deck1StartedForMonitor = false;
    bool m_deck2StartedForMonitor = false;
    // The monitor-only pipeline has been restarted once for the monitor.
    bool m_pipelinePrimed = false;
};
