// Deck capture through libobs with a private PulseAudio daemon and a virtual X display: input
// devices and playback monitors through libobs's PulseAudio plug-in, and one program's audio
// through our program source type (it lists PulseAudio's playing programs, records exactly the
// chosen program's stream and follows the program to its next stream). libobs is one per process,
// so the cases share one capture manager, in order.
#include <QtTest>

#include <obs.h>

#include <array>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/obs_audio_manager.h"
#include "log_capture.h"
#include "pulse_server.h"
#include "tone.h"
#include "xvfb_server.h"

namespace {

constexpr int kAudioTimeoutMs = 15000;

// What the capture manager hands to its callback, per deck: counts, the format of every buffer,
// and the most recent half second of audio for tone checks.
class DeckRecorder {
public:
    static constexpr std::size_t kKeepSamples = 2 * 24000;

    DeckAudioCallback callback() {
        return [this](int deck, const float* data, int frames, int channels, int rate) {
            onAudio(deck, data, frames, channels, rate);
        };
    }

    // Makes every call take this long, as a receiver copying into a mixer might.
    void setBusyMicroseconds(int us) { m_busyUs = us; }

    void onAudio(int deck, const float* data, int frames, int channels, int rate) {
        QElapsedTimer busy;
        busy.start();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (deck < 1 || deck > 2) return;  // never passed on (the manager's unit test)
            Deck& d = m_decks[static_cast<std::size_t>(deck - 1)];
            ++d.buffers;
            d.frames += static_cast<std::uint64_t>(frames);
            if (channels != 2 || rate != 48000 || frames <= 0 || !data) {
                ++d.badFormat;
                return;
            }
            d.recent.insert(d.recent.end(), data, data + frames * 2);
            if (d.recent.size() > 2 * kKeepSamples) {
                d.recent.erase(d.recent.begin(), d.recent.end() - kKeepSamples);
            }
        }
        while (busy.nsecsElapsed() < m_busyUs * 1000LL) {
        }
    }

    std::uint64_t buffers(int deck) const { return get(deck).buffers; }
    std::uint64_t frames(int deck) const { return get(deck).frames; }
    std::uint64_t badFormat(int deck) const { return get(deck).badFormat; }

    // Amplitude of a tone in the last 0.2 s of a deck's channel; 0 until that much has arrived.
    double amplitude(int deck, double frequencyHz, int channel) const {
        constexpr std::size_t kWindowSamples = 2 * 9600;
        const std::vector<float> recent = get(deck).recent;
        if (recent.size() < kWindowSamples) return 0.0;
        return tone::amplitudeF32(recent.data() + recent.size() - kWindowSamples + channel,
                                  kWindowSamples / 2, 2, frequencyHz, 48000);
    }

    void clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_decks = {};
    }
    void clearAudio(int deck) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_decks[static_cast<std::size_t>(deck - 1)].recent.clear();
    }

private:
    struct Deck {
        std::uint64_t buffers = 0;
        std::uint64_t frames = 0;
        std::uint64_t badFormat = 0;
        std::vector<float> recent;
    };
    Deck get(int deck) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_decks[static_cast<std::size_t>(deck - 1)];
    }

    mutable std::mutex m_mutex;
    std::array<Deck, 2> m_decks{};
    std::atomic<int> m_busyUs{0};
};

// Whether a deck carried one tone at `amplitude` (within 10 %) on both channels, and none of the
// others, over one 0.2 s window. Latches: once heard, a later glitch of the player (a loaded
// machine makes them) cannot undo it, so it suits QTRY, which evaluates its condition twice.
class ToneCheck {
public:
    ToneCheck(const DeckRecorder& recorder, int deck, double frequencyHz,
              std::initializer_list<double> others)
        : m_recorder(recorder), m_deck(deck), m_frequencyHz(frequencyHz), m_others(others) {}

