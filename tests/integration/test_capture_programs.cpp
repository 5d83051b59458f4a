// One program's audio: the program source type lists PulseAudio's playing programs, records
// exactly the chosen program's stream, and follows the program to its next stream. Also two
// decks delivering on different threads at once.
#include <QtTest>

#include <cmath>
#include <memory>

#include "audio/obs_audio_manager.h"
#include "capture_test_helpers.h"

namespace {

constexpr int kAudioTimeoutMs = 15000;

}  // namespace

class TestCapturePrograms : public QObject {
    Q_OBJECT

private:
    CaptureRig m_rig;
    PulseServer& m_pulse = m_rig.pulse;
    std::unique_ptr<OBSAudioManager>& m_manager = m_rig.manager;
    DeckRecorder& m_recorder = m_rig.recorder;
    std::unique_ptr<ManagedProcess> m_paplay;
    std::unique_ptr<ManagedProcess> m_gstOne;
    std::unique_ptr<ManagedProcess> m_gstTwo;

    QString tonePath(const QString& name) const {
        return m_pulse.scratchPath() + QLatin1Char('/') + name + QStringLiteral(".wav");
    }

    // paplay is pacat under another name; PulseAudio reports the executable as "pacat".
    QList<OBSAudioManager::AppInfo> appsOf(const QString& executable) const {
        QList<OBSAudioManager::AppInfo> found;
        for (const auto& app : m_manager->getRunningApplications()) {
            if (app.window.endsWith(QLatin1Char(':') + executable)) found.append(app);
        }
        return found;
    }

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(m_rig.start(true, &error), qPrintable(error));
        QVERIFY(m_manager->initialize());
        QVERIFY(PulseServer::writeToneWav(tonePath("a440"), 440, 60));
    }

    void cleanupTestCase() { m_rig.stop(); }

    void listsEachPlayingProgramOnce() {
        QVERIFY(m_manager->getRunningApplications().isEmpty());
        m_paplay = m_pulse.playFile("test_sink", tonePath("a440"), "Tone Player");
        m_gstOne = m_pulse.playTone("test_sink", 1000, "gst-one");
        QTRY_COMPARE_WITH_TIMEOUT(appsOf("gst-launch-1.0").size(), 1, kAudioTimeoutMs);
        m_gstTwo = m_pulse.playTone("test_sink", 1500, "gst-two");
        QTRY_VERIFY_WITH_TIMEOUT(
            m_pulse.pactl({"list", "sink-inputs"}).contains(QStringLiteral("gst-two")),
            kAudioTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(appsOf("pacat").size(), 1, kAudioTimeoutMs);

        // Two streams of gst-launch-1.0: one entry, the first one's.
        const auto gst = appsOf("gst-launch-1.0");
        QCOMPARE(gst.size(), 1);
        QVERIFY2(gst.first().name.startsWith(QStringLiteral("gst-one")),
                 qPrintable(gst.first().name));
        QVERIFY(gst.first().window.contains(QStringLiteral(":gst-one:")));
        QCOMPARE(appsOf("pacat").first().name, QStringLiteral("Tone Player"));
        QCOMPARE(m_manager->getRunningApplications().size(), 2);
    }

    void capturesExactlyTheChosenStream() {
        const QString paplay = appsOf("pacat").value(0).window;
        QVERIFY(!paplay.isEmpty());
        QVERIFY(m_manager->setDeckAppCapture(1, paplay));
        QCOMPARE(m_manager->deckInputId(1), QStringLiteral("app:") + paplay);
        QVERIFY(m_manager->startDeck(1));
        ToneCheck only440(m_recorder, 1, 440, {1000, 1500});
        QTRY_VERIFY2_WITH_TIMEOUT(only440(), qPrintable(only440.detail()), kAudioTimeoutMs);
        QCOMPARE(m_recorder.badFormat(1), 0u);

        // The gst-launch-1.0 entry names gst-one's stream, not gst-two's.
        QVERIFY(m_manager->setDeckAppCapture(1, appsOf("gst-launch-1.0").value(0).window));
        QVERIFY(!m_manager->isDeckActive(1));
        QVERIFY(m_manager->startDeck(1));
        m_recorder.clearAudio(1);
        ToneCheck only1000(m_recorder, 1, 1000, {440, 1500});
        QTRY_VERIFY2_WITH_TIMEOUT(only1000(), qPrintable(only1000.detail()), kAudioTimeoutMs);

        // Metered as devices are: a 0.5 sine peaks at -6 dBFS.
        QTRY_VERIFY_WITH_TIMEOUT(
            std::fabs(m_manager->getDeckLevels(1).smoothedPeakLeft + 6.0f) < 1.0f, kAudioTimeoutMs);
        QCOMPARE(m_recorder.badFormat(1), 0u);
        m_manager->stopDeck(1);
    }

    // Deck 1 records a program on the program source's own thread, deck 2 a device on
    // libobs's PulseAudio thread; the callback is slow and replaced all the while. Every
    // buffer either deck delivers must still be forwarded.
    void twoDecksAtOnceForwardEveryBuffer() {
        auto mic = m_pulse.playTone("mic_sink", 700, "mic-tone");
        if (!m_paplay) m_paplay = m_pulse.playFile("test_sink", tonePath("a440"), "Tone Player");
        QTRY_COMPARE_WITH_TIMEOUT(appsOf("pacat").size(), 1, kAudioTimeoutMs);
        QVERIFY(m_manager->setDeckAppCapture(1, appsOf("pacat").value(0).window));
        QVERIFY(m_manager->setDeckInputDevice(2, QStringLiteral("test_mic")));
        const DeckCaptureStats before1 = m_manager->deckCaptureStats(1);
        const DeckCaptureStats before2 = m_manager->deckCaptureStats(2);
        m_recorder.clear();
        m_recorder.setBusyMicroseconds(300);
        QVERIFY(m_manager->startDeck(1));
        QVERIFY(m_manager->startDeck(2));
        QTRY_VERIFY_WITH_TIMEOUT(m_recorder.buffers(1) > 0 && m_recorder.buffers(2) > 0,
                                 kAudioTimeoutMs);

        ToneCheck only440(m_recorder, 1, 440, {700});
        ToneCheck only700(m_recorder, 2, 700, {440});
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 3000) {
            m_manager->setDeckAudioCallback(m_recorder.callback());
            QTest::qWait(5);
            only440();
            only700();
        }
        m_manager->stopDeck(1);
        m_manager->stopDeck(2);
        m_recorder.setBusyMicroseconds(0);
        QVERIFY2(only440(), qPrintable(only440.detail()));
        QVERIFY2(only700(), qPrintable(only700.detail()));
        const DeckCaptureStats after1 = m_manager->deckCaptureStats(1);
        const DeckCaptureStats after2 = m_manager->deckCaptureStats(2);
        const auto delivered1 = after1.buffers - before1.buffers;
        const auto delivered2 = after2.buffers - before2.buffers;
        // Both decks ran through the swaps: at least one second of audio each. Buffer counts
        // depend on the fragment size the player chose, so the measure is frames.
        const auto frames1 = after1.frames - before1.frames;
        const auto frames2 = after2.frames - before2.frames;
        QVERIFY2(frames1 >= 48000 && frames2 >= 48000,
                 qPrintable(QStringLiteral("%1 buffers / %2 frames, %3 buffers / %4 frames")
                                .arg(delivered1).arg(frames1).arg(delivered2).arg(frames2)));
        QCOMPARE(after1.forwarded - before1.forwarded, delivered1);
        QCOMPARE(after2.forwarded - before2.forwarded, delivered2);
        QCOMPARE(after1.unforwarded, before1.unforwarded);
        QCOMPARE(after2.unforwarded, before2.unforwarded);
        QCOMPARE(m_recorder.buffers(1), delivered1);
        QCOMPARE(m_recorder.buffers(2), delivered2);
    }

    // A player that moves on to its next track ends one stream and opens another.
    void followsTheProgramToItsNextStream() {
        m_paplay.reset();
        m_gstOne.reset();
        m_gstTwo.reset();
        QTRY_VERIFY_WITH_TIMEOUT(m_manager->getRunningApplications().isEmpty(), kAudioTimeoutMs);

        QVERIFY(PulseServer::writeToneWav(tonePath("short880"), 880, 2.5));
        QVERIFY(PulseServer::writeToneWav(tonePath("long660"), 660, 30));
        auto first = m_pulse.playFile("test_sink", tonePath("short880"), "Jukebox");
        QTRY_COMPARE_WITH_TIMEOUT(appsOf("pacat").size(), 1, kAudioTimeoutMs);
        QVERIFY(m_manager->setDeckAppCapture(2, appsOf("pacat").first().window));
        QVERIFY(m_manager->startDeck(2));
        ToneCheck only880(m_recorder, 2, 880, {660});
        QTRY_VERIFY2_WITH_TIMEOUT(only880(), qPrintable(only880.detail()), kAudioTimeoutMs);

        QVERIFY(first->process()->waitForFinished(kAudioTimeoutMs));
        auto second = m_pulse.playFile("test_sink", tonePath("long660"), "Jukebox");
        ToneCheck only660(m_recorder, 2, 660, {880});
        QTRY_VERIFY2_WITH_TIMEOUT(only660(), qPrintable(only660.detail()), kAudioTimeoutMs);
        QVERIFY(m_rig.log->mentions(QStringLiteral("looking for the program again")));
        QVERIFY(m_manager->isDeckActive(2));
        m_manager->stopDeck(2);
    }

    // The program source keeps trying to reach PulseAudio and picks the program up again once
    // the server is back.
    void reconnectsWhenPulseAudioComesBack() {
        auto player = m_pulse.playTone("test_sink", 1200, "comeback");
        QTRY_COMPARE_WITH_TIMEOUT(appsOf("gst-launch-1.0").size(), 1, kAudioTimeoutMs);
        QVERIFY(m_manager->setDeckAppCapture(1, appsOf("gst-launch-1.0").first().window));
        QVERIFY(m_manager->startDeck(1));
        ToneCheck before(m_recorder, 1, 1200, {});
        QTRY_VERIFY2_WITH_TIMEOUT(before(), qPrintable(before.detail()), kAudioTimeoutMs);

        player.reset();
        m_pulse.stop();
        QTRY_VERIFY_WITH_TIMEOUT(m_rig.log->mentions(QStringLiteral("lost PulseAudio")),
                                 kAudioTimeoutMs);
        QString error;
        QVERIFY2(m_pulse.start(&error), qPrintable(error));
        player = m_pulse.playTone("test_sink", 1200, "comeback");
        m_recorder.clearAudio(1);
        ToneCheck after(m_recorder, 1, 1200, {});
        QTRY_VERIFY2_WITH_TIMEOUT(after(), qPrintable(after.detail()), kAudioTimeoutMs);
        QVERIFY(m_rig.log->mentions(QStringLiteral("reconnected to PulseAudio")));
        m_manager->stopDeck(1);
    }
};

QTEST_GUILESS_MAIN(TestCapturePrograms)
#include "test_capture_programs.moc"
