// The client's waits that only end by their time bound: a server that accepts a source and
// never answers, and one that never answers a title request.
#include <QtTest>

#include "icecast_test_client.h"
#include "scripted_source_server.h"

using Reply = ScriptedSourceServer::Reply;

class TestIcecastClientTimeouts : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void silentServerIsGivenUpAfterTwoBoundedWaits() {
        ScriptedSourceServer server;
        server.setSourceReplies({Reply::neverAnswer()});
        IcecastClient client;
        ClientSignals sig(&client);
        QElapsedTimer timer;
        timer.start();
        client.connectToServerAsync(QStringLiteral("127.0.0.1"), server.port(),
                                    QStringLiteral("live"), QStringLiteral("source"),
                                    QStringLiteral("hackme"));
        QTRY_COMPARE_WITH_TIMEOUT(sig.errors.count(), 1, 20000);
        // Two attempts, each waiting the full 5 s for an answer.
        QVERIFY2(timer.elapsed() >= 9500, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(sig.lastError(),
                 QStringLiteral("Connection failed: Server did not respond to HTTP request"));
        QCOMPARE(server.connectionCount(), 2);
        QVERIFY(server.received(1).startsWith("SOURCE /live HTTP/1.0\r\n"));
        QTRY_VERIFY(server.closedByClient(0) && server.closedByClient(1));
        QCOMPARE(sig.connected.count(), 0);
    }

    void unansweredTitleCountsAsSentAfterAShortWait() {
        ScriptedSourceServer server;
        server.setMetadataReply(Reply::neverAnswer());
        IcecastClient client;
        ClientSignals sig(&client);
        client.connectToServerAsync(QStringLiteral("127.0.0.1"), server.port(),
                                    QStringLiteral("live"), QStringLiteral("source"),
                                    QStringLiteral("hackme"));
        QTRY_COMPARE(sig.connected.count(), 1);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(client.sendMetadata(QStringLiteral("title"), QStringLiteral("artist")));
        QVERIFY(timer.elapsed() >= 1900);
        QCOMPARE(sig.metadataSent.count(), 1);
        QCOMPARE(server.metadataRequestCount(), 1);
    }
};

QTEST_GUILESS_MAIN(TestIcecastClientTimeouts)
#include "test_icecast_client_timeouts.moc"