    bool operator()() {
        if (m_heard) return true;
        bool ok = true;
        QStringList parts;
        for (int channel : {0, 1}) {
            const double own = m_recorder.amplitude(m_deck, m_frequencyHz, channel);
            ok = ok && std::fabs(own - 0.5) < 0.05;
            parts << QStringLiteral("%1 Hz: %2").arg(m_frequencyHz).arg(own, 0, 'f', 3);
            for (double other : m_others) {
                const double leak = m_recorder.amplitude(m_deck, other, channel);
                ok = ok && leak < 0.01;
                parts << QStringLiteral("%1 Hz: %2").arg(other).arg(leak, 0, 'f', 3);
            }
        }
        m_detail =
            QStringLiteral("deck %1, %2 frames: ").arg(m_deck).arg(m_recorder.frames(m_deck)) +
            parts.join(QStringLiteral(", "));
        m_heard = ok;
        return ok;
    }
    QString detail() const { return m_detail; }

private:
    const DeckRecorder& m_recorder;
    int m_deck;
    double m_frequencyHz;
    std::vector<double> m_others;
    bool m_heard = false;
    QString m_detail;
};

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

class TestCapture : public QObject {
    Q_OBJECT

    PulseServer m_pulse;
    XvfbServer m_xvfb;
    std::unique_ptr<OBSAudioManager> m_manager;
    DeckRecorder m_recorder;
    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<ManagedProcess> m_paplay;
    std::unique_ptr<ManagedProcess> m_gstOne;
    std::unique_ptr<ManagedProcess> m_gstTwo;

    int indexOf(const QString& id) { return m_manager->getInputDeviceIds().indexOf(id); }

    // Starts a deck on a device and waits until it has delivered `seconds` of audio.
    void startAndListen(int deck, const QString& deviceId, double seconds) {
        QVERIFY(m_manager->setDeckInputDevice(deck, deviceId));
        QCOMPARE(m_manager->deckInputId(deck), deviceId);
        QVERIFY(m_manager->startDeck(deck));
        const auto target = m_recorder.frames(deck) + static_cast<std::uint64_t>(seconds * 48000);
        QTRY_VERIFY_WITH_TIMEOUT(m_recorder.frames(deck) >= target, kAudioTimeoutMs);
    }

    QString tonePath(const QString& name) const {
        return m_pulse.scratchPath() + QLatin1Char('/') + name + QStringLiteral(".wav");
    }

    // The program list's entries of one executable. paplay is pacat under another name;
    // PulseAudio reports the executable as "pacat".
    QList<OBSAudioManager::AppInfo> appsOf(const QString& executable) const {
        QList<OBSAudioManager::AppInfo> found;
        for (const auto& app : m_manager->getRunningApplications()) {
            if (app.window.endsWith(QLatin1Char(':') + executable)) found.append(app);
        }
        return found;
    }

private Q_SLOTS:
    // Without DISPLAY, for the first case; the debug lines are kept but not printed.
    void initTestCase() {
        m_log = std::make_unique<LogCapture>(false);
        QString error;
        QVERIFY2(m_pulse.start(&error) && m_xvfb.start(&error), qPrintable(error));
        m_pulse.applyToProcess();
        QVERIFY(PulseServer::writeToneWav(tonePath("a440"), 440, 60));
        m_manager = std::make_unique<OBSAudioManager>();
        m_manager->setDeckAudioCallback(m_recorder.callback());
    }

    void cleanupTestCase() {
        m_manager.reset();
        m_log.reset();
    }

    void refusesToStartWithoutAnXDisplay() {
        qunsetenv("DISPLAY");
        QSignalSpy errors(m_manager.get(), &OBSAudioManager::errorOccurred);
        QVERIFY(!m_manager->initialize());
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("Failed to initialize libobs"));
        QVERIFY(m_log->mentions("libobs needs an X display"));  // the reason, for the log file

        m_xvfb.applyToProcess();
        QVERIFY(m_manager->initialize());
        QVERIFY(m_manager->initialize());  // a second call is a no-op
        QCOMPARE(errors.size(), 1);
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

    void decksCarryTheirOwnTones() {
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

        // Every unmuted buffer went to the callback.
        for (int deck : {1, 2}) {
            const DeckCaptureStats stats = m_manager->deckCaptureStats(deck);
            QCOMPARE(stats.forwarded, stats.buffers);
            QVERIFY(stats.forwarded > 0);
        }
    }

