// The main window's construction: the services in their order and the wiring between them.
#include "ui/main_window.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include "audio/obs_audio_manager.h"
#include "broadcast/broadcaster.h"
#include "broadcast/icecast_client.h"
#include "build_config.h"
#include "cloud/ondaro_api_client.h"
#include "core/log_categories.h"
#include "core/settings_manager.h"
#include "maintenance/update_manager.h"
#include "metadata/metadata_manager.h"
#include "ui/app_state.h"
#include "ui/deck_input_controller.h"
#include "ui/encoder_settings_dialog.h"
#include "ui/settings_dialog.h"
#include "ui/system_tray_manager.h"
#include "widgets/icon_text_button.h"
#include "widgets/shadow_slider.h"

namespace {
constexpr int kMonitorDefaultOnDelayMs = 500;
}  // namespace

MainWindow::MainWindow(UpdateManager* updateManager, QWidget* parent)
    : QMainWindow(parent), m_updateManager(updateManager) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Ondaro Doredoradar"));
    m_prompts.notify = [this](AlertDialog::Variant variant, const QString& title,
                              const QString& message) {
        switch (variant) {
            case AlertDialog::Variant::Error:
                AlertDialog::showError(this, title, message);
                break;
            case AlertDialog::Variant::Warning:
                AlertDialog::showWarning(this, title, message);
                break;
            case AlertDialog::Variant::Success:
                AlertDialog::showSuccess(this, title, message);
                break;
            default:
                AlertDialog::showInfo(this, title, message);
                break;
        }
    };
    m_prompts.confirm = [this](const QString& title, const QString& message,
                               const QString& confirmText, const QString& cancelText) {
        return AlertDialog::confirm(this, title, message, confirmText, cancelText);
    };
    m_prompts.askCloseAction = [this](const QString& title, const QString& message) {
        return AlertDialog::askCloseAction(this, title, message);
    };
    m_prompts.connectionFailed = [this](const QString& title, const QString& message) {
        return AlertDialog::offerAction(this, AlertDialog::Variant::Error, title, message,
                                        QStringLiteral("Check connection"));
    };

    m_appState = new AppState(this);
    m_settingsManager = new SettingsManager(this);
    m_apiClient = new OndaroApiClient(this);
    m_meterTimer = new QTimer(this);
    m_meterTimer->setInterval(kMeterIntervalMs);
    m_statsTimer = new QTimer(this);
    m_statsTimer->setInterval(kStatsIntervalMs);
    m_uptimeTimer = new QTimer(this);
    m_uptimeTimer->setInterval(1000);
    m_songResyncTimer = new QTimer(this);
    m_songResyncTimer->setSingleShot(true);
    m_songResyncTimer->setInterval(kSongResyncMs);
    connect(m_songResyncTimer, &QTimer::timeout, this, &MainWindow::resyncSongIntoEntry);
    m_serverStartDeadline = new QTimer(this);
    m_serverStartDeadline->setSingleShot(true);
    connect(m_serverStartDeadline, &QTimer::timeout, this, &MainWindow::onServerStartDeadline);

    m_broadcaster = new Doredoradar(this);
    m_metadataManager = new MetadataManager(this);
    if (!m_broadcaster->initialize()) {
        notifyLater(AlertDialog::Variant::Error, QStringLiteral("Connection Failed"),
                    QStringLiteral("Failed to initialize broadcaster"));
    }
    m_audioManager = m_broadcaster->audioManager();

    buildUi();

    DeckInputController::Controls controls;
    controls.broadcaster = m_broadcaster;
    controls.deckInputs = {m_decks[0].input, m_decks[1].input};
    controls.deckCards = {m_decks[0].card, m_decks[1].card};
    controls.monitorOutput = m_monitorOutput;
    controls.monitorToggle = m_monitorToggle;
    controls.deckMuted = [this](int deck) { return m_deckMuted[size_t(deck - 1)]; };
    controls.deckVolumeTenthsDb = [this](int deck) {
        return m_decks[size_t(deck - 1)].slider->value();
    };
    m_deckInputs = new DeckInputController(controls, this);
    m_deckInputs->setAlertPresenter(
        [this](DeckInputController::AlertKind kind, const QString& title, const QString& message) {
            notifyNow(kind == DeckInputController::AlertKind::Error ? AlertDialog::Variant::Error
                                                                    : AlertDialog::Variant::Info,
                      title, message);
        });
    m_encoderDialog = new EncoderSettingsDialog(this);
    m_settingsDialog = new SettingsDialog(m_appState, this);
    m_tray = new SystemTrayManager(m_appState, this);
    m_tray->show();
    connect(m_tray, &SystemTrayManager::showWindowRequested, this,
            &MainWindow::onTrayShowWindowRequested);
    connect(m_tray, &SystemTrayManager::exitApplicationRequested, this,
            &MainWindow::onTrayExitRequested);
    connect(m_settingsDialog, &SettingsDialog::minimizeToTrayChanged, this,
            &MainWindow::onMinimizeToTrayChanged);
    if (!m_updateManager) {
        m_updateManager = new UpdateManager(this);
        m_updateManager->setFeedUrl(QString::fromLatin1(buildconfig::kUpdateFeedUrl));
        m_updateManager->setChannel(QStringLiteral("stable"));
    }
    connect(m_updateManager, &UpdateManager::statusMessage, this,
            &MainWindow::onUpdaterStatusMessage);
    connect(m_updateManager, &UpdateManager::errorOccurred, this, &MainWindow::onUpdaterError);
    if (!m_updateManager->isInitialized()) m_updateManager->initialize();

    connectServices();
    connectSettingsDialog();
    connectEncoderDialog();
    connectAppState();
    refreshInputDevices();
    refreshMonitorDevices();
    loadSettings();

    connect(m_apiClient, &OndaroApiClient::accountInfoReceived, this,
            &MainWindow::onOndaroAccountRefreshed);
    connect(m_apiClient, &OndaroApiClient::errorOccurred, this, &MainWindow::onOndaroApiError);
    connect(m_apiClient, &OndaroApiClient::serverStatsReceived, this,
            &MainWindow::onServerStatsReceived);
    connect(m_apiClient, &OndaroApiClient::serverStatsError, this, &MainWindow::onServerStatsError);
    connect(m_apiClient, &OndaroApiClient::serverStarted, this, &MainWindow::onServerStarted);
    connect(m_apiClient, &OndaroApiClient::serverStartError, this, &MainWindow::onServerStartError);

    if (m_settingsManager->hasOndaroPrivateToken()) {
        qCInfo(lcUi) << "Found stored Ondaro token, refreshing account info";
        m_autoLoginInProgress = true;
        m_appState->setLoggingIn(true);
        m_apiClient->fetchAccountInfo(m_settingsManager->getOndaroPrivateToken());
    }

    connect(m_meterTimer, &QTimer::timeout, this, &MainWindow::updateAudioMeters);
    setMetersRunning(true);
    connect(m_statsTimer, &QTimer::timeout, this, &MainWindow::pollServerStats);
    connect(m_uptimeTimer, &QTimer::timeout, this, &MainWindow::updateBroadcastInfo);

    // The monitor starts audible: a host wants to hear what goes out without looking for it.
    QTimer::singleShot(kMonitorDefaultOnDelayMs, this, [this] {
        if (m_monitorToggle && m_monitorToggle->isChecked()) {
            qCInfo(lcUi) << "Enabling local monitor by default";
            m_monitorToggle->setChecked(false);
        }
    });
}

