#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include "cloud/ondaro_models.h"

// The one observable model of what the application is doing: broadcast connection, reconnect
// progress, last error, logged-in account and its limits, selected channel, cloud server state.
// Windows bind to its change signals instead of to the services; it also derives the look of the
// connect button from the primary values, so those rules live in one place. No timers, no I/O.
//
// Main thread only. Every setter compares first and does nothing (no signal, no log line) when the
// value is unchanged, unless its comment says otherwise; signals go out after the value is stored.
class AppState : public QObject {
    Q_OBJECT
    Q_PROPERTY(ConnectionState connectionState READ connectionState NOTIFY connectionStateChanged)
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(bool isConnecting READ isConnecting NOTIFY isConnectingChanged)
    Q_PROPERTY(bool isReconnecting READ isReconnecting NOTIFY isReconnectingChanged)
    Q_PROPERTY(bool isDisconnecting READ isDisconnecting NOTIFY isDisconnectingChanged)
    Q_PROPERTY(bool isBroadcasting READ isBroadcasting NOTIFY isBroadcastingChanged)
    Q_PROPERTY(bool fieldsEditable READ fieldsEditable NOTIFY fieldsEditableChanged)
    Q_PROPERTY(
        bool connectButtonEnabled READ connectButtonEnabled NOTIFY connectButtonEnabledChanged)
    Q_PROPERTY(QString connectButtonText READ connectButtonText NOTIFY connectButtonTextChanged)
    Q_PROPERTY(QString connectButtonIcon READ connectButtonIcon NOTIFY connectButtonIconChanged)
    Q_PROPERTY(QString connectButtonQssProperty READ connectButtonQssProperty NOTIFY
                   connectButtonQssPropertyChanged)
    Q_PROPERTY(QString connectButtonShadowColor READ connectButtonShadowColor NOTIFY
                   connectButtonShadowColorChanged)
    Q_PROPERTY(QString simpleStatus READ simpleStatus NOTIFY simpleStatusChanged)
    Q_PROPERTY(QString detailedStatus READ detailedStatus NOTIFY detailedStatusChanged)
    Q_PROPERTY(
        bool autoReconnectEnabled READ autoReconnectEnabled NOTIFY autoReconnectEnabledChanged)
    Q_PROPERTY(int reconnectInterval READ reconnectInterval NOTIFY reconnectIntervalChanged)
    Q_PROPERTY(int reconnectAttempt READ reconnectAttempt NOTIFY reconnectAttemptChanged)
    Q_PROPERTY(
        int reconnectMaxAttempts READ reconnectMaxAttempts NOTIFY reconnectMaxAttemptsChanged)
    Q_PROPERTY(int reconnectCountdown READ reconnectCountdown NOTIFY reconnectCountdownChanged)
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)
    Q_PROPERTY(bool hasError READ hasError NOTIFY hasErrorChanged)
    Q_PROPERTY(bool isLoggedIn READ isLoggedIn NOTIFY isLoggedInChanged)
    Q_PROPERTY(bool isLoggingIn READ isLoggingIn NOTIFY isLoggingInChanged)
    Q_PROPERTY(QString accountName READ accountName NOTIFY accountNameChanged)
    Q_PROPERTY(QString accountEmail READ accountEmail NOTIFY accountEmailChanged)
    Q_PROPERTY(QString selectedChannelId READ selectedChannelId NOTIFY selectedChannelIdChanged)
    Q_PROPERTY(
        QString selectedChannelName READ selectedChannelName NOTIFY selectedChannelNameChanged)
    Q_PROPERTY(int maxBitrate READ maxBitrate NOTIFY maxBitrateChanged)
    Q_PROPERTY(int maxListeners READ maxListeners NOTIFY maxListenersChanged)
    Q_PROPERTY(
        int availableChannelsCount READ availableChannelsCount NOTIFY availableChannelsCountChanged)
    Q_PROPERTY(bool serverOnline READ serverOnline NOTIFY serverOnlineChanged)
    Q_PROPERTY(
        bool serverBroadcastActive READ serverBroadcastActive NOTIFY serverBroadcastActiveChanged)
    Q_PROPERTY(int currentListeners READ currentListeners NOTIFY currentListenersChanged)
    Q_PROPERTY(QString currentSong READ currentSong NOTIFY currentSongChanged)
    Q_PROPERTY(QString serverStatusText READ serverStatusText NOTIFY serverStatusTextChanged)

