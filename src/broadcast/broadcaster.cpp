#include "broadcast/broadcaster.h"

#include <algorithm>

#include <QEventLoop>
#include <QMetaObject>

#include "audio/encoder_settings.h"
#include "audio/obs_audio_manager.h"
#include "broadcast/stream_health_monitor.h"
#include "core/log_categories.h"
#include "maintenance/crash_reporting.h"

#define BROADCAST_INFO qCInfo(lcBroadcaster).noquote()
#define BROADCAST_DEBUG qCDebug(lcBroadcaster).noquote()
#define BROADCAST_WARN qCWarning(lcBroadcaster).noquote()

namespace {

constexpr int kBitrateReportIntervalMs = 5000;
constexpr int kBlockedReportIntervalMs = 1000;
constexpr int kEncodedLogFirstPackets = 5;
constexpr int kEncodedLogEveryPackets = 100;

const QString kBroadcastCategory = QStringLiteral("broadcast");
const QString kDefaultType = QStringLiteral("default");
const QString kErrorType = QStringLiteral("error");

QString boolText(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

}  // namespace

Doredoradar::Doredoradar(QObject* parent) : QObject(parent) {
    m_icecastClient = new IcecastClient(this);
    m_audioManager = new OBSAudioManager(this);
    m_encoderSettings = new EncoderSettings(this);
    m_healthMonitor = new StreamHealthMonitor(this);
    connect(m_icecastClient, &IcecastClient::sendCompleted, m_healthMonitor,
            &StreamHealthMonitor::addSample);
    connect(m_icecastClient, &IcecastClient::reconnecting, this, &Doredoradar::onReconnectNotice);

    m_mixer = new GStreamerMixer(this);
    if (!GStreamerMixer::initializeGStreamer()) {
        BROADCAST_WARN << "Failed to initialize GStreamer during construction";
    }
    // The encoder's streaming thread tags each chunk with the pipeline generation current when
    // it was made, and counts it as waiting until the main thread takes it up.
    connect(
        m_mixer, &GStreamerMixer::encodedDataReady, this,
        [this](const QByteArray& data) {
            const quint64 generation = m_pipelineGeneration.load();
            const qint64 pending = m_pendingEncodedBytes.fetch_add(data.size()) + data.size();
            qint64 peak = m_peakPendingEncodedBytes.load();
            while (pending > peak &&
                   !m_peakPendingEncodedBytes.compare_exchange_weak(peak, pending)) {
            }
            QMetaObject::invokeMethod(
                this,
                [this, data, generation] {
                    m_pendingEncodedBytes.fetch_sub(data.size());
                    onEncodedChunk(data, generation);
                },
                Qt::QueuedConnection);
        },
        Qt::DirectConnection);
    connect(m_mixer, &GStreamerMixer::errorOccurred, this, &Doredoradar::onMixerError);
    connect(m_mixer, &GStreamerMixer::levelsUpdated, this, &Doredoradar::onLevelsUpdated);

    connect(m_icecastClient, &IcecastClient::connected, this, &Doredoradar::onClientConnected);
    connect(m_icecastClient, &IcecastClient::disconnected, this,
            &Doredoradar::onClientDisconnected);
    connect(m_icecastClient, &IcecastClient::connectionError, this,
            &Doredoradar::onClientConnectionError);

    m_monitorPrimeTimer.setSingleShot(true);
    m_monitorPrimeTimer.setInterval(kMonitorPrimeHoldMs);
    connect(&m_monitorPrimeTimer, &QTimer::timeout, this, &Doredoradar::onMonitorPrimeHoldEnded);
}

Doredoradar::~Doredoradar() {
    m_shuttingDown = true;
    shutdownNow();
}

bool Doredoradar::initialize() {
    if (!m_audioManager->initialize()) {
        Q_EMIT errorOccurred(QStringLiteral("Failed to initialize audio manager"));
        return false;
    }
    if (!m_mixer->initialize()) {
        Q_EMIT errorOccurred(QStringLiteral("Failed to initialize GStreamer mixer"));
        return false;
    }
    BROADCAST_INFO << "GStreamer mixer initialized";
    return true;
}

// ---- Encoder settings, audio callback, mixer ----

void Doredoradar::configureClient() {
    m_icecastClient->setCodec(m_encoderSettings->codec());
    m_icecastClient->setBitrate(m_encoderSettings->bitrate());
    m_icecastClient->setSampleRate(m_encoderSettings->sampleRate());
    m_icecastClient->setChannels(m_encoderSettings->channels());
}

void Doredoradar::pushEncoderSettings() {
    m_mixer->setEncoderType(m_encoderSettings->codec());
    m_mixer->setBitrate(m_encoderSettings->bitrate());
    m_mixer->setTargetSampleRate(m_encoderSettings->sampleRate());
    m_mixer->setOutputChannels(m_encoderSettings->channels());
    m_mixer->setAacAfterburner(m_encoderSettings->aacAfterburner());
    m_mixer->setAacProfile(GStreamerMixer::AacProfile(m_encoderSettings->aacProfile()));
    m_mixer->setOpusAudioType(GStreamerMixer::OpusAudioType(m_encoderSettings->opusAudioType()));
}

void Doredoradar::installAudioCallback() {
    m_audioCallbackEnabled.store(true);
    GStreamerMixer* mixer = m_mixer;
    // Capture threads: never blocks (the mixer's feed only try-locks).
    m_audioManager->setDeckAudioCallback(
        [this, mixer](int deck, const float* data, int frames, int channels, int sampleRate) {
            if (!m_audioCallbackEnabled.load() || !mixer->isRunning()) return;
            if (deck == 1) {
                mixer->feedDeck1Audio(data, frames, channels, sampleRate);
            } else if (deck == 2) {
                mixer->feedDeck2Audio(data, frames, channels, sampleRate);
            }
        });
}

void Doredoradar::ensureMixerRunning() {
    if (!m_mixer || !m_audioManager) return;
    // A running encoder keeps its settings (the mixer refuses changes while encoding).
    if (!(m_mixer->isRunning() && m_mixer->isEncodingEnabled())) pushEncoderSettings();
    installAudioCallback();
    if (m_mixer->isRunning()) return;
    if (m_mixer->start(false)) {
        BROADCAST_INFO << "Mixer started for monitoring (encoding disabled)";
    } else {
        m_audioCallbackEnabled.store(false);
        m_audioManager->clearDeckAudioCallback();
        BROADCAST_WARN << "Failed to start mixer for monitoring";
    }
}

bool Doredoradar::setupMixer() {
    BROADCAST_INFO << "setupMixer() - start";
    if (!m_mixer) {
        BROADCAST_INFO << "setupMixer() - m_mixer is null";
        return false;
    }
    if (m_mixer->isRunning()) {
        BROADCAST_INFO << "setupMixer() - mixer is running, stopping for clean restart";
        m_mixer->stop();
    }
    pushEncoderSettings();
    installAudioCallback();
    // Always the current values: an empty title clears what an earlier broadcast left there.
    m_mixer->setInitialStreamTags(m_initialTitle, m_initialArtist);
    // The old encoder has stopped; whatever it made before is of an older generation.
    m_pipelineGeneration.fetch_add(1);
    BROADCAST_INFO << "setupMixer() - calling m_mixer->start(true)";
    if (!m_mixer->start(true)) {
        BROADCAST_INFO << "setupMixer() - m_mixer->start(true) FAILED";
        m_audioCallbackEnabled.store(false);
        m_audioManager->clearDeckAudioCallback();
        return false;
    }
    BROADCAST_INFO << "setupMixer() - mixer started successfully";
    BROADCAST_INFO << "Mixer started -"
                   << "encoder:" << m_mixer->formatLabel()
                   << "bitrate:" << m_encoderSettings->bitrate() << "kbps";
    return true;
}

void Doredoradar::cleanupMixer() {
    BROADCAST_INFO << "cleanupMixer() - start";
    // From here on nothing the old encoder made may reach a connection.
    m_pipelineGeneration.fetch_add(1);
    BROADCAST_INFO << "cleanupMixer() - disabling callback via atomic flag";
    m_audioCallbackEnabled.store(false);
    BROADCAST_INFO << "cleanupMixer() - clearing audio callback";
    if (m_audioManager) m_audioManager->clearDeckAudioCallback();
    waitTeardownGrace();
    if (m_mixer) {
        BROADCAST_INFO << "cleanupMixer() - calling m_mixer->stop()";
        m_mixer->stop();
    }
    BROADCAST_INFO << "cleanupMixer() - done";
}

void Doredoradar::waitTeardownGrace() {
    ++m_teardownDepth;
    QEventLoop loop;
    QTimer::singleShot(kTeardownGraceMs, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    --m_teardownDepth;
    if (m_teardownDepth == 0 && !m_deferredActions.isEmpty()) {
        QMetaObject::invokeMethod(this, &Doredoradar::runDeferredActions, Qt::QueuedConnection);
    }
}

bool Doredoradar::deferDuringTeardown(std::function<void()> action) {
    if (m_teardownDepth == 0) return false;
    m_deferredActions.append(std::move(action));
    return true;
}

void Doredoradar::runDeferredActions() {
    const QList<std::function<void()>> actions = std::move(m_deferredActions);
    m_deferredActions.clear();
    for (const std::function<void()>& action : actions) {
        // An action may start a teardown of its own; the rest keep their order behind it.
        if (!deferDuringTeardown(action)) action();
    }
}

// ---- Connect and broadcast ----

bool Doredoradar::connectAndBroadcast(const QString& host, quint16 port, const QString& mount,
                                      const QString& username, const QString& password) {
    trackBroadcastStart(m_encoderSettings ? m_encoderSettings->encoderName() : QString(), host);
    addBreadcrumb(
        kBroadcastCategory,
        QStringLiteral("Connecting to ") + host + QLatin1Char(':') + QString::number(port),
        kDefaultType);
    configureClient();
    m_userStartPending = true;
    m_lastCountedReconnectAttempt = 0;

    if (m_mixer && !m_isBroadcasting) beginMonitorPrime();
    if (!m_isBroadcasting) prepareEncodingPipelineForConnect();

    m_host = host;
    m_port = port;
    m_mount = mount;
    m_username = username;
    m_password = password;
    m_icecastClient->connectToServerAsync(m_host, m_port, m_mount, m_username, m_password);
    return true;
}

void Doredoradar::prepareEncodingPipelineForConnect() {
    if (m_mixer && m_audioManager && m_encoderSettings) {
        if (m_pipelinePrimed) return;
        discardPrime();
        if (setupMixer()) {
            const bool deck1 = m_audioManager->startDeck(1);
            const bool deck2 = m_audioManager->startDeck(2);
            if (deck1 || deck2) {
                m_mixer->setDeck1Active(deck1);
                m_mixer->setDeck2Active(deck2);
                m_pipelinePrimed = true;
                BROADCAST_INFO
                    << "Pre-connect encoding pipeline primed (will buffer initial packets)";
                return;
            }
            cleanupMixer();
        }
    }
    BROADCAST_WARN
        << "Failed to prime encoding pipeline before connect (will fall back to start after "
           "connect)";
}

void Doredoradar::discardPrime() {
    m_pipelinePrimed = false;
    m_primeSpoiled = false;
    m_preConnectPackets.clear();
    m_preConnectBytes = 0;
}

void Doredoradar::startHealthMonitoring() {
    m_healthMonitor->resetMonitoring(m_userStartPending
                                         ? StreamHealthMonitor::ResetScope::Everything
                                         : StreamHealthMonitor::ResetScope::KeepReconnectCount);
    m_userStartPending = false;
    m_healthMonitor->startMonitoring(m_encoderSettings->bitrate());
}

void Doredoradar::onClientConnected() {
    if (deferDuringTeardown([this] { onClientConnected(); })) return;
    BROADCAST_INFO << "connected() signal received, isBroadcasting=" << boolText(m_isBroadcasting);
    addBreadcrumb(kBroadcastCategory, QStringLiteral("Connected to Icecast server"), kDefaultType);
    Q_EMIT connectionStatusChanged(true);
    m_lastCountedReconnectAttempt = 0;

    if (m_isBroadcasting) {
        BROADCAST_INFO << "Stopping existing broadcast before restarting";
        stopBroadcasting();
    }

    BROADCAST_INFO << "Starting broadcasting";
    const bool primed = m_pipelinePrimed && !m_primeSpoiled && m_mixer && m_mixer->isRunning() &&
                        m_mixer->isEncodingEnabled();
    if (primed) {
        startHealthMonitoring();
        m_isBroadcasting = true;
        Q_EMIT broadcastingStarted();
        BROADCAST_INFO << "Broadcasting started (using pre-connect primed pipeline)";
        flushPreConnectBuffer();
        m_pipelinePrimed = false;
        m_host.clear();
    } else {
        if (m_primeSpoiled) {
            BROADCAST_INFO << "Pre-connect packets were lost; starting a fresh stream instead";
        }
        discardPrime();
        const bool started = startBroadcasting();
        m_host.clear();
        if (!started) {
            finishMonitorPrime(true);
            // Nothing will be written: a source left connected would only hold the mount.
            endSourceSessionAfterError();
            return;
        }
    }
    if (m_autoDisableMonitorPending) m_monitorPrimeTimer.start();
}

void Doredoradar::flushPreConnectBuffer() {
    int sent = 0;
    while (!m_preConnectPackets.empty()) {
        const QByteArray packet = std::move(m_preConnectPackets.front());
        m_preConnectPackets.pop_front();
        m_preConnectBytes -= static_cast<int>(packet.size());
        if (!m_icecastClient->isConnected() || !m_isBroadcasting) continue;
        sendChunk(packet);
        ++sent;
    }
    m_preConnectBytes = 0;
    if (sent > 0) BROADCAST_INFO << "Flushed" << sent << "pre-connect encoded packets";
}

bool Doredoradar::startBroadcasting() {
    if (m_isBroadcasting) return true;
    if (!m_icecastClient->isConnected()) {
        Q_EMIT errorOccurred(QStringLiteral("Not connected to Icecast server"));
        return false;
    }
    configureClient();
    if (!setupMixer()) {
        Q_EMIT errorOccurred(QStringLiteral("Failed to setup mixer"));
        return false;
    }
    const bool deck1 = m_audioManager->startDeck(1);
    const bool deck2 = m_audioManager->startDeck(2);
    if (!deck1 && !deck2) {
        cleanupMixer();
        Q_EMIT errorOccurred(
            QStringLiteral("No audio input selected - please select at least one deck input"));
        return false;
    }
    m_mixer->setDeck1Active(deck1);
    m_mixer->setDeck2Active(deck2);
    BROADCAST_INFO << "Deck 1 active:" << boolText(deck1) << "Deck 2 active:" << boolText(deck2);
    startHealthMonitoring();
    m_isBroadcasting = true;
    Q_EMIT broadcastingStarted();
    BROADCAST_INFO << "Broadcasting started";
    return true;
}

void Doredoradar::stopBroadcasting() {
    addBreadcrumb(kBroadcastCategory, QStringLiteral("Broadcast stopped"), kDefaultType);
    BROADCAST_INFO << "stopBroadcasting() - start, m_isBroadcasting=" << boolText(m_isBroadcasting);
    if (m_stopping) {
        BROADCAST_INFO << "stopBroadcasting() - already stopping, returning";
        return;
    }
    if (!m_isBroadcasting) {
        BROADCAST_INFO << "stopBroadcasting() - not broadcasting, returning";
        return;
    }
    m_stopping = true;
    const bool monitorWasEnabled = m_mixer && m_mixer->isMonitorEnabled();
    BROADCAST_INFO << "stopBroadcasting() - monitorWasEnabled=" << boolText(monitorWasEnabled);
    // First of all: no chunk still on its way is sent from here on.
    m_isBroadcasting = false;
    cleanupMixer();
    if (!m_shuttingDown && monitorWasEnabled) {
        BROADCAST_INFO << "Broadcasting stopped - restarting mixer for monitoring";
        ensureMixerRunning();
        passDeckActivityToMixer();
    }
    m_healthMonitor->resetMonitoring(StreamHealthMonitor::ResetScope::KeepReconnectCount);
    m_stopping = false;
    Q_EMIT broadcastingStopped();
    BROADCAST_INFO << "Broadcasting stopped";
}

void Doredoradar::endSourceSessionAfterError() {
    if (m_shuttingDown) return;
    BROADCAST_INFO << "Ending the source connection: the broadcast stopped on an error";
    if (m_icecastClient->isReconnecting()) m_icecastClient->cancelReconnect();
    m_icecastClient->disconnectFromServer();
}

void Doredoradar::onClientDisconnected() {
    if (deferDuringTeardown([this] { onClientDisconnected(); })) return;
    const bool primePending =
        m_autoDisableMonitorPending && m_monitorPrimeActive && !m_monitorWasEnabled;
    if (primePending) BROADCAST_INFO << "Disconnected during connect prime - restoring monitor OFF";
    if (!m_isBroadcasting && m_pipelinePrimed) {
        discardPrime();
        cleanupMixer();
    }
    Q_EMIT connectionStatusChanged(false);
    BROADCAST_INFO << "Disconnected, stopping broadcasting";
    stopBroadcasting();
    // Last, so that the decks the monitor started for the connect stop with it.
    if (primePending) finishMonitorPrime(true);
}

void Doredoradar::onClientConnectionError(const QString& error) {
    if (deferDuringTeardown([this, error] { onClientConnectionError(error); })) return;
    addBreadcrumb(kBroadcastCategory, QStringLiteral("Connection error: ") + error, kErrorType);
    m_host.clear();
    if (m_pipelinePrimed) {
        discardPrime();
        if (!m_isBroadcasting) cleanupMixer();
    }
    if (m_autoDisableMonitorPending && m_monitorPrimeActive && !m_monitorWasEnabled) {
        finishMonitorPrime(true);
    } else {
        m_monitorPrimeTimer.stop();
        m_monitorPrimeActive = false;
        m_autoDisableMonitorPending = false;
        restoreSavedMonitorVolume();
    }
}

void Doredoradar::onReconnectNotice(int attempt, int /*maxAttempts*/, int /*countdown*/) {
    // The notice repeats every countdown second and when the attempt starts.
    if (attempt == m_lastCountedReconnectAttempt) return;
    m_lastCountedReconnectAttempt = attempt;
    m_healthMonitor->recordReconnect();
}

void Doredoradar::onConnectionStatusChanged(bool connected) {
    Q_EMIT connectionStatusChanged(connected);
}

void Doredoradar::onLevelsUpdated(float deck1, float deck2, float master) {
    Q_EMIT levelsUpdated(deck1, deck2, master);
}

void Doredoradar::onMixerError(const QString& error) {
    if (deferDuringTeardown([this, error] { onMixerError(error); })) return;
    BROADCAST_WARN << "Mixer error:" << error;
    addBreadcrumb(kBroadcastCategory, QStringLiteral("Mixer error: ") + error, kErrorType);
    Q_EMIT errorOccurred(QStringLiteral("Mixer error: ") + error);
    const bool wasBroadcasting = m_isBroadcasting;
    if (m_pipelinePrimed && !m_isBroadcasting && !m_primeSpoiled) {
        // The primed encoder is dead; the connection starts a fresh one.
        m_primeSpoiled = true;
        m_preConnectPackets.clear();
        m_preConnectBytes = 0;
    }
    stopBroadcasting();
    if (wasBroadcasting) endSourceSessionAfterError();
}

// ---- Encoded data ----

void Doredoradar::onEncodedDataReady(const QByteArray& data) {
    onEncodedChunk(data, m_pipelineGeneration.load());
}

void Doredoradar::onEncodedChunk(const QByteArray& data, quint64 generation) {
    if (generation != m_pipelineGeneration.load()) {
        // Made by a pipeline that has been torn down: never part of the current stream.
        ++m_staleChunksDropped;
        return;
    }
    countEncodedChunk(static_cast<int>(data.size()));

    if (m_icecastClient->isConnected() && m_isBroadcasting) {
        const qint64 backlog = m_pendingEncodedBytes.load();
        if (backlog > sendBacklogLimitBytes()) {
            treatBacklogAsLoss(backlog);
            return;
        }
        sendChunk(data);
        return;
    }
    if (m_pipelinePrimed && !m_isBroadcasting) bufferPreConnectChunk(data);
}

void Doredoradar::countEncodedChunk(int bytes) {
    const int packet = ++m_encodedPacketCount;
    if (packet <= kEncodedLogFirstPackets || packet % kEncodedLogEveryPackets == 0) {
        BROADCAST_INFO << "Encoded data ready -" << bytes << "bytes (packet" << packet << ")";
    }
    if (!m_bitrateWindow.isValid()) m_bitrateWindow.start();
    m_bitrateWindowBytes += bytes;
    const qint64 elapsedMs = m_bitrateWindow.elapsed();
    if (elapsedMs >= kBitrateReportIntervalMs) {
        const double kbps = double(m_bitrateWindowBytes) * 8.0 / double(elapsedMs);
        BROADCAST_INFO << "Actual encoded bitrate:" << QString::number(kbps, 'f', 1) << "kbps"
                       << "(target:" << (m_encoderSettings ? m_encoderSettings->bitrate() : -1)
                       << "kbps,"
                       << "bytes:" << m_bitrateWindowBytes << "in" << elapsedMs << "ms)";
        m_bitrateWindowBytes = 0;
        m_bitrateWindow.restart();
    }
}

void Doredoradar::bufferPreConnectChunk(const QByteArray& data) {
    if (m_primeSpoiled) return;
    const int size = static_cast<int>(data.size());
    if (static_cast<int>(m_preConnectPackets.size()) < kPreConnectMaxPackets &&
        m_preConnectBytes + size <= kPreConnectMaxBytes) {
        m_preConnectPackets.push_back(data);
        m_preConnectBytes += size;
        return;
    }
    // Dropping this chunk would leave a hole right after the stream's first packets.
    BROADCAST_WARN << "Pre-connect buffer full (" << m_preConnectPackets.size() << "packets,"
                   << m_preConnectBytes << "bytes) - the stream starts afresh once connected";
    m_primeSpoiled = true;
    m_preConnectPackets.clear();
    m_preConnectBytes = 0;
}

void Doredoradar::sendChunk(const QByteArray& data) {
    QElapsedTimer timer;
    timer.start();
    const bool sent = m_icecastClient->send(data);
    const qint64 elapsedMs = timer.elapsed();
    if (!sent) BROADCAST_WARN << "Failed to send audio data";
    if (elapsedMs < kSendBlockedWarnMs) return;
    if (m_blockedReportClock.isValid() &&
        m_blockedReportClock.elapsed() < kBlockedReportIntervalMs) {
        ++m_blockedSinceReport;
        return;
    }
    if (m_blockedSinceReport > 0) {
        BROADCAST_WARN << "sendAudioData blocked for" << elapsedMs << "ms"
                       << QStringLiteral("(%1 more blocked sends since the last report)")
                              .arg(m_blockedSinceReport);
    } else {
        BROADCAST_WARN << "sendAudioData blocked for" << elapsedMs << "ms";
    }
    m_blockedSinceReport = 0;
    m_blockedReportClock.start();
}

qint64 Doredoradar::sendBacklogLimitBytes() const {
    const qint64 bitrateKbps = m_encoderSettings ? m_encoderSettings->bitrate() : 128;
    return bitrateKbps * 1000 / 8 * m_sendBacklogLimitMs / 1000;
}

void Doredoradar::treatBacklogAsLoss(qint64 backlogBytes) {
    const double seconds = double(backlogBytes) * 8.0 / (m_encoderSettings->bitrate() * 1000.0);
    BROADCAST_WARN << "Send backlog of" << backlogBytes << "bytes ("
                   << QString::number(seconds, 'f', 1)
                   << "s of audio) - the connection is slower than the stream, treating it as lost";
    m_icecastClient->handleConnectionLost(
        QStringLiteral("The connection is too slow for the stream (%1 s of audio waiting)")
            .arg(QString::number(seconds, 'f', 1)));
}

// ---- Monitor ----

void Doredoradar::beginMonitorPrime() {
    m_monitorPrimeTimer.stop();
    m_monitorWasEnabled = m_mixer->isMonitorEnabled();
    if (m_monitorWasEnabled) {
        m_monitorPrimeActive = false;
        m_autoDisableMonitorPending = false;
        return;
    }
    BROADCAST_INFO << "Priming by enabling monitoring before connect";
    if (!m_savedMonitorVolumeValid) {
        m_savedMonitorVolume = m_mixer->monitorUserVolume();
        m_savedMonitorVolumeValid = true;
    }
    m_mixer->setMonitorVolume(0.0f);
    m_monitorPrimeActive = true;
    m_autoDisableMonitorPending = true;
    // Decks and mix run for the connect, but the monitor itself stays silent: switching the
    // mixer's monitor on would turn a user volume of 0 into full volume.
    enableMonitorPath(false);
}

void Doredoradar::setMonitorEnabled(bool enabled) {
    if (!m_mixer || !m_audioManager) return;
    if (!enabled) {
        disableMonitorPath();
        return;
    }
    if (m_monitorPrimeActive && !m_monitorWasEnabled) {
        // The user wants to listen during a silent connect: their volume, and no switching off
        // once the connect is through.
        m_monitorWasEnabled = true;
        restoreSavedMonitorVolume();
    }
    enableMonitorPath(true);
}

void Doredoradar::enableMonitorPath(bool audible) {
    BROADCAST_INFO << "Enabling local monitor (will ensure mixer + start decks if needed)";
    ensureMixerRunning();
    BROADCAST_INFO << "Mixer running=" + boolText(m_mixer->isRunning()) +
                          ", deck1Active=" + boolText(m_audioManager->isDeckActive(1)) +
                          ", deck2Active=" + boolText(m_audioManager->isDeckActive(2));
    for (int deck : {1, 2}) {
        if (m_audioManager->isDeckActive(deck)) continue;
        bool& startedForMonitor = deck == 1 ? m_deck1StartedForMonitor : m_deck2StartedForMonitor;
        if (m_audioManager->startDeck(deck)) {
            startedForMonitor = true;
            BROADCAST_INFO << QStringLiteral("Started deck %1 for monitoring").arg(deck);
        } else {
            BROADCAST_INFO
                << QStringLiteral("Deck %1 not started (no source configured?)").arg(deck);
        }
    }
    passDeckActivityToMixer();
    // The silent connect prime skips the monitor-only restart: its encoder pipeline replaces the
    // graph at once.
    if (audible && !encodingBusy() && !m_shuttingDown && !m_localMonitorPrimed) {
        BROADCAST_INFO << "Priming local monitor by restarting mixer pipeline (no network)";
        if (m_mixer->isRunning()) m_mixer->stop();
        if (!m_mixer->start(false)) {
            BROADCAST_WARN << "Failed to prime mixer for monitoring";
            m_mixer->setMonitorEnabled(true);
            return;
        }
        BROADCAST_INFO << "Local monitor primed";
        m_localMonitorPrimed = true;
    }
    if (audible) m_mixer->setMonitorEnabled(true);
}

void Doredoradar::disableMonitorPath() {
    BROADCAST_INFO << "Disabling local monitor";
    m_mixer->setMonitorEnabled(false);
    // A primed connect counts as broadcasting: its encoder needs the decks.
    if (encodingBusy()) return;
    m_localMonitorPrimed = false;
    if (m_deck1StartedForMonitor) {
        m_audioManager->stopDeck(1);
        m_deck1StartedForMonitor = false;
    }
    if (m_deck2StartedForMonitor) {
        m_audioManager->stopDeck(2);
        m_deck2StartedForMonitor = false;
    }
    passDeckActivityToMixer();
}

void Doredoradar::onMonitorPrimeHoldEnded() {
    if (deferDuringTeardown([this] { onMonitorPrimeHoldEnded(); })) return;
    if (!m_mixer) {
        m_monitorPrimeActive = false;
        m_autoDisableMonitorPending = false;
        m_savedMonitorVolumeValid = false;
        return;
    }
    if (!m_monitorWasEnabled) BROADCAST_INFO << "Auto-disabling monitor after connect prime";
    finishMonitorPrime(true);
}

void Doredoradar::finishMonitorPrime(bool switchMonitorOff) {
    m_monitorPrimeTimer.stop();
    if (switchMonitorOff && m_mixer && m_monitorPrimeActive && !m_monitorWasEnabled) {
        disableMonitorPath();
    }
    m_monitorPrimeActive = false;
    m_autoDisableMonitorPending = false;
    // After switching off, so the restored volume never plays.
    restoreSavedMonitorVolume();
}

void Doredoradar::restoreSavedMonitorVolume() {
    if (!m_savedMonitorVolumeValid) return;
    m_savedMonitorVolumeValid = false;
    if (m_mixer) m_mixer->setMonitorVolume(m_savedMonitorVolume);
}

void Doredoradar::passDeckActivityToMixer() {
    m_mixer->setDeck1Active(m_audioManager->isDeckActive(1));
    m_mixer->setDeck2Active(m_audioManager->isDeckActive(2));
}

void Doredoradar::forceMonitorRestart() {
    if (!m_mixer) return;
    BROADCAST_INFO << "Forcing full monitor restart (resetting primed state)";
    m_mixer->setMonitorEnabled(false);
    m_localMonitorPrimed = false;
}

void Doredoradar::disableMonitorOutput() {
    if (m_mixer) m_mixer->setMonitorEnabled(false);
}

void Doredoradar::setMonitorVolume(float volume) {
    if (!m_mixer) return;
    if (m_savedMonitorVolumeValid && m_monitorPrimeActive && !m_mixer->isMonitorEnabled()) {
        // Silent connect: the choice takes effect when the prime ends.
        m_savedMonitorVolume = volume;
        return;
    }
    m_mixer->setMonitorVolume(volume);
}

bool Doredoradar::setMonitorDevice(const QString& deviceName) {
    return m_mixer ? m_mixer->setMonitorDevice(deviceName) : false;
}

QStringList Doredoradar::getMonitorDevices() {
    return m_mixer ? m_mixer->getMonitorDevices() : QStringList();
}

// ---- Forwarders ----

void Doredoradar::setInitialStreamMetadata(const QString& title, const QString& artist) {
    m_initialTitle = title;
    m_initialArtist = artist;
    BROADCAST_INFO << "Stored initial stream metadata - title:" << title << "artist:" << artist;
}

void Doredoradar::setDeck1Volume(float volume) {
    if (m_mixer) m_mixer->setDeck1Volume(volume);
}

void Doredoradar::setDeck2Volume(float volume) {
    if (m_mixer) m_mixer->setDeck2Volume(volume);
}

void Doredoradar::setMasterVolume(float volume) {
    if (m_mixer) m_mixer->setMasterVolume(volume);
}

void Doredoradar::setCrossfader(float position) {
    if (m_mixer) m_mixer->setCrossfader(position);
}

void Doredoradar::setDeck1Active(bool active) {
    if (m_mixer) m_mixer->setDeck1Active(active);
}

void Doredoradar::setDeck2Active(bool active) {
    if (m_mixer) m_mixer->setDeck2Active(active);
}

void Doredoradar::setDuckingConfig(const GStreamerMixer::DuckingConfig& config) {
    if (m_mixer) m_mixer->setDuckingConfig(config);
}

float Doredoradar::crossfader() const { return m_mixer ? m_mixer->crossfader() : 0.0f; }

QString Doredoradar::formatLabel() const { return m_mixer ? m_mixer->formatLabel() : QString(); }

// ---- Shutdown ----

void Doredoradar::shutdown() {
    if (m_shutDown) return;
    m_shuttingDown = true;
    // Called from a handler inside a teardown's grace: finish that teardown first.
    if (deferDuringTeardown([this] { shutdownNow(); })) return;
    shutdownNow();
}

void Doredoradar::shutdownNow() {
    if (m_shutDown) return;
    m_shuttingDown = true;
    m_monitorPrimeTimer.stop();
    stopBroadcasting();
    discardPrime();
    if (m_icecastClient->isReconnecting()) m_icecastClient->cancelReconnect();
    m_icecastClient->disconnectFromServer();
    m_audioCallbackEnabled.store(false);
    m_audioManager->clearDeckAudioCallback();
    m_audioManager->shutdown();
    m_mixer->shutdown();
    m_monitorPrimeActive = false;
    m_autoDisableMonitorPending = false;
    m_shutDown = true;
}
