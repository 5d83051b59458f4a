#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <atomic>
#include <memory>

#include "audio/codec.h"
#include "audio/gst_object_handle.h"
#include "audio/gstreamer_mixer_enums.h"
#include "audio/voice_ducker.h"

class QSocketNotifier;
typedef struct _GstBuffer GstBuffer;

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
    float deck1Volume() const { return m_deck1Volume.load(); }
    float deck2Volume() const { return m_deck2Volume.load(); }
    float masterVolume() const { return m_masterGain.load(); }
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
    bool isMonitorEnabled() const { return m_monitorEnabled.load(); }
    float monitorUserVolume() const { return m_monitorUserVolume.load(); }
    float appliedMonitorVolume() const { return m_appliedMonitorVolume.load(); }
    QString monitorDevice() const { return m_monitorDevice; }
    QString monitorSinkFactory() const { return m_monitorSinkFactory; }

    // Encoder configuration; takes effect when the next pipeline is built. Main thread.
    void setEncoderType(Codec type);
    void setBitrate(int bitrateKbps);
    void setTargetSampleRate(int sampleRateHz);
    void setOutputChannels(int channels);
    void setAacAfterburner(bool enabled);
    void setAacProfile(AacProfile profile);
    void setOpusAudioType(OpusAudioType type);
    Codec encoderType() const { return m_encoderType; }
    int bitrate() const { return m_bitrate; }
    int targetSampleRate() const { return m_targetSampleRate; }
    int outputChannels() const { return m_outputChannels; }
    // The encoder element's factory in the current pipeline ("opusenc", ...), empty without.
    QString activeEncoderFactory() const { return m_activeEncoderFactory; }

    // "Opus 128kbps @ 48kHz"; "Vorbis 96kbps @ 48kHz → 44.1kHz" when the encoder resamples.
    QString formatLabel() const;

    // Title and artist written into the Ogg comment header of the next Opus or Vorbis stream.
    void setInitialStreamTags(const QString& title, const QString& artist);
    bool applyPendingTags();

    // Diagnostics. Any thread.
    quint64 droppedBufferCount() const { return m_droppedBuffers.load(); }
    // Deck audio handed to the pipeline since construction: blocks, and the frames in them;
    // frames of a block that was let go because its deck paused before filling it.
    quint64 pushedBlockCount() const { return m_pushedBlocks.load(); }
    quint64 pushedFrameCount() const { return m_pushedFrames.load(); }
    quint64 staleFrameCount() const { return m_staleFrames.load(); }
    // Counts pipelines built, so callers can tell a rebuild from a kept pipeline.
    quint64 pipelineSerial() const { return m_pipelineSerial; }

    // A property of a named element of the current pipeline (invalid without one). Main thread;
    // for diagnostics and tests.
    QVariant elementProperty(const QString& elementName, const QString& property) const;

    // Test seams: factories to treat as not installed; the ducking wall clock.
    void setUnavailableFactoriesForTesting(const QStringList& factories);
    void setDuckingClockForTesting(VoiceDucker::Clock clock) {
        m_ducker.setClock(std::move(clock));
    }

Q_SIGNALS:
    void encodedDataReady(const QByteArray& data);
    void levelsUpdated(float deck1, float deck2, float master);
    void errorOccurred(const QString& error);

private Q_SLOTS:
    void onLevelTimer();