public:
    enum ConnectionState {
        Disconnected = 0,
        Connecting = 1,
        Connected = 2,
        Reconnecting = 3,
        Disconnecting = 4,
    };
    Q_ENUM(ConnectionState)

    static constexpr int kDefaultMaxBitrateKbps = 128;

    explicit AppState(QObject* parent = nullptr);

    ConnectionState connectionState() const { return m_connectionState; }
    bool isConnected() const { return m_connectionState == Connected; }
    bool isConnecting() const { return m_connectionState == Connecting; }
    bool isReconnecting() const { return m_connectionState == Reconnecting; }
    bool isDisconnecting() const { return m_connectionState == Disconnecting; }
    bool isBroadcasting() const { return m_isBroadcasting; }
    bool fieldsEditable() const { return m_fieldsEditable; }
    bool connectButtonEnabled() const { return m_connectButtonEnabled; }
    QString connectButtonText() const { return m_connectButtonText; }
    QString connectButtonIcon() const { return m_connectButtonIcon; }
    QString connectButtonQssProperty() const { return m_connectButtonQssProperty; }
    QString connectButtonShadowColor() const { return m_connectButtonShadowColor; }
    QString simpleStatus() const { return m_simpleStatus; }
    QString detailedStatus() const { return m_detailedStatus; }
    bool autoReconnectEnabled() const { return m_autoReconnectEnabled; }
    int reconnectInterval() const { return m_reconnectInterval; }
    int reconnectAttempt() const { return m_reconnectAttempt; }
    int reconnectMaxAttempts() const { return m_reconnectMaxAttempts; }
    int reconnectCountdown() const { return m_reconnectCountdown; }
    QString lastError() const { return m_lastError; }
    bool hasError() const { return !m_lastError.isEmpty(); }
    bool isLoggedIn() const { return m_isLoggedIn; }
    bool isLoggingIn() const { return m_isLoggingIn; }
    QString accountName() const { return m_accountName; }
    QString accountEmail() const { return m_accountEmail; }
    QString selectedChannelId() const { return m_selectedChannelId; }
    QString selectedChannelName() const { return m_selectedChannelName; }
    int maxBitrate() const { return m_maxBitrate; }
    int maxListeners() const { return m_maxListeners; }
    int availableChannelsCount() const { return static_cast<int>(m_availableChannels.size()); }
    bool serverOnline() const { return m_serverOnline; }
    bool serverBroadcastActive() const { return m_serverBroadcastActive; }
    int currentListeners() const { return m_currentListeners; }
    QString currentSong() const { return m_currentSong; }
    QString serverStatusText() const { return m_serverStatusText; }

    // The last account given to setAccountInfo and its channel list.
    OndaroAccount account() const { return m_account; }
    QList<OndaroChannel> availableChannels() const { return m_availableChannels; }
    // The channel whose id is the selected one, or an empty record.
    OndaroChannel selectedChannel() const;

    void setConnectionState(ConnectionState state);
    // The status texts and the error reset run even when the state already was Connecting.
    void setConnecting();
    void setDisconnected();
    void setDisconnecting();
    // Called once per countdown tick of a reconnect series.
    void setReconnecting(int attempt, int maxAttempts, int countdownSeconds);
    void setReconnectInfo(int attempt, int maxAttempts, int countdownSeconds);
    // An empty detailed text repeats the simple one.
    void setStatus(const QString& simple, const QString& detailed = QString());
    void setStartingServer();
    void setBroadcasting(bool broadcasting);
    void setAutoReconnectEnabled(bool enabled);
    void setReconnectInterval(int seconds);
    void setReconnectMaxAttempts(int maxAttempts);
    void setLoggingIn(bool loggingIn);
    void setCurrentSong(const QString& song);

    // An empty text clears the error (as clearError), so hasError always tells the truth.
    void setError(const QString& error);
    void clearError();

    // availableChannelsCountChanged goes out on every call.
    void setAccountInfo(const OndaroAccount& account);
    void clearAccountInfo();
    void setSelectedChannel(const QString& channelId);

    void setServerStats(const ServerStats& stats);
    // serverOnlineChanged(false) goes out on every call, even when already offline.
    void setServerOffline(const QString& reason);

    void computeDerivedProperties();

