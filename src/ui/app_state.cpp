#include "ui/app_state.h"

#include "core/log_categories.h"

namespace {

const QString kServerOffline = QStringLiteral("Server Offline");

struct ButtonLook {
    const char* text;
    const char* icon;
    const char* qssProperty;
    const char* shadowColor;
    bool enabled;
};

constexpr ButtonLook kLoginRequired{"Login Required", ":/icons/radio.svg", "", "#6B7280", false};
constexpr ButtonLook kConnecting{"Connecting...", ":/icons/spinner.svg", "connecting", "#F59E0B",
                                 false};
constexpr ButtonLook kCancelReconnect{"Cancel", ":/icons/radio.svg", "reconnecting", "#F97316",
                                      true};
constexpr ButtonLook kDisconnect{"Disconnect", ":/icons/power.svg", "broadcasting", "#EF4444",
                                 true};
constexpr ButtonLook kStartingServer{"Starting Server...", ":/icons/spinner.svg", "connecting",
                                     "#F59E0B", false};
constexpr ButtonLook kGoLive{"Go Live", ":/icons/radio.svg", "", "#10B981", true};

}  // namespace

AppState::AppState(QObject* parent) : QObject(parent) {
    connect(this, &AppState::connectionStateChanged, this, &AppState::updateDerivedProperties);
    connect(this, &AppState::isBroadcastingChanged, this, &AppState::updateDerivedProperties);
    connect(this, &AppState::isReconnectingChanged, this, &AppState::updateDerivedProperties);
    connect(this, &AppState::isLoggedInChanged, this, &AppState::updateDerivedProperties);

    qCDebug(lcAppState) << "Initializing with initial values:";
    qCDebug(lcAppState) << "  connectionState:" << static_cast<int>(m_connectionState);
    qCDebug(lcAppState) << "  isBroadcasting:" << m_isBroadcasting;
    qCDebug(lcAppState) << "  fieldsEditable:" << m_fieldsEditable;
    qCDebug(lcAppState) << "  connectButtonEnabled:" << m_connectButtonEnabled;
    qCDebug(lcAppState) << "  connectButtonText:" << m_connectButtonText;
    qCDebug(lcAppState) << "  simpleStatus:" << m_simpleStatus;
    qCDebug(lcAppState) << "  detailedStatus:" << m_detailedStatus;
    qCDebug(lcAppState) << "  autoReconnectEnabled:" << m_autoReconnectEnabled;
    qCDebug(lcAppState) << "  reconnectInterval:" << m_reconnectInterval;
    qCDebug(lcAppState) << "  reconnectAttempt:" << m_reconnectAttempt;
    qCDebug(lcAppState) << "  reconnectMaxAttempts:" << m_reconnectMaxAttempts;
    qCDebug(lcAppState) << "  reconnectCountdown:" << m_reconnectCountdown;
    if (m_lastError.isEmpty()) {
        qCDebug(lcAppState) << "  lastError:"
                            << "(empty)";
    } else {
        qCDebug(lcAppState) << "  lastError:" << m_lastError;
    }
    // A fresh state already shows "Login Required", before anybody can connect to it.
    computeDerivedProperties();
}

template <typename T, typename Signal>
bool AppState::change(T& field, const T& value, const char* name, Signal signal, LogStyle style) {
    if (field == value) return false;
    const T old = field;
    field = value;
    if (style == LogStyle::OldAndNew) {
        qCDebug(lcAppState) << name << "changed:" << old << "->" << value;
    } else if (style == LogStyle::NewOnly) {
        qCDebug(lcAppState) << name << "changed:" << value;
    }
    Q_EMIT(this->*signal)(value);
    return true;
}

OndaroChannel AppState::selectedChannel() const {
    for (const OndaroChannel& channel : m_availableChannels) {
        if (channel.id == m_selectedChannelId) return channel;
    }
    return OndaroChannel();
}

