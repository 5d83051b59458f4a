// The capture path without libobs: level meter ballistics, dB conversions, program naming, the
// interleave/meter/forward path of a deck, and replacing the callback while two decks deliver.
#include <QtTest>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "audio/audio_levels.h"
#include "audio/deck_level_meter.h"
#include "audio/obs_audio_manager.h"
#include "core/logger.h"
#include "linux/pulse_playing_streams.h"
#include "log_capture.h"

namespace {

constexpr std::int64_t kMs = 1'000'000;

std::vector<float> sine(int frames, double amplitude, double frequencyHz) {
    std::vector<float> samples(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        samples[static_cast<std::size_t>(i)] =
            static_cast<float>(amplitude * std::sin(2.0 * M_PI * frequencyHz * i / 48000.0));
    }
    return samples;
}

void feedMeter(DeckLevelMeter& meter, float value, int frames, std::int64_t atNs) {
    std::vector<float> interleaved(static_cast<std::size_t>(frames) * 2, value);
    meter.processAt(interleaved.data(), frames, 2, atNs);
}

}  // namespace

class TestCaptureCore : public QObject {
    Q_OBJECT

    std::unique_ptr<LogCapture> m_log;

    int countLines(const QString& fragment) const {
        return int(m_log->messages(QStringLiteral("OBS_AUDIO")).filter(fragment).size());
    }

private Q_SLOTS:
    void initTestCase() {
        Logger::instance();
        m_log = std::make_unique<LogCapture>();
    }
    void init() { m_log->clear(); }

    void meterFloorsSilenceAndFollowsPeaks() {
        DeckLevelMeter meter;
        meter.resetAt(0);
        feedMeter(meter, 0.0f, 480, 10 * kMs);
        DeckLevels levels = meter.levels();
        for (float v : {levels.peakLeft, levels.peakRight, levels.smoothedPeakLeft,
                        levels.smoothedPeakRight, levels.rmsLeft, levels.rmsRight}) {
            QCOMPARE(v, -60.0f);
        }

        // Full scale after silence: within 1 dB of 0 after 25 ms, not yet after 15 ms.
        DeckLevelMeter fast;
        fast.resetAt(0);
        feedMeter(fast, 1.0f, 480, 15 * kMs);
        QVERIFY(fast.levels().smoothedPeakLeft < -1.0f);
        DeckLevelMeter attack;
        attack.resetAt(0);
        feedMeter(attack, 1.0f, 480, 25 * kMs);
        levels = attack.levels();
        QCOMPARE(levels.peakLeft, 0.0f);
        QVERIFY2(levels.smoothedPeakLeft > -1.0f,
                 qPrintable(QString::number(levels.smoothedPeakLeft)));
        QVERIFY(levels.smoothedPeakRight > -1.0f);

        // Release: one 0.4 s time constant after the signal stops, 63 % of the way to -60 dB.
        attack.resetAt(0);
        feedMeter(attack, 1.0f, 480, 1000 * kMs);
        const float before = attack.levels().smoothedPeakLeft;
        feedMeter(attack, 0.0f, 480, 1400 * kMs);
        const float expected = before + (1.0f - std::exp(-1.0f)) * (-60.0f - before);
        QVERIFY(std::fabs(attack.levels().smoothedPeakLeft - expected) < 0.1f);
        QCOMPARE(attack.levels().peakLeft, -60.0f);
    }

    void meterReadsSidesMonoRmsAndReset() {
        DeckLevelMeter meter;
        meter.resetAt(0);
        // Left a 0.5 sine, right silent; after long smoothing RMS settles at -9 dB.
        const std::vector<float> tone = sine(48000, 0.5, 1000.0);
        std::vector<float> interleaved(tone.size() * 2, 0.0f);
        for (std::size_t i = 0; i < tone.size(); ++i) interleaved[2 * i] = tone[i];
        for (int second = 1; second <= 5; ++second) {
            meter.processAt(interleaved.data(), 48000, 2, second * 1000 * kMs);
        }
        DeckLevels levels = meter.levels();
        QVERIFY(std::fabs(levels.peakLeft - (-6.02f)) < 0.05f);
        QVERIFY(std::fabs(levels.rmsLeft - (-9.03f)) < 0.1f);
        QCOMPARE(levels.peakRight, -60.0f);
        QCOMPARE(levels.rmsRight, -60.0f);

        DeckLevelMeter mono;
        mono.resetAt(0);
        const std::vector<float> half(480, 0.5f);
        mono.processAt(half.data(), 480, 1, 0);  // dt 0: values taken as they are
        levels = mono.levels();
        QCOMPARE(levels.smoothedPeakRight, levels.smoothedPeakLeft);
        QVERIFY(std::fabs(levels.rmsRight - (-6.02f)) < 0.05f);

        mono.setEnabled(false);
        mono.resetAt(0);
        mono.processAt(half.data(), 480, 1, 5 * kMs);
        QCOMPARE(mono.levels().peakLeft, -60.0f);
    }

