// The main window's status presentation: the air, server and health badges, the broadcast
// figures, the connect button's look and the notices of the status area.
#include "ui/main_window.h"

#include <QColor>
#include <QComboBox>
#include <QGraphicsDropShadowEffect>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVariantAnimation>

#include "audio/codec.h"
#include "audio/encoder_settings.h"
#include "broadcast/broadcaster.h"
#include "core/log_categories.h"
#include "maintenance/update_manager.h"
#include "ui/app_state.h"
#include "ui/stream_health_dialog.h"
#include "widgets/icon_text_button.h"
#include "widgets/status_dot.h"
#include "widgets/tinted_icon.h"

namespace {

const QString kLabelSpan =
    QStringLiteral("<span style='color:#4B5563; font-size:14px; font-weight:600;'>%1</span>&nbsp;");
const QString kValueSpan = QStringLiteral(
    "<span style='color:%1; font-size:14px; font-weight:600; "
    "font-family:Consolas,Monaco,monospace;'>%2</span>");

QString figure(const QString& label, const QString& colour, const QString& value) {
    return kLabelSpan.arg(label) + kValueSpan.arg(colour, value);
}

constexpr int kIconSize = 24;

}  // namespace

void MainWindow::onFieldsEditableChanged(bool editable) {
    const std::initializer_list<QWidget*> fields = {m_hostEdit, m_portSpin, m_mountEdit, m_userEdit,
                                                    m_passwordEdit};
    for (QWidget* field : fields) field->setEnabled(editable);
}

void MainWindow::onConnectButtonEnabledChanged(bool enabled) {
    m_connectButton->setEnabled(enabled);
}

void MainWindow::onConnectButtonTextChanged(const QString& text) {
    m_connectButton->setText(text);
    m_connectButton->setAccessibleName(text);
}

void MainWindow::onConnectButtonIconChanged(const QString& iconPath) {
    if (iconPath == QLatin1String(":/icons/spinner.svg")) {
        startConnectSpinner();
        return;
    }
    stopConnectSpinner();
    const QString path = iconPath.isEmpty() ? QStringLiteral(":/icons/radio.svg") : iconPath;
    m_connectButton->setIcon(QIcon(
        tintedIcon(QIcon(path), QSize(kIconSize, kIconSize), Qt::white, devicePixelRatioF())));
    m_connectButton->setIconSize(QSize(kIconSize, kIconSize));
}

void MainWindow::startConnectSpinner() {
    if (m_spinner->state() == QAbstractAnimation::Running) return;
    m_spinner->start();
}

void MainWindow::stopConnectSpinner() { m_spinner->stop(); }

void MainWindow::onConnectButtonQssPropertyChanged(const QString& qssProperty) {
    for (const char* name : {"connecting", "reconnecting", "broadcasting"})
        m_connectButton->setProperty(name, false);
    if (!qssProperty.isEmpty())
        m_connectButton->setProperty(qssProperty.toLatin1().constData(), true);
    repolish(m_connectButton);
}

void MainWindow::onConnectButtonShadowColorChanged(const QString& colorHex) {
    auto* shadow = qobject_cast<QGraphicsDropShadowEffect*>(m_connectButton->graphicsEffect());
    if (!shadow) return;
    QColor colour(colorHex.isEmpty() ? QStringLiteral("#2563EB") : colorHex);
    colour.setAlpha(110);
    shadow->setColor(colour);
}

void MainWindow::onSimpleStatusChanged(const QString& status) {
    m_reconnectLabel->setText(
        QStringLiteral("<span style='color:#F97316; font-size:14px; font-weight:600;'>%1</span>")
            .arg(status.toHtmlEscaped()));
    m_reconnectContainer->setVisible(m_appState->connectionState() == AppState::Reconnecting);
    showBroadcastLabels(m_appState->isBroadcasting());
    m_airBadge->setToolTip(status);
}

void MainWindow::onDetailedStatusChanged(const QString& status) {
    m_detailedStatusLabel->setText(status);
}

void MainWindow::onErrorChanged(const QString&) {}

void MainWindow::onServerStatusTextChanged(const QString& statusText) {
    m_serverStatusTextLabel->setText(statusText);
    m_serverBadgeContainer->setToolTip(statusText);
}

void MainWindow::showBroadcastLabels(bool broadcasting) {
    m_encoderLabel->setVisible(broadcasting);
    m_listenersLabel->setVisible(broadcasting);
    m_uptimeLabel->setVisible(broadcasting);
    updateStateLabel();
}