void AppState::setConnectionState(ConnectionState state) {
    if (state == m_connectionState) return;
    const bool wasConnected = isConnected();
    const bool wasConnecting = isConnecting();
    const bool wasReconnecting = isReconnecting();
    const bool wasDisconnecting = isDisconnecting();
    const ConnectionState old = m_connectionState;
    m_connectionState = state;
    qCDebug(lcAppState) << "connectionState changed:" << static_cast<int>(old) << "->"
                        << static_cast<int>(state);
    if (wasConnected != isConnected()) Q_EMIT isConnectedChanged(isConnected());
    if (wasConnecting != isConnecting()) Q_EMIT isConnectingChanged(isConnecting());
    if (wasReconnecting != isReconnecting()) Q_EMIT isReconnectingChanged(isReconnecting());
    if (wasDisconnecting != isDisconnecting()) Q_EMIT isDisconnectingChanged(isDisconnecting());
    Q_EMIT connectionStateChanged(state);
}

void AppState::setConnecting() {
    setConnectionState(Connecting);
    setStatus(QStringLiteral("Connecting"), QStringLiteral("Connecting..."));
    clearError();
}

void AppState::setDisconnected() {
    setConnectionState(Disconnected);
    setStatus(QStringLiteral("Disconnected"), QStringLiteral("Disconnected"));
    setBroadcasting(false);
}

void AppState::setDisconnecting() {
    setConnectionState(Disconnecting);
    setStatus(QStringLiteral("Disconnecting"), QStringLiteral("Disconnecting..."));
}

void AppState::setReconnecting(int attempt, int maxAttempts, int countdownSeconds) {
    setConnectionState(Reconnecting);
    setReconnectInfo(attempt, maxAttempts, countdownSeconds);
    if (countdownSeconds >= 1) {
        setStatus(QStringLiteral("Reconnecting in %1s (%2/%3)")
                      .arg(countdownSeconds)
                      .arg(attempt)
                      .arg(maxAttempts),
                  QStringLiteral("Disconnected - Reconnecting in %1 seconds... (attempt %2/%3)")
                      .arg(countdownSeconds)
                      .arg(attempt)
                      .arg(maxAttempts));
    } else {
        setStatus(QStringLiteral("Reconnecting... (%1/%2)").arg(attempt).arg(maxAttempts),
                  QStringLiteral("Reconnecting... (attempt %1/%2)").arg(attempt).arg(maxAttempts));
    }
}

void AppState::setReconnectInfo(int attempt, int maxAttempts, int countdownSeconds) {
    bool changed =
        change(m_reconnectAttempt, attempt, "reconnectAttempt", &AppState::reconnectAttemptChanged);
    changed |= change(m_reconnectMaxAttempts, maxAttempts, "reconnectMaxAttempts",
                      &AppState::reconnectMaxAttemptsChanged);
    changed |= change(m_reconnectCountdown, countdownSeconds, "reconnectCountdown",
                      &AppState::reconnectCountdownChanged);
    if (changed) computeDerivedProperties();
}

void AppState::setStatus(const QString& simple, const QString& detailed) {
    bool changed = change(m_simpleStatus, simple, "simpleStatus", &AppState::simpleStatusChanged);
    changed |= change(m_detailedStatus, detailed.isEmpty() ? simple : detailed, "detailedStatus",
                      &AppState::detailedStatusChanged);
    if (changed) computeDerivedProperties();
}

void AppState::setStartingServer() {
    setStatus(QStringLiteral("Starting Server..."),
              QStringLiteral("Starting the Ondaro server..."));
}

void AppState::setBroadcasting(bool broadcasting) {
    change(m_isBroadcasting, broadcasting, "isBroadcasting", &AppState::isBroadcastingChanged);
}

void AppState::setAutoReconnectEnabled(bool enabled) {
    change(m_autoReconnectEnabled, enabled, "autoReconnectEnabled",
           &AppState::autoReconnectEnabledChanged);
}

void AppState::setReconnectInterval(int seconds) {
    change(m_reconnectInterval, seconds, "reconnectInterval", &AppState::reconnectIntervalChanged);
}

void AppState::setReconnectMaxAttempts(int maxAttempts) {
    change(m_reconnectMaxAttempts, maxAttempts, "reconnectMaxAttempts",
           &AppState::reconnectMaxAttemptsChanged);
}

