// The cloud client's three kinds of request in flight at once on one client, as the main window
// uses it: a statistics poll must not cancel a pending server start or account refresh, and each
// request ends in exactly one signal, by its answer or by its own timeout.
#include <QElapsedTimer>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

#include "cloud/ondaro_api_client.h"
#include "dev_cloud_server.h"

namespace {
const QJsonObject kStall{{QStringLiteral("stall"), true}};
}  // namespace

class TestCloudTimeouts : public QObject {
    Q_OBJECT

    std::unique_ptr<DevCloudServer> m_cloud;
    QString m_token;
    QString m_stoppedToken;

    void pollStats(OndaroApiClient& client, const QString& token) {
        client.fetchServerStats(QStringLiteral("127.0.0.1"), m_cloud->streamingPort(token),
                                QStringLiteral("/live"), token, 8000);
    }

private Q_SLOTS:
    void initTestCase() {
        m_cloud = std::make_unique<DevCloudServer>();
        m_token = m_cloud->addAccount({});
        DevCloudServer::Account stopped;
        stopped.running = false;
        m_stoppedToken = m_cloud->addAccount(stopped);
        QString error;
        QVERIFY2(m_cloud->start(&error), qPrintable(error));
        m_cloud->exportEnvironment();
    }

    // A start that answers late while the statistics are polled every half second: exactly one
    // serverStarted, whatever the polls do.
    void pollsDoNotCancelAPendingStart() {
        QVERIFY(m_cloud->setFaults(
            m_stoppedToken,
            {{QStringLiteral("server_start"), QJsonObject{{QStringLiteral("delay_ms"), 2500}}}}));
        OndaroApiClient client;
        QSignalSpy started(&client, &OndaroApiClient::serverStarted);
        QSignalSpy startFailed(&client, &OndaroApiClient::serverStartError);
        client.startServer(m_stoppedToken);
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] { pollStats(client, m_stoppedToken); });
        poll.start(500);
        QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, 10000);
        poll.stop();
        QTest::qWait(500);
        QCOMPARE(started.count(), 1);
        QCOMPARE(startFailed.count(), 0);
        QVERIFY(m_cloud->setServerRunning(m_stoppedToken, false));
    }

    // Nothing ever answers: the start gives up after 15 s, the account request after 20 s, the
    // last statistics poll 8 s after it was sent, each once and with its own message.
    void everyKindTimesOutOnItsOwn() {
        QVERIFY(m_cloud->setFaults(m_token, {{QStringLiteral("account_info"), kStall},
                                             {QStringLiteral("server_start"), kStall},
                                             {QStringLiteral("stats"), kStall}}));
        OndaroApiClient client;
        QSignalSpy started(&client, &OndaroApiClient::serverStarted);
        QSignalSpy startFailed(&client, &OndaroApiClient::serverStartError);
        QSignalSpy accountFailed(&client, &OndaroApiClient::errorOccurred);
        QSignalSpy statsFailed(&client, &OndaroApiClient::serverStatsError);

        QElapsedTimer clock;
        clock.start();
        client.startServer(m_token);
        client.fetchAccountInfo(m_token);
        // Each poll replaces the previous one silently, so none of them times out meanwhile.
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] { pollStats(client, m_token); });
        pollStats(client, m_token);
        poll.start(2000);

        QTRY_COMPARE_WITH_TIMEOUT(startFailed.count(), 1, 18000);
        poll.stop();
        QCOMPARE(statsFailed.count(), 0);
        QCOMPARE(accountFailed.count(), 0);
        QCOMPARE(startFailed.first().at(0).toString(),
                 QStringLiteral("Request timeout. The server may be slow to respond or offline."));
        QCOMPARE(startFailed.first().at(1).toInt(), 0);
        QVERIFY(clock.elapsed() >= OndaroApiClient::kStartServerTimeoutMs - 100);

        QTRY_COMPARE_WITH_TIMEOUT(accountFailed.count(), 1, 8000);
        QCOMPARE(accountFailed.first().at(0).toString(),
                 QStringLiteral(
                     "Request timeout. Please check your internet connection and try again."));
        QCOMPARE(accountFailed.first().at(1).toInt(), 0);

        QTRY_COMPARE_WITH_TIMEOUT(statsFailed.count(), 1, 8000);
        QCOMPARE(statsFailed.first().first().toString(),
                 QStringLiteral("Server stats request timeout (server may be offline)"));

        QTest::qWait(300);
        QCOMPARE(startFailed.count(), 1);
        QCOMPARE(accountFailed.count(), 1);
        QCOMPARE(statsFailed.count(), 1);
        QCOMPARE(started.count(), 0);
    }

    void cancelEndsEverythingSilently() {
        QVERIFY(m_cloud->setFaults(m_token, {{QStringLiteral("account_info"), kStall},
                                             {QStringLiteral("server_start"), kStall},
                                             {QStringLiteral("stats"), kStall}}));
        OndaroApiClient client;
        QSignalSpy startFailed(&client, &OndaroApiClient::serverStartError);
        QSignalSpy accountFailed(&client, &OndaroApiClient::errorOccurred);
        QSignalSpy statsFailed(&client, &OndaroApiClient::serverStatsError);
        client.startServer(m_token);
        client.fetchAccountInfo(m_token);
        client.fetchServerStats(QStringLiteral("127.0.0.1"), m_cloud->streamingPort(m_token),
                                QStringLiteral("/live"), m_token, 300);
        QTest::qWait(100);
        client.cancelPendingRequest();
        QTest::qWait(600);
        QCOMPARE(startFailed.count() + accountFailed.count() + statsFailed.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCloudTimeouts)
#include "test_cloud_timeouts.moc"