// Off air the strip says what happens or what to do next, so the screen never looks idle and
// mute at the same time.
void MainWindow::updateStateLabel() {
    if (!m_stateLabel || !m_decks[1].input) return;  // called while the window is being built
    const AppState::ConnectionState connection = m_appState->connectionState();
    const bool quiet = m_appState->isBroadcasting() || connection == AppState::Reconnecting;
    m_stateLabel->setVisible(!quiet);
    if (quiet) return;
    QString text = m_appState->simpleStatus();
    if (connection == AppState::Disconnected && !pendingGoLive()) {
        const bool deckChosen =
            m_decks[0].input->currentIndex() > 0 || m_decks[1].input->currentIndex() > 0;
        if (!m_appState->lastError().isEmpty())
            text = m_appState->lastError();
        else if (m_appState->isLoggedIn() && m_appState->selectedChannelId().isEmpty())
            text = QStringLiteral("Choose a channel in Settings > Streaming to go live.");
        else if (!deckChosen)
            text = QStringLiteral("Choose an input for Deck 1 or Deck 2, then press Go Live.");
        else
            text = QStringLiteral("Ready to go live.");
    }
    m_stateLabel->setText(text);
}

void MainWindow::setEncoderLabel() {
    const EncoderSettings* settings = m_broadcaster->encoderSettings();
    m_encoderLabel->setText(figure(QStringLiteral("Encoder:"), QStringLiteral("#059669"),
                                   QStringLiteral("%1 %2Kbps @ %3kHz")
                                       .arg(codecShortName(settings->codec()))
                                       .arg(settings->bitrate())
                                       .arg(settings->sampleRate() / 1000)));
}

void MainWindow::setAirBadge(bool onAir) {
    m_airBadge->setText(onAir ? QStringLiteral("ON AIR") : QStringLiteral("OFF AIR"));
    m_airBadgeContainer->setObjectName(onAir ? QStringLiteral("onAirBadge")
                                             : QStringLiteral("offAirBadge"));
    m_airBadgeContainer->setAccessibleName(onAir ? QStringLiteral("On air")
                                                 : QStringLiteral("Off air"));
    repolish(m_airBadgeContainer);
    repolish(m_airBadge);
    m_airDot->setColor(onAir ? QColor(0xFF, 0xFF, 0xFF) : QColor(0x9C, 0xA3, 0xAF));
    // A new broadcast (or none) has not been heard yet.
    m_airCheckMark->hide();
    m_airCheckMark->setToolTip(QString());
    m_airCheckMark->setAccessibleName(QString());
    m_airDotBreathes = onAir;
    followVisibility();
}

void MainWindow::updateBroadcastInfo() {
    const qint64 seconds = m_broadcastElapsed.isValid() ? m_broadcastElapsed.elapsed() / 1000 : 0;
    const QString uptime = QStringLiteral("%1:%2:%3")
                               .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
                               .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
                               .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    m_uptimeLabel->setText(figure(QStringLiteral("Uptime:"), QStringLiteral("#9333EA"), uptime));
    const int listeners = m_appState->serverOnline() && m_appState->serverBroadcastActive()
                              ? m_appState->currentListeners()
                              : 0;
    m_listenersLabel->setText(figure(QStringLiteral("Listeners:"), QStringLiteral("#2185D0"),
                                     QString::number(listeners)));
}

void MainWindow::onCurrentListenersChanged(int listeners) {
    updateBroadcastInfo();
    if (listeners < 1) {
        m_currentListenersLabel->setText(QStringLiteral("0 listeners"));
        m_currentListenersLabel->setStyleSheet(QStringLiteral("color: #555; font-weight: bold;"));
    } else {
        m_currentListenersLabel->setText(
            QStringLiteral("%1 listener%2")
                .arg(listeners)
                .arg(listeners == 1 ? QString() : QStringLiteral("s")));
        m_currentListenersLabel->setStyleSheet(QStringLiteral("color: green; font-weight: bold;"));
    }
}