void AppState::setLoggingIn(bool loggingIn) {
    change(m_isLoggingIn, loggingIn, "isLoggingIn", &AppState::isLoggingInChanged);
}

void AppState::setCurrentSong(const QString& song) {
    change(m_currentSong, song, "currentSong", &AppState::currentSongChanged);
}

void AppState::setError(const QString& error) {
    if (error.isEmpty()) {
        clearError();
        return;
    }
    if (error == m_lastError) return;
    const bool hadError = hasError();
    if (hadError) {
        qCDebug(lcAppState) << "lastError changed:" << m_lastError << "->" << error;
    } else {
        qCDebug(lcAppState) << "lastError changed:"
                            << "(empty)"
                            << "->" << error;
    }
    m_lastError = error;
    Q_EMIT lastErrorChanged(m_lastError);
    if (!hadError) Q_EMIT hasErrorChanged(true);
}

void AppState::clearError() {
    if (m_lastError.isEmpty()) return;
    qCDebug(lcAppState) << "lastError cleared:" << m_lastError << "-> (empty)";
    m_lastError.clear();
    Q_EMIT lastErrorChanged(m_lastError);
    Q_EMIT hasErrorChanged(false);
}

void AppState::setLoggedIn(bool loggedIn) {
    change(m_isLoggedIn, loggedIn, "isLoggedIn", &AppState::isLoggedInChanged);
}

void AppState::setAccountInfo(const OndaroAccount& account) {
    m_account = account;
    m_availableChannels = account.channels;
    change(m_accountName, account.name, "accountName", &AppState::accountNameChanged,
           LogStyle::NewOnly);
    change(m_accountEmail, account.email, "accountEmail", &AppState::accountEmailChanged,
           LogStyle::NewOnly);
    change(m_maxBitrate, account.subscription.bitrate, "maxBitrate", &AppState::maxBitrateChanged,
           LogStyle::NewOnly);
    change(m_maxListeners, account.subscription.listenersSlots, "maxListeners",
           &AppState::maxListenersChanged, LogStyle::NewOnly);
    Q_EMIT availableChannelsCountChanged(availableChannelsCount());
    setLoggedIn(true);
    qCInfo(lcAppState) << "Account info set for" << account.email << "with"
                       << availableChannelsCount() << "channels";
}

void AppState::clearAccountInfo() {
    m_account = OndaroAccount();
    m_availableChannels.clear();
    // Observers of the selected channel learn about the reset like any other change.
    change(m_selectedChannelId, QString(), "selectedChannelId", &AppState::selectedChannelIdChanged,
           LogStyle::NewOnly);
    change(m_accountName, QString(), "accountName", &AppState::accountNameChanged,
           LogStyle::NewOnly);
    change(m_accountEmail, QString(), "accountEmail", &AppState::accountEmailChanged,
           LogStyle::NewOnly);
    change(m_selectedChannelName, QString(), "selectedChannelName",
           &AppState::selectedChannelNameChanged, LogStyle::NewOnly);
    change(m_maxBitrate, int(kDefaultMaxBitrateKbps), "maxBitrate", &AppState::maxBitrateChanged,
           LogStyle::NewOnly);
    change(m_maxListeners, 0, "maxListeners", &AppState::maxListenersChanged, LogStyle::NewOnly);
    Q_EMIT availableChannelsCountChanged(0);
    setLoggedIn(false);
    qCInfo(lcAppState) << "Account info cleared (logged out)";
}

void AppState::setSelectedChannel(const QString& channelId) {
    if (channelId == m_selectedChannelId) return;
    m_selectedChannelId = channelId;
    change(m_selectedChannelName, selectedChannel().name, "selectedChannelName",
           &AppState::selectedChannelNameChanged, LogStyle::NewOnly);
    qCDebug(lcAppState) << "selectedChannelId changed:" << channelId;
    Q_EMIT selectedChannelIdChanged(channelId);
}

