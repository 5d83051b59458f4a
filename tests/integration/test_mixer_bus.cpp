// Pipeline errors reach the application whatever event dispatcher Qt runs (this binary also runs
// with QT_NO_GLIB=1), and a machine without a sound server still mixes and encodes.
#include <QAbstractEventDispatcher>
#include <QtTest>

#include "audio/gstreamer_mixer.h"
#include "deck_feeder.h"
#include "encoded_collector.h"
#include "pulse_server.h"
#include "test_environment.h"

class TestMixerBus : public QObject {
    Q_OBJECT

    TestEnvironment m_env;

private Q_SLOTS:
    void initTestCase() {
        const QString dispatcher =
            QString::fromLatin1(QAbstractEventDispatcher::instance()->metaObject()->className());
        qInfo() << "event dispatcher:" << dispatcher;
        if (qEnvironmentVariableIsSet("QT_NO_GLIB")) {
            QVERIFY(!dispatcher.contains(QLatin1String("Glib")));
        }
        qputenv("JACK_NO_START_SERVER", "1");  // the automatic sink must not start a JACK server
        QVERIFY(GStreamerMixer::initializeGStreamer());
    }

    // The sound server goes away under a playing monitor: the sink's error arrives as
    // errorOccurred, once, and the mixer still shuts down cleanly.
    void lostSoundServerIsReported() {
#ifdef DOREDORADAR_THREAD_SANITIZER
        QSKIP("ThreadSanitizer stops checking a threaded process that starts helper programs");
#endif
        PulseServer pulse;
        QString error;
        QVERIFY2(pulse.start(&error), qPrintable(error));
        pulse.applyToProcess();

        GStreamerMixer mixer;
        QVERIFY(mixer.initialize());
        mixer.setDeck1Active(true);
        mixer.setMonitorEnabled(true);
        QVERIFY(mixer.start(false));
        QCOMPARE(mixer.monitorSinkFactory(), QStringLiteral("pulsesink"));
        QSignalSpy errors(&mixer, &GStreamerMixer::errorOccurred);
        DeckFeeder feeder(mixer, 1, 440.0, 0.3);
        feeder.start();
        QTest::qWait(300);
        QVERIFY(errors.isEmpty());

        pulse.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!errors.isEmpty(), 10000);
        QVERIFY(!errors.first().first().toString().isEmpty());
        QTest::qWait(300);
        QCOMPARE(errors.size(), 1);  // the follow-up errors of the same failure are only logged
        feeder.stop();
        mixer.shutdown();
    }

    // No sound server at all: the monitor falls back to the automatic sink and the broadcast
    // side still gets its encoded stream.
    void withoutASoundServerTheMixStillEncodes() {
        QTemporaryDir nowhere;
        qputenv("PULSE_SERVER", ("unix:" + nowhere.path() + "/no-server").toLocal8Bit());
        GStreamerMixer mixer;
        QVERIFY(mixer.initialize());
        mixer.setDeck1Active(true);
        QSignalSpy errors(&mixer, &GStreamerMixer::errorOccurred);
        EncodedCollector encoded(mixer);
        QVERIFY(mixer.start(true));
        QCOMPARE(mixer.monitorSinkFactory(), QStringLiteral("autoaudiosink"));
        DeckFeeder feeder(mixer, 1, 440.0, 0.3);
        feeder.start();
        QTRY_VERIFY_WITH_TIMEOUT(encoded.size() > 4000, 10000);
        QVERIFY(encoded.bytes().startsWith("OggS"));
        feeder.stop();
        QVERIFY(errors.isEmpty());
        mixer.shutdown();
    }
};

QTEST_GUILESS_MAIN(TestMixerBus)
#include "test_mixer_bus.moc"