void MainWindow::onServerOnlineChanged(bool online) {
    qCInfo(lcUi) << "Server online changed:" << online;
    m_serverBadge->setText(online ? QStringLiteral("Server Online")
                                  : QStringLiteral("Server Offline"));
    m_serverBadgeContainer->setObjectName(online ? QStringLiteral("serverOnlineBadge")
                                                 : QStringLiteral("serverOfflineBadge"));
    m_serverBadgeContainer->setFixedWidth(online ? 157 : 159);
    m_serverStatusIcon->setPixmap(
        QIcon(online ? QStringLiteral(":/icons/wifi.svg") : QStringLiteral(":/icons/wifi-off.svg"))
            .pixmap(QSize(16, 16), devicePixelRatioF()));
    m_serverBadgeContainer->setAccessibleName(m_serverBadge->text());
    repolish(m_serverBadgeContainer);
    repolish(m_serverBadge);
    updateMetadataControls();
    if (online && pendingGoLive()) {
        qCInfo(lcUi) << "Server is online, proceeding with pending Go Live";
        setPendingGoLive(false);
        onConnectAndBroadcast();
    }
}

void MainWindow::onServerBroadcastActiveChanged(bool active) {
    updateBroadcastInfo();
    m_currentListenersLabel->setVisible(m_appState->isLoggedIn() && active);
    if (active && m_appState->isLoggedIn()) pushCurrentTitle();
}

void MainWindow::onHealthUpdated(int score, StreamHealthMonitor::HealthLevel level) {
    QString name = QStringLiteral("healthBadge");
    switch (level) {
        case StreamHealthMonitor::HealthLevel::Good:
            name = QStringLiteral("healthGoodBadge");
            break;
        case StreamHealthMonitor::HealthLevel::Warning:
            name = QStringLiteral("healthWarningBadge");
            break;
        case StreamHealthMonitor::HealthLevel::Poor:
            name = QStringLiteral("healthPoorBadge");
            break;
        case StreamHealthMonitor::HealthLevel::Unknown:
            break;
    }
    m_healthBadge->setObjectName(name);
    m_healthBadge->setText(level == StreamHealthMonitor::HealthLevel::Unknown
                               ? QStringLiteral("Health —")
                               : QStringLiteral("Health %1").arg(score));
    m_healthBadge->setFixedWidth(120);
    repolish(m_healthBadge);
}

void MainWindow::onListenerCheckFinished(OnAirVerdict verdict, qint64 afterAcceptedMs) {
    if (!m_appState->isBroadcasting()) return;
    const bool verified = verdict == OnAirVerdict::Verified;
    QString text = onAirVerdictText(verdict);
    text[0] = text[0].toUpper();
    const QString toolTip =
        verified ? QStringLiteral(
                       "%1: listeners receive this stream (heard %2 s after the server "
                       "accepted it)")
                       .arg(text, QString::number(double(afterAcceptedMs) / 1000.0, 'f', 1))
                 : text;
    m_airCheckMark->setPixmap(
        tintedIcon(QIcon(verified ? QStringLiteral(":/icons/alert_success.svg")
                                  : QStringLiteral(":/icons/alert_warning.svg")),
                   QSize(16, 16), Qt::white, devicePixelRatioF()));
    m_airCheckMark->setToolTip(toolTip);
    m_airCheckMark->setAccessibleName(text);
    m_airCheckMark->show();
    // The broadcast carries on; what listeners miss is said where warnings go.
    if (!verified) setStatusNotice(text, QStringLiteral("warning"));
}

void MainWindow::onHealthBadgeClicked() {
    if (!m_healthDialog)
        m_healthDialog = new StreamHealthDialog(m_broadcaster->healthMonitor(), this);
    m_healthDialog->show();
    m_healthDialog->raise();
    m_healthDialog->activateWindow();
}

void MainWindow::onCheckForUpdates() {
    if (!m_updateManager) {
        onUpdaterError(QStringLiteral("Update system is not initialized"));
        return;
    }
    m_updateManager->checkForUpdates(true);
}

void MainWindow::onUpdaterStatusMessage(const QString& message) { qCInfo(lcUpdater) << message; }

void MainWindow::onUpdaterError(const QString& error) {
    qCWarning(lcUpdater) << error;
    notifyLater(AlertDialog::Variant::Warning, QStringLiteral("Updates"), error);
}

// One line under the figures for what the broadcast survives (dead air, a lost input); it
// replaces the previous notice and an empty text clears it.
void MainWindow::setStatusNotice(const QString& text, const QString& kind) {
    m_noticeLabel->setText(text);
    m_noticeLabel->setProperty("kind", kind);
    m_noticeLabel->setVisible(!text.isEmpty());
    m_noticeLabel->setAccessibleDescription(text);
    repolish(m_noticeLabel);
}
