#include <QtTest>

#include "cloud/ondaro_models.h"
#include "ui/app_state.h"
#include "log_capture.h"

namespace {

// Records the name of every signal the object emits, in the order observers see them.
class SignalLog : public QObject {
    Q_OBJECT

public:
    explicit SignalLog(QObject* source) {
        const QMetaObject* meta = source->metaObject();
        const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("record()"));
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QMetaMethod method = meta->method(i);
            if (method.methodType() == QMetaMethod::Signal) connect(source, method, this, slot);
        }
    }

    QStringList names;

    QStringList only(const QStringList& wanted) const {
        QStringList result;
        for (const QString& name : names) {
            if (wanted.contains(name)) result << name;
        }
        return result;
    }

public Q_SLOTS:
    void record() {
        names << QString::fromLatin1(sender()->metaObject()->method(senderSignalIndex()).name());
    }
};

OndaroAccount sampleAccount() {
    OndaroAccount account;
    account.name = QStringLiteral("Dee Jay");
    account.email = QStringLiteral("dj@example.com");
    account.publicToken = QStringLiteral("public-token-7f3a");
    account.subscription.bitrate = 96;
    account.subscription.listenersSlots = 250;
    OndaroChannel first;
    first.id = QStringLiteral("ch-1");
    first.name = QStringLiteral("Morning Show");
    first.streamingServerPassword = QStringLiteral("source-secret-1");
    OndaroChannel second;
    second.id = QStringLiteral("ch-2");
    second.name = QStringLiteral("Night Shift");
    account.channels = {first, second};
    return account;
}

ServerStats stats(bool online, bool active, int listeners) {
    ServerStats s;
    s.isOnline = online;
    s.isBroadcastActive = active;
    s.currentListeners = listeners;
    return s;
}

const QStringList kFlipSignals = {
    QStringLiteral("isConnectedChanged"), QStringLiteral("isConnectingChanged"),
    QStringLiteral("isReconnectingChanged"), QStringLiteral("isDisconnectingChanged"),
    QStringLiteral("connectionStateChanged")};

}  // namespace

