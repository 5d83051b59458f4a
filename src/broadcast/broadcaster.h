#pragma once

#include <atomic>
#include <memory>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "audio/gstreamer_mixer.h"
#include "broadcast/chunk_sender.h"
#include "broadcast/icecast_client.h"
#include "broadcast/pre_connect_buffer.h"

class EncoderSettings;
class LocalMonitor;
class OBSAudioManager;
class DeadAirWatch;
class SoundServerRecovery;
class StreamHealthMonitor;

// The broadcast controller: ties the audio engine (capture, mixer, encoder) to the Icecast source
// connection. It owns the capture manager, the mixer, the encoder settings, the source client and
// the stream health monitor; the main window (or the command-line broadcaster) drives everything
// audio and transport through it.
//
// Going live is primed: before the TCP connection is attempted the encoder pipeline is already
// running and its first packets are buffered (see PreConnectBuffer), to be sent first the moment
// the server accepts the source. When the local monitor is off, the decks and the mix are kept
// running (silently) for the connect.
//
// Every chunk of encoded audio carries the generation of the pipeline that made it; a chunk of an
// older pipeline is never sent, so a new connection always starts with its own stream's headers.
//
// Threads: every method, slot and signal belongs to the main thread, except where a comment says
// otherwise. Capture threads only reach the mixer's feed through the installed deck callback;
// encoded chunks cross from a GStreamer streaming thread by queued delivery.
class Doredoradar : public QObject {
    Q_OBJECT

public:
    static constexpr int kPreConnectMaxBytes = PreConnectBuffer::kMaxBytes;
    // The monitor switched on for a connect goes off again this long after the server accepted.
    static constexpr int kMonitorPrimeHoldMs = 1500;
    static constexpr int kDefaultSendBacklogLimitMs = ChunkSender::kDefaultBacklogLimitMs;

    explicit Doredoradar(QObject* parent = nullptr);
    ~Doredoradar() override;

    // Starts the capture manager and the mixer. Blocks for libobs's start-up.
    bool initialize();
    // Primes and connects; the outcome arrives through the client's signals. Always true.
    bool connectAndBroadcast(const QString& host, quint16 port, const QString& mount,
                             const QString& username, const QString& password);
    // Starts sending without priming (the client must be connected).
    bool startBroadcasting();
    // Safe to call from within its own teardown (a handler reached from it returns at once).
    void stopBroadcasting();
    // Stops broadcasting, ends any reconnect series and the connection, shuts capture and mixer
    // down. May block briefly for the connection thread and the pipeline.
    void shutdown();
    void ensureMixerRunning();

    void setMonitorEnabled(bool enabled);
    void forceMonitorRestart();
    void disableMonitorOutput();
    void setMonitorVolume(float volume);
    bool setMonitorDevice(const QString& deviceName);
    QStringList getMonitorDevices();

    void setInitialStreamMetadata(const QString& title, const QString& artist);

    void setDeck1Volume(float volume);
    void setDeck2Volume(float volume);
    void setMasterVolume(float volume);
    void setCrossfader(float position);
    void setDeck1Active(bool active);
    void setDeck2Active(bool active);
    void setDuckingConfig(const GStreamerMixer::DuckingConfig& config);
    float crossfader() const;
    QString formatLabel() const;
    // How long what is sent may stay below -50 dBFS before deadAirDetected; 0 turns the watch
    // off. Applies from the next broadcast.
    void setDeadAirSeconds(int seconds);
    bool isDeadAir() const;

    IcecastClient* icecastClient() const { return m_icecastClient; }
    OBSAudioManager* audioManager() const { return m_audioManager; }
    EncoderSettings* encoderSettings() const { return m_encoderSettings; }
    StreamHealthMonitor* healthMonitor() const { return m_healthMonitor; }
    GStreamerMixer* mixer() const { return m_mixer; }

    bool isBroadcasting() const { return m_isBroadcasting.load(); }
    bool isPipelinePrimed() const { return m_pipelinePrimed; }
    bool isMonitorPrimeActive() const;
    int preConnectBytes() const { return m_preConnect.bytes(); }

