// The connection check against a real Icecast, a closed port, a port that drops connects, and
// scripted servers for what Icecast will not do; each case names the step that fails.
#include <QtTest>

#include <memory>

#include "broadcast/connection_check.h"
#include "icecast_server.h"
#include "loopback_listener.h"
#include "scripted_source_server.h"
#include "test_environment.h"

class TestConnectionCheck : public QObject {
    Q_OBJECT

    TestEnvironment m_env;
    IcecastServer m_icecast;

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(m_icecast.start(&error), qPrintable(error));
    }

    void failingStep_data() {
        QTest::addColumn<QString>("server");  // icecast, closed, dropping, scripted
        QTest::addColumn<QString>("password");
        QTest::addColumn<QByteArray>("statusAnswer");  // scripted server only
        QTest::addColumn<QByteArray>("sourceAnswer");
        QTest::addColumn<int>("failingStep");  // -1: every step passes
        QTest::addColumn<QString>("said");
        const QString right = m_icecast.options().sourcePassword;
        QTest::newRow("real Icecast") << "icecast" << right << QByteArray() << QByteArray() << -1
                                      << "The server accepts audio/mpeg (MP3).";
        QTest::newRow("wrong port") << "closed" << right << QByteArray() << QByteArray()
                                    << int(CheckStep::Connect) << "127.0.0.1 refused";
        QTest::newRow("drops packets") << "dropping" << right << QByteArray() << QByteArray()
                                       << int(CheckStep::Connect) << "127.0.0.1 timed out";
        QTest::newRow("plain web server")
            << "scripted" << right
            << QByteArray("HTTP/1.1 404 Not Found\r\nServer: nginx/1.22.1\r\n\r\n") << QByteArray()
            << int(CheckStep::Server) << "a web server (nginx/1.22.1), not Icecast";
        QTest::newRow("not HTTP") << "scripted" << right << QByteArray("SSH-2.0-OpenSSH_9.2\r\n")
                                  << QByteArray() << int(CheckStep::Server)
                                  << "not an Icecast server: \u201cSSH-2.0-OpenSSH_9.2\u201d";
        QTest::newRow("wrong password") << "icecast"
                                        << "wrong" << QByteArray() << QByteArray()
                                        << int(CheckStep::Login) << "user name or password";
        QTest::newRow("content type refused")
            << "scripted" << right << QByteArray()
            << QByteArray("HTTP/1.0 403 Forbidden\r\n\r\nContent-type not supported")
            << int(CheckStep::ContentType) << "refuses the content type audio/mpeg";
    }

    void failingStep() {
        QFETCH(QString, server);
        QFETCH(QString, password);
        QFETCH(QByteArray, statusAnswer);
        QFETCH(QByteArray, sourceAnswer);
        QFETCH(int, failingStep);
        QFETCH(QString, said);
        ScriptedSourceServer scripted;
        if (!statusAnswer.isEmpty())
            scripted.setStatusReply(ScriptedSourceServer::Reply::answer(statusAnswer, 0, 0));
        if (!sourceAnswer.isEmpty())
            scripted.setSourceReplies({ScriptedSourceServer::Reply::answer(sourceAnswer)});
        quint16 closedPort;
        {
            LoopbackListener gone;
            closedPort = gone.port();
        }
        LoopbackListener dropping(0);
        dropping.fillAcceptQueue();
        const quint16 port = server == "icecast"    ? m_icecast.port()
                             : server == "closed"   ? closedPort
                             : server == "dropping" ? dropping.port()
                                                    : scripted.port();

        ConnectionCheck check;
        check.setLimits({500, 2000, 10000});
        QSignalSpy steps(&check, &ConnectionCheck::stepFinished);
        QSignalSpy finished(&check, &ConnectionCheck::finished);
        check.start({QStringLiteral("127.0.0.1"), port, QStringLiteral("/check"),
                     QStringLiteral("source"), password, Codec::Mp3});
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.first().first().toBool(), failingStep < 0);
        QCOMPARE(steps.count(), kCheckStepCount);
        QString all;
        for (int step = 0; step < kCheckStepCount; ++step) {
            const auto result = steps.at(step).first().value<CheckStepResult>();
            QCOMPARE(int(result.step), step);
            const CheckVerdict expected = failingStep < 0 || step < failingStep
                                              ? CheckVerdict::Passed
                                          : step == failingStep ? CheckVerdict::Failed
                                                                : CheckVerdict::Skipped;
            all += result.sentence + QLatin1Char('\n');
            QVERIFY2(result.verdict == expected, qPrintable(all));
            if (result.verdict == CheckVerdict::Failed) QVERIFY(!result.advice.isEmpty());
        }
        QVERIFY2(all.contains(said), qPrintable(all));
        // The probe ended at the answer: nothing but the request reached the server.
        if (server == "scripted" && scripted.connectionCount() > 0)
            QTRY_VERIFY(scripted.receivedBody(0).isEmpty() && scripted.closedByClient(0));
    }
};

QTEST_GUILESS_MAIN(TestConnectionCheck)
#include "test_connection_check.moc"
