// The broadcast controller: mixer set-up and teardown, the connect prime, and the broadcast's
// start and stop.
#include "broadcast/broadcaster.h"

#include <QMetaObject>

#include "audio/encoder_settings.h"
#include "audio/obs_audio_manager.h"
#include "broadcast/dead_air_watch.h"
#include "broadcast/local_monitor.h"
#include "broadcast/sound_server_recovery.h"
#include "broadcast/stream_health_monitor.h"
#include "core/log_categories.h"
#include "maintenance/crash_reporting.h"

#define BROADCAST_INFO qCInfo(lcBroadcaster).noquote()
#define BROADCAST_DEBUG qCDebug(lcBroadcaster).noquote()
#define BROADCAST_WARN qCWarning(lcBroadcaster).noquote()

namespace {

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
    // Every broadcast is heard from the listener's side unless the user turns it off.
    m_icecastClient->setVerifyOnAir(true);
    connect(m_icecastClient, &IcecastClient::listenerCheckFinished, m_healthMonitor,
            [this](OnAirVerdict verdict, qint64 afterAcceptedMs) {
                m_healthMonitor->recordVerification(verdict == OnAirVerdict::Verified,
                                                    afterAcceptedMs);
            });
    m_sender = std::make_unique<ChunkSender>(m_icecastClient, m_encoderSettings);

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
            m_sender->chunkHandedOut(data.size());
            QMetaObject::invokeMethod(
                this,
                [this, data, generation] {
                    m_sender->chunkTakenUp(data.size());
                    onEncodedChunk(data, generation);
                },
                Qt::QueuedConnection);
        },
        Qt::DirectConnection);
    connect(m_mixer, &GStreamerMixer::errorOccurred, this, &Doredoradar::onMixerError);
    connect(m_audioManager, &OBSAudioManager::captureDisplayLost, this,
            &Doredoradar::onCaptureDisplayLost);
    connect(m_mixer, &GStreamerMixer::levelsUpdated, this, &Doredoradar::onLevelsUpdated);
    m_monitor = std::make_unique<LocalMonitor>(
        m_mixer, m_audioManager,
        LocalMonitor::Hooks{[this] { ensureMixerRunning(); }, [this] { return encodingBusy(); },
                            [this] { return m_shuttingDown; }});

    connect(m_icecastClient, &IcecastClient::connected, this, &Doredoradar::onClientConnected);
    connect(m_icecastClient, &IcecastClient::disconnected, this,
            &Doredoradar::onClientDisconnected);
    connect(m_icecastClient, &IcecastClient::connectionError, this,
            &Doredoradar::onClientConnectionError);

    m_deadAir = new DeadAirWatch([this] { return m_mixer->takeSentPeak(); }, this);
    connect(this, &Doredoradar::broadcastingStarted, m_deadAir, &DeadAirWatch::start);
    connect(this, &Doredoradar::broadcastingStopped, m_deadAir, &DeadAirWatch::stop);
    connect(m_deadAir, &DeadAirWatch::deadAir, this, &Doredoradar::deadAirDetected);
    connect(m_deadAir, &DeadAirWatch::soundBack, this, &Doredoradar::deadAirEnded);

    m_monitorPrimeTimer.setSingleShot(true);
    m_monitorPrimeTimer.setInterval(kMonitorPrimeHoldMs);
    connect(&m_monitorPrimeTimer, &QTimer::timeout, this, &Doredoradar::onMonitorPrimeHoldEnded);
}

Doredoradar::~Doredoradar() { shutdown(); }

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
    if (!m_soundServer) {
        m_soundServer = new SoundServerRecovery(m_audioManager, m_mixer, this);
        connect(m_soundServer, &SoundServerRecovery::warning, this, &Doredoradar::warningOccurred);
        connect(m_soundServer, &SoundServerRecovery::deckRecovered, this,
                &Doredoradar::deckInputRecovered);
        m_soundServer->start();
    }
    return true;
}

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
    BROADCAST_DEBUG << "setupMixer() - start";
    if (!m_mixer) {
        BROADCAST_DEBUG << "setupMixer() - m_mixer is null";
        return false;
    }
    if (m_mixer->isRunning()) {
        BROADCAST_DEBUG << "setupMixer() - mixer is running, stopping for clean restart";
        m_mixer->stop();
    }
    pushEncoderSettings();
    installAudioCallback();
    // Always the current values: an empty title clears what an earlier broadcast left there.
    m_mixer->setInitialStreamTags(m_initialTitle, m_initialArtist);
    // The old encoder has stopped; whatever it made before is of an older generation.
    m_pipelineGeneration.fetch_add(1);
    BROADCAST_DEBUG << "setupMixer() - calling m_mixer->start(true)";
    if (!m_mixer->start(true)) {
        BROADCAST_INFO << "The mixer could not start encoding";
        m_audioCallbackEnabled.store(false);
        m_audioManager->clearDeckAudioCallback();
        return false;
    }
    BROADCAST_DEBUG << "setupMixer() - mixer started successfully";
    BROADCAST_INFO << "Mixer started -"
                   << "encoder:" << m_mixer->formatLabel()
                   << "bitrate:" << m_encoderSettings->bitrate() << "kbps";
    return true;
}

