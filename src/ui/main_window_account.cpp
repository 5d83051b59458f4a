// The main window's cloud account: logging in and out, channels, and the server statistics.
#include "ui/main_window.h"

#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>

#include "broadcast/broadcaster.h"
#include "broadcast/icecast_client.h"
#include "cloud/ondaro_api_client.h"
#include "core/log_categories.h"
#include "core/settings_manager.h"
#include "ui/app_state.h"
#include "ui/encoder_settings_dialog.h"
#include "ui/ondaro_login_dialog.h"
#include "ui/settings_dialog.h"

namespace {

QString statsHost(const OndaroAccount& account) {
    const OndaroStreamingServer& server = account.streamingServer;
    return server.domain.isEmpty() ? server.ipAddress : server.domain;
}

}  // namespace

void MainWindow::showLoginDialog() {
    qCInfo(lcUi) << "Showing login dialog";
    if (!m_loginDialog) {
        m_loginDialog = new OndaroLoginDialog(this);
        connect(m_loginDialog, &OndaroLoginDialog::loginSuccessful, this,
                &MainWindow::onLoginSuccessful);
    }
    m_loginDialog->exec();
}

void MainWindow::onLoginSuccessful(const OndaroAccount& account, const QString& privateToken) {
    if (!m_settingsManager->setOndaroPrivateToken(privateToken)) {
        notifyNow(AlertDialog::Variant::Error, QStringLiteral("Ondaro Cloud Error"),
                  QStringLiteral("The login could not be saved on this computer."));
        return;
    }
    m_appState->setAccountInfo(account);
    populateChannelComboBox();
    reselectStoredChannel();
}

void MainWindow::onOndaroAccountRefreshed(const OndaroAccount& account) {
    m_appState->setLoggingIn(false);
    m_appState->setAccountInfo(account);
    populateChannelComboBox();
    reselectStoredChannel();
    m_autoLoginInProgress = false;
}

void MainWindow::populateChannelComboBox() {
    qCInfo(lcUi) << "Populating channel combo box";
    m_settingsDialog->populateChannels();
    qCInfo(lcUi) << "Channel combo box populated";
}

void MainWindow::reselectStoredChannel() {
    const int index =
        m_settingsDialog->selectChannel(m_settingsManager->getLastSelectedChannelId());
    if (index > 0) onChannelSelectionChanged(index);
}

void MainWindow::onChannelSelectionChanged(int index) {
    if (index <= 0 || !m_appState->isLoggedIn()) return;
    const QString channelId = m_settingsDialog->channelIdAt(index);
    if (channelId.isEmpty()) return;
    m_appState->setSelectedChannel(channelId);
    m_settingsManager->setLastSelectedChannelId(channelId);
    fillServerFields(m_appState->selectedChannel());
    if (m_statsTimer->isActive()) {
        qCInfo(lcUi) << "Triggering immediate stats poll (channel selected)";
        pollServerStats();
    }
}

void MainWindow::fillServerFields(const OndaroChannel& channel) {
    const OndaroAccount account = m_appState->account();
    m_hostEdit->setText(account.streamingServer.domain);
    m_portSpin->setValue(account.streamingServerPort);
    m_mountEdit->setText(channel.streamingServerMountpoint);
    m_userEdit->setText(QStringLiteral("source"));
    m_passwordEdit->setText(channel.streamingServerPassword);
    // The source password never goes into the log, only that the credentials changed.
    qCInfo(lcUi) << "Updated connection credentials for channel:" << channel.name << "host"
                 << account.streamingServer.domain << "port" << account.streamingServerPort
                 << "mount" << channel.streamingServerMountpoint;
}

void MainWindow::onOndaroApiError(const QString& errorMessage, int httpCode) {
    m_appState->setLoggingIn(false);
    if (m_autoLoginInProgress) {
        qCInfo(lcUi) << "Auto-login failed (will not show popup):" << errorMessage;
        m_autoLoginInProgress = false;
    } else if (httpCode != 401) {
        notifyLater(AlertDialog::Variant::Error, QStringLiteral("Ondaro Cloud Error"),
                    errorMessage);
    }
    if (httpCode == 401) endSessionAfterUnauthorized();
}

// The cloud no longer accepts the token. Without an account the window could neither stop a
// running broadcast (its buttons follow the login) nor reach the login again, so the broadcast
// ends cleanly, freeing the mount, and the logout path hands over to the login window.
void MainWindow::endSessionAfterUnauthorized() {
    qCInfo(lcUi) << "Invalid token, clearing stored credentials";
    if (m_appState->connectionState() != AppState::Disconnected || m_broadcaster->isBroadcasting())
        stopBroadcastNow();
    setPendingGoLive(false);
    onLogoutClicked();
}