private:
    friend struct GStreamerMixerCallbacks;

    bool createPipeline();
    bool buildPipeline();
    void destroyPipeline();
    bool createEncoderChain(GstElement*& encoder, GstElement*& muxer, GstElement*& aacParse,
                            GstElement*& aacCaps, GstElement*& rawCaps);
    GstElement* makeElement(const char* factory, const char* name);
    GstElement* makeMonitorSink();
    bool setPipelineState(int state);

    // One deck's block in the making. Guarded by m_mutex.
    struct PendingBlock {
        GstBuffer* buffer = nullptr;  // owned; null while no block is open
        int frames = 0;
        int capacityFrames = 0;
        qint64 lastAppendMs = 0;
    };

    void feedDeck(int deck, const float* data, int frames, int channels, int sampleRate);
    // Both under m_mutex. pushBlock hands the block over (or drops it, with a warning).
    bool pushBlock(int deck, PendingBlock& block, int sampleRate, qint64 nowMs);
    void releasePendingBlocks();

    void setDeckActive(int deck, bool active);
    void applyDeckGain(int deck, bool advanceDucking);
    float plainDeckGain(int deck) const;
    void applyBothDeckGains();

    void applyMonitorEnabled(bool enabled);
    void applyMonitorDeviceToSink();
    void restartMonitorSink();
    QString resolveDeviceId(const QString& deviceName);

    void drainBus();
    void handleBusMessage(void* message);

    // Pipeline and the elements kept after construction; each handle holds a reference.
    // Held while any of our pipelines may have a monitor sink (platform/audio_output_devices.h);
    // declared first, so it goes last.
    std::shared_ptr<void> m_monitorSinkService;
    ElementHandle m_pipeline;
    ElementHandle m_appsrc1;
    ElementHandle m_appsrc2;
    ElementHandle m_volume1;
    ElementHandle m_volume2;
    ElementHandle m_audioMixer;
    ElementHandle m_masterVolume;
    ElementHandle m_tee;
    ElementHandle m_appsink;
    ElementHandle m_encoder;
    ElementHandle m_monitorQueue;
    ElementHandle m_monitorVolume;
    ElementHandle m_monitorConvert;
    ElementHandle m_monitorResample;
    ElementHandle m_monitorSink;
    BusHandle m_bus;
    std::unique_ptr<QSocketNotifier> m_busNotifier;
    PadHandle m_mixerSinkPad1;
    PadHandle m_mixerSinkPad2;
    PadHandle m_teeEncoderPad;
    PadHandle m_teeMonitorPad;
    QString m_activeEncoderFactory;
    QString m_monitorSinkFactory;
    quint64 m_pipelineSerial = 0;
    bool m_pipelineErrorReported = false;

    bool m_initialized = false;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_encodingEnabled{false};
    std::atomic<bool> m_shuttingDown{false};

    // Serialises buffer pushes against stopping and tearing the pipeline down.
    QMutex m_mutex;

    std::atomic<int> m_inputSampleRate{48000};
    int m_inputChannels = 2;
    // The caps each deck's appsrc currently announces; guarded by m_mutex.
    int m_deck1CapsChannels = 0;
    int m_deck1CapsRate = 0;
    int m_deck2CapsChannels = 0;
    int m_deck2CapsRate = 0;
    PendingBlock m_pending1;
    PendingBlock m_pending2;
    int m_feedBlockMs = kDefaultFeedBlockMs;
    std::atomic<int> m_activeFeedBlockMs{kDefaultFeedBlockMs};  // the running pipeline's

    std::atomic<qint64> m_lastDeck1LogMs{0};
    std::atomic<qint64> m_lastDeck2LogMs{0};
    std::atomic<qint64> m_lastDeck1DropWarnMs{0};
    std::atomic<qint64> m_lastDeck2DropWarnMs{0};
    std::atomic<quint64> m_droppedBuffers{0};
    std::atomic<quint64> m_pushedBlocks{0};
    std::atomic<quint64> m_pushedFrames{0};
    std::atomic<quint64> m_staleFrames{0};
    std::atomic<qint64> m_lastPushMs{0};

    std::atomic<float> m_deck1Volume{1.0f};
    std::atomic<float> m_deck2Volume{1.0f};
    std::atomic<float> m_masterGain{1.0f};
    std::atomic<float> m_crossfader{0.0f};
    std::atomic<bool> m_deck1Active{false};
    std::atomic<bool> m_deck2Active{false};

    std::atomic<float> m_deck1Peak{0.0f};
    std::atomic<float> m_deck2Peak{0.0f};
    std::atomic<float> m_masterPeak{0.0f};

    VoiceDucker m_ducker;

    QTimer m_levelTimer;

    std::atomic<bool> m_monitorEnabled{false};
    std::atomic<float> m_monitorUserVolume{1.0f};
    std::atomic<float> m_appliedMonitorVolume{0.0f};
    QString m_monitorDevice;
    QHash<QString, QString> m_endpointCache;
    bool m_endpointCacheValid = false;
    // Re-enables the monitor after a device change; a user's own switch cancels it.
    QTimer m_monitorReenableTimer;

    Codec m_encoderType = Codec::Opus;
    int m_bitrate = 128;
    int m_targetSampleRate = 48000;
    int m_outputChannels = 2;
    bool m_aacAfterburner = true;
    AacProfile m_aacProfile = AAC_PROFILE_AUTO;
    OpusAudioType m_opusAudioType = OPUS_AUDIO_MUSIC;

    QString m_pendingTitle;
    QString m_pendingArtist;

    QSet<QString> m_unavailableFactories;
};