Q_SIGNALS:
    void connectionStateChanged(AppState::ConnectionState state);
    void isConnectedChanged(bool connected);
    void isConnectingChanged(bool connecting);
    void isReconnectingChanged(bool reconnecting);
    void isDisconnectingChanged(bool disconnecting);
    void isBroadcastingChanged(bool broadcasting);
    void fieldsEditableChanged(bool editable);
    void connectButtonEnabledChanged(bool enabled);
    void connectButtonTextChanged(const QString& text);
    void connectButtonIconChanged(const QString& icon);
    void connectButtonQssPropertyChanged(const QString& qssProperty);
    void connectButtonShadowColorChanged(const QString& shadowColor);
    void simpleStatusChanged(const QString& status);
    void detailedStatusChanged(const QString& status);
    void autoReconnectEnabledChanged(bool enabled);
    void reconnectIntervalChanged(int interval);
    void reconnectAttemptChanged(int attempt);
    void reconnectMaxAttemptsChanged(int maxAttempts);
    void reconnectCountdownChanged(int countdown);
    void lastErrorChanged(const QString& error);
    void hasErrorChanged(bool hasError);
    void isLoggedInChanged(bool loggedIn);
    void isLoggingInChanged(bool loggingIn);
    void accountNameChanged(const QString& name);
    void accountEmailChanged(const QString& email);
    void selectedChannelIdChanged(const QString& channelId);
    void selectedChannelNameChanged(const QString& channelName);
    void maxBitrateChanged(int maxBitrate);
    void maxListenersChanged(int maxListeners);
    void availableChannelsCountChanged(int count);
    void serverOnlineChanged(bool online);
    void serverBroadcastActiveChanged(bool active);
    void currentListenersChanged(int listeners);
    void currentSongChanged(const QString& song);
    void serverStatusTextChanged(const QString& statusText);

public Q_SLOTS:
    void updateDerivedProperties();

private:
    enum class LogStyle { OldAndNew, NewOnly, Silent };

    // Stores, logs "<name> changed:" and emits when the value differs; true when it did.
    template <typename T, typename Signal>
    bool change(T& field, const T& value, const char* name, Signal signal,
                LogStyle style = LogStyle::OldAndNew);
    void setLoggedIn(bool loggedIn);

    ConnectionState m_connectionState = Disconnected;
    bool m_isBroadcasting = false;
    bool m_fieldsEditable = true;
    bool m_connectButtonEnabled = true;
    QString m_connectButtonText = QStringLiteral("Go Live");
    QString m_connectButtonIcon;
    QString m_connectButtonQssProperty;
    QString m_connectButtonShadowColor;
    QString m_simpleStatus = QStringLiteral("Disconnected");
    QString m_detailedStatus = QStringLiteral("Disconnected");
    bool m_autoReconnectEnabled = true;
    int m_reconnectInterval = 5;
    int m_reconnectAttempt = 0;
    int m_reconnectMaxAttempts = 10;
    int m_reconnectCountdown = 0;
    QString m_lastError;
    bool m_isLoggedIn = false;
    bool m_isLoggingIn = false;
    QString m_accountName;
    QString m_accountEmail;
    QString m_selectedChannelId;
    QString m_selectedChannelName;
    int m_maxBitrate = kDefaultMaxBitrateKbps;
    int m_maxListeners = 0;
    bool m_serverOnline = false;
    bool m_serverBroadcastActive = false;
    int m_currentListeners = 0;
    QString m_currentSong;
    QString m_serverStatusText = QStringLiteral("Server status unknown");

    OndaroAccount m_account;
    QList<OndaroChannel> m_availableChannels;
};
