// The stand-in in front of a real Icecast: sources, a listener and a title update all go through
// the account's streaming port, and the statistics the cloud client reads back over the port's
// TLS side show them. Stopping the account's server drops what it carried and closes the port;
// starting it through the client opens it again.
//
// The sources are the application's own IcecastClient (on /live, fed in real time) and a real
// source client run as a process (GStreamer's shout2send, on /second). The client's listener
// check hears /live through the port, also while the port's listener faults hand listeners the
// stream of /second or close them at once.
#include <QTcpSocket>
#include <QtTest>

#include <memory>

#include "audio_probe.h"
#include "broadcast/icecast_client.h"
#include "cloud/ondaro_api_client.h"
#include "dev_cloud_server.h"
#include "icecast_server.h"
#include "log_capture.h"
#include "managed_process.h"

namespace {

const QString kSourcePassword = QStringLiteral("Vb47-icecast-source-pass");
const QString kTitle = QStringLiteral("Night Owl - Intro");
constexpr int kChunkBytes = 4000;  // half a second at 64 kbit/s

}  // namespace

class TestCloudStreaming : public QObject {
    Q_OBJECT

    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<IcecastServer> m_icecast;
    std::unique_ptr<DevCloudServer> m_cloud;
    QString m_token;
    quint16 m_port = 0;
    IcecastClient m_client;
    QByteArray m_audio;  // MP3 at 64 kbit/s, sent round and round
    qsizetype m_sent = 0;
    QTimer m_feed;
    ManagedProcess m_secondSource;
    QTcpSocket m_listener;

    // Polls the statistics until `accept` holds (at most 10 s); the last record received.
    ServerStats pollUntil(OndaroApiClient& client, const QString& mount,
                          const std::function<bool(const ServerStats&)>& accept) {
        QSignalSpy received(&client, &OndaroApiClient::serverStatsReceived);
        ServerStats last;
        for (int attempt = 0; attempt < 20; ++attempt) {
            received.clear();
            client.fetchServerStats(QStringLiteral("127.0.0.1"), m_port, mount, m_token, 8000);
            if (received.wait(5000)) {
                last = received.first().first().value<ServerStats>();
                if (accept(last)) return last;
            }
            QTest::qWait(500);
        }
        return last;
    }

private Q_SLOTS:
    void initTestCase() {
        m_log = std::make_unique<LogCapture>();
        IcecastServer::Options options;
        options.sourcePassword = kSourcePassword;
        m_icecast = std::make_unique<IcecastServer>(options);
        QString error;
        QVERIFY2(m_icecast->start(&error), qPrintable(error));
        m_cloud = std::make_unique<DevCloudServer>(m_icecast.get());
        DevCloudServer::Account account;
        account.channels = {{QStringLiteral("/live"), kSourcePassword},
                            {QStringLiteral("/second"), kSourcePassword}};
        account.bootMs = 300;
        m_token = m_cloud->addAccount(account);
        QVERIFY2(m_cloud->start(&error), qPrintable(error));
        m_cloud->exportEnvironment();
        m_port = m_cloud->streamingPort(m_token);
        m_audio = encodedTestTone(QStringLiteral("lamemp3enc target=bitrate bitrate=64 cbr=true"),
                                  400, &error);
        QVERIFY2(m_audio.size() > 8 * kChunkBytes, qPrintable(error));
        connect(&m_feed, &QTimer::timeout, this, [this] {
            m_client.send(m_audio.mid(m_sent % m_audio.size(), kChunkBytes));
            m_sent += kChunkBytes;
        });
    }

    void sourceListenerAndTitleThroughThePort() {
        m_client.setCodec(Codec::Mp3);
        m_client.setBitrate(64);
        m_client.setAutoReconnect(false);
        QSignalSpy connected(&m_client, &IcecastClient::connected);
        QSignalSpy failed(&m_client, &IcecastClient::connectionError);
        m_client.connectToServerAsync(QStringLiteral("127.0.0.1"), m_port, QStringLiteral("/live"),
                                      QStringLiteral("source"), kSourcePassword);
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 10000);
        QCOMPARE(failed.count(), 0);
        m_feed.start(500);
        QTRY_VERIFY_WITH_TIMEOUT(m_sent >= 4 * kChunkBytes, 5000);

