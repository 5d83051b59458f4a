// The main window going live and stopping, and what it makes of the connection's signals.
#include "ui/main_window.h"

#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>

#include "audio/encoder_settings.h"
#include "broadcast/broadcaster.h"
#include "broadcast/icecast_client.h"
#include "cloud/ondaro_api_client.h"
#include "core/log_categories.h"
#include "core/settings_manager.h"
#include "metadata/metadata_manager.h"
#include "ui/app_state.h"
#include "ui/connection_check_dialog.h"
#include "ui/go_live_input.h"
#include "widgets/icon_text_button.h"

namespace {
const char* const kPendingGoLive = "pendingGoLive";
}  // namespace

bool MainWindow::pendingGoLive() const { return property(kPendingGoLive).toBool(); }

void MainWindow::setPendingGoLive(bool pending) {
    setProperty(kPendingGoLive, pending);
    // A server that never reports itself online must not leave the button spinning for good.
    if (pending)
        m_serverStartDeadline->start(m_serverStartDeadlineMs);
    else
        m_serverStartDeadline->stop();
}

void MainWindow::onServerStartDeadline() {
    if (!pendingGoLive()) return;
    qCWarning(lcUi) << "The server did not report online in time, giving up the pending Go Live";
    setPendingGoLive(false);
    m_appState->setDisconnected();
    notifyNow(AlertDialog::Variant::Error, QStringLiteral("Connection Failed"),
              QStringLiteral("The Ondaro server did not come online in time.\n\n"
                             "Please try again in a moment."));
}

void MainWindow::onConnectAndBroadcast() {
    switch (m_appState->connectionState()) {
        case AppState::Reconnecting:
            m_broadcaster->icecastClient()->cancelReconnect();
            return;
        case AppState::Connected:
            // Whatever led here, the button in this state stops: a Go Live from "Connected"
            // would open a second source over the first.
            stopBroadcastWithQuestion();
            return;
        case AppState::Connecting:
        case AppState::Disconnecting:
            return;
        case AppState::Disconnected:
            break;
    }
    if (pendingGoLive()) return;
    if (m_appState->isLoggedIn() && !m_appState->serverOnline()) {
        qCInfo(lcUi) << "Server is offline, auto-starting before Go Live";
        setPendingGoLive(true);
        m_appState->setStartingServer();
        onStartServerClicked();
        return;
    }
    goLive();
}

void MainWindow::goLive() {
    applyPendingEncoderChanges();
    m_appState->setConnecting();
    const QString hostText = m_hostEdit->text().trimmed();
    const QString mount = m_mountEdit->text().trimmed();
    const QString user = m_userEdit->text().trimmed();
    const QString password = m_passwordEdit->text();
    const bool cloud = m_appState->isLoggedIn();
    if (hostText.isEmpty() || mount.isEmpty()) {
        m_appState->setDisconnected();
        notifyNow(AlertDialog::Variant::Warning, QStringLiteral("Invalid Settings"),
                  cloud ? QStringLiteral("Please select a channel")
                        : QStringLiteral("Please enter hostname and mount point"));
        return;
    }
    const ServerHostInput input = parseServerHostInput(hostText);
    if (input.port > 0) m_portSpin->setValue(input.port);
    if (input.host.isEmpty()) {
        m_appState->setDisconnected();
        notifyNow(AlertDialog::Variant::Warning, QStringLiteral("Invalid Settings"),
                  QStringLiteral("Please enter a valid hostname or IP address"));
        return;
    }
    const int port = m_portSpin->value();
    qCInfo(lcUi) << (cloud ? "Connecting to Ondaro Cloud" : "Connecting to manual server");
    if (cloud) qCInfo(lcUi) << "  Channel:" << m_appState->selectedChannelName();
    qCInfo(lcUi) << "  Host:" << input.host;
    qCInfo(lcUi) << "  Port:" << port;
    qCInfo(lcUi) << "  Mountpoint:" << mount;
    qCInfo(lcUi) << "  Username:" << user;

    QString title;
    QString artist;
    if (m_metadataManager->source() == MetadataSource::Manual) {
        const QString entry = m_titleEntry->text().trimmed();
        if (!entry.isEmpty()) {
            const ManualTitle split = splitManualTitle(entry);
            artist = split.artist;
            title = split.title;
            m_metadataManager->setManualMetadata(title, artist);
        }
    } else {
        title = m_metadataManager->title();
        artist = m_metadataManager->artist();
    }
    m_broadcaster->setInitialStreamMetadata(title, artist);
    m_checkTarget = {input.host, static_cast<quint16>(port),
                     mount,      user,
                     password,   m_broadcaster->encoderSettings()->codec()};

    if (!m_broadcaster->connectAndBroadcast(input.host, static_cast<quint16>(port), mount, user,
                                            password)) {
        m_appState->setError(QStringLiteral("Failed to start connection"));
        m_appState->setDisconnected();
    }
}

