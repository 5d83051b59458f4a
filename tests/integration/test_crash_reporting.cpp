#include <QtTest>

#include <memory>

#include "core/app_identity.h"
#include "core/log_categories.h"
#include "core/logger.h"
#include "http_receiver.h"
#include "managed_process.h"
#include "maintenance/crash_envelope.h"
#include "maintenance/crash_reporting.h"
#include "test_environment.h"

namespace {

QString dsnFor(quint16 port) {
    return QStringLiteral("http://publickey123@127.0.0.1:%1/42").arg(port);
}

QStringList pendingFiles() {
    return QDir(crashDatabasePath()).entryList({QStringLiteral("*.envelope")}, QDir::Files,
                                               QDir::Name);
}

QJsonObject eventOf(const HttpReceiver::Request& request) {
    return crash::eventFromEnvelope(request.body);
}

QString messageOf(const QJsonObject& event) {
    return event.value("message").toObject().value("formatted").toString();
}

// What the receiver got, by message.
QMap<QString, QJsonObject> receivedEvents(const HttpReceiver& receiver) {
    QMap<QString, QJsonObject> events;
    for (const auto& r : receiver.requests()) events.insert(messageOf(eventOf(r)), eventOf(r));
    return events;
}

}  // namespace

class TestCrashReporting : public QObject {
    Q_OBJECT

    TestEnvironment m_env;

    std::unique_ptr<HttpReceiver> m_receiver;

    void start(quint16 port) {
        qputenv("ONDARO_CRASH_DSN", dsnFor(port).toUtf8());
        startCrashReporting();
        QVERIFY(isCrashReportingEnabled());
    }

    // Crash reporting started against a fresh receiver of its reports.
    HttpReceiver& startReceiving() {
        m_receiver = std::make_unique<HttpReceiver>();
        if (m_receiver->listen()) start(m_receiver->port());
        return *m_receiver;
    }

private Q_SLOTS:
    void initTestCase() { appidentity::apply(); }

    void cleanup() {
        shutdownCrashReporting();
        m_receiver.reset();
        QDir(crashDatabasePath()).removeRecursively();
    }

    void dsnParsing() {
        const auto plain = crash::Dsn::parse(QStringLiteral("https://abc123@o7.ingest.example/42"));
        QVERIFY(plain.isValid());
        QCOMPARE(plain.envelopeUrl().toString(),
                 QStringLiteral("https://o7.ingest.example/api/42/envelope/"));
        QVERIFY(plain.authHeader(QStringLiteral("c")).contains("sentry_key=abc123"));
        QVERIFY(plain.authHeader(QStringLiteral("c")).contains("sentry_version=7"));

        const auto nested = crash::Dsn::parse(QStringLiteral("http://k:pw@127.0.0.1:90/relay/7/"));
        QVERIFY(nested.isValid());
        QCOMPARE(nested.envelopeUrl().toString(),
                 QStringLiteral("http://127.0.0.1:90/relay/api/7/envelope/"));

        for (const char* bad : {"https://o7.example.com/42", "https://key@o7.example.com/",
                                "ftp://key@o7.example.com/1", "not a url", ""}) {
            QVERIFY2(!crash::Dsn::parse(QLatin1String(bad)).isValid(), bad);
        }
    }

    void emptyDsnDoesNothing() {
        qputenv("ONDARO_CRASH_DSN", "");
        startCrashReporting();
        QVERIFY(!isCrashReportingEnabled());
        trackAppStart();
        addBreadcrumb(QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("default"));
        captureMessage(QStringLiteral("x"), QStringLiteral("y"), kCrashLevelError);
        shutdownCrashReporting();
        QVERIFY(!QDir(crashDatabasePath()).exists());
        QVERIFY(!QDir(m_env.dataHome() + QStringLiteral("/Ondaro")).exists());
    }

    void databaseLivesInTheApplicationsFolder() {
        QCOMPARE(crashDatabasePath(),
                 m_env.dataHome() + QStringLiteral("/Ondaro/Ondaro Doredoradar/sentry-db"));
        start(testsupport::freePort());
        QVERIFY(QDir(crashDatabasePath()).exists());
    }