MainWindow::~MainWindow() {
    if (!m_shuttingDown) shutDownServices();
}

void MainWindow::setPrompts(Prompts prompts) { m_prompts = std::move(prompts); }

void MainWindow::connectServices() {
    connect(m_connectButton, &QPushButton::clicked, this, &MainWindow::onConnectAndBroadcast);
    for (int deck = 1; deck <= 2; ++deck) {
        DeckWidgets& widgets = m_decks[deck - 1];
        connect(widgets.input, &QComboBox::activated, this,
                deck == 1 ? &MainWindow::onDeck1InputChanged : &MainWindow::onDeck2InputChanged);
        m_deckInputs->attachRefreshButton(widgets.refresh);
        connect(widgets.input, &QComboBox::currentIndexChanged, this,
                &MainWindow::updateStateLabel);
        connect(widgets.slider, &QAbstractSlider::valueChanged, this, &MainWindow::onVolumeChanged);
        connect(widgets.mute, &QPushButton::toggled, this,
                [this, deck](bool muted) { onDeckMuteToggled(deck, muted); });
        connect(widgets.voice, &QPushButton::toggled, this,
                [this, deck](bool on) { onVoiceToggled(deck, on); });
    }
    connect(m_crossfader, &QAbstractSlider::valueChanged, this, &MainWindow::onCrossfaderChanged);
    connect(m_masterSlider, &QAbstractSlider::valueChanged, this,
            &MainWindow::onMasterVolumeChanged);
    connect(m_monitorOutput, &QComboBox::currentIndexChanged, this,
            &MainWindow::onMonitorOutputChanged);
    connect(m_monitorSlider, &QAbstractSlider::valueChanged, this,
            &MainWindow::onMonitorVolumeChanged);
    connect(m_monitorToggle, &QPushButton::toggled, this, &MainWindow::onMonitorToggled);
    connect(m_updateButton, &QPushButton::clicked, this, &MainWindow::onManualMetadataUpdate);
    connect(m_healthBadge, &QPushButton::clicked, this, &MainWindow::onHealthBadgeClicked);

    connect(m_broadcaster, &Doredoradar::broadcastingStarted, this,
            &MainWindow::onBroadcastingStarted);
    connect(m_broadcaster, &Doredoradar::broadcastingStopped, this,
            &MainWindow::onBroadcastingStopped);
    connect(m_broadcaster, &Doredoradar::errorOccurred, this, &MainWindow::onBroadcasterError);
    connect(m_broadcaster, &Doredoradar::warningOccurred, this, &MainWindow::onBroadcastWarning);
    connect(m_broadcaster, &Doredoradar::deckInputRecovered, this,
            &MainWindow::onDeckInputRecovered);
    connect(m_broadcaster, &Doredoradar::deadAirDetected, this, &MainWindow::onDeadAirDetected);
    connect(m_broadcaster, &Doredoradar::deadAirEnded, this, &MainWindow::onDeadAirEnded);
    IcecastClient* client = m_broadcaster->icecastClient();
    connect(client, &IcecastClient::connected, this, &MainWindow::onClientConnected);
    connect(client, &IcecastClient::disconnected, this, &MainWindow::onClientDisconnected);
    connect(client, &IcecastClient::reconnecting, this, &MainWindow::onClientReconnecting);
    connect(client, &IcecastClient::connectionError, this, &MainWindow::onClientConnectionError);
    connect(client, &IcecastClient::metadataSent, this, &MainWindow::onTitleSent);
    connect(client, &IcecastClient::metadataFailed, this, &MainWindow::onTitleFailed);
    connect(client, &IcecastClient::titleConfirmation, this, &MainWindow::onTitleConfirmation);
    connect(client, &IcecastClient::listenerCheckFinished, this,
            &MainWindow::onListenerCheckFinished);
    connect(m_broadcaster->healthMonitor(), &StreamHealthMonitor::healthUpdated, this,
            &MainWindow::onHealthUpdated);
    if (m_audioManager) {
        connect(
            m_audioManager, &OBSAudioManager::errorOccurred, this, [this](const QString& error) {
                notifyLater(AlertDialog::Variant::Warning, QStringLiteral("Audio Error"), error);
            });
    }
    connect(m_metadataManager, &MetadataManager::metadataChanged, this,
            &MainWindow::updateMetadata);
    const auto backToManual = [this] {
        m_metadataManager->setSource(MetadataSource::Manual);
        m_settingsDialog->setMetadataSource(QStringLiteral("Manual"));
        updateMetadataControls();
    };
    connect(m_metadataManager, &MetadataManager::sourceInvalidated, this, backToManual);
    connect(m_metadataManager, &MetadataManager::windowClosed, this, backToManual);
}

