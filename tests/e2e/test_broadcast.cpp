// Going live end to end: a stand-in microphone playing 440 Hz on deck 1 and a program playing
// 1000 Hz on deck 2, captured by libobs under Xvfb from a private PulseAudio, mixed and encoded
// by GStreamer, primed and sent by our source client. Against a real Icecast, fetched by a
// listener and read back by a real decoder; then against servers that misbehave on purpose
// (scripted: slow to accept, slow to read, closing on us): what reaches the server first,
// whether the stream has holes, stale titles or stale packets, how a slow uplink and a dying
// audio pipeline end the connection.
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <memory>

#include "audio/encoder_settings.h"
#include "audio/obs_audio_manager.h"
#include "audio_probe.h"
#include "broadcast/stream_health_monitor.h"
#include "broadcast_rig.h"
#include "core/logger.h"
#include "deck_feeder.h"
#include "http_receiver.h"
#include "icecast_server.h"
#include "log_capture.h"
#include "maintenance/crash_envelope.h"
#include "maintenance/crash_reporting.h"
#include "scripted_source_server.h"
#include "test_environment.h"
#include "tone.h"

namespace {

using Reply = ScriptedSourceServer::Reply;

constexpr int kConnectTimeoutMs = 15000;
const QString kUser = QStringLiteral("source");
const QByteArray kAccept = "HTTP/1.0 200 OK\r\n\r\n";
constexpr int kBytesPerSecond = 128000 / 8;

QString dbText(double value) { return QString::number(value, 'f', 2) + QStringLiteral(" dB"); }

// An Ogg page's header fields that matter here.
struct OggPage {
    quint8 headerType;  // 0x02: the first page of a stream
    quint32 serial;
    quint32 sequence;
};

// The whole pages from the start of `data`, up to the first thing that is not one; `consumed`
// tells how far that got.
QList<OggPage> oggPages(const QByteArray& data, qsizetype* consumed = nullptr) {
    constexpr qsizetype kHeaderBytes = 27;
    QList<OggPage> pages;
    qsizetype at = 0;
    while (at + kHeaderBytes <= data.size() && data.mid(at, 4) == "OggS") {
        const auto* header = reinterpret_cast<const uchar*>(data.constData() + at);
        const int segments = header[26];
        qsizetype size = kHeaderBytes + segments;
        if (at + size > data.size()) break;
        for (int i = 0; i < segments; ++i) size += header[kHeaderBytes + i];
        if (at + size > data.size()) break;
        pages.append({header[5], qFromLittleEndian<quint32>(header + 14),
                      qFromLittleEndian<quint32>(header + 18)});
        at += size;
    }
    if (consumed) *consumed = at;
    return pages;
}

// The serial of the first Ogg stream in `data`, 0 when there is no whole page.
quint32 firstSerial(const QByteArray& data) {
    const QList<OggPage> pages = oggPages(data);
    return pages.isEmpty() ? 0 : pages.first().serial;
}

// "" when `body` is one Ogg stream from its first page on, numbered 0, 1, 2 ... without a gap;
// otherwise what is wrong.
QString problemOf(const QByteArray& body) {
    qsizetype consumed = 0;
    const QList<OggPage> pages = oggPages(body, &consumed);
    if (pages.isEmpty()) return QStringLiteral("no Ogg page");
    if (!(pages.first().headerType & 0x02)) return QStringLiteral("the first page opens no stream");
    for (qsizetype i = 0; i < pages.size(); ++i) {
        if (pages.at(i).serial != pages.first().serial)
            return QStringLiteral("page %1 belongs to another stream").arg(i);
        if (pages.at(i).sequence != quint32(i))
            return QStringLiteral("page %1 is numbered %2").arg(i).arg(pages.at(i).sequence);
    }
    // Anything after the last whole page must be the start of the next one.
    if (consumed < body.size() && !body.mid(consumed).startsWith("OggS") &&
        !QByteArray("OggS").startsWith(body.mid(consumed))) {
        return QStringLiteral("bytes that are no Ogg page at %1").arg(consumed);
    }
    return {};
}

}  // namespace