void MainWindow::stopBroadcastWithQuestion() {
    if (m_broadcaster->isBroadcasting()) {
        const bool stop = m_prompts.confirm(
            QStringLiteral("Stop broadcasting?"),
            QStringLiteral("Are you sure you want to stop broadcasting? Stopping will "
                           "disconnect your listeners."),
            QStringLiteral("Stop"), QStringLiteral("Cancel"));
        if (!stop) {
            // The connection may have gone while the question was open.
            if (!m_broadcaster->icecastClient()->isConnected() &&
                !m_broadcaster->icecastClient()->isReconnecting())
                m_appState->setDisconnected();
            return;
        }
    }
    stopBroadcastNow();
}

void MainWindow::stopBroadcastNow() {
    m_broadcaster->stopBroadcasting();
    m_appState->setDisconnecting();
    m_broadcaster->icecastClient()->disconnectFromServer();
    // A connection already lost during the question or the teardown emits nothing more.
    if (!m_broadcaster->icecastClient()->isConnected()) m_appState->setDisconnected();
}

void MainWindow::onBroadcastingStarted() {
    const QString label = m_broadcaster->formatLabel();
    qCInfo(lcUi) << "Broadcasting started:" << label;
    if (label.isEmpty())
        m_appState->setStatus(QStringLiteral("Broadcasting"), QStringLiteral("Broadcasting..."));
    else
        m_appState->setStatus(QStringLiteral("Broadcasting: %1").arg(label));
    m_appState->setConnectionState(AppState::Connected);
    m_appState->setBroadcasting(true);
    m_broadcastElapsed.start();
    m_uptimeTimer->start();
    setEncoderLabel();
    updateBroadcastInfo();
    setAirBadge(true);
    // Ogg streams carry the title in their first header, which the server's status never
    // follows while live.
    const QString song = m_appState->currentSong();
    if (isOggCodec(m_broadcaster->encoderSettings()->codec()) && !song.isEmpty())
        setTitleMark(TitleConfirmation::Outcome::NotForOgg, song);
    m_connectButton->setText(QStringLiteral("Disconnect"));
    onConnectButtonIconChanged(QStringLiteral(":/icons/power.svg"));
    onConnectButtonQssPropertyChanged(QStringLiteral("broadcasting"));
    applyMonitorState();
}

void MainWindow::onBroadcastingStopped() {
    m_appState->setBroadcasting(false);
    m_uptimeTimer->stop();
    setAirBadge(false);
    setTitleMark(std::nullopt, QString());
    setStatusNotice(QString(), QString());
    m_connectButton->setText(QStringLiteral("Go Live"));
    onConnectButtonIconChanged(QStringLiteral(":/icons/radio.svg"));
    onConnectButtonQssPropertyChanged(QString());
    if (m_broadcaster->icecastClient()->isConnected())
        m_appState->setStatus(QStringLiteral("Connected"));
}

void MainWindow::onBroadcasterError(const QString& error) {
    IcecastClient* client = m_broadcaster->icecastClient();
    if (client->isReconnecting()) return;
    qCWarning(lcUi) << "Showing error dialog (errorOccurred signal):" << error;
    // A primed connect may still be under way: let it go, so no half-open source holds the
    // mount while the window says "Disconnected".
    client->disconnectFromServer();
    m_appState->setError(error);
    m_appState->setDisconnected();
    notifyLater(AlertDialog::Variant::Error, QStringLiteral("Error"), error);
}

void MainWindow::onClientConnected() {
    qCInfo(lcUi) << "connected() signal received";
    // The controller handles the signal first and lets the connection go when it cannot start
    // sending; then there is nothing to show as connected.
    if (!m_broadcaster->icecastClient()->isConnected()) return;
    m_appState->setReconnectInfo(0, m_appState->reconnectMaxAttempts(), 0);
    m_appState->setConnectionState(AppState::Connected);
    if (!m_appState->isBroadcasting()) m_appState->setStatus(QStringLiteral("Connected"));
}