    void stoppingEndsDeliveryAtOnce() {
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

        // Changing a running deck's input stops it; it must be started again.
        QVERIFY(m_manager->isDeckActive(1));
        QVERIFY(m_manager->setDeckInputDevice(1, QStringLiteral("mic_sink.monitor")));
        QVERIFY(!m_manager->isDeckActive(1));
        QCOMPARE(m_manager->deckInputId(1), QStringLiteral("mic_sink.monitor"));
    }

    // libobs's hotkey thread would ask the X server for the keyboard 40 times a second; we use
    // no libobs hotkeys, so it is held still, but libobs still gets its lock when it asks.
    void hotkeyThreadIsHeldStill() {
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
        auto mic = m_pulse.playTone(QStringLiteral("mic_sink"), 440, QStringLiteral("mic-tone"));
        m_recorder.clearAudio(1);
        startAndListen(1, QStringLiteral("test_mic"), 0.2);
        ToneCheck mic440(m_recorder, 1, 440, {1000});
        QTRY_VERIFY2_WITH_TIMEOUT(mic440(), qPrintable(mic440.detail()), kAudioTimeoutMs);
        m_manager->stopDeck(1);
    }

    void listsEachPlayingProgramOnce() {
        QTRY_VERIFY_WITH_TIMEOUT(m_manager->getRunningApplications().isEmpty(), kAudioTimeoutMs);
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
        m_recorder.clearAudio(1);
        ToneCheck only440(m_recorder, 1, 440, {1000, 1500});
        QTRY_VERIFY2_WITH_TIMEOUT(only440(), qPrintable(only440.detail()), kAudioTimeoutMs);

        // The gst-launch-1.0 entry names gst-one's stream, not gst-two's.
        QVERIFY(m_manager->setDeckAppCapture(1, appsOf("gst-launch-1.0").value(0).window));
        QVERIFY(!m_manager->isDeckActive(1));
        QVERIFY(m_manager->startDeck(1));
        m_recorder.clearAudio(1);
        ToneCheck only1000(m_recorder, 1, 1000, {440, 1500});
        QTRY_VERIFY2_WITH_TIMEOUT(only1000(), qPrintable(only1000.detail()), kAudioTimeoutMs);

        // Metered on the capture thread: a 0.5 sine peaks at -6 dBFS.
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
        QVERIFY(m_manager->isDeckActive(2));
        m_manager->stopDeck(2);
    }

    // Last (it stops the sound server): the program source keeps trying to reach PulseAudio
    // and picks the program up again once the server is back.
    void reconnectsWhenPulseAudioComesBack() {
        auto player = m_pulse.playTone("test_sink", 1200, "comeback");
        QTRY_COMPARE_WITH_TIMEOUT(appsOf("gst-launch-1.0").size(), 1, kAudioTimeoutMs);
        QVERIFY(m_manager->setDeckAppCapture(1, appsOf("gst-launch-1.0").first().window));
        QVERIFY(m_manager->startDeck(1));
        ToneCheck before(m_recorder, 1, 1200, {});
        QTRY_VERIFY2_WITH_TIMEOUT(before(), qPrintable(before.detail()), kAudioTimeoutMs);

        player.reset();
        m_pulse.stop();
        // Once the source has noticed.
        QTRY_VERIFY_WITH_TIMEOUT(m_log->mentions(QStringLiteral("lost PulseAudio")),
                                 kAudioTimeoutMs);
        QString error;
        QVERIFY2(m_pulse.start(&error), qPrintable(error));
        player = m_pulse.playTone("test_sink", 1200, "comeback");
        m_recorder.clearAudio(1);
        ToneCheck after(m_recorder, 1, 1200, {});
        QTRY_VERIFY2_WITH_TIMEOUT(after(), qPrintable(after.detail()), kAudioTimeoutMs);
        m_manager->stopDeck(1);
    }
};

QTEST_GUILESS_MAIN(TestCapture)
#include "test_capture.moc"
