// The cloud client against the stand-in service over real HTTPS, its certificate trusted through
// the environment: every way an account, start or statistics request can end, and the three kinds
// in flight at once on one client, as the main window uses it (a statistics poll must not cancel
// a pending start or account refresh; each request ends in one signal, by its answer or timeout).
#include <QtTest>

#include <memory>

#include "cloud/ondaro_api_client.h"
#include "dev_cloud_server.h"
#include "log_capture.h"
#include "managed_process.h"

namespace {

const QString kSourcePassword = QStringLiteral("Zq81-channel-source-pass");
const QString kHtmlPage =
    QStringLiteral("<html><body><h1>500 Internal Server Error</h1></body></html>");
const QJsonObject kStall{{"stall", true}};

// A client and every signal it sends, recorded.
struct Client {
    OndaroApiClient api;
    QSignalSpy account{&api, &OndaroApiClient::accountInfoReceived};
    QSignalSpy accountFailed{&api, &OndaroApiClient::errorOccurred};
    QSignalSpy started{&api, &OndaroApiClient::serverStarted};
    QSignalSpy startFailed{&api, &OndaroApiClient::serverStartError};
    QSignalSpy stats{&api, &OndaroApiClient::serverStatsReceived};
    QSignalSpy statsFailed{&api, &OndaroApiClient::serverStatsError};
};

QString parserText(const QByteArray& body) {
    QJsonParseError error;
    QJsonDocument::fromJson(body, &error);
    return error.errorString();
}

}  // namespace

class TestCloudApiClient : public QObject {
    Q_OBJECT

    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<DevCloudServer> m_cloud;
    QString m_token;
    QString m_stoppedToken;
    QString m_demoToken;

    QJsonObject fault(const QJsonObject& accountInfo) { return {{"account_info", accountInfo}}; }

    void pollStats(OndaroApiClient& client, const QString& token, int timeoutMs = 8000) {
        client.fetchServerStats(QStringLiteral("127.0.0.1"), m_cloud->streamingPort(token),
                                QStringLiteral("/live"), token, timeoutMs);
    }

private Q_SLOTS:
    void initTestCase() {
        // After QtTest installed its own handler, which it would otherwise put in place of ours.
        m_log = std::make_unique<LogCapture>();
        m_cloud = std::make_unique<DevCloudServer>();
        DevCloudServer::Account account;
        account.channels = {{QStringLiteral("/live"), kSourcePassword},
                            {QStringLiteral("/second"), kSourcePassword + QLatin1Char('2')}};
        m_token = m_cloud->addAccount(account);
        DevCloudServer::Account stopped;
        stopped.email = QStringLiteral("stopped@example.com");
        stopped.running = false;
        m_stoppedToken = m_cloud->addAccount(stopped);
        QString error;
        QVERIFY2(m_cloud->start(&error), qPrintable(error));
        m_cloud->exportEnvironment();
    }

    void init() {
        QVERIFY(m_cloud->setFaults(m_token, {}));
        QVERIFY(m_cloud->setFaults(m_stoppedToken, {}));
    }

    // Cases that point the client elsewhere leave the stand-in's address and certificate behind.
    void cleanup() { m_cloud->exportEnvironment(); }

    void accountInfoArrivesOverHttps() {
        Client client;
        QCOMPARE(client.api.endpoint().baseUrl.toString(), m_cloud->apiUrl());
        client.api.fetchAccountInfo(m_token);
        QTRY_COMPARE_WITH_TIMEOUT(client.account.count(), 1, 10000);
        QCOMPARE(client.accountFailed.count(), 0);
        const auto account = client.account.first().first().value<OndaroAccount>();
        QCOMPARE(account.email, QStringLiteral("dj@example.com"));
        QCOMPARE(account.streamingServerPort, int(m_cloud->streamingPort(m_token)));
        QCOMPARE(account.streamingServerReady, 1);
        QCOMPARE(account.channels.size(), 2);
        QCOMPARE(account.channels[0].streamingServerPassword, kSourcePassword);
        QCOMPARE(account.subscription.bitrate, 192);

        // 202 is a success too.
        QVERIFY(m_cloud->setFaults(m_token, fault({{"status", 202}})));
        client.api.fetchAccountInfo(m_token);
        QTRY_COMPARE_WITH_TIMEOUT(client.account.count(), 2, 10000);
        QCOMPARE(client.accountFailed.count(), 0);
        QCOMPARE(client.account.last().first().value<OndaroAccount>().name,
                 QStringLiteral("Test Radio"));
    }