void MainWindow::onRefreshAccountClicked() {
    const QString token = m_settingsManager->getOndaroPrivateToken();
    if (token.isEmpty()) {
        notifyNow(AlertDialog::Variant::Error, QStringLiteral("Error"),
                  QStringLiteral("No token found. Please log in again."));
        return;
    }
    m_appState->setLoggingIn(true);
    m_apiClient->fetchAccountInfo(token);
}

void MainWindow::onLogoutClicked() {
    qCInfo(lcUi) << "Logout clicked";
    setMetersRunning(false);
    m_meterTimer->disconnect(this);
    m_statsTimer->stop();
    m_statsTimer->disconnect(this);
    m_broadcaster->disconnect(this);
    m_broadcaster->icecastClient()->disconnect(this);
    m_broadcaster->shutdown();
    m_apiClient->cancelPendingRequest();
    // Everything the account left behind goes: token, cached account, last channel.
    m_settingsManager->clearAllOndaroSettings();
    m_appState->clearAccountInfo();
    m_settingsDialog->updateAccountPage();
    qCInfo(lcUi) << "Logged out successfully, emitting logoutRequested signal";
    Q_EMIT logoutRequested();
}

void MainWindow::pollServerStats() {
    if (!m_appState->isLoggedIn()) {
        qCDebug(lcUi) << "Skipping stats poll (not logged in)";
        return;
    }
    const OndaroAccount account = m_appState->account();
    const QString host = statsHost(account);
    if (host.isEmpty() || account.streamingServerPort <= 0 || account.streamingServerPort > 65535) {
        qCDebug(lcUi) << "Skipping stats poll (invalid account info)";
        return;
    }
    const QString token = m_settingsManager->getOndaroPrivateToken();
    if (token.isEmpty()) {
        qCDebug(lcUi) << "No private token, skipping stats poll";
        return;
    }
    const QString mount = m_appState->selectedChannel().streamingServerMountpoint;
    if (mount.isEmpty())
        qCDebug(lcUi) << "Polling stats (no channel selected - server status only)";
    m_apiClient->fetchServerStats(host, static_cast<quint16>(account.streamingServerPort), mount,
                                  token, kStatsTimeoutMs);
}

void MainWindow::onServerStatsReceived(const ServerStats& stats) {
    qCDebug(lcUi) << "Server stats received - Online:" << stats.isOnline
                  << "Active:" << stats.isBroadcastActive << "Listeners:" << stats.currentListeners;
    m_appState->setServerStats(stats);
}

void MainWindow::onServerStatsError(const QString& errorMessage) {
    qCDebug(lcUi) << "Server stats error:" << errorMessage;
    m_appState->setServerOffline(errorMessage);
}

void MainWindow::onIsLoggedInChanged(bool loggedIn) {
    onAccountNameChanged(m_appState->accountName());
    m_userBadge->setProperty("loggedIn", loggedIn);
    repolish(m_userBadge);
    if (loggedIn) {
        qCInfo(lcUi) << "Starting server stats polling (logged in)";
        m_statsTimer->start();
        pollServerStats();
    } else {
        if (m_statsTimer->isActive()) qCInfo(lcUi) << "Stopping server stats polling (logged out)";
        m_statsTimer->stop();
    }
}

void MainWindow::onIsLoggingInChanged(bool loggingIn) {
    if (loggingIn) {
        m_userBadge->setText(QStringLiteral("Validating..."));
        m_userBadge->setStyleSheet(QStringLiteral("color: blue; font-style: italic;"));
    } else {
        m_userBadge->setStyleSheet(QString());
        onAccountNameChanged(m_appState->accountName());
    }
}

void MainWindow::onAccountNameChanged(const QString& name) {
    if (m_appState->isLoggingIn()) return;
    m_userBadge->setText(m_appState->isLoggedIn() && !name.isEmpty()
                             ? name
                             : (m_appState->isLoggedIn() ? QStringLiteral("Logged In")
                                                         : QStringLiteral("Not logged in")));
    m_userBadge->setToolTip(m_appState->accountEmail());
}

void MainWindow::onSelectedChannelNameChanged(const QString& channelName) {
    m_channelLabel->setText(channelName.isEmpty() ? QStringLiteral("No channel selected")
                                                  : channelName);
    updateStateLabel();
}

void MainWindow::onMaxBitrateChanged(int maxBitrate) {
    m_settingsDialog->setMaxBitrate(maxBitrate);
    m_encoderDialog->setMaxBitrate(maxBitrate);
}

void MainWindow::onMaxListenersChanged(int maxListeners) {
    m_maxListenersLabel->setText(QStringLiteral("Maximum Listeners: %1").arg(maxListeners));
}
