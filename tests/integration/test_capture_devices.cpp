// Input devices and playback monitors captured through libobs's PulseAudio plug-in, with a
// private PulseAudio daemon and a virtual X display.
#include <QtTest>

#include <cmath>
#include <memory>

#include "audio/obs_audio_manager.h"
#include "capture_recorder.h"
#include "pulse_server.h"
#include "xvfb_server.h"

namespace {

QStringList g_lines;
QtMessageHandler g_previousHandler = nullptr;

void captureHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    g_lines.append(QString::fromLatin1(context.category) + QLatin1Char(' ') + message);
    if (type != QtDebugMsg && g_previousHandler) g_previousHandler(type, context, message);
}

bool logged(const QString& fragment) {
    for (const QString& line : g_lines) {
        if (line.contains(fragment)) return true;
    }
    return false;
}

constexpr int kAudioTimeoutMs = 15000;

}  // namespace

class TestCaptureDevices : public QObject {
    Q_OBJECT

private:
    PulseServer m_pulse;
    XvfbServer m_xvfb;
    std::unique_ptr<OBSAudioManager> m_manager;
    DeckRecorder m_recorder;

    int indexOf(const QString& id) { return m_manager->getInputDeviceIds().indexOf(id); }

    // Starts a deck on a device and waits until it has delivered `seconds` of audio.
    void startAndListen(int deck, const QString& deviceId, double seconds) {
        QVERIFY(m_manager->setDeckInputDevice(deck, deviceId));
        QCOMPARE(m_manager->deckInputId(deck), deviceId);
        QVERIFY(m_manager->startDeck(deck));
        const auto target = m_recorder.frames(deck) + static_cast<std::uint64_t>(seconds * 48000);
        QTRY_VERIFY_WITH_TIMEOUT(m_recorder.frames(deck) >= target, kAudioTimeoutMs);
    }

private Q_SLOTS:
    void initTestCase() {
        g_previousHandler = qInstallMessageHandler(&captureHandler);
        QString error;
        QVERIFY2(m_pulse.start(&error), qPrintable(error));
        m_pulse.applyToProcess();
        QVERIFY2(m_xvfb.start(&error), qPrintable(error));
        m_manager = std::make_unique<OBSAudioManager>();
        m_manager->setDeckAudioCallback(m_recorder.callback());
    }

    void cleanupTestCase() {
        m_manager.reset();
        qInstallMessageHandler(g_previousHandler);
    }

    void refusesToStartWithoutAnXDisplay() {
        qunsetenv("DISPLAY");
        QSignalSpy errors(m_manager.get(), &OBSAudioManager::errorOccurred);
        QVERIFY(!m_manager->initialize());
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("Failed to initialize libobs"));
        QVERIFY(logged("libobs needs an X display"));
        QVERIFY(!m_manager->isInitialized());