    void accountFailures_data() {
        QTest::addColumn<QString>("token");
        QTest::addColumn<QJsonObject>("faults");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("code");
        const auto row = [this](const char* name, int status, const QJsonObject& more,
                                const QString& message) {
            QJsonObject f = more;
            f.insert("status", status);
            QTest::newRow(name) << m_token << fault(f) << message << status;
        };
        QTest::newRow("401 unknown token")
            << QStringLiteral("00000000-0000-4000-8000-000000000000") << QJsonObject()
            << "Invalid or missing token. Please check your Private Token and try again." << 401;
        row("403 with message", 403, {{"message", "Payment overdue"}},
            "Account suspended: Payment overdue");
        row("403 without message", 403, {}, "Access forbidden. Please check your account status.");
        row("404", 404, {}, "Resource not found. Please contact support.");
        row("418 with message", 418, {{"message", "Short and stout"}}, "Short and stout");
        row("418 without message", 418, {}, "Server error (HTTP 418)");
        row("500 HTML", 500, {{"body", kHtmlPage}},
            "Failed to parse server response: " + parserText(kHtmlPage.toUtf8()));
        row("503", 503, {},
            "Ondaro Cloud is currently down for maintenance. Please try again later.");
        row("200 empty object", 200, {{"body", "{}"}},
            "Received incomplete account information from server");
        row("200 malformed", 200, {{"body", "{\"name\": \"x\","}},
            "Failed to parse server response: " + parserText("{\"name\": \"x\","));
        row("200 array", 200, {{"body", "[1, 2]"}}, "Invalid server response format");
    }

    void accountFailures() {
        QFETCH(QString, token);
        QFETCH(QJsonObject, faults);
        QFETCH(QString, message);
        QFETCH(int, code);
        QVERIFY(m_cloud->setFaults(m_token, faults));
        Client client;
        client.api.fetchAccountInfo(token);
        QTRY_COMPARE_WITH_TIMEOUT(client.accountFailed.count(), 1, 10000);
        QCOMPARE(client.accountFailed.first(), (QVariantList{message, code}));
        QCOMPARE(client.account.count(), 0);
    }

    void secondAccountRequestReplacesFirst() {
        Client client;
        // The first would fail with 401; replaced at once, it must stay silent.
        client.api.fetchAccountInfo(QStringLiteral("not-a-known-token"));
        client.api.fetchAccountInfo(m_token);
        QTRY_COMPARE_WITH_TIMEOUT(client.account.count(), 1, 10000);
        QTest::qWait(500);
        QCOMPARE(client.account.count(), 1);
        QCOMPARE(client.accountFailed.count(), 0);
    }

    void serverStart_data() {
        QTest::addColumn<QJsonObject>("startFault");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("code");
        const auto row = [](const char* name, int status, const QJsonObject& more,
                            const QString& message) {
            QJsonObject f = more;
            f.insert("status", status);
            QTest::newRow(name) << QJsonObject{{"server_start", f}} << message << status;
        };
        row("406 without message", 406, {}, "Server already running");
        row("406 with message", 406, {{"message", "Busy booting"}}, "Busy booting");
        row("200 success false", 200, {{"body", "{\"success\":false}"}},
            "Failed to start server (HTTP 200)");
        row("200 success absent with message", 200,
            {{"body", "{\"error\":{\"message\":\"Quota reached\"}}"}}, "Quota reached");
        row("500 HTML", 500, {{"body", kHtmlPage}},
            "Failed to parse server response: " + parserText(kHtmlPage.toUtf8()));
    }

    void serverStart() {
        QFETCH(QJsonObject, startFault);
        QFETCH(QString, message);
        QFETCH(int, code);
        QVERIFY(m_cloud->setFaults(m_stoppedToken, startFault));
        Client client;
        client.api.startServer(m_stoppedToken);
        QTRY_COMPARE_WITH_TIMEOUT(client.startFailed.count(), 1, 10000);
        QCOMPARE(client.startFailed.first(), (QVariantList{message, code}));
        QCOMPARE(client.started.count(), 0);
    }

    // Last of the start cases: it really starts the stopped server.
    void serverStartsThenReportsAlreadyRunning() {
        const quint16 port = m_cloud->streamingPort(m_stoppedToken);
        QVERIFY(!testsupport::waitForTcpPort(port, 200));
        Client client;
        client.api.startServer(m_stoppedToken);
        QTRY_COMPARE_WITH_TIMEOUT(client.started.count(), 1, 10000);
        QVERIFY(testsupport::waitForTcpPort(port, 5000));

        client.api.startServer(m_stoppedToken);
        QTRY_COMPARE_WITH_TIMEOUT(client.startFailed.count(), 1, 10000);
        QCOMPARE(client.startFailed.first().at(1).toInt(), 406);
        QCOMPARE(client.started.count(), 1);
        QVERIFY(m_cloud->setServerRunning(m_stoppedToken, false));
        QVERIFY(!testsupport::waitForTcpPort(port, 200));
    }

