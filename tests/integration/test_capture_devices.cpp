// Input devices and playback monitors captured through libobs's PulseAudio plug-in, with a
// private PulseAudio daemon and a virtual X display.
#include <QtTest>

#include <obs.h>

#include <QDir>
#include <QFile>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include "audio/obs_audio_manager.h"
#include "capture_test_helpers.h"

namespace {

constexpr int kAudioTimeoutMs = 15000;

// Context switches of this process's thread whose name starts with `prefix`, -1 if none.
qint64 threadSwitches(const QString& prefix) {
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly) ||
            !QString::fromUtf8(comm.readAll()).startsWith(prefix))
            continue;
        QFile status(tasks.filePath(tid + QStringLiteral("/status")));
        if (!status.open(QIODevice::ReadOnly)) return -1;
        qint64 switches = 0;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.contains("ctxt_switches:"))
                switches += line.split(':').at(1).trimmed().toLongLong();
        }
        return switches;
    }
    return -1;
}

}  // namespace

class TestCaptureDevices : public QObject {
    Q_OBJECT

private:
    CaptureRig m_rig;
    PulseServer& m_pulse = m_rig.pulse;
    XvfbServer& m_xvfb = m_rig.xvfb;
    std::unique_ptr<OBSAudioManager>& m_manager = m_rig.manager;
    DeckRecorder& m_recorder = m_rig.recorder;

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
        QString error;
        QVERIFY2(m_rig.start(false, &error), qPrintable(error));
    }

    void cleanupTestCase() { m_rig.stop(); }

    void refusesToStartWithoutAnXDisplay() {
        qunsetenv("DISPLAY");
        QSignalSpy errors(m_manager.get(), &OBSAudioManager::errorOccurred);
        QVERIFY(!m_manager->initialize());
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("Failed to initialize libobs"));
        QVERIFY(m_rig.log->mentions("libobs needs an X display"));
        QVERIFY(!m_manager->isInitialized());

        m_xvfb.applyToProcess();
        QVERIFY(m_manager->initialize());
        QCOMPARE(errors.size(), 1);
        QVERIFY(m_manager->initialize());  // a second call is a no-op
        QVERIFY(m_rig.log->mentions("OBSAudioManager already initialized"));
        QVERIFY(m_manager->pluginPath().endsWith(QStringLiteral("obs-plugins")));
        QVERIFY(m_rig.log->mentions(
            "Source: \"pulse_input_capture\" ( \"Audio Input Capture (PulseAudio)\" )"));
        QVERIFY(m_rig.log->mentions("Source: \"doredoradar_program_capture\""));
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
        // Each deck carries its own tone and nothing of the other's (the players need a
        // moment to start).
        ToneCheck mic440(m_recorder, 1, 440, {1000});
        ToneCheck speaker1000(m_recorder, 2, 1000, {440});
        QTRY_VERIFY2_WITH_TIMEOUT(mic440(), qPrintable(mic440.detail()), kAudioTimeoutMs);
        QTRY_VERIFY2_WITH_TIMEOUT(speaker1000(), qPrintable(speaker1000.detail()), kAudioTimeoutMs);
        QCOMPARE(m_recorder.badFormat(1), 0u);
        QCOMPARE(m_recorder.badFormat(2), 0u);
        QCOMPARE(m_recorder.badDeck(), 0);

        // A 0.5 sine: peak -6 dBFS, RMS -9 dBFS. libobs's buffers vary in length and a short
        // one may miss the crest, so the last buffer's own peak may read lower; each buffer's
        // RMS is smoothed in dB, so a buffer shorter than the tone's period moves it a little.
        // Latched like the tone checks: a glitch of the player must not undo a good reading.
        bool levelsRight = false;
        QString levelsText;
        auto readsTheTone = [&] {
            if (levelsRight) return true;
            const DeckLevels l = m_manager->getDeckLevels(1);
            levelsText = QStringLiteral("peak %1 %2, smoothed %3 %4, rms %5 %6")
                             .arg(l.peakLeft)
                             .arg(l.peakRight)
                             .arg(l.smoothedPeakLeft)
                             .arg(l.smoothedPeakRight)
                             .arg(l.rmsLeft)
                             .arg(l.rmsRight);
            levelsRight = std::fabs(l.smoothedPeakLeft + 6.0f) < 1.0f &&
                          std::fabs(l.smoothedPeakRight + 6.0f) < 1.0f && l.peakLeft < -5.5f &&
                          l.peakLeft > -20.0f && l.peakRight < -5.5f && l.peakRight > -20.0f &&
                          std::fabs(l.rmsLeft + 9.0f) < 2.0f && std::fabs(l.rmsRight + 9.0f) < 2.0f;
            return levelsRight;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(readsTheTone(), qPrintable(levelsText), kAudioTimeoutMs);

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
        QVERIFY(m_rig.log->mentions("Invalid deck number: 3"));
        QVERIFY(m_rig.log->mentions("Invalid deck number: 0"));

        // Changing a running deck's input stops it; it must be started again.
        QVERIFY(m_manager->isDeckActive(1));
        QVERIFY(m_manager->setDeckInputDevice(1, QStringLiteral("mic_sink.monitor")));
        QVERIFY(!m_manager->isDeckActive(1));
        QCOMPARE(m_manager->deckInputId(1), QStringLiteral("mic_sink.monitor"));
    }

    // libobs's hotkey thread would ask the X server for the keyboard 40 times a second; we use
    // no libobs hotkeys, so it is held still, but libobs still gets its lock when it asks.
    void hotkeyThreadIsHeldStill() {
        m_xvfb.applyToProcess();
        QVERIFY(m_manager->initialize());
        auto mic = m_pulse.playTone(QStringLiteral("mic_sink"), 440, QStringLiteral("mic-tone"));
        startAndListen(1, QStringLiteral("test_mic"), 0.2);
        const QString hotkeyThread = QStringLiteral("libobs: hotkey");
        const qint64 before = threadSwitches(hotkeyThread);
        QVERIFY2(before >= 0, "libobs's hotkey thread was not found");
        QTest::qWait(2000);
        const qint64 switches = threadSwitches(hotkeyThread) - before;
        // Left to itself it switches about 400 times in two seconds.
        QVERIFY2(switches < 60, qPrintable(QStringLiteral("%1 switches in 2 s").arg(switches)));

        std::atomic<bool> ran{false};
        std::thread asker([&ran] {
            obs_hotkey_update_atomic(
                [](void* flag) { static_cast<std::atomic<bool>*>(flag)->store(true); }, &ran);
        });
        QTRY_VERIFY_WITH_TIMEOUT(ran.load(), 5000);
        asker.join();
        m_manager->stopDeck(1);
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
        ToneCheck mic440(m_recorder, 1, 440, {1000});
        QTRY_VERIFY2_WITH_TIMEOUT(mic440(), qPrintable(mic440.detail()), kAudioTimeoutMs);
    }
};

QTEST_GUILESS_MAIN(TestCaptureDevices)
#include "test_capture_devices.moc"