void MainWindow::connectAppState() {
    AppState* s = m_appState;
    connect(s, &AppState::fieldsEditableChanged, this, &MainWindow::onFieldsEditableChanged);
    connect(s, &AppState::connectButtonEnabledChanged, this,
            &MainWindow::onConnectButtonEnabledChanged);
    connect(s, &AppState::connectButtonTextChanged, this, &MainWindow::onConnectButtonTextChanged);
    connect(s, &AppState::connectButtonIconChanged, this, &MainWindow::onConnectButtonIconChanged);
    connect(s, &AppState::connectButtonQssPropertyChanged, this,
            &MainWindow::onConnectButtonQssPropertyChanged);
    connect(s, &AppState::connectButtonShadowColorChanged, this,
            &MainWindow::onConnectButtonShadowColorChanged);
    connect(s, &AppState::simpleStatusChanged, this, &MainWindow::onSimpleStatusChanged);
    connect(s, &AppState::detailedStatusChanged, this, &MainWindow::onDetailedStatusChanged);
    connect(s, &AppState::lastErrorChanged, this, &MainWindow::onErrorChanged);
    connect(s, &AppState::isLoggedInChanged, this, &MainWindow::onIsLoggedInChanged);
    connect(s, &AppState::isLoggingInChanged, this, &MainWindow::onIsLoggingInChanged);
    connect(s, &AppState::accountNameChanged, this, &MainWindow::onAccountNameChanged);
    connect(s, &AppState::selectedChannelNameChanged, this,
            &MainWindow::onSelectedChannelNameChanged);
    connect(s, &AppState::maxBitrateChanged, this, &MainWindow::onMaxBitrateChanged);
    connect(s, &AppState::maxListenersChanged, this, &MainWindow::onMaxListenersChanged);
    connect(s, &AppState::serverOnlineChanged, this, &MainWindow::onServerOnlineChanged);
    connect(s, &AppState::serverBroadcastActiveChanged, this,
            &MainWindow::onServerBroadcastActiveChanged);
    connect(s, &AppState::currentListenersChanged, this, &MainWindow::onCurrentListenersChanged);
    connect(s, &AppState::serverStatusTextChanged, this, &MainWindow::onServerStatusTextChanged);
    connect(s, &AppState::isReconnectingChanged, this,
            [this](bool reconnecting) { m_reconnectContainer->setVisible(reconnecting); });
    connect(s, &AppState::isBroadcastingChanged, this, [this](bool broadcasting) {
        showBroadcastLabels(broadcasting);
        updateMetadataControls();
    });
    connect(s, &AppState::currentSongChanged, this, &MainWindow::resyncSongIntoEntry);
    connect(s, &AppState::connectionStateChanged, this, [this] {
        updateMetadataControls();
        updateStateLabel();
    });
    connect(s, &AppState::lastErrorChanged, this, &MainWindow::updateStateLabel);
    applyAppStateOnce();
}