    void statsFailures_data() {
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QJsonObject>("statsFault");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, const QJsonObject& f, const QString& message) {
            QTest::newRow(name) << false << QString() << QJsonObject{{"stats", f}} << message;
        };
        QTest::newRow("401") << false << "wrong-password" << QJsonObject()
                             << "Authentication failed (invalid credentials)";
        QTest::newRow("connection refused") << true << QString() << QJsonObject()
                                            << "Server offline or unreachable: Connection refused";
        row("array too small", {{"body", "[{}]"}},
            "Invalid stats response format (array too small)");
        row("not an array", {{"body", "{\"listeners\": 1}"}},
            "Invalid stats response format (not an array)");
        row("malformed", {{"body", "[{}, {"}},
            "Failed to parse stats response: " + parserText("[{}, {"));
        row("202", {{"status", 202}, {"body", "[{}, {}]"}}, "Server returned HTTP 202");
    }

    void statsFailures() {
        QFETCH(bool, stopped);
        QFETCH(QString, password);
        QFETCH(QJsonObject, statsFault);
        QFETCH(QString, message);
        const QString token = stopped ? m_stoppedToken : m_token;
        QVERIFY(m_cloud->setFaults(token, statsFault));
        Client client;
        client.api.fetchServerStats(QStringLiteral("127.0.0.1"), m_cloud->streamingPort(token),
                                    QStringLiteral("/live"), password.isEmpty() ? token : password,
                                    8000);
        QTRY_COMPARE_WITH_TIMEOUT(client.statsFailed.count(), 1, 10000);
        QCOMPARE(client.statsFailed.first().first().toString(), message);
        QCOMPARE(client.stats.count(), 0);
    }

    void unreachableServiceIsANetworkError() {
        qputenv("ONDARO_API_URL",
                QStringLiteral("https://127.0.0.1:%1").arg(testsupport::freePort()).toUtf8());
        Client client;
        client.api.fetchAccountInfo(m_token);
        client.api.startServer(m_token);
        QTRY_COMPARE_WITH_TIMEOUT(client.accountFailed.count(), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(client.startFailed.count(), 1, 10000);
        const QVariantList refused{QStringLiteral("Network error: Connection refused"), 0};
        QCOMPARE(client.accountFailed.first(), refused);
        QCOMPARE(client.startFailed.first().first(), refused.first());
    }

    void untrustedCertificateIsRefused() {
        qunsetenv("ONDARO_CA_CERTS");
        Client client;
        client.api.fetchAccountInfo(m_token);
        QTRY_COMPARE_WITH_TIMEOUT(client.accountFailed.count(), 1, 10000);
        const QString error = client.accountFailed.first().at(0).toString();
        QVERIFY2(error.startsWith(QStringLiteral("Network error: SSL")), qPrintable(error));
        QCOMPARE(client.account.count(), 0);
    }

    // The README's demo: one generated account whose token is printed, served as it was written.
    void demoAccountIsWrittenOnceAndServed() {
        QTemporaryDir dir;
        const QString accounts = dir.path() + QStringLiteral("/accounts.json");
        const quint16 streamingPort = testsupport::freePort();
        const QString tls = dir.path() + QStringLiteral("/tls");
        // Writes the accounts once; prints the demo token each time.
        const auto prepare = [&] {
            QProcess run;
            run.start(DevCloudServer::executable(),
                      {QStringLiteral("--accounts"), accounts, QStringLiteral("--create-demo"),
                       QStringLiteral("--no-serve"), QStringLiteral("--demo-streaming-port"),
                       QString::number(streamingPort), QStringLiteral("--cert-dir"), tls});
            const bool ok = run.waitForFinished(30000) && run.exitCode() == 0;
            return ok ? QRegularExpression(QStringLiteral("private token: (\\S+)"))
                            .match(QString::fromUtf8(run.readAllStandardOutput()))
                            .captured(1)
                      : QString();
        };
        const QString token = prepare();
        QVERIFY(!QUuid::fromString(token).isNull());
        QCOMPARE(QFile::permissions(accounts) & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
                 QFileDevice::Permissions());
        QCOMPARE(prepare(), token);

        ManagedProcess serving;
        QVERIFY(serving.start(DevCloudServer::executable(),
                              {QStringLiteral("--accounts"), accounts, QStringLiteral("--api-port"),
                               QStringLiteral("0"), QStringLiteral("--cert-dir"), tls}));
        QTRY_VERIFY_WITH_TIMEOUT(serving.output().contains(QStringLiteral("ready")), 10000);
        const auto env =
            QRegularExpression(QStringLiteral("ONDARO_API_URL=(\\S+) ONDARO_CA_CERTS=(\\S+)"))
                .match(serving.output());
        QVERIFY(env.hasMatch());
        qputenv("ONDARO_API_URL", env.captured(1).toUtf8());
        qputenv("ONDARO_CA_CERTS", env.captured(2).toUtf8());
        Client client;
        client.api.fetchAccountInfo(token);
        QTRY_COMPARE_WITH_TIMEOUT(client.account.count(), 1, 10000);
        const auto account = client.account.first().first().value<OndaroAccount>();
        QCOMPARE(account.email, QStringLiteral("demo@localhost"));
        QCOMPARE(account.streamingServerPort, int(streamingPort));
        QCOMPARE(account.channels.value(0).streamingServerMountpoint, QStringLiteral("/live"));
        m_demoToken = token;
    }

    // A start that answers late while the statistics are polled every half second: exactly one
    // serverStarted, whatever the polls do.
    void pollsDoNotCancelAPendingStart() {
        QVERIFY(m_cloud->setFaults(m_stoppedToken,
                                   {{"server_start", QJsonObject{{"delay_ms", 2500}}}}));
        Client client;
        client.api.startServer(m_stoppedToken);
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] { pollStats(client.api, m_stoppedToken); });
        poll.start(500);
        QTRY_COMPARE_WITH_TIMEOUT(client.started.count(), 1, 10000);
        poll.stop();
        QTest::qWait(500);
        QCOMPARE(client.started.count(), 1);
        QCOMPARE(client.startFailed.count(), 0);
        QVERIFY(m_cloud->setServerRunning(m_stoppedToken, false));
    }

    // Nothing ever answers: the start gives up after 15 s, the account request after 20 s, the
    // last statistics poll 8 s after it was sent, each once and with its own message.
    void everyKindTimesOutOnItsOwn() {
        QVERIFY(m_cloud->setFaults(
            m_token, {{"account_info", kStall}, {"server_start", kStall}, {"stats", kStall}}));
        Client client;
        QElapsedTimer clock;
        clock.start();
        client.api.startServer(m_token);
        client.api.fetchAccountInfo(m_token);
        // Each poll replaces the previous one silently, so none of them times out meanwhile.
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] { pollStats(client.api, m_token); });
        pollStats(client.api, m_token);
        poll.start(2000);

        QTRY_COMPARE_WITH_TIMEOUT(client.startFailed.count(), 1, 18000);
        poll.stop();
        QCOMPARE(client.statsFailed.count(), 0);
        QCOMPARE(client.accountFailed.count(), 0);
        QCOMPARE(client.startFailed.first(),
                 (QVariantList{QStringLiteral("Request timeout. The server may be slow to "
                                              "respond or offline."),
                               0}));
        QVERIFY(clock.elapsed() >= OndaroApiClient::kStartServerTimeoutMs - 100);

        QTRY_COMPARE_WITH_TIMEOUT(client.accountFailed.count(), 1, 8000);
        QCOMPARE(client.accountFailed.first(),
                 (QVariantList{QStringLiteral("Request timeout. Please check your internet "
                                              "connection and try again."),
                               0}));
        QTRY_COMPARE_WITH_TIMEOUT(client.statsFailed.count(), 1, 8000);
        QCOMPARE(client.statsFailed.first().first().toString(),
                 QStringLiteral("Server stats request timeout (server may be offline)"));

        QTest::qWait(300);
        QCOMPARE(client.startFailed.count() + client.accountFailed.count() +
                     client.statsFailed.count(),
                 3);
        QCOMPARE(client.started.count(), 0);

        // Cancelled instead, the same three end silently.
        Client cancelled;
        cancelled.api.startServer(m_token);
        cancelled.api.fetchAccountInfo(m_token);
        pollStats(cancelled.api, m_token, 300);
        QTest::qWait(100);
        cancelled.api.cancelPendingRequest();
        QTest::qWait(600);
        QCOMPARE(cancelled.startFailed.count() + cancelled.accountFailed.count() +
                     cancelled.statsFailed.count(),
                 0);
    }

    // Runs last: everything above went through the log.
    void noSecretInAnyLogLine() {
        const QStringList secrets{m_token, m_stoppedToken, kSourcePassword, m_demoToken,
                                  QStringLiteral("hackme")};
        QVERIFY(m_log->lines().size() > 20);
        QVERIFY(!m_log->linesContaining({QStringLiteral("Response data:")}).isEmpty());
        const QStringList leaks = m_log->linesContaining(secrets, m_cloud->output());
        QVERIFY2(leaks.isEmpty(), qPrintable(leaks.join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(TestCloudApiClient)
#include "test_cloud_api_client.moc"