        m_listener.connectToHost(QHostAddress::LocalHost, m_port);
        QVERIFY(m_listener.waitForConnected(5000));
        m_listener.write("GET /live HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
        QByteArray heard;
        for (int i = 0; i < 50 && heard.size() < 8192; ++i) {
            if (m_listener.waitForReadyRead(200)) heard += m_listener.readAll();
        }
        QVERIFY2(heard.startsWith("HTTP/1.0 200"), heard.left(100).constData());
        QVERIFY(heard.size() >= 8192);
        QVERIFY(m_client.sendMetadata(QStringLiteral("Intro"), QStringLiteral("Night Owl")));

        OndaroApiClient client;
        QSignalSpy statsFailed(&client, &OndaroApiClient::serverStatsError);
        const ServerStats stats =
            pollUntil(client, QStringLiteral("live"), [](const ServerStats& s) {
                return s.isBroadcastActive && s.currentListeners == 1 && s.currentSong == kTitle;
            });
        QVERIFY(stats.isOnline);
        QVERIFY(stats.hasSources);
        QVERIFY(stats.isBroadcastActive);
        QCOMPARE(stats.currentListeners, 1);
        QCOMPARE(stats.totalListeners, 1);
        QCOMPARE(stats.currentSong, kTitle);
        QCOMPARE(statsFailed.count(), 0);
        QCOMPARE(failed.count(), 0);
    }

    // Two live mounts make Icecast's public status list its sources as an array; with the admin
    // credentials refused, the stand-in reads that instead and still counts both.
    void publicStatusWithSeveralMounts() {
        QVERIFY(m_secondSource.start(
            QStringLiteral("gst-launch-1.0"),
            QProcess::splitCommand(
                QStringLiteral("-q audiotestsrc is-live=true ! audioconvert ! lamemp3enc "
                               "bitrate=64 ! shout2send ip=127.0.0.1 port=%1 mount=/second "
                               "password=%2")
                    .arg(m_port)
                    .arg(kSourcePassword))));
        QTRY_VERIFY_WITH_TIMEOUT(!m_icecast->sourceStats(QStringLiteral("/second")).isEmpty(),
                                 10000);
        DevCloudServer publicOnly(m_icecast.get());
        publicOnly.setIcecastAdminPassword(QStringLiteral("not-the-admin-password"));
        DevCloudServer::Account account;
        account.token = m_token;
        account.channels = {{QStringLiteral("/live"), kSourcePassword},
                            {QStringLiteral("/second"), kSourcePassword}};
        // Stopped: only its statistics side is used, through a port of its own.
        account.running = false;
        publicOnly.addAccount(account);
        QString error;
        QVERIFY2(publicOnly.start(&error), qPrintable(error));
        const quint16 ownPort = publicOnly.streamingPort(m_token);
        QVERIFY(publicOnly.setServerRunning(m_token, true));
        QVERIFY(testsupport::waitForTcpPort(ownPort, 5000));

        QJsonObject totals;
        for (int i = 0; i < 20; ++i) {
            QByteArray body;
            publicOnly.httpsRequest(
                "GET", ownPort, QStringLiteral("/admin/stats.json"), {},
                "Basic " + (QStringLiteral("admin:") + m_token).toUtf8().toBase64(), &body);
            totals = QJsonDocument::fromJson(body).array().at(1).toObject();
            if (totals.value(QStringLiteral("sources")).toInt() == 2) break;
            QTest::qWait(250);
        }
        QCOMPARE(totals.value(QStringLiteral("sources")).toInt(), 2);
        QCOMPARE(totals.value(QStringLiteral("listeners")).toInt(), 1);
        const QJsonObject live =
            totals.value(QStringLiteral("source")).toObject().value("/live").toObject();
        QCOMPARE(live.value(QStringLiteral("title")).toString(), kTitle);
        QTRY_VERIFY_WITH_TIMEOUT(publicOnly.output().contains(QStringLiteral("public status")),
                                 5000);
    }