void Doredoradar::cleanupMixer() {
    BROADCAST_DEBUG << "cleanupMixer() - start";
    // From here on nothing the old encoder made may reach a connection.
    m_pipelineGeneration.fetch_add(1);
    BROADCAST_DEBUG << "cleanupMixer() - disabling callback via atomic flag";
    m_audioCallbackEnabled.store(false);
    // Returns once no capture thread is inside the callback, so the mixer can stop right away.
    BROADCAST_DEBUG << "cleanupMixer() - clearing audio callback";
    if (m_audioManager) m_audioManager->clearDeckAudioCallback();
    if (m_mixer) {
        BROADCAST_DEBUG << "cleanupMixer() - calling m_mixer->stop()";
        m_mixer->stop();
    }
    BROADCAST_DEBUG << "cleanupMixer() - done";
}

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

    if (m_mixer && !m_isBroadcasting) {
        m_monitorPrimeTimer.stop();
        m_monitor->beginConnectPrime();
    }
    if (!m_isBroadcasting) prepareEncodingPipelineForConnect();

    m_icecastClient->connectToServerAsync(host, port, mount, username, password);
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
                BROADCAST_DEBUG
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
    m_preConnect.reset();
}

void Doredoradar::startHealthMonitoring() {
    m_healthMonitor->resetMonitoring(m_userStartPending
                                         ? StreamHealthMonitor::ResetScope::Everything
                                         : StreamHealthMonitor::ResetScope::KeepReconnectCount);
    m_userStartPending = false;
    m_healthMonitor->startMonitoring(m_encoderSettings->bitrate());
}

void Doredoradar::onClientConnected() {
    BROADCAST_DEBUG << "connected() signal received, isBroadcasting=" << boolText(m_isBroadcasting);
    addBreadcrumb(kBroadcastCategory, QStringLiteral("Connected to Icecast server"), kDefaultType);
    Q_EMIT connectionStatusChanged(true);
    m_lastCountedReconnectAttempt = 0;

    if (m_isBroadcasting) {
        BROADCAST_INFO << "Stopping existing broadcast before restarting";
        stopBroadcasting();
    }

    BROADCAST_DEBUG << "Starting broadcasting";
    const bool primed = m_pipelinePrimed && !m_preConnect.isSpoiled() && m_mixer &&
                        m_mixer->isRunning() && m_mixer->isEncodingEnabled();
    if (primed) {
        startHealthMonitoring();
        m_isBroadcasting = true;
        Q_EMIT broadcastingStarted();
        BROADCAST_INFO << "Broadcasting started (using pre-connect primed pipeline)";
        flushPreConnectBuffer();
        m_pipelinePrimed = false;
    } else {
        if (m_preConnect.isSpoiled()) {
            BROADCAST_INFO << "Pre-connect packets were lost; starting a fresh stream instead";
        }
        discardPrime();
        if (!startBroadcasting()) {
            finishMonitorPrime(true);
            // Nothing will be written: a source left connected would only hold the mount.
            endSourceSessionAfterError();
            return;
        }
    }
    if (m_monitor->isAutoDisablePending()) m_monitorPrimeTimer.start();
}