    // Encoded bytes handed out by the encoder and not yet taken up by the main thread, and the
    // most there ever were. Any thread.
    qint64 pendingEncodedBytes() const { return m_sender->pendingBytes(); }
    qint64 peakPendingEncodedBytes() const { return m_sender->peakPendingBytes(); }
    // Any thread.
    quint64 pipelineGeneration() const { return m_pipelineGeneration.load(); }
    // Encoded audio waiting to be sent, in milliseconds of the stream's bit rate, beyond which
    // the connection counts as lost: the uplink is slower than the stream.
    void setSendBacklogLimitMs(int milliseconds) { m_sender->setBacklogLimitMs(milliseconds); }
    // The backlog limit in bytes at the current bit rate.
    qint64 sendBacklogLimitBytes() const { return m_sender->backlogLimitBytes(); }

Q_SIGNALS:
    void broadcastingStarted();
    void broadcastingStopped();
    void connectionStatusChanged(bool connected);
    void errorOccurred(const QString& error);
    // Something went wrong that the broadcast survives (a deck lost its input, the monitor
    // stopped); one sentence for the user.
    void warningOccurred(const QString& warning);
    // A deck that lost its input (warningOccurred) has it again.
    void deckInputRecovered(int deck);
    // On air, what is sent has stayed silent too long ("Dead air: nothing above -50 dBFS for
    // 15 s"), once; then deadAirEnded once sound is sent again.
    void deadAirDetected(const QString& warning);
    void deadAirEnded();
    void levelsUpdated(float deck1, float deck2, float master);

public Q_SLOTS:
    // A chunk handed in directly counts as one of the current pipeline.
    void onEncodedDataReady(const QByteArray& data);
    // A chunk made by the pipeline of `generation` (see pipelineGeneration()); one of an older
    // pipeline is dropped.
    void onEncodedChunk(const QByteArray& data, quint64 generation);
    void onMixerError(const QString& error);
    void onLevelsUpdated(float deck1, float deck2, float master);

private Q_SLOTS:
    void onClientConnected();
    void onClientDisconnected();
    void onClientConnectionError(const QString& error);
    void onReconnectNotice(int attempt, int maxAttempts, int countdown);
    void onMonitorPrimeHoldEnded();
    // Capture has ended for good: the broadcast stops and the connection is let go.
    void onCaptureDisplayLost();

private:
    void flushPreConnectBuffer();

    bool setupMixer();
    void cleanupMixer();
    void pushEncoderSettings();
    void installAudioCallback();
    void configureClient();
    void prepareEncodingPipelineForConnect();
    void discardPrime();
    void startHealthMonitoring();
    void endSourceSessionAfterError();
    void finishMonitorPrime(bool switchMonitorOff);
    // Encoding runs for a connection: broadcasting, or a primed connect in flight.
    bool encodingBusy() const { return m_isBroadcasting.load() || m_pipelinePrimed; }

    IcecastClient* m_icecastClient = nullptr;
    OBSAudioManager* m_audioManager = nullptr;
    EncoderSettings* m_encoderSettings = nullptr;
    StreamHealthMonitor* m_healthMonitor = nullptr;
    GStreamerMixer* m_mixer = nullptr;
    std::unique_ptr<ChunkSender> m_sender;
    std::unique_ptr<LocalMonitor> m_monitor;
    SoundServerRecovery* m_soundServer = nullptr;
    DeadAirWatch* m_deadAir = nullptr;

    std::atomic<bool> m_isBroadcasting{false};
    bool m_shuttingDown = false;
    bool m_shutDown = false;
    std::atomic<bool> m_audioCallbackEnabled{false};

    // Ends the connect-time monitor prime this long after the server accepted.
    QTimer m_monitorPrimeTimer;

    bool m_pipelinePrimed = false;
    PreConnectBuffer m_preConnect;

    QString m_initialTitle;
    QString m_initialArtist;

    // Bumped whenever an encoding pipeline is torn down and right before one starts.
    std::atomic<quint64> m_pipelineGeneration{0};

    bool m_stopping = false;

    // Only a broadcast the user starts clears the reconnect count; restarts after automatic
    // reconnects keep it. Reconnect notices repeat every countdown second: one count per attempt.
    bool m_userStartPending = false;
    int m_lastCountedReconnectAttempt = 0;
};