    void convertsDecibels() {
        QCOMPARE(dbToLinear(-90.0f), 0.0f);
        QCOMPARE(dbToLinear(-120.0f), 0.0f);
        QCOMPARE(dbToLinear(0.0f), 1.0f);
        QVERIFY(std::fabs(dbToLinear(-6.0206f) - 0.5f) < 1e-4f);
        QCOMPARE(linearToDb(0.0f), -90.0f);
        QCOMPARE(linearToDb(-1.0f), -90.0f);
        QVERIFY(std::fabs(linearToDb(2.0f) - 6.0206f) < 1e-3f);
        QVERIFY(std::fabs(linearToDb(dbToLinear(-37.5f)) + 37.5f) < 1e-3f);
    }

    void namesProgramsOncePerExecutable() {
        const QString longLabel = QString(51, QLatin1Char('x'));
        const QList<QPair<QString, QString>> items{
            {"[spotify.exe]: Some Song", "Spotify:Chrome_Widget:Spotify.exe"},
            {"[explorer.exe]: Files", "Files:CabinetWClass:explorer.exe"},
            {"Second window", "Other:Chrome_Widget:spotify.exe"},
            {longLabel, "Title:Class:long.exe"},
            {"", "x:y:empty-label.exe"},
            {"No value", ""},
            {QString(60, QLatin1Char('y')), "no-exe-here"},
            {"firefox - a stream", "12:Firefox:firefox"},
            {"GNOME notifications", "13:gnome-shell:gnome-shell"},
            {"paplay one", "14:paplay:paplay"},
            {"paplay two", "15:paplay:paplay"},
            {"Loopback", "16:Loopback:"}};
        const QList<OBSAudioManager::AppInfo> apps = OBSAudioManager::appInfosFromListItems(items);
        QStringList names;
        for (const auto& app : apps) names << app.name;
        QCOMPARE(names, (QStringList{"Spotify", QString(47, QLatin1Char('x')) + "...",
                                     QString(60, QLatin1Char('y')), "Mozilla Firefox", "paplay one",
                                     "Loopback"}));
        QCOMPARE(apps.at(0).window, QStringLiteral("Spotify:Chrome_Widget:Spotify.exe"));
        QCOMPARE(apps.at(4).window, QStringLiteral("14:paplay:paplay"));
    }

