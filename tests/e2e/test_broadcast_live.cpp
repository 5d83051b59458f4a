// Going live end to end against a real Icecast: a stand-in microphone playing 440 Hz on deck 1
// and a program playing 1000 Hz on deck 2, captured by libobs under Xvfb from a private
// PulseAudio, mixed and encoded by GStreamer, primed, sent by our source client, fetched by a
// listener and read back by a real decoder.
#include <QtTest>

#include <algorithm>
#include <cmath>

#include "audio/encoder_settings.h"
#include "audio/obs_audio_manager.h"
#include "audio_probe.h"
#include "broadcast/stream_health_monitor.h"
#include "broadcast_rig.h"
#include "icecast_server.h"
#include "ogg_pages.h"
#include "test_environment.h"
#include "tone.h"

namespace {

constexpr int kConnectTimeoutMs = 15000;
const QString kUser = QStringLiteral("source");

QString dbText(double value) { return QString::number(value, 'f', 2) + QStringLiteral(" dB"); }

}  // namespace

class TestBroadcastLive : public QObject {
    Q_OBJECT

    TestEnvironment m_env;
    BroadcastRig m_rig;
    IcecastServer m_icecast;

    Doredoradar& controller() { return m_rig.controller(); }
    GStreamerMixer* mixer() { return m_rig.controller().mixer(); }
    IcecastClient* client() { return m_rig.controller().icecastClient(); }

    void goLive(const QString& mount) {
        controller().connectAndBroadcast(m_icecast.host(), m_icecast.port(), mount, kUser,
                                         m_icecast.options().sourcePassword);
    }

    // The monitor's volume element while the pipeline has one (an invalid value otherwise).
    QVariant monitorElement() {
        return mixer()->elementProperty(QStringLiteral("monitor_volume"), QStringLiteral("volume"));
    }

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(m_icecast.start(&error), qPrintable(error));
        QVERIFY2(m_rig.start(&error), qPrintable(error));
        QVERIFY2(m_rig.addProgramOnDeck2(&error), qPrintable(error));
    }

    void cleanup() {
        m_rig.reset();
        QString error;
        QVERIFY2(m_rig.restoreDecks(&error), qPrintable(error));
    }

    void cleanupTestCase() { m_rig.stop(); }

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
    // opens with the title it was started with.
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
        QSignalSpy started(&controller(), &Doredoradar::broadcastingStarted);
        QSignalSpy errors(&controller(), &Doredoradar::errorOccurred);
        const QString mount = QStringLiteral("/") + codec;
        goLive(mount);
        QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, kConnectTimeoutMs);
        QTest::qWait(3500);  // what the listener's burst will hold

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
        QSignalSpy started(&controller(), &Doredoradar::broadcastingStarted);
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
        QCOMPARE(started.count(), 1);
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
        QSignalSpy started(&controller(), &Doredoradar::broadcastingStarted);
        goLive(QStringLiteral("/monitored"));
        QVERIFY(!controller().isMonitorPrimeActive());
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < kConnectTimeoutMs && started.isEmpty()) {
            const QVariant element = monitorElement();
            if (element.isValid()) QCOMPARE(qRound(element.toDouble() * 100), 70);
            QCOMPARE(mixer()->appliedMonitorVolume(), 0.7f);
            QTest::qWait(5);
        }
        QCOMPARE(started.count(), 1);
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
    // encoder (a new Ogg stream) that a listener can play.
    void serverRestartResumesWithAFreshStream() {
        client()->setReconnectInterval(2);
        QSignalSpy started(&controller(), &Doredoradar::broadcastingStarted);
        QSignalSpy stopped(&controller(), &Doredoradar::broadcastingStopped);
        QSignalSpy reconnecting(client(), &IcecastClient::reconnecting);
        const QString mount = QStringLiteral("/restart");
        goLive(mount);
        QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, kConnectTimeoutMs);
        QTest::qWait(1000);
        const quint32 before = ogg::firstSerial(m_icecast.listen(mount, 8000));
        QVERIFY(before != 0);
        const quint64 pipelinesBefore = mixer()->pipelineSerial();

        QString error;
        QVERIFY2(m_icecast.restart(&error), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(started.count(), 2, 20000);
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

        QTest::qWait(1500);
        const QByteArray after = m_icecast.listen(mount, 24000);
        const quint32 serial = ogg::firstSerial(after);
        QVERIFY(serial != 0);
        QVERIFY(serial != before);
        const AudioProbe probe = AudioProbe::of(after);
        QVERIFY2(probe.ok, qPrintable(probe.error));
        QCOMPARE(probe.codec, QStringLiteral("opus"));
    }
};

QTEST_GUILESS_MAIN(TestBroadcastLive)
#include "test_broadcast_live.moc"