class TestBroadcast : public QObject {
    Q_OBJECT

    TestEnvironment m_env;
    BroadcastRig m_rig;
    IcecastServer m_icecast;
    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<QSignalSpy> m_started;  // broadcastingStarted, per case

    Doredoradar& controller() { return m_rig.controller(); }
    GStreamerMixer* mixer() { return m_rig.controller().mixer(); }
    IcecastClient* client() { return m_rig.controller().icecastClient(); }

    void goLive(const QString& mount) {
        controller().connectAndBroadcast(m_icecast.host(), m_icecast.port(), mount, kUser,
                                         m_icecast.options().sourcePassword);
    }
    void goLive(const ScriptedSourceServer& server) {
        controller().connectAndBroadcast(QStringLiteral("127.0.0.1"), server.port(),
                                         QStringLiteral("/live"), kUser, QStringLiteral("secret"));
    }

    // The monitor's volume element while the pipeline has one (an invalid value otherwise).
    QVariant monitorElement() {
        return mixer()->elementProperty(QStringLiteral("monitor_volume"), QStringLiteral("volume"));
    }

private Q_SLOTS:
    void initTestCase() {
        Logger::instance();  // below the capture, which then sees every message as logged
        m_log = std::make_unique<LogCapture>();
        QString error;
        QVERIFY2(m_icecast.start(&error), qPrintable(error));
        QVERIFY2(m_rig.start(&error), qPrintable(error));
    }

    void init() {
        m_started = std::make_unique<QSignalSpy>(&controller(), &Doredoradar::broadcastingStarted);
    }

    void cleanup() {
        m_rig.reset();
        QString error;
        QVERIFY2(m_rig.restoreDecks(&error), qPrintable(error));
        m_log->clear();
    }

    void cleanupTestCase() { m_rig.stop(); }

    // While the server takes its time, the encoder runs and its packets wait. Then
    // broadcastingStarted comes first, and the server receives exactly the encoder's output from
    // its very first packet on, in order.
    void bufferedStartReachesTheServerFirstAndInOrder() {
        ScriptedSourceServer server;
        server.setSourceReplies({Reply::answer(kAccept, 1500)});
        QObject scope;  // the connections below end with the case
        QList<QByteArray> chunks;
        connect(
            mixer(), &GStreamerMixer::encodedDataReady, &scope,
            [&chunks](const QByteArray& data) { chunks << data; }, Qt::QueuedConnection);
        QStringList events;
        connect(&controller(), &Doredoradar::broadcastingStarted, &scope,
                [&events] { events << QStringLiteral("started"); });
        connect(client(), &IcecastClient::sendCompleted, &scope,
                [&events](int, qint64, bool) { events << QStringLiteral("sent"); });

        goLive(server);
        QVERIFY(controller().isPipelinePrimed());
        QTRY_VERIFY_WITH_TIMEOUT(controller().preConnectBytes() > kBytesPerSecond / 2,
                                 kConnectTimeoutMs);
        QVERIFY(events.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!events.isEmpty(), kConnectTimeoutMs);
        QCOMPARE(events.first(), QStringLiteral("started"));
        QTRY_VERIFY_WITH_TIMEOUT(server.receivedBody(0).size() > 2 * kBytesPerSecond, 10000);
        disconnect(mixer(), nullptr, &scope, nullptr);
        const QByteArray body = server.receivedBody(0);
        QByteArray everything;
        for (const QByteArray& chunk : chunks) everything += chunk;
        QVERIFY(everything.size() >= body.size());
        QVERIFY2(everything.startsWith(body), "the server got other bytes than the encoder made");
        QVERIFY2(problemOf(body).isEmpty(), qPrintable(problemOf(body)));
    }