        m_xvfb.applyToProcess();
        QVERIFY(m_manager->initialize());
        QCOMPARE(errors.size(), 1);
        QVERIFY(m_manager->initialize());  // a second call is a no-op
        QVERIFY(logged("OBSAudioManager already initialized"));
        QVERIFY(m_manager->pluginPath().endsWith(QStringLiteral("obs-plugins")));
        QVERIFY(logged("Source: \"pulse_input_capture\" ( \"Audio Input Capture (PulseAudio)\" )"));
        QVERIFY(logged("Source: \"doredoradar_program_capture\""));
    }

    void listsInputsAndMonitorsInOneOrder() {
        const QStringList ids = m_manager->getInputDeviceIds();
        const QStringList names = m_manager->getInputDeviceNames();
        QCOMPARE(names.size(), ids.size());
        QVERIFY2(ids.contains(QStringLiteral("test_mic")), qPrintable(ids.join(',')));
        QVERIFY(ids.contains(QStringLiteral("test_sink.monitor")));
        QVERIFY(ids.contains(QStringLiteral("mic_sink.monitor")));
        QCOMPARE(ids.count(QStringLiteral("default")), 1);
        QCOMPARE(names.at(ids.indexOf("test_mic")), QStringLiteral("Test_Microphone"));
        QCOMPARE(names.at(ids.indexOf("test_sink.monitor")),
                 QStringLiteral("Monitor of Test_Sink"));
        // Inputs first, then monitors.
        QVERIFY(ids.indexOf("test_mic") < ids.indexOf("test_sink.monitor"));
        // The raw list of the input type holds no monitors.
        const QStringList inputs =
            m_manager->enumerateAudioDevices("pulse_input_capture", "device_id");
        QVERIFY(inputs.contains("test_mic"));
        QVERIFY(!inputs.contains("test_sink.monitor"));
        QVERIFY(
            m_manager->enumerateAudioDevices("pulse_input_capture", "no_such_property").isEmpty());
        QVERIFY(m_manager->enumerateAudioDevices("no_such_type", "device_id").isEmpty());

        // Devices that appear later are listed without a restart.
        QVERIFY(m_pulse.addSinkWithInput(QStringLiteral("late")));
        QTRY_VERIFY_WITH_TIMEOUT(m_manager->getInputDeviceIds().contains("late_in"), 5000);
        QVERIFY(m_manager->getInputDeviceIds().contains("late.monitor"));
    }

    void decksCarryTheirTonesAndMeterThem() {
        auto mic = m_pulse.playTone(QStringLiteral("mic_sink"), 440, QStringLiteral("mic-tone"));
        auto speaker =
            m_pulse.playTone(QStringLiteral("test_sink"), 1000, QStringLiteral("speaker-tone"));
        QSignalSpy started(m_manager.get(), &OBSAudioManager::deckStarted);

        QVERIFY(m_manager->setDeckInput(1, indexOf(QStringLiteral("test_mic"))));
        QVERIFY(m_manager->startDeck(1));
        startAndListen(2, QStringLiteral("test_sink.monitor"), 0.1);
        QCOMPARE(started.size(), 2);
        QCOMPARE(started.at(0).at(0).toInt(), 1);
        // Wait for the tones themselves, steady over a whole window (the players need a
        // moment to start).
        QTRY_VERIFY_WITH_TIMEOUT(std::fabs(m_recorder.toneAmplitude(1, 440) - 0.5) < 0.05 &&
                                     std::fabs(m_recorder.toneAmplitude(2, 1000) - 0.5) < 0.05,
                                 kAudioTimeoutMs);

        for (int channel : {0, 1}) {
            const double own1 = m_recorder.toneAmplitude(1, 440, channel);
            const double other1 = m_recorder.toneAmplitude(1, 1000, channel);
            const double own2 = m_recorder.toneAmplitude(2, 1000, channel);
            const double other2 = m_recorder.toneAmplitude(2, 440, channel);
            const QString values =
                QStringLiteral("%1 %2 %3 %4").arg(own1).arg(other1).arg(own2).arg(other2);
            QVERIFY2(std::fabs(own1 - 0.5) < 0.05 && std::fabs(own2 - 0.5) < 0.05,
                     qPrintable(values));
            QVERIFY2(other1 < 0.01 && other2 < 0.01, qPrintable(values));
        }
        QCOMPARE(m_recorder.badFormat(1), 0u);
        QCOMPARE(m_recorder.badFormat(2), 0u);
        QCOMPARE(m_recorder.badDeck(), 0);

        // A 0.5 sine: peak -6 dBFS, RMS -9 dBFS. libobs's buffers vary in length, and a short
        // one may miss the crest, so the last buffer's own peak may read a little lower.
        QTest::qWait(800);
        const DeckLevels levels = m_manager->getDeckLevels(1);
        for (float peak : {levels.smoothedPeakLeft, levels.smoothedPeakRight}) {
            QVERIFY2(std::fabs(peak + 6.0f) < 1.0f, qPrintable(QString::number(peak)));
        }
        for (float peak : {levels.peakLeft, levels.peakRight}) {
            QVERIFY2(peak < -5.5f && peak > -20.0f, qPrintable(QString::number(peak)));
        }
        // Each buffer's RMS is smoothed in dB, and a buffer shorter than the tone's period
        // reads off by a dB or two, so the smoothed value wanders a little.
        for (float rms : {levels.rmsLeft, levels.rmsRight}) {
            QVERIFY2(std::fabs(rms + 9.0f) < 2.0f, qPrintable(QString::number(rms)));
        }

        // Every unmuted buffer went to the callback.
        for (int deck : {1, 2}) {
            const DeckCaptureStats stats = m_manager->deckCaptureStats(deck);
            QCOMPARE(stats.forwarded, stats.buffers);
            QVERIFY(stats.forwarded > 0);
        }
    }

    void stoppingEndsDeliveryAtOnce() {
        QVERIFY(m_manager->isDeckActive(1));
        QSignalSpy stopped(m_manager.get(), &OBSAudioManager::deckStopped);
        m_manager->stopDeck(1);
        const auto buffersAtStop = m_recorder.buffers(1);
        QVERIFY(!m_manager->isDeckActive(1));
        QCOMPARE(stopped.size(), 1);
        QCOMPARE(m_manager->getDeckLevels(1).smoothedPeakLeft, -60.0f);
        QTest::qWait(400);
        QCOMPARE(m_recorder.buffers(1), buffersAtStop);
        m_manager->stopDeck(1);  // already stopped: nothing
        QCOMPARE(stopped.size(), 1);

        // The source stays; starting again resumes delivery.
        QVERIFY(m_manager->hasDeckSource(1));
        QVERIFY(m_manager->startDeck(1));
        QTRY_VERIFY_WITH_TIMEOUT(m_recorder.buffers(1) > buffersAtStop, kAudioTimeoutMs);
    }

    void startingAnActiveDeckAttachesNothingTwice() {
        QSignalSpy started(m_manager.get(), &OBSAudioManager::deckStarted);
        QVERIFY(m_manager->startDeck(2));
        QCOMPARE(started.size(), 0);
        const auto before = m_manager->deckCaptureStats(2).frames;
        QElapsedTimer timer;
        timer.start();
        QTest::qWait(1000);
        const double rate = (m_manager->deckCaptureStats(2).frames - before) * 1000.0 /
                            static_cast<double>(timer.elapsed());
        QVERIFY2(rate > 30000 && rate < 66000, qPrintable(QString::number(rate)));
    }

    void clearingAndBadIndexes() {
        const QString before = m_manager->deckInputId(2);
        const int count = static_cast<int>(m_manager->getInputDeviceIds().size());
        QVERIFY(!m_manager->setDeckInput(2, count));
        QCOMPARE(m_manager->deckInputId(2), before);
        QVERIFY(m_manager->isDeckActive(2));

        QSignalSpy stopped(m_manager.get(), &OBSAudioManager::deckStopped);
        QVERIFY(m_manager->setDeckInput(2, -1));
        QCOMPARE(stopped.size(), 1);
        QVERIFY(!m_manager->isDeckActive(2));
        QVERIFY(!m_manager->hasDeckSource(2));
        QVERIFY(m_manager->deckInputId(2).isEmpty());
        QCOMPARE(m_manager->getDeckLevels(2).rmsLeft, -60.0f);

        QSignalSpy started(m_manager.get(), &OBSAudioManager::deckStarted);
        QVERIFY(!m_manager->startDeck(2));
        QCOMPARE(started.size(), 0);

        QVERIFY(!m_manager->setDeckInputDevice(3, QStringLiteral("test_mic")));
        QVERIFY(!m_manager->setDeckAppCapture(0, QStringLiteral("1:x:y")));
        QVERIFY(logged("Invalid deck number: 3"));
        QVERIFY(logged("Invalid deck number: 0"));

        // Changing a running deck's input stops it; it must be started again.
        QVERIFY(m_manager->isDeckActive(1));
        QVERIFY(m_manager->setDeckInputDevice(1, QStringLiteral("mic_sink.monitor")));
        QVERIFY(!m_manager->isDeckActive(1));
        QCOMPARE(m_manager->deckInputId(1), QStringLiteral("mic_sink.monitor"));
    }

    // libobs can be shut down and started again in one process; the decks come back empty.
    void shutsDownAndStartsAgain() {
        m_manager->shutdown();
        QVERIFY(!m_manager->isInitialized());
        QVERIFY(!m_manager->hasDeckSource(1));
        QVERIFY(m_manager->getInputDeviceIds().isEmpty());
        QVERIFY(m_manager->initialize());
        QVERIFY(m_manager->getInputDeviceIds().contains("test_mic"));
        auto mic = m_pulse.playTone(QStringLiteral("mic_sink"), 440, QStringLiteral("mic-tone"));
        m_recorder.clearAudio(1);
        startAndListen(1, QStringLiteral("test_mic"), 0.2);
        QTRY_VERIFY_WITH_TIMEOUT(m_recorder.toneAmplitude(1, 440) > 0.4, kAudioTimeoutMs);
    }
};

QTEST_GUILESS_MAIN(TestCaptureDevices)
#include "test_capture_devices.moc"
