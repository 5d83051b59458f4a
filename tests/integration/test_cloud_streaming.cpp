// The stand-in in front of a real Icecast: a source, a listener and a title update all go
// through the account's streaming port, and the statistics the cloud client reads back over the
// port's TLS side show them. Stopping the account's server closes the port; starting it through
// the client opens it again.
//
// The sources are a real source client run as a process (GStreamer's shout2send) and the
// application's own IcecastClient.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
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

}  // namespace

class TestCloudStreaming : public QObject {
    Q_OBJECT

    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<IcecastServer> m_icecast;
    std::unique_ptr<DevCloudServer> m_cloud;
    QString m_token;
    quint16 m_port = 0;
    ManagedProcess m_liveSource;
    ManagedProcess m_secondSource;
    QTcpSocket m_listener;

    bool startSource(ManagedProcess& process, const QString& mount) {
        return process.start(
            QStringLiteral("gst-launch-1.0"),
            {QStringLiteral("-q"), QStringLiteral("audiotestsrc"), QStringLiteral("is-live=true"),
             QStringLiteral("!"), QStringLiteral("audioconvert"), QStringLiteral("!"),
             QStringLiteral("lamemp3enc"), QStringLiteral("bitrate=64"), QStringLiteral("!"),
             QStringLiteral("shout2send"), QStringLiteral("ip=127.0.0.1"),
             QStringLiteral("port=%1").arg(m_port), QStringLiteral("mount=%1").arg(mount),
             QStringLiteral("password=%1").arg(kSourcePassword)});
    }

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
                            {QStringLiteral("/second"), kSourcePassword},
                            {QStringLiteral("/client"), kSourcePassword}};
        account.bootMs = 300;
        m_token = m_cloud->addAccount(account);
        QVERIFY2(m_cloud->start(&error), qPrintable(error));
        m_cloud->exportEnvironment();
        m_port = m_cloud->streamingPort(m_token);
    }

    void sourceListenerAndTitleThroughThePort() {
        QVERIFY(startSource(m_liveSource, QStringLiteral("/live")));
        QTRY_VERIFY_WITH_TIMEOUT(!m_icecast->sourceStats(QStringLiteral("/live")).isEmpty(), 10000);

        m_listener.connectToHost(QHostAddress::LocalHost, m_port);
        QVERIFY(m_listener.waitForConnected(5000));
        m_listener.write("GET /live HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
        QByteArray heard;
        for (int i = 0; i < 50 && heard.size() < 8192; ++i) {
            if (m_listener.waitForReadyRead(200)) heard += m_listener.readAll();
        }
        QVERIFY2(heard.startsWith("HTTP/1.0 200"), heard.left(100).constData());
        QVERIFY(heard.size() >= 8192);

        QTcpSocket metadata;
        metadata.connectToHost(QHostAddress::LocalHost, m_port);
        QVERIFY(metadata.waitForConnected(5000));
        metadata.write(
            "GET /admin/metadata?mount=/live&mode=updinfo&song=" + QUrl::toPercentEncoding(kTitle) +
            " HTTP/1.0\r\nAuthorization: Basic " +
            (QStringLiteral("source:") + kSourcePassword).toUtf8().toBase64() + "\r\n\r\n");
        QByteArray answer;
        while (metadata.waitForReadyRead(3000)) answer += metadata.readAll();
        QVERIFY2(answer.contains("Metadata update successful"), answer.constData());

        OndaroApiClient client;
        QSignalSpy failed(&client, &OndaroApiClient::serverStatsError);
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
        QCOMPARE(failed.count(), 0);
    }

    // Two live mounts make Icecast's public status list its sources as an array; with the admin
    // credentials refused, the stand-in reads that instead and still counts both.
    void publicStatusWithSeveralMounts() {
        QVERIFY(startSource(m_secondSource, QStringLiteral("/second")));
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

    // The application's own source client through the account's address: handshake, audio and a
    // title, all read back through the statistics.
    void applicationClientStreamsThroughThePort() {
        QString error;
        const QByteArray audio =
            encodedTestTone(QStringLiteral("lamemp3enc bitrate=64"), 400, &error);
        QVERIFY2(audio.size() > 32000, qPrintable(error));

        IcecastClient client;
        client.setCodec(Codec::Mp3);
        client.setBitrate(64);
        client.setAutoReconnect(false);
        QSignalSpy connected(&client, &IcecastClient::connected);
        QSignalSpy failed(&client, &IcecastClient::connectionError);
        client.connectToServerAsync(QStringLiteral("127.0.0.1"), m_port, QStringLiteral("/client"),
                                    QStringLiteral("source"), kSourcePassword);
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 10000);
        QCOMPARE(failed.count(), 0);

        // Real time, roughly: 8 KiB at 64 kbit/s is one second.
        for (int offset = 0; offset < audio.size(); offset += 4096) {
            QVERIFY(client.send(audio.mid(offset, 4096)));
            QTest::qWait(400);
            if (offset == 16384) {
                QVERIFY(client.sendMetadata(QStringLiteral("Own Client"),
                                            QStringLiteral("Doredoradar")));
            }
        }
        OndaroApiClient cloud;
        const ServerStats stats =
            pollUntil(cloud, QStringLiteral("/client"), [](const ServerStats& s) {
                return s.isBroadcastActive &&
                       s.currentSong == QStringLiteral("Doredoradar - Own Client");
            });
        QVERIFY(stats.isBroadcastActive);
        QCOMPARE(stats.currentSong, QStringLiteral("Doredoradar - Own Client"));
        client.disconnectFromServer();
        QTRY_VERIFY_WITH_TIMEOUT(m_icecast->sourceStats(QStringLiteral("/client")).isEmpty(),
                                 10000);
    }

    void stoppedServerRefusesUntilStartedAgain() {
        QVERIFY(m_cloud->setServerRunning(m_token, false));
        // A stopped server drops what it carried and takes nothing new.
        QTRY_VERIFY_WITH_TIMEOUT(m_listener.state() == QAbstractSocket::UnconnectedState, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_liveSource.isRunning(), 10000);
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
        m_listener.abort();
        m_liveSource.stop();
        m_secondSource.stop();
        m_cloud.reset();
        m_icecast.reset();
    }
};

QTEST_GUILESS_MAIN(TestCloudStreaming)
#include "test_cloud_streaming.moc"
