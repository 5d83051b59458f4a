#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/audio_levels.h"
#include "audio/deck_level_meter.h"
#include "audio/obs_hotkey_parking.h"

struct obs_source;
struct audio_data;

// One deck's audio, handed over on the capture thread: interleaved 32-bit float, left then right,
// `frames` per channel, always 2 channels at 48000 Hz. `data` is valid only during the call, so a
// receiver copies what it keeps and must be thread-safe: the two decks may call it at once.
using DeckAudioCallback =
    std::function<void(int deck, const float* data, int frames, int channels, int sampleRate)>;

// Counters of one deck's capture path since the manager was created.
// Every buffer is muted, forwarded or unforwarded.
struct DeckCaptureStats {
    std::uint64_t buffers = 0;      // buffers that reached the deck
    std::uint64_t frames = 0;       // frames in those buffers
    std::uint64_t muted = 0;        // muted at the source: neither metered nor forwarded
    std::uint64_t forwarded = 0;    // handed to the DeckAudioCallback
    std::uint64_t unforwarded = 0;  // dropped because no callback was installed
};

// One capture slot.
struct DeckSlot {
    DeckSlot();

    // Owns one libobs reference. Exchanged atomically: the capture thread compares it.
    std::atomic<obs_source*> source{nullptr};
    QString inputId;  // device id, or "app:" + the program's window id
    std::atomic<bool> active{false};
    float volume = 1.0f;  // stored for the main window; the mixer applies deck gains
    std::unique_ptr<DeckLevelMeter> meter;

    // Capture thread only: this deck's own scratch space, so two decks never share one.
    std::vector<float> interleaveBuffer;
    // Capture thread writes, any thread reads.
    std::atomic<std::uint64_t> buffers{0};
    std::atomic<std::uint64_t> frames{0};
    std::atomic<std::uint64_t> muted{0};
    std::atomic<std::uint64_t> forwarded{0};
    std::atomic<std::uint64_t> unforwarded{0};
    // Peak and RMS over both channels of the latest buffer, kept only while verbose.
    std::atomic<float> lastPeak{0.0f};
    std::atomic<float> lastRms{0.0f};
    std::atomic<bool> lastMuted{false};

    // Main thread only: what the diagnostics timer last reported.
    std::uint64_t reportedFrames = 0;
    std::int64_t reportedAtMs = -1;
    std::uint64_t levelsLoggedAtBuffer = 0;
};

// The capture side of the audio engine: starts libobs for audio only (48 kHz stereo, no video),
// keeps two decks fed by libobs sources (an input device, what a playback device plays, or one
// program's audio), meters each deck and hands its audio to the installed DeckAudioCallback.
//
// Threads: everything is called on the main thread unless its comment says otherwise. libobs
// delivers audio on its capture threads (one per source type, or per program source).
class OBSAudioManager : public QObject {
    Q_OBJECT

public:
    struct AppInfo {
        QString name;    // shown to the user
        QString window;  // libobs's window id; the last ":" field is the executable
    };

    static constexpr int kDeckCount = 2;
    static constexpr int kSampleRateHz = 48000;
    static constexpr int kChannels = 2;
    static constexpr int kInitialScratchFrames = 8192;

    explicit OBSAudioManager(QObject* parent = nullptr);
    ~OBSAudioManager() override;

    // Starts libobs (once per process) and loads the capture plug-ins. Emits errorOccurred and
    // returns false when that fails. Blocks for the plug-ins' start-up.
    bool initialize();
    void shutdown();
    bool isInitialized() const { return m_initialized; }
    QString pluginPath() const { return m_pluginPath; }
    QString dataPath() const { return m_dataPath; }

    // Each stops the deck first; the deck must be started again. A device id may name an input
    // or a playback monitor; either way it is created with the source type that lists it.
    bool setDeckInputDevice(int deck, const QString& deviceId);
    bool setDeckInput(int deck, int index);  // index into getInputDeviceIds(); < 0 clears
    bool setDeckAppCapture(int deck, const QString& window);
    QString deckInputId(int deck) const;
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
    void deviceListChanged();
    void deckStarted(int deckNumber);
    void deckStopped(int deckNumber);

private:
    struct CallbackBox;
    struct CaptureDevice {
        QString name;
        QString id;
        const char* sourceType;
    };

    static void audioCallback(void* param, obs_source* source, const audio_data* data, bool muted);

    bool initializeOBS();
    bool loadOBSModules();
    void shutdownOBS();
    void logAvailableSourceTypes() const;

    obs_source* createInputDeviceSource(const QString& deviceId);
    obs_source* createAppAudioSource(const QString& window);
    void releaseDeckSource(DeckSlot& slot);
    // Stops the deck and gives it the source `create` makes; null, with the deck left without a
    // source, for an invalid deck or when `create` fails.
    DeckSlot* replaceDeckSource(int deck, const std::function<obs_source*()>& create,
                                const char* failure);
    std::vector<CaptureDevice> captureDevices() const;
    QList<QPair<QString, QString>> listItems(const char* sourceType, const char* property,
                                             bool verbose) const;

    void publishCallback(CallbackBox* box);
    void updateDiagnosticsTimer();
    void onDiagnosticsTimer();

    DeckSlot* slotFor(int deck);
    const DeckSlot* slotFor(int deck) const;

    std::array<DeckSlot, kDeckCount> m_decks;
    ObsHotkeyParking m_hotkeyParking;
    bool m_initialized = false;
    std::mutex m_callbackWriteMutex;  // serialises setters; the capture path never takes it
    QString m_pluginPath;
    QString m_dataPath;
    std::atomic<CallbackBox*> m_callback{nullptr};
    // Capture threads using a callback, counted by the epoch's parity they entered in. A setter
    // flips the epoch and waits for the old parity to drain; new entries count in the other one,
    // so the wait ends after one callback call at most, however busy the decks are.
    std::atomic<unsigned> m_callbackEpoch{0};
    std::array<std::atomic<int>, 2> m_callbackReaders{};
    std::atomic<bool> m_noCallbackNoticeLogged{false};
    // Capture diagnostics are written from the main thread, so the capture path never formats
    // or writes a log line in steady state. The flag mirrors the user's debug logging switch.
    QTimer m_diagnosticsTimer;
    QElapsedTimer m_diagnosticsClock;
    std::atomic<bool> m_verboseCapture{false};
    std::atomic<bool> m_forwardNoticeLogged{false};
};