    void interleavesAndForwardsWholeBuffers() {
        OBSAudioManager manager;
        struct Seen {
            int deck = 0, frames = 0, channels = 0, rate = 0;
            std::vector<float> data;
        } seen;
        manager.setDeckAudioCallback(
            [&seen](int deck, const float* data, int frames, int channels, int rate) {
                seen = {deck, frames, channels, rate,
                        std::vector<float>(data, data + frames * channels)};
            });

        // A missing right plane is silence on the right.
        const std::vector<float> left = sine(480, 0.25, 440.0);
        manager.handleAudioData(2, left.data(), nullptr, 480, false);
        QCOMPARE(seen.deck, 2);
        QCOMPARE(seen.frames, 480);
        QCOMPARE(seen.channels, 2);
        QCOMPARE(seen.rate, 48000);
        for (int i = 0; i < 480; ++i) {
            QCOMPARE(seen.data[2 * i], left[i]);
            QCOMPARE(seen.data[2 * i + 1], 0.0f);
        }

        // More than the scratch space holds: grown once, forwarded whole, said once.
        const int big = 10000;
        const std::vector<float> l = sine(big, 0.5, 100.0), r = sine(big, 0.1, 200.0);
        manager.handleAudioData(1, l.data(), r.data(), big, false);
        QCOMPARE(seen.deck, 1);
        QCOMPARE(seen.frames, big);
        QCOMPARE(seen.data[2 * (big - 1)], l[big - 1]);
        QCOMPARE(seen.data[2 * (big - 1) + 1], r[big - 1]);
        manager.handleAudioData(1, l.data(), r.data(), big, false);
        QCOMPARE(countLines("resizing on audio thread"), 1);

        // Muted buffers reach neither meter nor callback; invalid decks nothing at all.
        seen = {};
        const float peakBefore = manager.getDeckLevels(2).peakLeft;
        const std::vector<float> loud(480, 1.0f);
        manager.handleAudioData(2, loud.data(), loud.data(), 480, true);
        QCOMPARE(manager.getDeckLevels(2).peakLeft, peakBefore);
        manager.handleAudioData(3, left.data(), left.data(), 480, false);
        manager.handleAudioData(0, left.data(), left.data(), 480, false);
        QCOMPARE(seen.frames, 0);
        const DeckCaptureStats deck2 = manager.deckCaptureStats(2);
        QCOMPARE(deck2.buffers, 2u);
        QCOMPARE(deck2.muted, 1u);
        QCOMPARE(deck2.forwarded, 1u);
        QCOMPARE(manager.deckCaptureStats(1).frames, 2u * big);
    }

    void withoutCallbackMetersButDropsAndSaysSoOnce() {
        OBSAudioManager manager;
        const std::vector<float> tone = sine(480, 0.5, 440.0);
        for (int i = 0; i < 3; ++i)
            manager.handleAudioData(1, tone.data(), tone.data(), 480, false);
        QVERIFY(manager.getDeckLevels(1).peakLeft > -7.0f);
        QCOMPARE(manager.getDeckLevels(2).peakLeft, -60.0f);
        const DeckCaptureStats stats = manager.deckCaptureStats(1);
        QCOMPARE(stats.buffers, 3u);
        QCOMPARE(stats.unforwarded, 3u);
        QCOMPARE(stats.forwarded, 0u);
        QCOMPARE(countLines("Deck audio callback not set, audio data will not be forwarded"), 1);

        // After clearing, buffers drop again without a word.
        int calls = 0;
        manager.setDeckAudioCallback([&calls](int, const float*, int, int, int) { ++calls; });
        manager.handleAudioData(1, tone.data(), tone.data(), 480, false);
        manager.clearDeckAudioCallback();
        manager.handleAudioData(1, tone.data(), tone.data(), 480, false);
        QCOMPARE(calls, 1);
        QCOMPARE(countLines("Deck audio callback not set"), 1);
    }

    void invalidDecksAreHarmless() {
        OBSAudioManager manager;
        for (int deck : {0, 3, -1}) {
            const DeckLevels levels = manager.getDeckLevels(deck);
            QCOMPARE(levels.peakLeft, -60.0f);
            QCOMPARE(levels.rmsRight, -60.0f);
            QCOMPARE(manager.getDeckVolume(deck), 1.0f);
            QVERIFY(!manager.startDeck(deck));
            QVERIFY(!manager.isDeckActive(deck));
            QVERIFY(!manager.setDeckInput(deck, -1));
            manager.stopDeck(deck);
        }
        manager.setDeckVolume(2, 0.25f);
        manager.setDeckVolume(3, 0.75f);
        QCOMPARE(manager.getDeckVolume(2), 0.25f);
        QCOMPARE(manager.getDeckVolume(1), 1.0f);
        QVERIFY(!manager.setDeckInputDevice(0, "x"));
        // Not initialised: no source can be made, and the deck stays without one.
        QVERIFY(!manager.setDeckInputDevice(1, "test_mic"));
        QVERIFY(!manager.hasDeckSource(1));
        QVERIFY(!manager.startDeck(1));
        QVERIFY(manager.getInputDeviceIds().isEmpty());
        QVERIFY(manager.getRunningApplications().isEmpty());
    }