void AppState::setServerStats(const ServerStats& stats) {
    bool changed = change(m_serverOnline, stats.isOnline, "serverOnline",
                          &AppState::serverOnlineChanged, LogStyle::NewOnly);
    changed |= change(m_serverBroadcastActive, stats.isBroadcastActive, "serverBroadcastActive",
                      &AppState::serverBroadcastActiveChanged, LogStyle::NewOnly);
    changed |= change(m_currentListeners, stats.currentListeners, "currentListeners",
                      &AppState::currentListenersChanged, LogStyle::NewOnly);

    QString text;
    if (!stats.isOnline) {
        text = kServerOffline;
    } else if (!stats.isBroadcastActive) {
        text = QStringLiteral("Server Online | Not Broadcasting");
    } else if (stats.currentListeners > 0) {
        text = QStringLiteral("Server Online | Broadcasting | %1 listener%2")
                   .arg(stats.currentListeners)
                   .arg(stats.currentListeners == 1 ? QString() : QStringLiteral("s"));
    } else {
        text = QStringLiteral("Server Online | Broadcasting | 0 listeners");
    }
    changed |= change(m_serverStatusText, text, "serverStatusText",
                      &AppState::serverStatusTextChanged, LogStyle::NewOnly);

    if (changed) {
        qCDebug(lcAppState) << "Server stats updated - Online:" << m_serverOnline
                            << "Active:" << m_serverBroadcastActive
                            << "Listeners:" << m_currentListeners;
    }
}

void AppState::setServerOffline(const QString& reason) {
    bool changed = false;
    if (m_serverOnline) {
        m_serverOnline = false;
        qCDebug(lcAppState) << "serverOnline changed: true -> false";
        changed = true;
    }
    Q_EMIT serverOnlineChanged(false);
    if (m_serverBroadcastActive) {
        m_serverBroadcastActive = false;
        qCDebug(lcAppState) << "serverBroadcastActive changed: true -> false";
        Q_EMIT serverBroadcastActiveChanged(false);
        changed = true;
    }
    if (m_currentListeners != 0) {
        qCDebug(lcAppState) << "currentListeners changed:" << m_currentListeners << "-> 0";
        m_currentListeners = 0;
        Q_EMIT currentListenersChanged(0);
        changed = true;
    }
    if (m_serverStatusText != kServerOffline) {
        m_serverStatusText = kServerOffline;
        qCDebug(lcAppState) << "serverStatusText changed:" << m_serverStatusText;
        if (!reason.isEmpty()) qCDebug(lcAppState) << "Error details:" << reason;
        Q_EMIT serverStatusTextChanged(m_serverStatusText);
        changed = true;
    }
    if (changed) qCInfo(lcAppState) << "Server marked offline:" << reason;
}

void AppState::updateDerivedProperties() { computeDerivedProperties(); }

void AppState::computeDerivedProperties() {
    const ButtonLook* look = &kGoLive;
    if (!m_isLoggedIn) {
        look = &kLoginRequired;
    } else if (m_connectionState == Connecting) {
        look = &kConnecting;
    } else if (m_connectionState == Reconnecting) {
        look = &kCancelReconnect;
    } else if (m_connectionState == Connected) {
        look = &kDisconnect;
    } else if (m_simpleStatus.startsWith(QLatin1String("Starting Server"), Qt::CaseSensitive)) {
        look = &kStartingServer;
    }

    change(m_fieldsEditable, m_isLoggedIn && m_connectionState == Disconnected, "fieldsEditable",
           &AppState::fieldsEditableChanged);
    change(m_connectButtonEnabled, look->enabled, "connectButtonEnabled",
           &AppState::connectButtonEnabledChanged);
    change(m_connectButtonText, QString::fromLatin1(look->text), "connectButtonText",
           &AppState::connectButtonTextChanged);
    change(m_connectButtonIcon, QString::fromLatin1(look->icon), "connectButtonIcon",
           &AppState::connectButtonIconChanged, LogStyle::Silent);
    change(m_connectButtonQssProperty, QString::fromLatin1(look->qssProperty),
           "connectButtonQssProperty", &AppState::connectButtonQssPropertyChanged,
           LogStyle::Silent);
    change(m_connectButtonShadowColor, QString::fromLatin1(look->shadowColor),
           "connectButtonShadowColor", &AppState::connectButtonShadowColorChanged,
           LogStyle::Silent);
}