    // A chunk bigger than the whole pre-connect buffer is never buffered (and never sent): the
    // stream then starts afresh once the server accepts.
    void oversizedChunkIsNeverBuffered() {
        ScriptedSourceServer server;
        server.setSourceReplies({Reply::answer(kAccept, 1500)});
        goLive(server);
        QTest::qWait(300);
        QVERIFY(controller().isPipelinePrimed());
        controller().onEncodedDataReady(QByteArray(70000, 'x'));
        QVERIFY(controller().preConnectBytes() < 70000);
        QTRY_COMPARE_WITH_TIMEOUT(m_started->count(), 1, kConnectTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(server.receivedBody(0).size() > kBytesPerSecond, 10000);
        const QByteArray body = server.receivedBody(0);
        QVERIFY(!body.contains(QByteArray(256, 'x')));
        QVERIFY2(problemOf(body).isEmpty(), qPrintable(problemOf(body)));
    }

    // A server that takes six seconds (the first request is never answered, the fallback is):
    // more than the pre-connect buffer holds. The stream must still have no hole: it starts
    // afresh, its pages numbered from 0 without a gap.
    void slowAcceptGivesAContiguousStream() {
        ScriptedSourceServer server;
        server.setSourceReplies({Reply::neverAnswer(), Reply::answer(kAccept, 1000)});
        QElapsedTimer clock;
        clock.start();
        goLive(server);
        QTRY_COMPARE_WITH_TIMEOUT(m_started->count(), 1, kConnectTimeoutMs);
        QVERIFY(clock.elapsed() > 5500);
        QVERIFY(m_log->mentions(QStringLiteral("Pre-connect buffer full")));
        // Well past what any buffer could have held.
        QTRY_VERIFY_WITH_TIMEOUT(
            server.receivedBody(1).size() > Doredoradar::kPreConnectMaxBytes + 2 * kBytesPerSecond,
            10000);
        const QByteArray body = server.receivedBody(1);
        QVERIFY2(problemOf(body).isEmpty(), qPrintable(problemOf(body)));
        const AudioProbe probe = AudioProbe::of(body);
        QVERIFY2(probe.ok, qPrintable(probe.error));
        QCOMPARE(probe.codec, QStringLiteral("opus"));
    }

    // Switching the monitor off and on while a primed connect waits keeps the primed encoder and
    // its decks: once accepted, the tone keeps arriving.
    void monitorToggledDuringAPrimedConnect() {
        ScriptedSourceServer server;
        server.setSourceReplies({Reply::answer(kAccept, 2500)});
        goLive(server);
        const quint64 pipeline = mixer()->pipelineSerial();
        QTest::qWait(400);
        controller().setMonitorEnabled(false);
        QVERIFY(controller().audioManager()->isDeckActive(1));
        QTest::qWait(400);
        controller().setMonitorEnabled(true);
        QCOMPARE(mixer()->pipelineSerial(), pipeline);
        QVERIFY(mixer()->isEncodingEnabled());
        QVERIFY(mixer()->isMonitorEnabled());

        QTRY_COMPARE_WITH_TIMEOUT(m_started->count(), 1, kConnectTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(server.receivedBody(0).size() > kBytesPerSecond, 5000);
        const qsizetype before = server.receivedBody(0).size();
        QTest::qWait(2500);
        const QByteArray body = server.receivedBody(0);
        QVERIFY2(body.size() - before > 2 * kBytesPerSecond * 7 / 10,
                 qPrintable(QString::number(body.size() - before)));
        // The user switched it on during the connect: it stays on.
        QVERIFY(mixer()->isMonitorEnabled());
        const AudioProbe probe = AudioProbe::of(body);
        QVERIFY2(probe.ok, qPrintable(probe.error));
        if (!kRealTimeBuild) return;
        const double heard = tone::amplitudeS16(probe.pcm, 2, 0, 48000, BroadcastRig::kDeck1Hz,
                                                probe.decodedSeconds - 1.7, 1.5);
        QVERIFY2(qAbs(tone::ratioDb(heard, BroadcastRig::kToneAmplitude *
                                               BroadcastRig::kHeadroom)) < 1.0,
                 qPrintable(QString::number(heard)));
    }

    // A lost connection and a connect while broadcasting: each new connection starts with a new
    // stream's first page, never with packets of the old encoder; the reconnect figure counts the
    // one automatic reconnect, and a broadcast the user starts clears it.
    void everyConnectionStartsWithItsOwnStream() {
        ScriptedSourceServer server;
        client()->setReconnectInterval(1);
        goLive(server);
        QTRY_COMPARE_WITH_TIMEOUT(m_started->count(), 1, kConnectTimeoutMs);
        QTest::qWait(1000);
        const quint32 first = firstSerial(server.receivedBody(0));
        QVERIFY(first != 0);
        const quint64 oldPipeline = controller().pipelineGeneration();

        server.closeAll();
        QTRY_COMPARE_WITH_TIMEOUT(m_started->count(), 2, 10000);
        QCOMPARE(server.connectionCount(), 2);
        QCOMPARE(controller().healthMonitor()->reconnectCount(), 1);
        // A packet of the old encoder that was still on its way arrives late.
        const QByteArray stale = QByteArray("STALE-PACKET-").repeated(20);
        controller().onEncodedChunk(stale, oldPipeline);
        QTest::qWait(800);
        const QByteArray second = server.receivedBody(1);
        QVERIFY(!second.contains(stale));
        QVERIFY2(problemOf(second).isEmpty(), qPrintable(problemOf(second)));
        QVERIFY(firstSerial(second) != first);

        goLive(server);
        QTRY_COMPARE_WITH_TIMEOUT(m_started->count(), 3, 10000);
        QTest::qWait(800);
        const QByteArray third = server.receivedBody(2);
        QVERIFY2(problemOf(third).isEmpty(), qPrintable(problemOf(third)));
        QVERIFY(firstSerial(third) != firstSerial(second));
        QCOMPARE(controller().healthMonitor()->reconnectCount(), 0);
    }

    // A loss reported while the broadcast is being stopped is handled once the stop is over,
    // not inside it: one stop, and a consistent state afterwards.
    void lossDuringAStopIsHandledAfterIt() {
        ScriptedSourceServer server;
        QSignalSpy stopped(&controller(), &Doredoradar::broadcastingStopped);
        goLive(server);
        QTRY_COMPARE_WITH_TIMEOUT(m_started->count(), 1, kConnectTimeoutMs);
        QTest::qWait(300);
        IcecastClient* source = client();
        QMetaObject::invokeMethod(
            source, [source] { source->handleConnectionLost(QStringLiteral("simulated")); },
            Qt::QueuedConnection);
        controller().stopBroadcasting();
        QCOMPARE(stopped.count(), 1);
        QTest::qWait(300);
        QCOMPARE(stopped.count(), 1);
        QVERIFY(!controller().isBroadcasting());
        QVERIFY(!mixer()->isRunning());
        const QStringList messages = m_log->messages(QStringLiteral("BROADCASTER"));
        const qsizetype stoppedAt = messages.indexOf(QStringLiteral("Broadcasting stopped"));
        const qsizetype lossAt =
            messages.indexOf(QStringLiteral("Disconnected, stopping broadcasting"));
        QVERIFY(stoppedAt >= 0);
        QVERIFY(lossAt > stoppedAt);
    }

    // A server reading at half the stream's bit rate: the encoded audio waiting to be sent is
    // bounded; beyond the limit the connection counts as lost and the reconnect series takes
    // over, and what waited is released.
    void slowUplinkIsTreatedAsALoss() {
        ScriptedSourceServer server;
        server.limitReceiving(4096);
        Reply slow = Reply::answer(kAccept);
        slow.readBytesPerSecond = kBytesPerSecond / 2;
        server.setSourceReplies({slow});
        controller().setSendBacklogLimitMs(3000);
        const qint64 limit = controller().sendBacklogLimitBytes();
        QCOMPARE(limit, qint64(3 * kBytesPerSecond));
        QSignalSpy disconnected(client(), &IcecastClient::disconnected);
        QSignalSpy reconnecting(client(), &IcecastClient::reconnecting);
        goLive(server);
        QTRY_COMPARE_WITH_TIMEOUT(m_started->count(), 1, kConnectTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(!disconnected.isEmpty(), 45000);
        QVERIFY(!reconnecting.isEmpty());
        // At most what arrived while one write was blocked comes on top of the limit. (The peak
        // counts from the controller's start: this case runs before those whose listener holds
        // the main thread up.)
        QVERIFY2(controller().peakPendingEncodedBytes() <= limit + 32768,
                 qPrintable(QString::number(controller().peakPendingEncodedBytes())));
        QTRY_VERIFY_WITH_TIMEOUT(controller().pendingEncodedBytes() < 16384, 5000);
    }

    // Title "A" in the first broadcast; the next one, started with no title, must not carry "A".
    void noStaleTitleInTheNextStream() {
        ScriptedSourceServer server;
        controller().setInitialStreamMetadata(QStringLiteral("A"), QString());
        goLive(server);
        QTRY_COMPARE_WITH_TIMEOUT(m_started->count(), 1, kConnectTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(server.receivedBody(0).size() > kBytesPerSecond / 2, 5000);
        const AudioProbe first = AudioProbe::of(server.receivedBody(0));
        QVERIFY2(first.ok, qPrintable(first.error));
        QCOMPARE(first.tags.value(QStringLiteral("title")), QStringLiteral("A"));

        controller().stopBroadcasting();
        client()->disconnectFromServer();
        controller().setInitialStreamMetadata(QString(), QString());
        goLive(server);
        QTRY_COMPARE_WITH_TIMEOUT(m_started->count(), 2, kConnectTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(server.receivedBody(1).size() > kBytesPerSecond / 2, 5000);
        const AudioProbe second = AudioProbe::of(server.receivedBody(1));
        QVERIFY2(second.ok, qPrintable(second.error));
        QVERIFY2(!second.tags.contains(QStringLiteral("title")),
                 qPrintable(second.tags.value(QStringLiteral("title"))));
    }

    // Going live reports the "broadcast.start" usage event with the encoder and the server, and
    // leaves the connect, the connection and the stop as breadcrumbs for any later report.
    void usageEventAndBreadcrumbs() {
        HttpReceiver receiver;
        QVERIFY(receiver.listen());
        qputenv("ONDARO_CRASH_DSN",
                QStringLiteral("http://key@127.0.0.1:%1/7").arg(receiver.port()).toUtf8());
        startCrashReporting();
        QVERIFY(isCrashReportingEnabled());
        ScriptedSourceServer server;
        goLive(server);
        QTRY_COMPARE_WITH_TIMEOUT(m_started->count(), 1, kConnectTimeoutMs);
        controller().stopBroadcasting();
        captureMessage(QStringLiteral("TEST"), QStringLiteral("after the broadcast"),
                       kCrashLevelInfo);

        QMap<QString, QJsonObject> events;  // by message
        const auto received = [&] {
            for (const auto& request : receiver.requests()) {
                const QJsonObject event = crash::eventFromEnvelope(request.body);
                events.insert(event.value("message").toObject().value("formatted").toString(),
                              event);
            }
            return events.contains("after the broadcast");
        };
        QTRY_VERIFY_WITH_TIMEOUT(received(), 10000);
        QCOMPARE(events.value("broadcast.start").value("tags").toObject(),
                 (QJsonObject{{"event.type", "broadcast.start"},
                              {"encoder", "OGG Opus"},
                              {"server", "127.0.0.1"}}));
        QStringList crumbs;
        for (const QJsonValue& crumb :
             events.value("after the broadcast").value("breadcrumbs").toObject().value("values")
                 .toArray()) {
            if (crumb.toObject().value("category") == QStringLiteral("broadcast"))
                crumbs << crumb.toObject().value("message").toString();
        }
        QCOMPARE(crumbs,
                 (QStringList{QStringLiteral("Connecting to 127.0.0.1:%1").arg(server.port()),
                              QStringLiteral("Connected to Icecast server"),
                              QStringLiteral("Broadcast stopped")}));
        shutdownCrashReporting();
        qunsetenv("ONDARO_CRASH_DSN");
    }

    void bothDecksReachAListener_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<QString>("contentType");
        QTest::newRow("opus") << int(Codec::Opus) << 48000 << 2 << "opus" << "audio/ogg";
        QTest::newRow("vorbis mono 44.1k") << int(Codec::Vorbis) << 44100 << 1 << "vorbis"
                                           << "audio/ogg";
        QTest::newRow("mp3 44.1k") << int(Codec::Mp3) << 44100 << 2 << "mp3" << "audio/mpeg";
        QTest::newRow("aac") << int(Codec::Aac) << 48000 << 2 << "aac" << "audio/aac";
    }

    // The listener gets the codec, rate and channels asked for, both deck tones at the gain
    // law's levels (both decks audible: -3 dB each; deck 2 at half volume), and an Ogg stream
    // opens with the title it was started with. The client's own listener check says so too.
    void bothDecksReachAListener() {
        QFETCH(int, format);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(QString, codec);
        QFETCH(QString, contentType);
        EncoderSettings* settings = controller().encoderSettings();
        settings->setEncoderType(format);
        settings->setSampleRate(rate);
        settings->setChannels(channels);
        controller().setDeck2Volume(0.5f);
        controller().setInitialStreamMetadata(QStringLiteral("Night Train"),
                                              QStringLiteral("The Testers"));
        QSignalSpy errors(&controller(), &Doredoradar::errorOccurred);
        QSignalSpy checked(client(), &IcecastClient::listenerCheckFinished);
        const QString mount = QStringLiteral("/") + codec;
        goLive(mount);
        QTRY_COMPARE_WITH_TIMEOUT(m_started->count(), 1, kConnectTimeoutMs);
        QTest::qWait(3500);  // what the listener's burst will hold
        QCOMPARE(checked.count(), 1);
        QCOMPARE(checked.first().first().value<OnAirVerdict>(), OnAirVerdict::Verified);
        QCOMPARE(controller().healthMonitor()->verifiedCount(), 1);

        const QByteArray heard = m_icecast.listen(mount, 40000, 8000);
        QCOMPARE(m_icecast.sourceStats(mount).value(QStringLiteral("server_type")).toString(),
                 contentType);
        QVERIFY2(errors.isEmpty(),
                 errors.isEmpty() ? "" : qPrintable(errors.first().first().toString()));
        const AudioProbe probe = AudioProbe::of(heard);
        QVERIFY2(probe.ok, qPrintable(probe.error));
        QCOMPARE(probe.codec, codec);
        QCOMPARE(probe.sampleRate, rate);
        QCOMPARE(probe.channels, channels);
        if (format == int(Codec::Opus) || format == int(Codec::Vorbis)) {
            QCOMPARE(probe.tags.value(QStringLiteral("title")), QStringLiteral("Night Train"));
            QCOMPARE(probe.tags.value(QStringLiteral("artist")), QStringLiteral("The Testers"));
        }
        if (!kRealTimeBuild) return;
        QVERIFY2(probe.decodedSeconds > 2.0, qPrintable(QString::number(probe.decodedSeconds)));
        // A mono stream plays on both channels of the decoder at -3 dB.
        const double upmix = channels == 1 ? M_SQRT1_2 : 1.0;
        const double expected1 = BroadcastRig::kToneAmplitude * BroadcastRig::kHeadroom * upmix;
        const double expected2 = expected1 * 0.5;
        // The newest audio of the burst: both captures have long settled there.
        const double from = probe.decodedSeconds - 1.7;
        const double a1 =
            tone::amplitudeS16(probe.pcm, 2, 0, 48000, BroadcastRig::kDeck1Hz, from, 1.5);
        const double a2 =
            tone::amplitudeS16(probe.pcm, 2, 1, 48000, BroadcastRig::kDeck2Hz, from, 1.5);
        const double error1 = tone::ratioDb(a1, expected1);
        const double error2 = tone::ratioDb(a2, expected2);
        QVERIFY2(qAbs(error1) < 1.0, qPrintable(QStringLiteral("deck 1 off by ") + dbText(error1)));
        QVERIFY2(qAbs(error2) < 1.0, qPrintable(QStringLiteral("deck 2 off by ") + dbText(error2)));
    }

    // Without any deck source the connect is not primed, and once connected the broadcast
    // cannot start: the user is told, and the source connection is ended rather than left
    // holding the mount with nothing to send.
    void noDeckSourceFailsAndFreesTheMount() {
        controller().audioManager()->setDeckInput(1, -1);
        controller().audioManager()->setDeckInput(2, -1);
        QSignalSpy errors(&controller(), &Doredoradar::errorOccurred);
        QSignalSpy connected(client(), &IcecastClient::connected);
        goLive(QStringLiteral("/nodeck"));
        QVERIFY(!controller().isPipelinePrimed());
        QVERIFY(!mixer()->isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!errors.isEmpty(), kConnectTimeoutMs);
        QCOMPARE(connected.count(), 1);
        QCOMPARE(errors.last().first().toString(),
                 QStringLiteral("No audio input selected - please select at least one deck input"));
        QVERIFY(!controller().isBroadcasting());
        QVERIFY(!client()->isConnected());
        QTRY_VERIFY_WITH_TIMEOUT(m_icecast.sourceStats(QStringLiteral("/nodeck")).isEmpty(), 5000);
    }

    // Monitor off before the connect: the decks and the mix run for the connect, but nothing is
    // heard at any moment, and 1500 ms after the server accepted, the monitor is released with
    // the user's volume as it was. Stopping then leaves no mixer running.
    void silentPrimeWithTheMonitorOff() {
        controller().setMonitorVolume(0.6f);
        QVERIFY(!mixer()->isMonitorEnabled());
        QSignalSpy connected(client(), &IcecastClient::connected);
        goLive(QStringLiteral("/silent"));
        QVERIFY(controller().isMonitorPrimeActive());
        QVERIFY(mixer()->isRunning());

        double loudest = 0.0;
        int samples = 0;
        QElapsedTimer clock;
        clock.start();
        qint64 connectedAtMs = -1;
        qint64 releasedAtMs = -1;
        while (clock.elapsed() < kConnectTimeoutMs + 5000) {
            const QVariant element = monitorElement();
            if (element.isValid()) {
                loudest = std::max(loudest, element.toDouble());
                ++samples;
            }
            loudest = std::max(loudest, double(mixer()->appliedMonitorVolume()));
            if (connectedAtMs < 0 && !connected.isEmpty()) connectedAtMs = clock.elapsed();
            if (connectedAtMs >= 0 && !controller().isMonitorPrimeActive()) {
                releasedAtMs = clock.elapsed();
                break;
            }
            QTest::qWait(5);
        }
        QCOMPARE(m_started->count(), 1);
        QVERIFY(samples > 10);
        QCOMPARE(loudest, 0.0);
        QVERIFY2(releasedAtMs >= 0, "the monitor prime never ended");
        const qint64 heldMs = releasedAtMs - connectedAtMs;
        QVERIFY2(heldMs >= 1400 && heldMs <= 3000, qPrintable(QString::number(heldMs)));
        QVERIFY(!mixer()->isMonitorEnabled());
        QCOMPARE(mixer()->monitorUserVolume(), 0.6f);
        QVERIFY(controller().isBroadcasting());
        // The decks keep feeding the broadcast.
        QVERIFY(controller().audioManager()->isDeckActive(1));

        controller().stopBroadcasting();
        QVERIFY(!mixer()->isRunning());
    }

    // Monitor on before the connect: it stays on at the user's volume throughout, and stopping
    // leaves a monitor-only mixer running.
    void monitorOnBeforeTheConnectIsLeftAlone() {
        controller().setMonitorVolume(0.7f);
        controller().setMonitorEnabled(true);
        QVERIFY(mixer()->isRunning());
        goLive(QStringLiteral("/monitored"));
        QVERIFY(!controller().isMonitorPrimeActive());
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < kConnectTimeoutMs && m_started->isEmpty()) {
            const QVariant element = monitorElement();
            if (element.isValid()) QCOMPARE(qRound(element.toDouble() * 100), 70);
            QCOMPARE(mixer()->appliedMonitorVolume(), 0.7f);
            QTest::qWait(5);
        }
        QCOMPARE(m_started->count(), 1);
        QTest::qWait(Doredoradar::kMonitorPrimeHoldMs + 500);
        QVERIFY(mixer()->isMonitorEnabled());
        QCOMPARE(mixer()->monitorUserVolume(), 0.7f);
        QCOMPARE(qRound(monitorElement().toDouble() * 100), 70);

        controller().stopBroadcasting();
        QVERIFY(mixer()->isRunning());
        QVERIFY(!mixer()->isEncodingEnabled());
        QVERIFY(mixer()->isMonitorEnabled());
    }

    // The server goes away mid-broadcast and comes back on the same port: the broadcast stops,
    // the reconnect series counts down once a second, and the broadcast resumes with a fresh
    // encoder (a new Ogg stream) that a listener can play. Each connection is checked from the
    // listener's side, the second one against the new stream's serial.
    void serverRestartResumesWithAFreshStream() {
        client()->setReconnectInterval(2);
        QSignalSpy checked(client(), &IcecastClient::listenerCheckFinished);
        QSignalSpy stopped(&controller(), &Doredoradar::broadcastingStopped);
        QSignalSpy reconnecting(client(), &IcecastClient::reconnecting);
        const QString mount = QStringLiteral("/restart");
        goLive(mount);
        QTRY_COMPARE_WITH_TIMEOUT(m_started->count(), 1, kConnectTimeoutMs);
        QTest::qWait(1000);
        const quint32 before = firstSerial(m_icecast.listen(mount, 8000));
        QVERIFY(before != 0);
        const quint64 pipelinesBefore = mixer()->pipelineSerial();

        QString error;
        QVERIFY2(m_icecast.restart(&error), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(m_started->count(), 2, 20000);
        // Attempt 1 of 10 counted down to 0; the last tick and the attempt fall on the same
        // moment, and a connect that is quick enough stops the countdown before its own 0.
        QList<int> countdown;
        for (const auto& args : reconnecting) {
            QCOMPARE(args.mid(0, 2), (QList<QVariant>{1, 10}));
            countdown << args.at(2).toInt();
        }
        QCOMPARE(countdown.mid(0, 3), (QList<int>{2, 1, 0}));
        QVERIFY(countdown.size() == 3 || (countdown.size() == 4 && countdown.last() == 0));
        QVERIFY(mixer()->pipelineSerial() > pipelinesBefore);
        QVERIFY(controller().healthMonitor()->reconnectCount() >= 1);
        QTRY_COMPARE_WITH_TIMEOUT(checked.count(), 2, 5000);
        for (const auto& args : checked)
            QCOMPARE(args.first().value<OnAirVerdict>(), OnAirVerdict::Verified);
        QCOMPARE(controller().healthMonitor()->verifiedCount(), 2);
        QCOMPARE(controller().healthMonitor()->notVerifiedCount(), 0);

        QTest::qWait(1500);
        const QByteArray after = m_icecast.listen(mount, 24000);
        const quint32 serial = firstSerial(after);
        QVERIFY(serial != 0);
        QVERIFY(serial != before);
        const AudioProbe probe = AudioProbe::of(after);
        QVERIFY2(probe.ok, qPrintable(probe.error));
        QCOMPARE(probe.codec, QStringLiteral("opus"));
    }

    // The pipeline fails under a live broadcast: the user is told, and the source connection
    // ends instead of holding the mount in silence.
    void mixerErrorEndsTheSourceConnection() {
        ScriptedSourceServer server;
        QSignalSpy errors(&controller(), &Doredoradar::errorOccurred);
        goLive(server);
        QTRY_COMPARE_WITH_TIMEOUT(m_started->count(), 1, kConnectTimeoutMs);
        mixer()->postErrorForTesting(QStringLiteral("Internal data stream error."));
        QTRY_VERIFY_WITH_TIMEOUT(!errors.isEmpty(), 10000);
        QVERIFY2(errors.first().first().toString().startsWith(QStringLiteral("Mixer error: ")),
                 qPrintable(errors.first().first().toString()));
        QVERIFY(!controller().isBroadcasting());
        QVERIFY(!client()->isConnected());
        QVERIFY(!client()->isReconnecting());
        QTRY_VERIFY_WITH_TIMEOUT(server.closedByClient(0), 5000);
    }
};

QTEST_GUILESS_MAIN(TestBroadcast)
#include "test_broadcast.moc"
