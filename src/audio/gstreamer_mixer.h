#pragma once

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <array>
#include <atomic>
#include <memory>

#include "audio/codec.h"
#include "audio/deck_feed.h"
#include "audio/encoder_chain.h"
#include "audio/gstreamer_mixer_enums.h"
#include "audio/mix_format.h"
#include "audio/monitor_output.h"
#include "audio/voice_ducker.h"

class MixerBus;
class MixerGraph;

// Mixes the two decks (interleaved float32 stereo at 48 kHz) with deck gains, crossfader, the
// -3 dB two-deck headroom and voice ducking; plays the mix on a local monitor device and, while
// encoding, encodes it (Ogg Opus, Ogg Vorbis, AAC in ADTS, MP3) and hands out the encoded bytes.
//
// The GStreamer graph is rebuilt, never reconfigured: switching encoding on or off or applying
// new encoder settings means stop, destroy, build. Gains, ducking and monitor settings live in
// the mixer and survive rebuilds.
//
// Threads: everything is main-thread only unless its comment says otherwise. The feed functions
// are for capture threads; encodedDataReady is emitted on a GStreamer streaming thread (connect
// it queued or automatic).
//
// The parts: MixerGraph builds and owns one pipeline, DeckFeed takes one deck's audio into it,
// EncoderChain makes the encoder branch's codec part, MonitorOutput runs the monitor branch and
// MixerBus drains the pipeline's messages. This class holds what outlives a pipeline (gains,
// ducking, encoder and monitor settings) and the start and stop of it.
class GStreamerMixer : public QObject, public GStreamerMixerEnums {
    Q_OBJECT

public:
    using DuckingConfig = VoiceDucker::Config;

    explicit GStreamerMixer(QObject* parent = nullptr);
    ~GStreamerMixer() override;

    // Once per process; later calls return the first outcome at once. Main thread.
    static bool initializeGStreamer();
    // Builds the monitor-only graph (left in NULL state). Main thread.
    bool initialize();
    // Main thread; blocks for the state change (normally milliseconds). Returns true at once
    // when already running in the requested encoding state; rebuilds for the other one.
    bool start(bool enableEncoding);
    // Main thread; waits for feeds in progress (they hold the lock at most one push).
    void stop();
    void shutdown();
    // Any thread, never blocks.
    bool isRunning() const { return m_running.load(); }
    bool isEncodingEnabled() const { return m_encodingEnabled.load(); }
    bool isInitialized() const { return m_initialized; }

    // Capture threads (one per deck). Never blocks for more than 5 ms: a buffer that cannot get
    // the lock in time is dropped. data: frames × channels interleaved float32 samples.
    // Buffers shorter than the feed block are gathered and enter the pipeline a block at a time.
    void feedDeck1Audio(const float* data, int frames, int channels, int sampleRate);
    void feedDeck2Audio(const float* data, int frames, int channels, int sampleRate);

    // How much of a deck's audio is gathered before it enters the pipeline. Every block wakes
    // the deck's source, queue and mixer threads once, so short capture buffers would cost a
    // round of thread wake-ups each; the block adds at most its own length to the delay.
    // 0 passes every buffer on as it comes. Main thread; takes effect at the next start.
    static constexpr int kDefaultFeedBlockMs = 40;
    void setFeedBlockMs(int blockMs);
    int feedBlockMs() const { return m_feedBlockMs; }

    // Linear gains. Main thread.
    void setDeck1Volume(float volume);
    void setDeck2Volume(float volume);
    void setMasterVolume(float volume);
    void setCrossfader(float position);  // -1.0 (deck 1 only) .. 1.0 (deck 2 only)
    void setDeck1Active(bool active);
    void setDeck2Active(bool active);
    float deck1Volume() const { return m_deckVolumes[0].load(); }
    float deck2Volume() const { return m_deckVolumes[1].load(); }
    float masterVolume() const { return m_masterGain.load(); }
    // The highest sample magnitude sent towards the encoder (after the master gain, mutes and
    // ducking) since the last call; 0 when nothing was mixed meanwhile. Any thread.
    float takeSentPeak() { return m_sentPeak.exchange(0.0f); }
    float crossfader() const { return m_crossfader.load(); }

    // The deck gain law without ducking: the deck's volume, -3 dB when both decks are active
    // and audible, the crossfader's share. Uncapped: ducking multiplies in before the 10.0 cap.
    static float deckGain(int deck, float ownVolume, float otherVolume, bool bothActive,
                          float crossfader);

    // Voice ducking. Main thread; duckGain() from any thread.
    void setDuckingConfig(const DuckingConfig& config);
    DuckingConfig duckingConfig() const { return m_ducker.config(); }
    float duckGain() const { return m_ducker.gain(); }

    // Monitor output. Main thread.
    QStringList getMonitorDevices();
    bool setMonitorDevice(const QString& deviceName);
    void setMonitorEnabled(bool enabled);
    void setMonitorVolume(float volume);
    bool isMonitorEnabled() const { return m_monitor.isEnabled(); }
    float monitorUserVolume() const { return m_monitor.userVolume(); }
    float appliedMonitorVolume() const { return m_monitor.appliedVolume(); }
    QString monitorDevice() const { return m_monitor.device(); }
    QString monitorSinkFactory() const { return m_monitor.sinkFactory(); }
    // The monitor's sink failed (its sound server went away, say): only the monitor stopped,
    // the mix and the encoder go on. monitorServiceLost() says the service itself went away
    // (the sink is closed, failed or not). restartMonitorOutput() reopens it once the service
    // is back; false when there was nothing left to do, true while it has reopened the sink or
    // is still waiting for the service. Main thread.
    bool hasMonitorFailed() const { return m_monitor.hasFailed(); }
    void monitorServiceLost();
    bool restartMonitorOutput();

