#include "app/cli_session.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QStringList>

#include <cmath>

#include "app/cli_console.h"
#include "audio/encoder_settings.h"
#include "audio/obs_audio_manager.h"
#include "audio/voice_ducker.h"
#include "broadcast/stream_health_monitor.h"
#include "core/logger.h"
#include "metadata/metadata_manager.h"
#include "metadata/now_playing_text.h"
#include "platform/obs_capture.h"

namespace {

constexpr int kStatusTickMs = 1000;
// Without a terminal, a status line this often (events are printed as they happen).
constexpr int kPlainStatusEveryTicks = 10;

CliConsole& console() { return CliConsole::instance(); }

QString clockText(qint64 ms) {
    const qint64 seconds = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString levelText(StreamHealthMonitor::HealthLevel level) {
    switch (level) {
        case StreamHealthMonitor::HealthLevel::Good:
            return QStringLiteral("Good");
        case StreamHealthMonitor::HealthLevel::Warning:
            return QStringLiteral("Warning");
        case StreamHealthMonitor::HealthLevel::Poor:
            return QStringLiteral("Poor");
        default:
            return QStringLiteral("Unknown");
    }
}

// Why deck capture cannot start here, with what to do about it; empty when it can.
QString displayProblem() {
    const std::string problem = platform::obsStartupProblem();
    if (problem.empty()) return {};
    return QStringLiteral(
               "Cannot capture audio: %1.\n"
               "Deck capture runs through libobs, which needs an X display even without a "
               "window.\nOn a machine without a display, run under a virtual one:\n"
               "  xvfb-run -a doredoradar-cli ...")
        .arg(QString::fromStdString(problem));
}

float linearGain(double db) { return db <= -90.0 ? 0.0f : float(std::pow(10.0, db / 20.0)); }

struct DeviceList {
    QStringList names;
    QStringList ids;
};

// A device by its number in the list, its id, its name (exactly, then ignoring case), or
// "default" for the sound server's default input.
bool findDevice(const DeviceList& devices, const QString& wanted, QString* id, QString* name) {
    bool isNumber = false;
    const int index = wanted.toInt(&isNumber);
    if (isNumber && index >= 0 && index < devices.ids.size()) {
        *id = devices.ids.at(index);
        *name = devices.names.value(index);
        return true;
    }
    for (Qt::CaseSensitivity sensitivity : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
        for (int i = 0; i < devices.ids.size(); ++i) {
            if (devices.ids.at(i).compare(wanted, sensitivity) == 0 ||
                devices.names.value(i).compare(wanted, sensitivity) == 0) {
                *id = devices.ids.at(i);
                *name = devices.names.value(i);
                return true;
            }
        }
    }
    return false;
}

QString deviceListText(const DeviceList& devices) {
    QStringList lines;
    for (int i = 0; i < devices.ids.size(); ++i) {
        lines << QStringLiteral("  %1  %2  [%3]")
                     .arg(i, 2)
                     .arg(devices.names.value(i), devices.ids.at(i));
    }
    return lines.isEmpty() ? QStringLiteral("  (none)") : lines.join(QLatin1Char('\n'));
}

QString executableOf(const OBSAudioManager::AppInfo& app) {
    return app.window.section(QLatin1Char(':'), -1);
}

QString appListText(const QList<OBSAudioManager::AppInfo>& apps) {
    QStringList lines;
    for (const OBSAudioManager::AppInfo& app : apps) {
        lines << QStringLiteral("  %1  (%2)").arg(executableOf(app), app.name);
    }
    return lines.isEmpty() ? QStringLiteral("  (no program is playing sound)")
                           : lines.join(QLatin1Char('\n'));
}

// Starts capture for a listing; null (with the reason printed) when it cannot.
bool startCaptureForListing(OBSAudioManager& manager) {
    const QString problem = displayProblem();
    if (!problem.isEmpty()) {
        console().printError(problem);
        return false;
    }
    if (!manager.initialize()) {
        console().printError(
            QStringLiteral("Cannot capture audio: libobs did not start (see the "
                           "log lines above)."));
        return false;
    }
    return true;
}

}  // namespace

CliSession::CliSession(const CliOptions& options, QObject* parent)
    : QObject(parent), m_options(options) {
    m_statusTimer.setInterval(kStatusTickMs);
    connect(&m_statusTimer, &QTimer::timeout, this, &CliSession::onStatusTick);
    m_durationTimer.setSingleShot(true);
    connect(&m_durationTimer, &QTimer::timeout, this, [this] {
        finish(
            cli::kExitDone,
            QStringLiteral("Stopping after %1 s on air, as asked").arg(m_options.durationSeconds));
    });

    connect(&m_controller, &Doredoradar::broadcastingStarted, this,
            &CliSession::onBroadcastingStarted);
    connect(&m_controller, &Doredoradar::broadcastingStopped, this,
            &CliSession::onBroadcastingStopped);
    connect(&m_controller, &Doredoradar::errorOccurred, this, &CliSession::onControllerError);
    // Trouble the broadcast survives: told as it happens, the run goes on.
    connect(&m_controller, &Doredoradar::warningOccurred, this,
            [](const QString& warning) { console().printLine(warning); });
    connect(&m_controller, &Doredoradar::deckInputRecovered, this, [](int deck) {
        console().printLine(QStringLiteral("Deck %1 has its input back").arg(deck));
    });
    connect(&m_controller, &Doredoradar::deadAirDetected, this,
            [](const QString& warning) { console().printLine(warning); });
    connect(&m_controller, &Doredoradar::deadAirEnded, this,
            [] { console().printLine(QStringLiteral("Sound is back")); });
    IcecastClient* client = m_controller.icecastClient();
    connect(client, &IcecastClient::connectionError, this, &CliSession::onConnectionError);
    connect(client, &IcecastClient::reconnecting, this, &CliSession::onReconnecting);
    connect(client, &IcecastClient::sendCompleted, this, &CliSession::onSendCompleted);
    connect(client, &IcecastClient::metadataSent, this, &CliSession::onTitleSent);
    connect(client, &IcecastClient::metadataFailed, this, &CliSession::onTitleRefused);
    connect(client, &IcecastClient::listenerCheckFinished, this,
            &CliSession::onListenerCheckFinished);
    connect(client, &IcecastClient::titleConfirmation, this,
            [this](TitleConfirmation::Outcome outcome, const QString& song) {
                if (!m_finishing) printTitleOutcome(outcome, song);
            });
}

void CliSession::printTitleOutcome(TitleConfirmation::Outcome outcome, const QString& song) {
    console().printLine(QStringLiteral("Title \u201c%1\u201d: %2")
                            .arg(song, TitleConfirmation::outcomeText(outcome)));
}

CliSession::~CliSession() { shutdown(); }

bool CliSession::start() {
    const QString problem = displayProblem();
    if (!problem.isEmpty()) {
        console().printError(problem);
        m_exitCode = cli::kExitAudio;
        return false;
    }
    if (!m_controller.initialize()) {
        console().printError(
            QStringLiteral("The audio engine did not start (see the log lines above)."));
        m_exitCode = cli::kExitAudio;
        return false;
    }
    if (!configureDecks()) {
        m_exitCode = cli::kExitAudio;
        return false;
    }
    configureMixer();

    EncoderSettings* settings = m_controller.encoderSettings();
    settings->setEncoderType(int(m_options.codec));
    settings->setBitrate(m_options.bitrateKbps);
    settings->setSampleRate(m_options.sampleRateHz);
    settings->setChannels(m_options.channels);

    IcecastClient* client = m_controller.icecastClient();
    client->setStreamName(m_options.streamName);
    client->setStreamDescription(m_options.streamDescription);
    client->setStreamGenre(m_options.streamGenre);
    client->setStreamUrl(m_options.streamUrl);
    client->setPublic(m_options.isPublic);
    client->setAutoReconnect(m_options.autoReconnect);
    client->setReconnectInterval(m_options.reconnectDelaySeconds);
    client->setMaxReconnectAttempts(m_options.maxRetries);
    client->setVerifyOnAir(m_options.verifyOnAir);

    if (!m_options.title.isEmpty()) {
        // The same "Artist - Title" rules as every other source of titles.
        MetadataManager parser;
        parser.parseMetadata(m_options.title);
        m_title = parser.title().isEmpty() && parser.artist().isEmpty() ? m_options.title
                                                                        : parser.title();
        m_artist = parser.artist();
    }
    m_controller.setInitialStreamMetadata(m_title, m_artist);

    console().printLine(
        QStringLiteral("Connecting to %1 (%2) ...")
            .arg(m_options.serverForDisplay(),
                 codecFormatLabel(m_options.codec, m_options.bitrateKbps, m_options.sampleRateHz)));
    m_statusTimer.start();
    onStatusTick();
    m_controller.connectAndBroadcast(m_options.host, m_options.port, m_options.mount,
                                     m_options.username, m_options.password);
    return true;
}

bool CliSession::configureDecks() {
    OBSAudioManager* manager = m_controller.audioManager();
    const DeviceList devices{manager->getInputDeviceNames(), manager->getInputDeviceIds()};
    const auto setDevice = [&](int deck, const QString& wanted) {
        QString id;
        QString name;
        if (!findDevice(devices, wanted, &id, &name)) {
            console().printError(QStringLiteral("No input device \"%1\" for deck %2. Input "
                                                "devices (number, name, [id]):\n%3")
                                     .arg(wanted)
                                     .arg(deck)
                                     .arg(deviceListText(devices)));
            return false;
        }
        if (!manager->setDeckInputDevice(deck, id)) {
            console().printError(QStringLiteral("Deck %1: the device \"%2\" cannot be captured")
                                     .arg(deck)
                                     .arg(name));
            return false;
        }
        console().printLine(QStringLiteral("Deck %1: %2").arg(deck).arg(name));
        return true;
    };
    if (!setDevice(1, m_options.deck1Device)) return false;
    if (!m_options.deck2Device.isEmpty() && !setDevice(2, m_options.deck2Device)) return false;
    if (!m_options.deck2App.isEmpty()) {
        const QList<OBSAudioManager::AppInfo> apps = manager->getRunningApplications();
        const OBSAudioManager::AppInfo* chosen = nullptr;
        for (const OBSAudioManager::AppInfo& app : apps) {
            if (executableOf(app).compare(m_options.deck2App, Qt::CaseInsensitive) == 0 ||
                app.name.compare(m_options.deck2App, Qt::CaseInsensitive) == 0) {
                chosen = &app;
                break;
            }
        }
        if (!chosen) {
            console().printError(QStringLiteral("No program \"%1\" is playing sound. Programs "
                                                "playing now (executable, name):\n%2")
                                     .arg(m_options.deck2App, appListText(apps)));
            return false;
        }
        if (!manager->setDeckAppCapture(2, chosen->window)) {
            console().printError(
                QStringLiteral("Deck 2: the sound of %1 cannot be captured").arg(chosen->name));
            return false;
        }
        console().printLine(
            QStringLiteral("Deck 2: %1 (%2)").arg(chosen->name, executableOf(*chosen)));
    }
    return true;
}

void CliSession::configureMixer() {
    m_controller.setDeadAirSeconds(m_options.deadAirSeconds);
    m_controller.setDeck1Volume(linearGain(m_options.volume1Db));
    m_controller.setDeck2Volume(linearGain(m_options.volume2Db));
    m_controller.setCrossfader(float(m_options.crossfader));
    if (m_options.duckByDeck != 0) {
        const DuckingPreset& preset = kDuckingPresets.at(std::size_t(m_options.duckPreset));
        GStreamerMixer::DuckingConfig config;
        config.enabled = true;
        config.sourceDeck = m_options.duckByDeck == 1 ? 0 : 1;
        config.thresholdDb = preset.thresholdDb;
        config.ratio = preset.ratio;
        config.attackMs = preset.attackMs;
        config.releaseMs = preset.releaseMs;
        config.kneeDb = preset.kneeDb;
        m_controller.setDuckingConfig(config);
        console().printLine(QStringLiteral("Ducking: deck %1 lowers deck %2 (%3)")
                                .arg(m_options.duckByDeck)
                                .arg(m_options.duckByDeck == 1 ? 2 : 1)
                                .arg(QString::fromUtf8(preset.name)));
    }
    if (m_options.monitor) {
        m_controller.setMonitorDevice(m_options.monitorDevice);
        m_controller.setMonitorEnabled(true);
        console().printLine(QStringLiteral("Monitor: %1")
                                .arg(m_options.monitorDevice.isEmpty() ? QStringLiteral("Default")
                                                                       : m_options.monitorDevice));
    }
}

void CliSession::onBroadcastingStarted() {
    m_state = State::OnAir;
    // The client started hearing this connection when the server accepted it.
    m_airCheck = m_options.verifyOnAir ? AirCheck::Running : AirCheck::Off;
    m_onAirClock.start();
    m_reconnectAttempt = 0;
    if (!m_everOnAir) {
        m_everOnAir = true;
        console().printLine(QStringLiteral("On air. Listen at %1").arg(m_options.listenUrl()));
        if (m_options.durationSeconds > 0) m_durationTimer.start(m_options.durationSeconds * 1000);
    } else {
        console().printLine(QStringLiteral("On air again"));
    }
    // After the buffered start of the stream has gone out.
    QTimer::singleShot(0, this, &CliSession::publishTitle);
    onStatusTick();
}

void CliSession::publishTitle() {
    if (m_title.isEmpty() || m_finishing) return;
    // Ogg streams carry their first title in their own header, which the server's status does
    // not follow while live.
    if (isOggCodec(m_options.codec)) {
        if (!m_oggTitleNoted) {
            printTitleOutcome(TitleConfirmation::Outcome::NotForOgg,
                              nowplaying::songText(m_title, m_artist));
        }
        m_oggTitleNoted = true;
        return;
    }
    IcecastClient* client = m_controller.icecastClient();
    if (!client->isConnected()) return;
    m_publishedSong = nowplaying::songText(m_title, m_artist);
    if (!client->sendMetadata(m_title, m_artist)) onTitleRefused();
}

void CliSession::onTitleSent() {
    if (m_finishing) return;
    console().printLine(QStringLiteral("Title: %1").arg(m_publishedSong));
}

void CliSession::onTitleRefused() {
    if (m_finishing) return;
    console().printError(
        QStringLiteral("The server did not take the title \"%1\"").arg(m_publishedSong));
}

void CliSession::onBroadcastingStopped() {
    if (m_state == State::OnAir) m_totalOnAirMs += m_onAirClock.elapsed();
    m_state = m_finishing ? State::Stopped : State::Reconnecting;
    if (m_finishing) return;
    console().printLine(QStringLiteral("Off air"));
}

void CliSession::onReconnecting(int attempt, int maxAttempts, int countdown) {
    m_state = State::Reconnecting;
    m_reconnectMax = maxAttempts;
    m_reconnectCountdown = countdown;
    if (attempt != m_reconnectAttempt) {
        m_reconnectAttempt = attempt;
        console().printLine(QStringLiteral("Reconnecting: attempt %1 of %2 in %3 s")
                                .arg(attempt)
                                .arg(maxAttempts)
                                .arg(countdown));
    }
    onStatusTick();
}

void CliSession::onConnectionError(const QString& error) {
    if (m_finishing) return;
    if (!m_everOnAir && m_state == State::Connecting) {
        finish(cli::kExitRefused, error);
        return;
    }
    if (m_controller.icecastClient()->isReconnecting()) {
        console().printError(error);
        return;
    }
    finish(cli::kExitGaveUp, QStringLiteral("%1\nGave up reconnecting.").arg(error));
}

void CliSession::onControllerError(const QString& error) {
    if (m_finishing) return;
    // Every error of the controller ends the broadcast: the audio could not run.
    finish(cli::kExitAudio, error);
}

void CliSession::onSendCompleted(int bytes, qint64, bool success) {
    if (success) m_bytesSent += bytes;
}

void CliSession::onListenerCheckFinished(OnAirVerdict verdict, qint64 afterAcceptedMs) {
    if (m_finishing) return;
    const QString text = onAirVerdictText(verdict);
    if (verdict == OnAirVerdict::Verified) {
        m_airCheck = AirCheck::Verified;
        console().printLine(
            QStringLiteral("Listener check: %1 (%2 s after the server accepted)")
                .arg(text, QString::number(double(afterAcceptedMs) / 1000.0, 'f', 1)));
    } else {
        m_airCheck = AirCheck::NotVerified;
        console().printError(QStringLiteral("Listener check: %1").arg(text));
    }
    onStatusTick();
}

void CliSession::onStatusTick() {
    const qint64 delta = m_bytesSent - m_bytesAtLastTick;
    m_bytesAtLastTick = m_bytesSent;
    m_sentKbps = double(delta) * 8.0 / double(kStatusTickMs);
    if (console().isTerminal()) {
        console().setStatus(statusText(true));
        return;
    }
    if (m_state == State::OnAir && ++m_ticks % kPlainStatusEveryTicks == 0) {
        console().printLine(statusText(false));
    }
}

QString CliSession::statusText(bool forTerminal) const {
    const StreamHealthMonitor* health = m_controller.healthMonitor();
    switch (m_state) {
        case State::Connecting:
            return QStringLiteral("CONNECTING to %1").arg(m_options.serverForDisplay());
        case State::OnAir: {
            const QString text =
                QStringLiteral("%1 %2  %3 kbit/s  health %4 %5")
                    .arg(forTerminal ? QStringLiteral("ON AIR") : QStringLiteral("status: on air"))
                    .arg(clockText(m_onAirClock.elapsed()))
                    .arg(QString::number(m_sentKbps, 'f', 1))
                    .arg(health->score())
                    .arg(levelText(health->level())) +
                airCheckText();
            return m_controller.isDeadAir() ? text + QStringLiteral("  DEAD AIR") : text;
        }
        case State::Reconnecting:
            if (m_reconnectAttempt == 0) return QStringLiteral("OFF AIR  waiting to reconnect");
            return QStringLiteral("RECONNECTING  attempt %1/%2 in %3 s")
                .arg(m_reconnectAttempt)
                .arg(m_reconnectMax)
                .arg(m_reconnectCountdown);
        case State::Stopped:
            break;
    }
    return QStringLiteral("STOPPED");
}

QString CliSession::airCheckText() const {
    switch (m_airCheck) {
        case AirCheck::Running:
            return QStringLiteral("  checking listeners");
        case AirCheck::Verified:
            return QStringLiteral("  verified");
        case AirCheck::NotVerified:
            return QStringLiteral("  NOT VERIFIED");
        case AirCheck::Off:
            break;
    }
    return {};
}

void CliSession::finish(int exitCode, const QString& message) {
    if (m_finishing) return;
    m_finishing = true;
    m_exitCode = exitCode;
    if (!message.isEmpty()) {
        if (exitCode == cli::kExitDone) {
            console().printLine(message);
        } else {
            console().printError(message);
        }
    }
    QCoreApplication::exit(exitCode);
}

void CliSession::requestStop() {
    QMetaObject::invokeMethod(
        this, [this] { finish(cli::kExitDone, QStringLiteral("Stopping (interrupted)")); },
        Qt::QueuedConnection);
}

void CliSession::shutdown() {
    if (m_shutDown) return;
    m_shutDown = true;
    m_finishing = true;
    m_statusTimer.stop();
    m_durationTimer.stop();
    console().clearStatus();
    m_controller.shutdown();
    m_state = State::Stopped;
    if (m_everOnAir) {
        console().printLine(QStringLiteral("Stopped. %1 on air, %2 kB sent.")
                                .arg(clockText(m_totalOnAirMs))
                                .arg(m_bytesSent / 1000));
    }
}

int CliSession::listDevices() {
    OBSAudioManager manager;
    if (!startCaptureForListing(manager)) return cli::kExitAudio;
    const DeviceList devices{manager.getInputDeviceNames(), manager.getInputDeviceIds()};
    console().printLine(QStringLiteral("Input devices (number, name, [id]); give any of them "
                                       "to --deck1 or --deck2:\n") +
                        deviceListText(devices));
    manager.shutdown();
    return cli::kExitDone;
}

int CliSession::listApps() {
    OBSAudioManager manager;
    if (!startCaptureForListing(manager)) return cli::kExitAudio;
    console().printLine(
        QStringLiteral("Programs playing sound now (executable, name); give either to "
                       "--deck2-app:\n") +
        appListText(manager.getRunningApplications()));
    manager.shutdown();
    return cli::kExitDone;
}