    // The broadcast's own event, with its encoder, is the broadcast tests' (end to end).
    void usageEventsCarryTheirTags() {
        HttpReceiver& receiver = startReceiving();

        trackAppInstall();
        trackAppStart();
        trackBroadcastStart(QString(), QStringLiteral("radio.example.com"));
        QTRY_COMPARE_WITH_TIMEOUT(receiver.requestCount(), 3, 10000);
        QTRY_VERIFY(pendingFiles().isEmpty());  // accepted files are removed

        QStringList messages;
        for (const auto& r : receiver.requests()) {
            QCOMPARE(r.method, QByteArray("POST"));
            QCOMPARE(r.path, QByteArray("/api/42/envelope/"));
            QCOMPARE(r.headers.value("content-type"), QByteArray("application/x-sentry-envelope"));
            QVERIFY(r.headers.value("x-sentry-auth").contains("sentry_key=publickey123"));
            const QJsonObject e = eventOf(r);
            messages << messageOf(e);
            QCOMPARE(e.value("level").toString(), QStringLiteral("info"));
            QCOMPARE(e.value("logger").toString(), QStringLiteral("analytics"));
            QCOMPARE(e.value("release").toString(), QStringLiteral("ondaro-broadcaster@1.0.1"));
            QCOMPARE(e.value("environment").toString(), QStringLiteral("production"));
            QCOMPARE(e.value("tags").toObject().value("event.type").toString(), messageOf(e));
        }
        QCOMPARE(messages, (QStringList{"app.install", "app.start", "broadcast.start"}));
        const auto events = receivedEvents(receiver);
        QCOMPARE(events.value("app.install").value("tags").toObject(),
                 (QJsonObject{{"event.type", "app.install"}}));
        QCOMPARE(events.value("broadcast.start").value("tags").toObject(),
                 (QJsonObject{{"event.type", "broadcast.start"}, {"server", "radio.example.com"}}));
    }

    void breadcrumbsAndUserRideAlong() {
        HttpReceiver& receiver = startReceiving();

        for (int i = 0; i < 120; ++i) {
            addBreadcrumb(QStringLiteral("broadcast"), QStringLiteral("crumb %1").arg(i),
                          QStringLiteral("default"));
        }
        setCrashReportingUser(QStringLiteral("pub-1"), QStringLiteral("dj@example.com"));
        captureMessage(QStringLiteral("ICECAST"), QStringLiteral("first"), kCrashLevelError);
        clearCrashReportingUser();
        captureMessage(QStringLiteral("ICECAST"), QStringLiteral("second"), kCrashLevelWarning);
        QTRY_COMPARE_WITH_TIMEOUT(receiver.requestCount(), 2, 10000);

        const QJsonObject first = receivedEvents(receiver).value("first");
        const QJsonObject second = receivedEvents(receiver).value("second");
        QCOMPARE(first.value("level").toString(), QStringLiteral("error"));
        QCOMPARE(first.value("logger").toString(), QStringLiteral("ICECAST"));
        QCOMPARE(first.value("user").toObject(),
                 (QJsonObject{{"id", "pub-1"}, {"email", "dj@example.com"}}));
        const QJsonArray crumbs = first.value("breadcrumbs").toObject().value("values").toArray();
        QCOMPARE(crumbs.size(), kMaxBreadcrumbs);
        QCOMPARE(crumbs.first().toObject().value("message").toString(), QStringLiteral("crumb 20"));
        QCOMPARE(crumbs.last().toObject().value("message").toString(), QStringLiteral("crumb 119"));
        QCOMPARE(crumbs.last().toObject().value("category").toString(), QLatin1String("broadcast"));
        QCOMPARE(crumbs.last().toObject().value("type").toString(), QStringLiteral("default"));
        QVERIFY(!second.contains("user"));
        QCOMPARE(second.value("level").toString(), QStringLiteral("warning"));
    }

    void logBridgeTurnsWarningsIntoBreadcrumbsAndErrorsIntoEvents() {
        HttpReceiver& receiver = startReceiving();
        Logger::instance();

        qCInfo(lcMain) << "not forwarded";
        qCWarning(lcIcecast).noquote() << "socket hiccup";
        // From another thread: persisted at once, sent by the worker.
        QThread* other =
            QThread::create([] { qCCritical(lcGStreamer).noquote() << "pipeline died"; });
        other->start();
        QVERIFY(other->wait(5000));
        delete other;
        QTRY_COMPARE_WITH_TIMEOUT(receiver.requestCount(), 1, 10000);

        const QJsonObject event = eventOf(receiver.requests().first());
        QCOMPARE(messageOf(event), QStringLiteral("pipeline died"));
        QCOMPARE(event.value("logger").toString(), QStringLiteral("GSTREAMER"));
        QCOMPARE(event.value("level").toString(), QStringLiteral("error"));
        const QJsonArray crumbs = event.value("breadcrumbs").toObject().value("values").toArray();
        QCOMPARE(crumbs.size(), 2);
        QCOMPARE(crumbs[0].toObject(),
                 (QJsonObject{{"category", "ICECAST"},
                              {"message", "socket hiccup"},
                              {"type", "error"},
                              {"timestamp", crumbs[0].toObject().value("timestamp")}}));
        QCOMPARE(crumbs[1].toObject().value("message").toString(), QStringLiteral("pipeline died"));
    }