void Doredoradar::flushPreConnectBuffer() {
    int sent = 0;
    while (!m_preConnect.isEmpty()) {
        const QByteArray packet = m_preConnect.takeFront();
        if (!m_icecastClient->isConnected() || !m_isBroadcasting) continue;
        m_sender->send(packet);
        ++sent;
    }
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
    BROADCAST_DEBUG << "stopBroadcasting() - start, m_isBroadcasting="
                    << boolText(m_isBroadcasting);
    if (m_stopping) {
        BROADCAST_DEBUG << "stopBroadcasting() - already stopping, returning";
        return;
    }
    if (!m_isBroadcasting) {
        BROADCAST_DEBUG << "stopBroadcasting() - not broadcasting, returning";
        return;
    }
    m_stopping = true;
    const bool monitorWasEnabled = m_mixer && m_mixer->isMonitorEnabled();
    BROADCAST_DEBUG << "stopBroadcasting() - monitorWasEnabled=" << boolText(monitorWasEnabled);
    // First of all: no chunk still on its way is sent from here on.
    m_isBroadcasting = false;
    cleanupMixer();
    if (!m_shuttingDown && monitorWasEnabled) {
        BROADCAST_DEBUG << "Broadcasting stopped - restarting mixer for monitoring";
        ensureMixerRunning();
        m_monitor->passDeckActivityToMixer();
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
    const bool primePending = m_monitor->isSilentPrimePending();
    if (primePending)
        BROADCAST_DEBUG << "Disconnected during connect prime - restoring monitor OFF";
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
    addBreadcrumb(kBroadcastCategory, QStringLiteral("Connection error: ") + error, kErrorType);
    if (m_pipelinePrimed) {
        discardPrime();
        if (!m_isBroadcasting) cleanupMixer();
    }
    finishMonitorPrime(m_monitor->isSilentPrimePending());
}

void Doredoradar::onReconnectNotice(int attempt, int /*maxAttempts*/, int /*countdown*/) {
    // The notice repeats every countdown second and when the attempt starts.
    if (attempt == m_lastCountedReconnectAttempt) return;
    m_lastCountedReconnectAttempt = attempt;
    m_healthMonitor->recordReconnect();
}

void Doredoradar::setDeadAirSeconds(int seconds) { m_deadAir->setHoldSeconds(seconds); }

bool Doredoradar::isDeadAir() const { return m_deadAir->isDeadAir(); }

void Doredoradar::onLevelsUpdated(float deck1, float deck2, float master) {
    Q_EMIT levelsUpdated(deck1, deck2, master);
}

void Doredoradar::onMixerError(const QString& error) {
    BROADCAST_WARN << "Mixer error:" << error;
    addBreadcrumb(kBroadcastCategory, QStringLiteral("Mixer error: ") + error, kErrorType);
    Q_EMIT errorOccurred(QStringLiteral("Mixer error: ") + error);
    const bool wasBroadcasting = m_isBroadcasting;
    // The primed encoder is dead; the connection starts a fresh one.
    if (m_pipelinePrimed && !m_isBroadcasting) m_preConnect.spoil();
    stopBroadcasting();
    if (wasBroadcasting) endSourceSessionAfterError();
}

void Doredoradar::onCaptureDisplayLost() {
    const QString error = QStringLiteral("The X display went away");
    BROADCAST_WARN << error << "- stopping the broadcast";
    addBreadcrumb(kBroadcastCategory, error, kErrorType);
    Q_EMIT errorOccurred(error);
    if (m_pipelinePrimed && !m_isBroadcasting) m_preConnect.spoil();
    stopBroadcasting();
    // Whether on air, connecting or counting down to a reconnect: the mount is let go.
    endSourceSessionAfterError();
}

void Doredoradar::onEncodedDataReady(const QByteArray& data) {
    onEncodedChunk(data, m_pipelineGeneration.load());
}

void Doredoradar::onEncodedChunk(const QByteArray& data, quint64 generation) {
    // Made by a pipeline that has been torn down: never part of the current stream.
    if (generation != m_pipelineGeneration.load()) return;
    m_sender->countChunk(static_cast<int>(data.size()));

    if (m_icecastClient->isConnected() && m_isBroadcasting) {
        if (!m_sender->treatBacklogAsLoss()) m_sender->send(data);
        return;
    }
    if (m_pipelinePrimed && !m_isBroadcasting) m_preConnect.append(data);
}

void Doredoradar::setMonitorEnabled(bool enabled) {
    if (!m_mixer || !m_audioManager) return;
    m_monitor->setEnabled(enabled);
}

void Doredoradar::onMonitorPrimeHoldEnded() {
    m_monitorPrimeTimer.stop();
    m_monitor->endConnectPrimeHold();
}

void Doredoradar::finishMonitorPrime(bool switchMonitorOff) {
    m_monitorPrimeTimer.stop();
    m_monitor->finishConnectPrime(switchMonitorOff);
}

bool Doredoradar::isMonitorPrimeActive() const { return m_monitor->isPrimeActive(); }

void Doredoradar::forceMonitorRestart() {
    if (m_mixer) m_monitor->forceRestart();
}

void Doredoradar::disableMonitorOutput() {
    if (m_mixer) m_mixer->setMonitorEnabled(false);
}

void Doredoradar::setMonitorVolume(float volume) {
    if (m_mixer) m_monitor->setVolume(volume);
}

bool Doredoradar::setMonitorDevice(const QString& deviceName) {
    return m_mixer ? m_mixer->setMonitorDevice(deviceName) : false;
}

QStringList Doredoradar::getMonitorDevices() {
    return m_mixer ? m_mixer->getMonitorDevices() : QStringList();
}

void Doredoradar::setInitialStreamMetadata(const QString& title, const QString& artist) {
    m_initialTitle = title;
    m_initialArtist = artist;
    BROADCAST_DEBUG << "Stored initial stream metadata - title:" << title << "artist:" << artist;
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

void Doredoradar::shutdown() {
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
    m_monitor->forgetConnectPrime();
    m_shutDown = true;
}
