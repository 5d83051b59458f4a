// The one screen of the application and the controller that ties every service together.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <vector>

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include "broadcast/connection_check.h"
#include "broadcast/listener_verifier.h"
#include "broadcast/stream_health_monitor.h"
#include "broadcast/title_confirmation.h"
#include "cloud/ondaro_models.h"
#include "ui/alert_dialog.h"

class AppState;
class ConnectionCheckDialog;
class DeckInputController;
class Doredoradar;
class EncoderSettingsDialog;
class IconTextButton;
class MarqueeLabel;
class MetadataManager;
class OBSAudioManager;
class OndaroApiClient;
class OndaroLoginDialog;
class QAbstractButton;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;
class QVariantAnimation;
class SettingsDialog;
class SettingsManager;
class ShadowSlider;
class StatusDot;
class StereoVUMeter;
class StreamHealthDialog;
class SystemTrayManager;
class UpdateManager;

// Turns user actions into service calls and service signals into AppState calls and dialogs,
// drives the meters, polls the cloud server's statistics and decides what closing means. The
// class is split over files by concern: main_window.cpp (construction and wiring),
// main_window_layout.cpp (the widget tree), main_window_broadcast.cpp (going live and the
// connection), main_window_account.cpp (account, channels, statistics),
// main_window_metadata.cpp (the title row), main_window_status.cpp (badges and labels),
// main_window_closing.cpp (closing and the tray), main_window_audio.cpp (decks, faders, meters)
// and main_window_settings.cpp (loading, saving and applying settings).
//
// Main thread only. Alerts raised from service signals are shown through a queued call, so no
// nested event loop runs in the middle of a service's state change.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // How the window asks the user; tests replace these so nothing modal blocks them.
    struct Prompts {
        std::function<void(AlertDialog::Variant, const QString& title, const QString& message)>
            notify;
        std::function<bool(const QString& title, const QString& message, const QString& confirmText,
                           const QString& cancelText)>
            confirm;
        std::function<int(const QString& title, const QString& message)> askCloseAction;
        // A failed Go Live, whose alert offers "Check connection": true when it was chosen.
        // Without it the failure goes through notify.
        std::function<bool(const QString& title, const QString& message)> connectionFailed;
    };

    static constexpr int kMeterIntervalMs = 33;
    static constexpr int kStatsIntervalMs = 10000;
    static constexpr int kStatsTimeoutMs = 8000;
    static constexpr int kSongResyncMs = 3000;
    // How long a Go Live waits for a started cloud server to report itself online.
    static constexpr int kDefaultServerStartDeadlineMs = 60000;

    // `updateManager` (may be null) is used instead of one of the window's own.
    explicit MainWindow(UpdateManager* updateManager = nullptr, QWidget* parent = nullptr);
    ~MainWindow() override;

    AppState* appState() const { return m_appState; }
    Doredoradar* broadcaster() const { return m_broadcaster; }
    MetadataManager* metadataManager() const { return m_metadataManager; }
    SettingsDialog* settingsDialog() const { return m_settingsDialog; }
    SettingsManager* settingsManager() const { return m_settingsManager; }
    OndaroApiClient* apiClient() const { return m_apiClient; }
    DeckInputController* deckInputs() const { return m_deckInputs; }

    void setPrompts(Prompts prompts);
    void setServerStartDeadlineMs(int milliseconds) { m_serverStartDeadlineMs = milliseconds; }

Q_SIGNALS:
    // After a logout: the session flow closes this window and shows the login window.
    void logoutRequested();

