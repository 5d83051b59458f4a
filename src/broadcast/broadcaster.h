#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <deque>
#include <functional>

#include "audio/gstreamer_mixer.h"
#include "broadcast/icecast_client.h"

class EncoderSettings;
class OBSAudioManager;
class StreamHealthMonitor;

// The broadcast controller: ties the audio engine (capture, mixer, encoder) to the Icecast source
// connection. It owns the capture manager, the mixer, the encoder settings, the source client and
// the stream health monitor; the main window (or the command-line broadcaster) drives everything
// audio and transport through it.
//
// Going live is primed: before the TCP connection is attempted the encoder pipeline is already
// running and its first packets are buffered (at most kPreConnectMaxPackets and
// kPreConnectMaxBytes), to be sent first the moment the server accepts the source. When the local
// monitor is off, the decks and the mix are kept running (silently) for the connect.
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
    static constexpr int kPreConnectMaxPackets = 128;
    static constexpr int kPreConnectMaxBytes = 65536;
    // The monitor switched on for a connect goes off again this long after the server accepted.
    static constexpr int kMonitorPrimeHoldMs = 1500;
    // Capture callbacks already in flight finish within this grace before the mixer stops.
    static constexpr int kTeardownGraceMs = 50;
    static constexpr int kSendBlockedWarnMs = 21;
    // Encoded audio waiting to be sent, in seconds of the stream's bit rate, beyond which the
    // connection counts as lost: the uplink is slower than the stream.
    static constexpr int kDefaultSendBacklogLimitMs = 10000;

    explicit Doredoradar(QObject* parent = nullptr);
    ~Doredoradar() override;

    // Starts the capture manager and the mixer. Blocks for libobs's start-up.
    bool initialize();
    // Primes and connects; the outcome arrives through the client's signals. Always true.
    bool connectAndBroadcast(const QString& host, quint16 port, const QString& mount,
                             const QString& username, const QString& password);
    // Starts sending without priming (the client must be connected).
    bool startBroadcasting();
    // Safe to call from within its own teardown (a loss reported meanwhile is handled after it).
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
    QString initialTitle() const { return m_initialTitle; }
    QString initialArtist() const { return m_initialArtist; }

    void setDeck1Volume(float volume);
    void setDeck2Volume(float volume);
    void setMasterVolume(float volume);
    void setCrossfader(float position);
    void setDeck1Active(bool active);
    void setDeck2Active(bool active);
    void setDuckingConfig(const GStreamerMixer::DuckingConfig& config);
    float crossfader() const;
    QString formatLabel() const;

    IcecastClient* icecastClient() const { return m_icecastClient; }
    OBSAudioManager* audioManager() const { return m_audioManager; }
    EncoderSettings* encoderSettings() const { return m_encoderSettings; }
    StreamHealthMonitor* healthMonitor() const { return m_healthMonitor; }
    GStreamerMixer* mixer() const { return m_mixer; }

    bool isBroadcasting() const { return m_isBroadcasting.load(); }
    bool isPipelinePrimed() const { return m_pipelinePrimed; }
    bool isMonitorPrimeActive() const { return m_monitorPrimeActive; }
    int preConnectPacketCount() const { return static_cast<int>(m_preConnectPackets.size()); }
    int preConnectBytes() const { return m_preConnectBytes; }
    // The connection parameters of the last connect (the host is cleared once it is decided).
    QString pendingHost() const { return m_host; }

    // Encoded bytes handed out by the encoder and not yet taken up by the main thread, and the
    // most there ever were. Any thread.
    qint64 pendingEncodedBytes() const { return m_pendingEncodedBytes.load(); }
    qint64 peakPendingEncodedBytes() const { return m_peakPendingEncodedBytes.load(); }
    quint64 pipelineGeneration() const { return m_pipelineGeneration.load(); }
    quint64 staleChunksDropped() const { return m_staleChunksDropped; }
    void setSendBacklogLimitMs(int milliseconds) { m_sendBacklogLimitMs = milliseconds; }
    int sendBacklogLimitMs() const { return m_sendBacklogLimitMs; }
    // The backlog limit in bytes at the current bit rate.
    qint64 sendBacklogLimitBytes() const;