    // Encoder configuration; takes effect when the next pipeline is built. Main thread.
    void setEncoderType(Codec type);
    void setBitrate(int bitrateKbps);
    void setTargetSampleRate(int sampleRateHz);
    void setOutputChannels(int channels);
    void setAacAfterburner(bool enabled);
    void setAacProfile(AacProfile profile);
    void setOpusAudioType(OpusAudioType type);
    Codec encoderType() const { return m_encoder.codec; }
    int bitrate() const { return m_encoder.bitrateKbps; }
    int targetSampleRate() const { return m_encoder.sampleRateHz; }
    int outputChannels() const { return m_encoder.channels; }
    // The encoder element's factory in the current pipeline ("opusenc", ...), empty without.
    QString activeEncoderFactory() const;

    // "Opus 128kbps @ 48kHz"; "Vorbis 96kbps @ 48kHz → 44.1kHz" when the encoder resamples.
    QString formatLabel() const;

    // Title and artist written into the Ogg comment header of the next Opus or Vorbis stream.
    void setInitialStreamTags(const QString& title, const QString& artist);
    // Hands them to the current pipeline's encoder; false without tags or an Ogg encoder.
    bool applyPendingTags();

    // Diagnostics. Any thread.
    quint64 droppedBufferCount() const;
    // Deck audio handed to the pipeline since construction: blocks, and the frames in them;
    // frames of a block that was let go because its deck paused before filling it.
    quint64 pushedBlockCount() const;
    quint64 pushedFrameCount() const;
    quint64 staleFrameCount() const;
    // Counts pipelines built, so callers can tell a rebuild from a kept pipeline.
    quint64 pipelineSerial() const { return m_pipelineSerial; }

    // A property of a named element of the current pipeline (invalid without one). Main thread;
    // for diagnostics and tests.
    QVariant elementProperty(const QString& elementName, const QString& property) const;

    // Test seams: factories to treat as not installed; the ducking wall clock.
    void setUnavailableFactoriesForTesting(const QStringList& factories);
    // A pipeline error as an element would post it (the handling of one, not its cause, is
    // what a test wants; a lost monitor sink no longer fails the pipeline).
    void postErrorForTesting(const QString& text);
    void setDuckingClockForTesting(VoiceDucker::Clock clock) {
        m_ducker.setClock(std::move(clock));
    }

Q_SIGNALS:
    void encodedDataReady(const QByteArray& data);
    void levelsUpdated(float deck1, float deck2, float master);
    void errorOccurred(const QString& error);
    // The monitor sink failed; nothing else stopped (see hasMonitorFailed).
    void monitorFailed(const QString& error);

private Q_SLOTS:
    void onLevelTimer();

private:
    friend struct GStreamerMixerCallbacks;

    bool createPipeline();
    void destroyPipeline();

    void feedDeck(int deckIndex, const float* data, int frames, int channels, int sampleRate);

    void setDeckVolume(int deckIndex, float volume);
    void reapplyDeckVolumes();
    void setDeckActive(int deckIndex, bool active);
    // The deck's gain law times the duck gain when it is the ducked deck; advanceDucking first
    // moves the ducking envelope a step.
    void applyDeckGain(int deckIndex, bool advanceDucking);
    float triggerLevel() const;

    // Held while any of our pipelines may have a monitor sink (platform/audio_output_devices.h);
    // declared first, so it goes last.
    std::shared_ptr<void> m_monitorSinkService;
    bool m_monitorServiceStale = false;
    MonitorOutput m_monitor;
    std::unique_ptr<MixerGraph> m_graph;
    MixerBus* m_bus = nullptr;  // a child; deleted later, as it may be mid-drain when it goes
    quint64 m_pipelineSerial = 0;

    bool m_initialized = false;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_encodingEnabled{false};
    std::atomic<bool> m_shuttingDown{false};

    // The feed lock: serialises buffer pushes against stopping and tearing the pipeline down.
    QMutex m_mutex;
    std::array<DeckFeed, 2> m_decks{DeckFeed(1), DeckFeed(2)};
    // Deck 1's capture rate, which the deck sources of the next pipeline announce first.
    std::atomic<int> m_inputSampleRate{mixformat::kSampleRateHz};
    int m_feedBlockMs = kDefaultFeedBlockMs;

    std::array<std::atomic<float>, 2> m_deckVolumes{1.0f, 1.0f};
    std::array<std::atomic<bool>, 2> m_deckActive{false, false};
    std::atomic<float> m_masterGain{1.0f};
    std::atomic<float> m_sentPeak{0.0f};
    std::atomic<float> m_crossfader{0.0f};

    VoiceDucker m_ducker;
    QTimer m_levelTimer;

    EncoderChainSettings m_encoder;
    QString m_pendingTitle;
    QString m_pendingArtist;

    QSet<QString> m_unavailableFactories;
};