    void listenerCheckThroughTheFaults_data() {
        QTest::addColumn<QJsonObject>("fault");
        QTest::addColumn<OnAirVerdict>("verdict");
        QTest::newRow("none") << QJsonObject() << OnAirVerdict::Verified;
        QTest::newRow("another stream")
            << QJsonObject{{"listeners", QJsonObject{{"another_stream", "/second"}}}}
            << OnAirVerdict::SomethingElse;
        QTest::newRow("refused") << QJsonObject{{"listeners", QJsonObject{{"refuse", true}}}}
                                 << OnAirVerdict::Unreachable;
    }

    // The /second stream of the case before is MP3 too, so only the bytes tell it from ours.
    void listenerCheckThroughTheFaults() {
        QFETCH(QJsonObject, fault);
        QFETCH(OnAirVerdict, verdict);
        QVERIFY(!m_icecast->sourceStats(QStringLiteral("/second")).isEmpty());
        QVERIFY(m_cloud->setFaults(m_token, fault));
        m_client.disconnectFromServer();
        QTRY_VERIFY_WITH_TIMEOUT(m_icecast->sourceStats(QStringLiteral("/live")).isEmpty(), 5000);
        m_client.setVerifyOnAir(true);
        QSignalSpy checked(&m_client, &IcecastClient::listenerCheckFinished);
        m_client.connectToServerAsync(QStringLiteral("127.0.0.1"), m_port, QStringLiteral("/live"),
                                      QStringLiteral("source"), kSourcePassword);
        QTRY_COMPARE_WITH_TIMEOUT(checked.count(), 1, 10000);
        QCOMPARE(checked.first().first().value<OnAirVerdict>(), verdict);
        // The broadcast carries on whatever the listeners get.
        QVERIFY(m_client.isConnected());
        QVERIFY(m_client.send(m_audio.left(kChunkBytes)));
        QVERIFY(m_cloud->setFaults(m_token, {}));
        m_client.setVerifyOnAir(false);
    }

    void stoppedServerRefusesUntilStartedAgain() {
        QVERIFY(m_cloud->setServerRunning(m_token, false));
        // A stopped server drops what it carried and takes nothing new.
        QTRY_VERIFY_WITH_TIMEOUT(m_listener.state() == QAbstractSocket::UnconnectedState, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_secondSource.isRunning(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_client.isConnected(), 10000);
        m_feed.stop();
        QVERIFY(!testsupport::waitForTcpPort(m_port, 300));

        // (What the statistics say of a stopped server is the cloud client's own test.)
        OndaroApiClient client;
        QSignalSpy started(&client, &OndaroApiClient::serverStarted);
        client.startServer(m_token);
        QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, 10000);
        const ServerStats stats = pollUntil(client, QStringLiteral("/live"),
                                            [](const ServerStats& s) { return s.isOnline; });
        QVERIFY(stats.isOnline);
        QVERIFY(!stats.isBroadcastActive);  // its source was cut off with the stop
    }

    void noSecretInAnyLogLine() {
        const QStringList secrets{m_token, kSourcePassword};
        const QStringList leaks = m_log->linesContaining(secrets, m_cloud->output());
        QVERIFY2(leaks.isEmpty(), qPrintable(leaks.join(QLatin1Char('\n'))));
    }

    void cleanupTestCase() {
        m_feed.stop();
        m_client.disconnectFromServer();
        m_listener.abort();
        m_secondSource.stop();
        m_cloud.reset();
        m_icecast.reset();
    }
};

QTEST_GUILESS_MAIN(TestCloudStreaming)
#include "test_cloud_streaming.moc"