class TestAppState : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every line the state could write, for the check that no secret reaches the log.
    void initTestCase() {
        QLoggingCategory::setFilterRules(QStringLiteral("APP_STATE.debug=true"));
    }

    // The first row that matches picks the button's look; its text names the look.
    void buttonFollowsTheFirstMatchingRow_data() {
        QTest::addColumn<bool>("loggedIn");
        QTest::addColumn<int>("connection");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("editable");
        const auto row = [](const char* name, bool loggedIn, AppState::ConnectionState connection,
                            const char* status, const char* text, bool enabled, bool editable) {
            QTest::newRow(name) << loggedIn << int(connection) << QString::fromUtf8(status)
                                << QString::fromUtf8(text) << enabled << editable;
        };
        row("logged out while connected", false, AppState::Connected, "Connected", "Login Required",
            false, false);
        row("connecting", true, AppState::Connecting, "Connecting", "Connecting...", false, false);
        row("reconnecting", true, AppState::Reconnecting, "x", "Cancel", true, false);
        row("connected", true, AppState::Connected, "Connected", "Disconnect", true, false);
        row("starting server", true, AppState::Disconnected, "Starting Server...",
            "Starting Server...", false, true);
        row("starting server while disconnecting", true, AppState::Disconnecting,
            "Starting Server now", "Starting Server...", false, false);
        row("status prefix is case-sensitive", true, AppState::Disconnected, "starting server...",
            "Go Live", true, true);
        row("disconnecting", true, AppState::Disconnecting, "Disconnecting", "Go Live", true,
            false);
        row("disconnected", true, AppState::Disconnected, "Disconnected", "Go Live", true, true);
    }

    void buttonFollowsTheFirstMatchingRow() {
        QFETCH(bool, loggedIn);
        QFETCH(int, connection);
        QFETCH(QString, status);
        AppState state;
        if (loggedIn) state.setAccountInfo(sampleAccount());
        state.setConnectionState(AppState::ConnectionState(connection));
        state.setStatus(status);
        QTEST(state.connectButtonText(), "text");
        QTEST(state.connectButtonEnabled(), "enabled");
        QTEST(state.fieldsEditable(), "editable");
    }

    void startingServerButtonReturnsWhenStatusMovesOn() {
        AppState state;
        state.setAccountInfo(sampleAccount());
        QSignalSpy textSpy(&state, &AppState::connectButtonTextChanged);
        state.setStartingServer();
        QCOMPARE(state.detailedStatus(), QStringLiteral("Starting the Ondaro server..."));
        QCOMPARE(state.connectButtonText(), QStringLiteral("Starting Server..."));
        state.setStatus(QStringLiteral("Server Started"));
        QCOMPARE(state.connectButtonText(), QStringLiteral("Go Live"));
        QCOMPARE(textSpy.size(), 2);
    }

    void connectionFlipsAreSignalledInOrder() {
        AppState state;
        state.setAccountInfo(sampleAccount());
        SignalLog log(&state);
        QSignalSpy connectedSpy(&state, &AppState::isConnectedChanged);
        QSignalSpy disconnectingSpy(&state, &AppState::isDisconnectingChanged);

        state.setConnectionState(AppState::Connected);
        QCOMPARE(log.only(kFlipSignals),
                 QStringList({"isConnectedChanged", "connectionStateChanged"}));
        QCOMPARE(connectedSpy.takeFirst().at(0).toBool(), true);

        log.names.clear();
        state.setConnectionState(AppState::Disconnecting);
        QCOMPARE(log.only(kFlipSignals),
                 QStringList(
                     {"isConnectedChanged", "isDisconnectingChanged", "connectionStateChanged"}));
        QCOMPARE(connectedSpy.takeFirst().at(0).toBool(), false);
        QCOMPARE(disconnectingSpy.takeFirst().at(0).toBool(), true);

        state.setConnectionState(AppState::Reconnecting);
        log.names.clear();
        state.setConnectionState(AppState::Connecting);
        QCOMPARE(log.only(kFlipSignals),
                 QStringList(
                     {"isConnectingChanged", "isReconnectingChanged", "connectionStateChanged"}));
        QVERIFY(state.isConnecting());
        QVERIFY(!state.isReconnecting());
    }

    void connectingTwiceStillResetsStatusAndError() {
        AppState state;
        state.setConnecting();
        state.setError(QStringLiteral("Connection failed: refused"));
        state.setStatus(QStringLiteral("Other"));
        QSignalSpy stateSpy(&state, &AppState::connectionStateChanged);
        QSignalSpy errorSpy(&state, &AppState::hasErrorChanged);
        state.setConnecting();
        QCOMPARE(stateSpy.size(), 0);
        QCOMPARE(errorSpy.size(), 1);
        QCOMPARE(errorSpy.first().at(0).toBool(), false);
        QCOMPARE(state.simpleStatus(), QStringLiteral("Connecting"));
        QCOMPARE(state.detailedStatus(), QStringLiteral("Connecting..."));
    }

    void reconnectTexts_data() {
        QTest::addColumn<int>("attempt");
        QTest::addColumn<int>("maxAttempts");
        QTest::addColumn<int>("countdown");
        QTest::addColumn<QString>("simple");
        QTest::addColumn<QString>("detailed");
        QTest::newRow("countdown") << 1 << 10 << 5 << "Reconnecting in 5s (1/10)"
                                   << "Disconnected - Reconnecting in 5 seconds... (attempt 1/10)";
        QTest::newRow("negative countdown") << 12 << 100 << -1 << "Reconnecting... (12/100)"
                                            << "Reconnecting... (attempt 12/100)";
    }

    void reconnectTexts() {
        QFETCH(int, attempt);
        QFETCH(int, maxAttempts);
        QFETCH(int, countdown);
        AppState state;
        state.setAccountInfo(sampleAccount());
        state.setReconnecting(attempt, maxAttempts, countdown);
        QTEST(state.simpleStatus(), "simple");
        QTEST(state.detailedStatus(), "detailed");
        QCOMPARE(state.connectButtonText(), QStringLiteral("Cancel"));
        QVERIFY(state.isReconnecting());
    }

    void serverStatusTexts_data() {
        QTest::addColumn<bool>("online");
        QTest::addColumn<bool>("active");
        QTest::addColumn<int>("listeners");
        QTest::addColumn<QString>("text");
        QTest::newRow("one listener")
            << true << true << 1 << "Server Online | Broadcasting | 1 listener";
        QTest::newRow("three listeners")
            << true << true << 3 << "Server Online | Broadcasting | 3 listeners";
        QTest::newRow("not broadcasting")
            << true << false << 0 << "Server Online | Not Broadcasting";
        QTest::newRow("offline") << false << false << 0 << "Server Offline";
    }

    void serverStatusTexts() {
        QFETCH(bool, online);
        QFETCH(bool, active);
        QFETCH(int, listeners);
        AppState state;
        QSignalSpy textSpy(&state, &AppState::serverStatusTextChanged);
        state.setServerStats(stats(online, active, listeners));
        QTEST(state.serverStatusText(), "text");
        QCOMPARE(textSpy.size(), 1);
    }

    // Offline signals every property it changes, and "online" even when it already was offline.
    void serverOfflineSignals() {
        AppState state;
        state.setServerStats(stats(true, true, 4));
        SignalLog log(&state);
        state.setServerOffline(QStringLiteral("timeout"));
        QCOMPARE(log.names, QStringList({"serverOnlineChanged", "serverBroadcastActiveChanged",
                                         "currentListenersChanged", "serverStatusTextChanged"}));
        QCOMPARE(state.serverStatusText(), QStringLiteral("Server Offline"));
        QCOMPARE(state.currentListeners(), 0);
        log.names.clear();
        state.setServerOffline(QStringLiteral("timeout"));
        QCOMPARE(log.names, QStringList({"serverOnlineChanged"}));
    }

    void unchangedValuesAreNotSignalled() {
        AppState state;
        state.setAccountInfo(sampleAccount());
        state.setSelectedChannel(QStringLiteral("ch-1"));
        state.setServerStats(stats(true, true, 2));
        state.setCurrentSong(QStringLiteral("Artist - Title"));
        state.setError(QStringLiteral("boom"));
        SignalLog log(&state);
        state.setConnectionState(AppState::Disconnected);
        state.setStatus(QStringLiteral("Disconnected"), QStringLiteral("Disconnected"));
        state.setStatus(QStringLiteral("Disconnected"));
        state.setBroadcasting(false);
        state.setAutoReconnectEnabled(true);
        state.setReconnectInterval(5);
        state.setReconnectMaxAttempts(10);
        state.setReconnectInfo(0, 10, 0);
        state.setLoggingIn(false);
        state.setCurrentSong(QStringLiteral("Artist - Title"));
        state.setError(QStringLiteral("boom"));
        state.setSelectedChannel(QStringLiteral("ch-1"));
        state.setServerStats(stats(true, true, 2));
        state.computeDerivedProperties();

        QCOMPARE(log.names, QStringList());
    }

    void errorsAreSignalledOncePerEdge() {
        AppState state;
        QSignalSpy hasErrorSpy(&state, &AppState::hasErrorChanged);
        QSignalSpy errorSpy(&state, &AppState::lastErrorChanged);
        state.setError(QStringLiteral("first"));
        state.setError(QStringLiteral("second"));
        QCOMPARE(hasErrorSpy.size(), 1);
        QCOMPARE(errorSpy.size(), 2);
        QVERIFY(state.hasError());

        // An empty text is a clear, so hasError and its signal never disagree.
        state.setError(QString());
        QVERIFY(!state.hasError());
        QCOMPARE(hasErrorSpy.size(), 2);
        QCOMPARE(hasErrorSpy.last().at(0).toBool(), false);
        QCOMPARE(errorSpy.last().at(0).toString(), QString());
    }

    void accountInfoDrivesLoginChannelsAndLimits() {
        LogCapture logs;
        AppState state;
        QSignalSpy countSpy(&state, &AppState::availableChannelsCountChanged);
        QSignalSpy loggedInSpy(&state, &AppState::isLoggedInChanged);

        state.setAccountInfo(sampleAccount());
        state.setAccountInfo(sampleAccount());
        QCOMPARE(countSpy.size(), 2);
        QCOMPARE(countSpy.last().at(0).toInt(), 2);
        QCOMPARE(loggedInSpy.size(), 1);
        QVERIFY(state.isLoggedIn());
        QCOMPARE(state.maxBitrate(), 96);
        QCOMPARE(state.maxListeners(), 250);
        QCOMPARE(state.connectButtonText(), QStringLiteral("Go Live"));
        QVERIFY(state.fieldsEditable());

        QSignalSpy nameSpy(&state, &AppState::selectedChannelNameChanged);
        state.setSelectedChannel(QStringLiteral("ch-2"));
        QCOMPARE(state.selectedChannelName(), QStringLiteral("Night Shift"));
        state.setSelectedChannel(QStringLiteral("gone"));
        QCOMPARE(state.selectedChannelName(), QString());
        QCOMPARE(state.selectedChannel().id, QString());
        QCOMPARE(nameSpy.size(), 2);
        state.setSelectedChannel(QStringLiteral("ch-1"));

        SignalLog log(&state);
        state.clearAccountInfo();
        QVERIFY(!state.isLoggedIn());
        QCOMPARE(state.accountName(), QString());
        QCOMPARE(state.selectedChannelId(), QString());
        QCOMPARE(state.selectedChannelName(), QString());
        QCOMPARE(state.maxBitrate(), 128);
        QCOMPARE(state.maxListeners(), 0);
        QCOMPARE(state.availableChannelsCount(), 0);
        QCOMPARE(state.connectButtonText(), QStringLiteral("Login Required"));
        QVERIFY(!state.fieldsEditable());
        for (const char* name :
             {"selectedChannelIdChanged", "accountNameChanged", "accountEmailChanged",
              "selectedChannelNameChanged", "maxBitrateChanged", "maxListenersChanged",
              "availableChannelsCountChanged", "isLoggedInChanged"}) {
            QVERIFY2(log.names.contains(QLatin1String(name)), name);
        }

        // Neither the account's public token nor a channel's source password reaches the log.
        QVERIFY(!logs.mentions(QStringLiteral("public-token-7f3a")));
        QVERIFY(!logs.mentions(QStringLiteral("source-secret-1")));
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "test_app_state.moc"