// The window starts in step with the state: every restyling slot runs once with its value.
void MainWindow::applyAppStateOnce() {
    AppState* s = m_appState;
    onFieldsEditableChanged(s->fieldsEditable());
    onConnectButtonEnabledChanged(s->connectButtonEnabled());
    onConnectButtonTextChanged(s->connectButtonText());
    onConnectButtonIconChanged(s->connectButtonIcon());
    onConnectButtonQssPropertyChanged(s->connectButtonQssProperty());
    onConnectButtonShadowColorChanged(s->connectButtonShadowColor());
    onSimpleStatusChanged(s->simpleStatus());
    onDetailedStatusChanged(s->detailedStatus());
    onServerOnlineChanged(s->serverOnline());
    onServerBroadcastActiveChanged(s->serverBroadcastActive());
    onCurrentListenersChanged(s->currentListeners());
    onServerStatusTextChanged(s->serverStatusText());
    updateMetadataControls();
    resyncSongIntoEntry();
    onIsLoggedInChanged(s->isLoggedIn());
    onIsLoggingInChanged(s->isLoggingIn());
    onAccountNameChanged(s->accountName());
    onSelectedChannelNameChanged(s->selectedChannelName());
    onMaxBitrateChanged(s->maxBitrate());
    onMaxListenersChanged(s->maxListeners());
}

void MainWindow::notifyNow(AlertDialog::Variant variant, const QString& title,
                           const QString& message) {
    if (m_prompts.notify) m_prompts.notify(variant, title, message);
}

// Service signals arrive in the middle of the services' own state changes; a modal alert there
// would run a nested event loop inside them. The queued call shows it once they have finished.
void MainWindow::notifyLater(AlertDialog::Variant variant, const QString& title,
                             const QString& message) {
    QMetaObject::invokeMethod(
        this, [this, variant, title, message] { notifyNow(variant, title, message); },
        Qt::QueuedConnection);
}

void MainWindow::repolish(QWidget* widget) {
    if (!widget) return;
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
    widget->update();
}

void MainWindow::showEncoderSettings() {
    m_encoderDialog->show();
    m_encoderDialog->raise();
    m_encoderDialog->activateWindow();
}

void MainWindow::showSettings() {
    m_settingsDialog->show();
    m_settingsDialog->raise();
    m_settingsDialog->activateWindow();
}