Q_SIGNALS:
    void broadcastingStarted();
    void broadcastingStopped();
    void connectionStatusChanged(bool connected);
    void errorOccurred(const QString& error);
    void levelsUpdated(float deck1, float deck2, float master);

public Q_SLOTS:
    void onConnectionStatusChanged(bool connected);
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

private:
    void sendChunk(const QByteArray& data);
    void flushPreConnectBuffer();
    void bufferPreConnectChunk(const QByteArray& data);
    void treatBacklogAsLoss(qint64 backlogBytes);
    void countEncodedChunk(int bytes);

    bool setupMixer();
    void cleanupMixer();
    void pushEncoderSettings();
    void installAudioCallback();
    void configureClient();
    void prepareEncodingPipelineForConnect();
    void discardPrime();
    void startHealthMonitoring();
    void endSourceSessionAfterError();

    void beginMonitorPrime();
    void enableMonitorPath(bool audible);
    void disableMonitorPath();
    void finishMonitorPrime(bool switchMonitorOff);
    void restoreSavedMonitorVolume();
    void passDeckActivityToMixer();
    // Encoding runs for a connection: broadcasting, or a primed connect in flight.
    bool encodingBusy() const { return m_isBroadcasting.load() || m_pipelinePrimed; }

    // While the teardown's grace loop runs, client and mixer events wait until it is over, so
    // none of them re-enters a half-finished teardown. True when `action` was deferred.
    bool deferDuringTeardown(std::function<void()> action);
    void runDeferredActions();
    void waitTeardownGrace();
    void shutdownNow();

    IcecastClient* m_icecastClient = nullptr;
    OBSAudioManager* m_audioManager = nullptr;
    EncoderSettings* m_encoderSettings = nullptr;
    StreamHealthMonitor* m_healthMonitor = nullptr;
    GStreamerMixer* m_mixer = nullptr;

    std::atomic<bool> m_isBroadcasting{false};
    bool m_shuttingDown = false;
    bool m_shutDown = false;
    std::atomic<bool> m_audioCallbackEnabled{false};
    std::atomic<int> m_encodedPacketCount{0};

    bool m_monitorPrimeActive = false;
    bool m_monitorWasEnabled = false;
    bool m_autoDisableMonitorPending = false;
    bool m_savedMonitorVolumeValid = false;
    float m_savedMonitorVolume = 1.0f;
    QTimer m_monitorPrimeTimer;

    bool m_deck1StartedForMonitor = false;
    bool m_deck2StartedForMonitor = false;
    bool m_localMonitorPrimed = false;

    bool m_pipelinePrimed = false;
    // The pre-connect buffer overflowed (or the primed pipeline failed): the packets after the
    // buffered ones are lost, so the connection starts a fresh stream instead.
    bool m_primeSpoiled = false;
    std::deque<QByteArray> m_preConnectPackets;
    int m_preConnectBytes = 0;

    QString m_initialTitle;
    QString m_initialArtist;

    QString m_host;
    quint16 m_port = 0;
    QString m_mount;
    QString m_username;
    QString m_password;

    // Bumped whenever an encoding pipeline is torn down and right before one starts.
    std::atomic<quint64> m_pipelineGeneration{0};
    std::atomic<qint64> m_pendingEncodedBytes{0};
    std::atomic<qint64> m_peakPendingEncodedBytes{0};
    quint64 m_staleChunksDropped = 0;
    int m_sendBacklogLimitMs = kDefaultSendBacklogLimitMs;

    bool m_stopping = false;
    int m_teardownDepth = 0;
    QList<std::function<void()>> m_deferredActions;

    // Only a broadcast the user starts clears the reconnect count; restarts after automatic
    // reconnects keep it. Reconnect notices repeat every countdown second: one count per attempt.
    bool m_userStartPending = false;
    int m_lastCountedReconnectAttempt = 0;

    // Encoded bit rate over 5 s windows, for the log.
    qint64 m_bitrateWindowBytes = 0;
    QElapsedTimer m_bitrateWindow;
    // "sendAudioData blocked" is reported at most once a second.
    QElapsedTimer m_blockedReportClock;
    int m_blockedSinceReport = 0;
};
