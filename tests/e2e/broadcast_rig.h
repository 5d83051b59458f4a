#pragma once

#include <QString>

#include <memory>

#include "broadcast/broadcaster.h"
#include "managed_process.h"
#include "pulse_server.h"
#include "test_environment.h"
#include "xvfb_server.h"

// What every broadcast test stands on: a private PulseAudio and a virtual X display applied to
// this process, a 440 Hz tone on the stand-in microphone (deck 1) and a program playing 1000 Hz
// (deck 2), and one broadcast controller with libobs started. libobs is one per process, so a
// test binary keeps one rig for all its cases and resets it between them. Create the test's
// TestEnvironment before it.
class BroadcastRig {
public:
    static constexpr double kDeck1Hz = 440.0;
    static constexpr double kDeck2Hz = 1000.0;
    static constexpr double kToneAmplitude = 0.5;    // both tones
    static constexpr double kHeadroom = 0.70794576;  // both decks audible: -3 dB each
    static constexpr char kProgramName[] = "TonePlayer";

    ~BroadcastRig() { stop(); }

    bool start(QString* error);
    // Deck inputs as start() left them.
    bool restoreDecks(QString* error);
    // Between cases: broadcast stopped, connection ended, monitor off, mixer stopped, settings
    // and titles back to their defaults.
    void reset();
    void stop();
    // Ends for good every sound a program plays here, the tone program and the microphone's
    // sine (deck 2 is then left alone): for the last case of a binary.
    void stopPrograms();

    Doredoradar& controller() { return *m_controller; }
    PulseServer& pulse() { return m_pulse; }

private:
    bool warmUpDeck(int deck, QString* error);

    PulseServer m_pulse;
    XvfbServer m_xvfb;
    std::unique_ptr<ManagedProcess> m_programTone;
    QString m_programWindow;
    std::unique_ptr<Doredoradar> m_controller;
};