    void criticalRightBeforeShutdownIsDelivered() {
        HttpReceiver& receiver = startReceiving();
        // A slow answer keeps the report on disk until the service has taken it, so the check
        // below cannot race a sender that is quicker than the test.
        receiver.setResponseDelayMs(500);
        Logger::instance();

        qCCritical(lcBroadcaster).noquote() << "last words";
        QCOMPARE(pendingFiles().size(), 1);  // on disk before anything else happens
        shutdownCrashReporting();
        QCOMPARE(receiver.requestCount(), 1);
        QCOMPARE(messageOf(eventOf(receiver.requests().first())), QStringLiteral("last words"));
        QVERIFY(pendingFiles().isEmpty());
    }

    void eventsWaitOnDiskWhileOffline() {
        const quint16 port = testsupport::freePort();
        start(port);
        trackAppStart();
        captureMessage(QStringLiteral("MAIN"), QStringLiteral("offline"), kCrashLevelError);
        shutdownCrashReporting();
        QCOMPARE(pendingFiles().size(), 2);

        HttpReceiver receiver;
        QVERIFY(receiver.listen(port));
        start(port);
        QTRY_COMPARE_WITH_TIMEOUT(receiver.requestCount(), 2, 10000);
        QCOMPARE(messageOf(eventOf(receiver.requests()[0])), QStringLiteral("app.start"));
        QCOMPARE(messageOf(eventOf(receiver.requests()[1])), QStringLiteral("offline"));
        QTRY_VERIFY(pendingFiles().isEmpty());
    }

    void refusedAndFailedDeliveriesKeepOrDropAsTheyShould() {
        HttpReceiver& receiver = startReceiving();
        receiver.setResponseStatus(503);
        trackAppStart();
        QTRY_COMPARE_WITH_TIMEOUT(receiver.requestCount(), 1, 10000);
        QCOMPARE(pendingFiles().size(), 1);  // a busy service gets it again later

        shutdownCrashReporting();
        receiver.setResponseStatus(400);
        start(receiver.port());
        QTRY_COMPARE_WITH_TIMEOUT(receiver.requestCount(), 2, 10000);
        QTRY_VERIFY(pendingFiles().isEmpty());  // refused for good: not retried forever
    }

    void shutdownWaitsAtMostThreeSeconds() {
        HttpReceiver& receiver = startReceiving();
        receiver.setResponseStatus(0);  // accepts and never answers
        trackAppStart();
        QTRY_COMPARE_WITH_TIMEOUT(receiver.requestCount(), 1, 10000);

        QElapsedTimer timer;
        timer.start();
        shutdownCrashReporting();
        // Generous upper bound: the point is that a hung service cannot hold the exit up.
        QVERIFY2(timer.elapsed() < 6000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(pendingFiles().size(), 1);
    }

    void crashReportFromADeadProcessIsSentAtNextStart() {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ONDARO_CRASH_DSN"), dsnFor(testsupport::freePort()));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationDirPath() + QStringLiteral("/crash_child"));
        QVERIFY(child.waitForFinished(15000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        QCOMPARE(pendingFiles().size(), 1);
        HttpReceiver& receiver = startReceiving();
        QTRY_COMPARE_WITH_TIMEOUT(receiver.requestCount(), 1, 10000);

        const QJsonObject event = eventOf(receiver.requests().first());
        QCOMPARE(event.value("level").toString(), QStringLiteral("fatal"));
        QCOMPARE(event.value("release").toString(), QStringLiteral("ondaro-broadcaster@1.0.1"));
        const QJsonObject exception =
            event.value("exception").toObject().value("values").toArray().first().toObject();
        QCOMPARE(exception.value("type").toString(), QStringLiteral("SIGSEGV"));
        QCOMPARE(event.value("user").toObject().value("id").toString(),
                 QStringLiteral("public-token-1"));
        const QJsonArray crumbs = event.value("breadcrumbs").toObject().value("values").toArray();
        QCOMPARE(crumbs.size(), 1);
        QCOMPARE(crumbs[0].toObject().value("message").toString(),
                 QStringLiteral("before \"the\" crash"));
        QTRY_VERIFY(pendingFiles().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCrashReporting)
#include "test_crash_reporting.moc"