    // Two decks deliver from their own threads while the main thread keeps replacing the
    // callback: every buffer reaches a callback, and a replaced callback is never called once
    // its replacement has been installed.
    void replacingTheCallbackNeverDropsOrReusesAReceiver() {
        OBSAudioManager manager;
        struct Receiver {
            std::atomic<bool> retired{false};
        };
        std::atomic<std::uint64_t> calls[2] = {{0}, {0}};
        std::atomic<int> lateCalls{0};
        std::vector<std::unique_ptr<Receiver>> receivers;

        auto install = [&]() {
            receivers.push_back(std::make_unique<Receiver>());
            Receiver* receiver = receivers.back().get();
            manager.setDeckAudioCallback([&, receiver](int deck, const float*, int, int, int) {
                // Stay a while, as a real receiver copying the buffer would.
                QElapsedTimer busy;
                busy.start();
                while (busy.nsecsElapsed() < 20'000) {
                }
                if (receiver->retired.load()) ++lateCalls;
                ++calls[deck - 1];
            });
            if (receivers.size() > 1) receivers[receivers.size() - 2]->retired.store(true);
        };
        install();

        std::atomic<bool> running{true};
        auto feed = [&](int deck) {
            const std::vector<float> tone = sine(480, 0.5, 440.0 * deck);
            while (running.load()) {
                manager.handleAudioData(deck, tone.data(), tone.data(), 480, false);
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        };
        std::thread deck1(feed, 1), deck2(feed, 2);
        for (int i = 0; i < 300; ++i) {
            install();
            QThread::usleep(500);
        }
        running.store(false);
        deck1.join();
        deck2.join();

        for (int deck = 1; deck <= 2; ++deck) {
            const DeckCaptureStats stats = manager.deckCaptureStats(deck);
            QVERIFY(stats.buffers > 100);
            QCOMPARE(stats.forwarded, stats.buffers);
            QCOMPARE(stats.unforwarded, 0u);
            QCOMPARE(calls[deck - 1].load(), stats.buffers);
        }
        QCOMPARE(lateCalls.load(), 0);
    }

    void encodesAndFollowsPlayingStreams() {
        using namespace platform::pulse;
        PlayingStream stream;
        stream.index = 42;
        stream.applicationName = "Player: Deluxe";
        stream.binary = "player";
        stream.mediaName = "Track 1";
        QCOMPARE(programItemValue(stream), std::string("42:Player: Deluxe:player"));
        QCOMPARE(programItemLabel(stream), std::string("Player: Deluxe - Track 1"));
        const auto ref = parseProgramItemValue(programItemValue(stream));
        QVERIFY(ref);
        QCOMPARE(ref->index, 42u);
        QCOMPARE(ref->applicationName, std::string("Player: Deluxe"));
        QCOMPARE(ref->binary, std::string("player"));
        QVERIFY(!parseProgramItemValue(""));
        QVERIFY(!parseProgramItemValue("abc:x:y"));
        QVERIFY(!parseProgramItemValue("12:only-two"));
        QVERIFY(!parseProgramItemValue("99999999999:a:b"));

        auto make = [](std::uint32_t index, const char* app, const char* binary) {
            PlayingStream s;
            s.index = index;
            s.applicationName = app;
            s.binary = binary;
            return s;
        };
        const std::vector<PlayingStream> streams{
            make(40, "Player: Deluxe", "player"), make(42, "Player: Deluxe", "player"),
            make(50, "Other", "player"), make(51, "Player: Deluxe", "other")};
        QCOMPARE(chooseStreamFor(*ref, streams)->index, 42u);  // the very stream
        const std::vector<PlayingStream> later{make(50, "Other", "player"),
                                               make(60, "Player: Deluxe", "player"),
                                               make(55, "Player: Deluxe", "player")};
        QCOMPARE(chooseStreamFor(*ref, later)->index, 60u);  // newest, same name
        QCOMPARE(chooseStreamFor(*ref, {make(50, "Other", "player")})->index, 50u);
        QVERIFY(!chooseStreamFor(*ref, {make(42, "Player: Deluxe", "impostor")}));

        const auto noBinary = parseProgramItemValue("7:Loopback:");
        QVERIFY(noBinary);
        QCOMPARE(chooseStreamFor(*noBinary, {make(9, "Loopback", "")})->index, 9u);
        QVERIFY(!chooseStreamFor(*noBinary, {make(9, "Something", "")}));
    }
};

QTEST_GUILESS_MAIN(TestCaptureCore)
#include "test_capture_core.moc"