void MainWindow::onClientDisconnected() {
    IcecastClient* client = m_broadcaster->icecastClient();
    if (client->isReconnecting()) return;
    m_appState->setReconnectInfo(0, m_appState->reconnectMaxAttempts(), 0);
    if (!client->autoReconnect() && m_appState->autoReconnectEnabled())
        m_appState->setAutoReconnectEnabled(false);
    m_appState->setDisconnected();
}

void MainWindow::onClientReconnecting(int attempt, int maxAttempts, int countdown) {
    m_appState->setReconnecting(attempt, maxAttempts, countdown);
}

void MainWindow::onClientConnectionError(const QString& error) {
    IcecastClient* client = m_broadcaster->icecastClient();
    if (client->autoReconnect() && client->isReconnecting()) return;
    if (error.contains(QStringLiteral("Max reconnect attempts reached"), Qt::CaseInsensitive))
        m_appState->setAutoReconnectEnabled(false);
    // Only a Go Live that never got through is worth a check; a lost connection was fine once.
    const bool goLiveFailed = m_appState->connectionState() == AppState::Connecting;
    m_appState->setError(error);
    m_appState->setDisconnected();
    qCInfo(lcUi) << "Showing connection error dialog:" << error;
    const QString title = QStringLiteral("Connection Failed");
    if (!goLiveFailed || !m_prompts.connectionFailed) {
        notifyLater(AlertDialog::Variant::Error, title, error);
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, title, error] {
            if (m_prompts.connectionFailed(title, error)) showConnectionCheck();
        },
        Qt::QueuedConnection);
}

void MainWindow::showConnectionCheck() {
    if (!m_checkDialog) {
        m_checkDialog = new ConnectionCheckDialog(this);
        m_checkDialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_checkDialog->start(m_checkTarget);
    m_checkDialog->show();
    m_checkDialog->raise();
}

// Warnings the broadcast survives go to the status area, never into a modal dialog: the host
// may be talking on air.
void MainWindow::onBroadcastWarning(const QString& warning) {
    setStatusNotice(warning, QStringLiteral("warning"));
}

void MainWindow::onDeadAirDetected(const QString& warning) {
    setStatusNotice(warning, QStringLiteral("deadAir"));
}

void MainWindow::onDeadAirEnded() { setStatusNotice(QString(), QString()); }

void MainWindow::onDeckInputRecovered(int deck) {
    setStatusNotice(QStringLiteral("Deck %1 has its input again").arg(deck),
                    QStringLiteral("info"));
}

void MainWindow::onStartServerClicked() {
    qCInfo(lcUi) << "Start server button clicked";
    const QString token = m_settingsManager->getOndaroPrivateToken();
    if (token.isEmpty()) {
        notifyNow(AlertDialog::Variant::Error, QStringLiteral("Error"),
                  QStringLiteral("Not logged in to Ondaro Cloud"));
        if (pendingGoLive()) {
            setPendingGoLive(false);
            m_appState->setDisconnected();
        }
        return;
    }
    m_apiClient->startServer(token);
}

void MainWindow::onServerStarted() {
    qCInfo(lcUi) << "Server started successfully";
    if (pendingGoLive()) {
        qCInfo(lcUi) << "Server started, waiting for stats to report online before Go Live";
        pollServerStats();
        return;
    }
    pollServerStats();
    notifyLater(AlertDialog::Variant::Success, QStringLiteral("Server Started"),
                QStringLiteral("The Ondaro server has been successfully started and is now "
                               "online."));
}

void MainWindow::onServerStartError(const QString& errorMessage, int httpCode) {
    qCWarning(lcUi) << "Server start error:" << errorMessage << "(HTTP" << httpCode << ")";
    if (httpCode == 406) {
        pollServerStats();
        if (pendingGoLive())
            qCInfo(lcUi) << "Server already running, waiting for stats to report online before "
                            "Go Live";
        return;
    }
    setPendingGoLive(false);
    m_appState->setDisconnected();
    notifyLater(AlertDialog::Variant::Error, QStringLiteral("Connection Failed"), errorMessage);
}
