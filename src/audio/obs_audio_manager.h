#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "audio/audio_levels.h"
#include "audio/capture_deck.h"
#include "audio/deck_callback_slot.h"
#include "audio/program_catalogue.h"

class ObsRuntime;
struct obs_source;
struct audio_data;

// The capture side of the audio engine: starts libobs for audio only (48 kHz stereo, no video) and
// keeps two decks fed by libobs sources (an input device, what a playback device plays, or one
// program's audio), meters each deck and hands its audio to the installed DeckAudioCallback.
//
// Threads: everything is called on the main thread unless its comment says otherwise. libobs
// delivers audio on its capture threads (one per source type, or per program source).
class OBSAudioManager : public QObject {
    Q_OBJECT

public:
    using AppInfo = CaptureProgram;

    static constexpr int kDeckCount = 2;

    explicit OBSAudioManager(QObject* parent = nullptr);
    ~OBSAudioManager() override;

    // Starts libobs (once per process, shared with any other manager) and loads the capture
    // plug-ins. Emits errorOccurred and returns false when that fails. Blocks for the plug-ins'
    // start-up.
    bool initialize();
    void shutdown();
    bool isInitialized() const { return m_runtime != nullptr; }
    QString pluginPath() const { return m_pluginPath; }

    // Each stops the deck first; the deck must be started again. A device id may name an input
    // or a playback monitor; either way it is created with the source type that lists it. When
    // no source can be made the deck is left without one.
    bool setDeckInputDevice(int deck, const QString& deviceId);
    bool setDeckInput(int deck, int index);  // index into getInputDeviceIds(); < 0 clears
    bool setDeckAppCapture(int deck, const QString& window);
    QString deckInputId(int deck) const;
    // Makes the decks' sources again from their input ids and starts those that ran, for when
    // the sound server they recorded from went away and came back: libobs's PulseAudio capture
    // never reconnects by itself, and its sources share one connection, which is made anew
    // only once every old source is gone. So all of them go first (waiting for libobs to
    // destroy them), then the new ones come. False when a deck had no input or no source
    // could be made.
    bool reopenDecks(const QList<int>& decks);
    bool hasDeckSource(int deck) const;

    bool startDeck(int deck);
    // Once it returns, no buffer of this deck reaches the callback any more.
    void stopDeck(int deck);
    bool isDeckActive(int deck) const;

    // Main thread; never call from inside the callback. Replaces the callback at any time
    // without stopping capture; returns once no capture thread still runs the old one, so its
    // receiver may go away afterwards. Waits at most about as long as one callback call takes,
    // so a callback must never wait for the thread that replaces it (try-lock, as the mixer does).
    void setDeckAudioCallback(DeckAudioCallback callback);
    void clearDeckAudioCallback();

    // Any thread; never blocks for long.
    DeckLevels getDeckLevels(int deck) const;
    DeckCaptureStats deckCaptureStats(int deck) const;

    void setDeckVolume(int deck, float linear);
    float getDeckVolume(int deck) const;

    // Input devices first, then (where the platform offers it) "Monitor of ..." entries for what
    // each playback device plays. Names and ids are in the same order. These ask the sound
    // server and may block briefly (the program list waits at most 2 s for PulseAudio).
    QStringList getInputDeviceNames() const;
    QStringList getInputDeviceIds() const;
    QStringList enumerateAudioDevices(const char* sourceType, const char* property) const;
    QList<AppInfo> getRunningApplications() const;

    // The naming and filtering of getRunningApplications over (label, value) list items.
    static QList<AppInfo> appInfosFromListItems(const QList<QPair<QString, QString>>& items);

    // The capture path of one deck: interleave, meter, forward. Called on the capture thread of
    // the deck's source (tests and benchmarks may call it directly). A null plane counts as
    // silence. Allocates nothing unless a buffer is larger than any before.
    void handleAudioData(int deck, const float* left, const float* right, std::uint32_t frames,
                         bool muted);

Q_SIGNALS:
    void errorOccurred(const QString& error);
    // The X display libobs needs went away (Linux): capture cannot go on, and libobs is left
    // alone from now on (no source is created or released, it is not shut down).
    void captureDisplayLost();
    void deckStarted(int deckNumber);
    void deckStopped(int deckNumber);

private:
    static void audioCallback(void* param, obs_source* source, const audio_data* data, bool muted);

    // Stops the deck and gives it the source `create` makes (an obshandle::Source); false, with
    // the deck left without a source, for an invalid deck or when `create` fails.
    template <typename Create>
    bool replaceDeckSource(int deck, const QString& inputId, const Create& create,
                           const char* failure);
    void releaseDeckSource(CaptureDeck& deck);
    bool devicesListable() const;

    void updateDiagnosticsTimer();
    void onDiagnosticsTimer();

    CaptureDeck* deckFor(int deck);
    const CaptureDeck* deckFor(int deck) const;

    // Declared before the decks, so it outlives their sources.
    std::shared_ptr<ObsRuntime> m_runtime;
    std::array<CaptureDeck, kDeckCount> m_decks{{CaptureDeck(1), CaptureDeck(2)}};
    DeckCallbackSlot m_callback;
    QString m_pluginPath;
    // Capture diagnostics are written from the main thread, so the capture path never formats
    // or writes a log line in steady state. The flag mirrors the user's debug logging switch.
    QTimer m_diagnosticsTimer;
    QElapsedTimer m_diagnosticsClock;
    std::atomic<bool> m_verboseCapture{false};
};