private Q_SLOTS:
    void onConnectAndBroadcast();
    void updateAudioMeters();
    void updateMetadata();
    void onManualMetadataUpdate();
    void onDeck1InputChanged(int index);
    void onDeck2InputChanged(int index);
    void onVolumeChanged(int value);
    void onMasterVolumeChanged(int value);
    void onCrossfaderChanged(int value);
    void onMonitorOutputChanged(int index);
    void onMonitorVolumeChanged(int value);
    void onMonitorToggled(bool enabled);
    void showEncoderSettings();
    void showSettings();
    void refreshInputDevices();
    void refreshMonitorDevices();
    void showAppPickerDialog(int deckNumber);
    void saveSettings();
    void loadSettings();
    void showLoginDialog();
    void onLoginSuccessful(const OndaroAccount& account, const QString& privateToken);
    void onLogoutClicked();
    void onRefreshAccountClicked();
    void onChannelSelectionChanged(int index);
    void onOndaroApiError(const QString& errorMessage, int httpCode);
    void onOndaroAccountRefreshed(const OndaroAccount& account);
    void onFieldsEditableChanged(bool editable);
    void onConnectButtonEnabledChanged(bool enabled);
    void onConnectButtonTextChanged(const QString& text);
    void onConnectButtonIconChanged(const QString& iconPath);
    void onConnectButtonQssPropertyChanged(const QString& qssProperty);
    void onConnectButtonShadowColorChanged(const QString& colorHex);
    void onSimpleStatusChanged(const QString& status);
    void onDetailedStatusChanged(const QString& status);
    void onErrorChanged(const QString& error);
    void onIsLoggedInChanged(bool loggedIn);
    void onIsLoggingInChanged(bool loggingIn);
    void onAccountNameChanged(const QString& name);
    void onSelectedChannelNameChanged(const QString& channelName);
    void onMaxBitrateChanged(int maxBitrate);
    void onMaxListenersChanged(int maxListeners);
    void pollServerStats();
    void onServerStatsReceived(const ServerStats& stats);
    void onServerStatsError(const QString& errorMessage);
    void onServerStarted();
    void onServerStartError(const QString& errorMessage, int httpCode);
    void onStartServerClicked();
    void updateBroadcastInfo();
    void onHealthUpdated(int score, StreamHealthMonitor::HealthLevel level);
    // The air badge's mark: whether listeners get this stream.
    void onListenerCheckFinished(OnAirVerdict verdict, qint64 afterAcceptedMs);
    void onHealthBadgeClicked();
    void onCheckForUpdates();
    void onUpdaterStatusMessage(const QString& message);
    void onUpdaterError(const QString& error);
    void onTrayShowWindowRequested();
    void onTrayExitRequested();
    void onMinimizeToTrayChanged(bool enabled);
    void onServerOnlineChanged(bool online);
    void onServerBroadcastActiveChanged(bool active);
    void onCurrentListenersChanged(int listeners);
    void onServerStatusTextChanged(const QString& statusText);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct DeckWidgets {
        QWidget* card = nullptr;
        QComboBox* input = nullptr;
        QPushButton* refresh = nullptr;
        ShadowSlider* slider = nullptr;
        QLabel* volumeLabel = nullptr;
        QPushButton* mute = nullptr;
        QPushButton* voice = nullptr;
        StereoVUMeter* meter = nullptr;
        QLabel* peakLabel = nullptr;
        QLabel* status = nullptr;
    };

    // main_window_layout.cpp
    void buildUi();
    QWidget* buildHeader();
    QWidget* buildStatusStrip();
    QWidget* buildDeckCard(int deck);
    QWidget* buildMasterCard();
    QWidget* buildMonitorCard();
    QWidget* buildCrossfader();
    QWidget* buildTitleRow();
    QWidget* buildHiddenParts();
    void buildMenus();

    // main_window.cpp
    void connectServices();
    void connectAppState();
    void applyAppStateOnce();
    void notifyLater(AlertDialog::Variant variant, const QString& title, const QString& message);
    void notifyNow(AlertDialog::Variant variant, const QString& title, const QString& message);
    void repolish(QWidget* widget);

    // main_window_broadcast.cpp
    void onBroadcastingStarted();
    void onBroadcastingStopped();
    void onBroadcasterError(const QString& error);
    void onClientConnected();
    void onClientDisconnected();
    void onClientReconnecting(int attempt, int maxAttempts, int countdown);
    void onClientConnectionError(const QString& error);
    void onBroadcastWarning(const QString& warning);
    void onDeadAirDetected(const QString& warning);
    void onDeadAirEnded();
    void onDeckInputRecovered(int deck);
    void goLive();
    void stopBroadcastWithQuestion();
    void stopBroadcastNow();
    void setPendingGoLive(bool pending);
    // Runs the connection check against the last Go Live's server in its dialog.
    void showConnectionCheck();
    bool pendingGoLive() const;
    void onServerStartDeadline();

    // main_window_account.cpp
    void populateChannelComboBox();
    void reselectStoredChannel();
    void fillServerFields(const OndaroChannel& channel);
    void endSessionAfterUnauthorized();

    // main_window_metadata.cpp
    void updateMetadataControls();
    void resyncSongIntoEntry();
    void pushCurrentTitle();
    void onTitleSent();
    void onTitleFailed(const QString& error);
    void finishUpdateButton();
    void onTitleConfirmation(TitleConfirmation::Outcome outcome, const QString& song);
    // The mark beside the title; hidden without an outcome.
    void setTitleMark(std::optional<TitleConfirmation::Outcome> outcome, const QString& song);

    // main_window_status.cpp
    void setAirBadge(bool onAir);
    void setEncoderLabel();
    void showBroadcastLabels(bool broadcasting);
    void updateStateLabel();
    void startConnectSpinner();
    void stopConnectSpinner();
    void setStatusNotice(const QString& text, const QString& kind);

    // main_window_closing.cpp
    void shutDownServices();
    void restoreStoredGeometry();

    // main_window_audio.cpp
    void onDeckMuteToggled(int deck, bool muted);
    void onVoiceToggled(int deck, bool on);
    void applyDuckingConfig();
    void applyMonitorState();
    void syncDeckVolumesToMixer();
    void setMetersRunning(bool running);
    // Meters and the on-air pulse run only while the window can be seen.
    void followVisibility();
    void showCrossfaderLabel();
    void updateDeckMeter(int deck, qint64 nowMs, float duckGain, std::array<float, 4>& post);

    // main_window_settings.cpp
    void connectSettingsDialog();
    void connectEncoderDialog();
    void applyEncoderName(const QString& name, bool fromSettingsDialog);
    // An encoder change while a connection exists waits for the next Go Live: the source
    // connection announced the stream's format, and its reconnects must send the same stream.
    void changeEncoder(std::function<void()> change);
    void applyPendingEncoderChanges();

    // Owned services, in construction order.
    AppState* m_appState = nullptr;
    SettingsManager* m_settingsManager = nullptr;
    OndaroApiClient* m_apiClient = nullptr;
    QTimer* m_meterTimer = nullptr;
    QTimer* m_statsTimer = nullptr;
    QTimer* m_uptimeTimer = nullptr;
    QTimer* m_songResyncTimer = nullptr;
    QTimer* m_serverStartDeadline = nullptr;
    Doredoradar* m_broadcaster = nullptr;
    MetadataManager* m_metadataManager = nullptr;
    OBSAudioManager* m_audioManager = nullptr;
    EncoderSettingsDialog* m_encoderDialog = nullptr;
    SettingsDialog* m_settingsDialog = nullptr;
    SystemTrayManager* m_tray = nullptr;
    UpdateManager* m_updateManager = nullptr;
    DeckInputController* m_deckInputs = nullptr;
    OndaroLoginDialog* m_loginDialog = nullptr;
    QPointer<StreamHealthDialog> m_healthDialog;
    QPointer<ConnectionCheckDialog> m_checkDialog;
    // What the last Go Live connected to, for the connection check.
    ConnectionCheck::Target m_checkTarget;

    // Header and status.
    StatusDot* m_airDot = nullptr;
    QLabel* m_airBadge = nullptr;
    QLabel* m_airCheckMark = nullptr;
    QWidget* m_airBadgeContainer = nullptr;
    QWidget* m_serverBadgeContainer = nullptr;
    QLabel* m_serverBadge = nullptr;
    QLabel* m_serverStatusIcon = nullptr;
    QPushButton* m_healthBadge = nullptr;
    QLabel* m_userBadge = nullptr;
    QLabel* m_channelLabel = nullptr;
    QLabel* m_stateLabel = nullptr;
    QLabel* m_encoderLabel = nullptr;
    QLabel* m_listenersLabel = nullptr;
    QLabel* m_currentListenersLabel = nullptr;
    QLabel* m_uptimeLabel = nullptr;
    QWidget* m_reconnectContainer = nullptr;
    QLabel* m_reconnectLabel = nullptr;
    QLabel* m_noticeLabel = nullptr;
    IconTextButton* m_connectButton = nullptr;
    QVariantAnimation* m_spinner = nullptr;

    // Audio controls.
    std::array<DeckWidgets, 2> m_decks{};
    ShadowSlider* m_masterSlider = nullptr;
    QLabel* m_masterLabel = nullptr;
    StereoVUMeter* m_masterMeter = nullptr;
    QLabel* m_masterPeakLabel = nullptr;
    QComboBox* m_monitorOutput = nullptr;
    QPushButton* m_monitorToggle = nullptr;
    ShadowSlider* m_monitorSlider = nullptr;
    QLabel* m_monitorLabel = nullptr;
    StereoVUMeter* m_monitorMeter = nullptr;
    QLabel* m_monitorPeakLabel = nullptr;
    QLabel* m_monitorIcon = nullptr;
    QWidget* m_monitorIconBg = nullptr;
    ShadowSlider* m_crossfader = nullptr;
    QLabel* m_crossfaderLabel = nullptr;

    // The title row.
    QLineEdit* m_titleEntry = nullptr;
    QPushButton* m_updateButton = nullptr;
    QLabel* m_titleStatus = nullptr;
    QLabel* m_titleNote = nullptr;
    MarqueeLabel* m_nowPlaying = nullptr;
    QLabel* m_titleMark = nullptr;

    // The hidden parts: server fields (filled by the channel choice, read by Go Live), the
    // account group and the status bar.
    QLineEdit* m_hostEdit = nullptr;
    QSpinBox* m_portSpin = nullptr;
    QLineEdit* m_mountEdit = nullptr;
    QLineEdit* m_userEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QLabel* m_detailedStatusLabel = nullptr;
    QLabel* m_serverStatusTextLabel = nullptr;
    QLabel* m_maxListenersLabel = nullptr;

    Prompts m_prompts;
    QElapsedTimer m_broadcastElapsed;
    bool m_shuttingDown = false;
    bool m_airDotBreathes = false;  // on air; it breathes only while the window can be seen
    bool m_forceQuit = false;
    bool m_autoLoginInProgress = false;
    bool m_titleUpdateFromButton = false;
    int m_serverStartDeadlineMs = kDefaultServerStartDeadlineMs;
    std::array<bool, 2> m_deckMuted{{false, false}};
    // The saved device names, kept for a device missing at start until the deck is changed.
    std::array<QString, 2> m_savedDeckDevice;
    std::array<bool, 2> m_deckTouched{{false, false}};
    std::vector<std::function<void()>> m_pendingEncoderChanges;
    std::array<qint64, 4> m_clipHoldUntilMs{{0, 0, 0, 0}};
    int m_duckingTriggerDeck = 0;
    int m_meterTick = 0;
    int m_peakTextTick = 0;
    bool m_peakTextDue = true;  // this meter tick also writes the peak figures
};
