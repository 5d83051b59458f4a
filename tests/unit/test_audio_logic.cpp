// The audio engine's arithmetic without a pipeline: encoder settings, codec names and labels,
// the gain law, the ducking gain computer and its envelope, and what the mixer's setters store
// (the monitor's volume rules are the mixer's integration test, on the real element).
#include <QtTest>

#include <cmath>
#include <limits>

#include "audio/dead_air_detector.h"
#include "audio/encoder_settings.h"
#include "audio/gstreamer_mixer.h"
#include "audio/voice_ducker.h"

namespace {

float reductionDb(const VoiceDucker::Config& config, float levelDb) {
    return -20.0f * std::log10(VoiceDucker::computeDuckTarget(config, levelDb));
}

VoiceDucker::Config config(float threshold, float ratio, float knee, int attack = 10,
                           int release = 100) {
    VoiceDucker::Config c;
    c.enabled = true;
    c.thresholdDb = threshold;
    c.ratio = ratio;
    c.kneeDb = knee;
    c.attackMs = attack;
    c.releaseMs = release;
    return c;
}

}  // namespace

class TestAudioLogic : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A new user's ducking is preset 0 wherever the engine starts from.
    void newUserDuckingIsTheDefaultPreset() {
        const DuckingPreset& preset = kDuckingPresets[0];
        EncoderSettings settings;
        const VoiceDucker::Config mixerDefault;
        for (const auto& [threshold, ratio, attack, release, knee] :
             {std::tuple{settings.duckingThresholdDb(), settings.duckingRatio(),
                         settings.duckingAttackMs(), settings.duckingReleaseMs(),
                         settings.duckingKneeDb()},
              std::tuple{mixerDefault.thresholdDb, mixerDefault.ratio, mixerDefault.attackMs,
                         mixerDefault.releaseMs, mixerDefault.kneeDb}}) {
            QCOMPARE(threshold, -35.0f);
            QCOMPARE(threshold, preset.thresholdDb);
            QCOMPARE(ratio, preset.ratio);
            QCOMPARE(attack, preset.attackMs);
            QCOMPARE(release, preset.releaseMs);
            QCOMPARE(knee, preset.kneeDb);
        }
    }

    void encoderSettersClampAndSignalOnlyRealChanges() {
        EncoderSettings s;
        QSignalSpy spy(&s, &EncoderSettings::settingsChanged);
        s.setBitrate(500);
        QCOMPARE(s.bitrate(), 320);
        s.setBitrate(999);  // clamps to the value it already has
        QCOMPARE(spy.size(), 1);
        s.setChannels(0);
        QCOMPARE(s.channels(), 1);
        s.setAacProfile(9);
        QCOMPARE(s.aacProfile(), 3);
        s.setDuckingThreshold(-80.0f);
        QCOMPARE(s.duckingThresholdDb(), -60.0f);
        s.setDuckingRelease(1);
        QCOMPARE(s.duckingReleaseMs(), 10);
        const int changes = spy.size();
        // A NaN would pass any clamp and end up as a gain in the audio path.
        const float nan = std::numeric_limits<float>::quiet_NaN();
        s.setDuckingThreshold(nan);
        s.setDuckingRatio(nan);
        s.setDuckingKnee(nan);
        s.setDuckingRelease(10);
        QCOMPARE(spy.size(), changes);
        QCOMPARE(s.duckingThresholdDb(), -60.0f);
    }

    // The number stored under "encoder/type" reads back as the same codec, an unknown one as MP3.
    void storedCodecNumbers_data() {
        QTest::addColumn<int>("stored");
        QTest::addColumn<QString>("name");
        QTest::addColumn<Codec>("codec");
        QTest::newRow("mp3") << 0 << "MP3" << Codec::Mp3;
        QTest::newRow("opus") << 3 << "OGG Opus" << Codec::Opus;
        QTest::newRow("unknown 7") << 7 << "Unknown" << Codec::Mp3;
        QTest::newRow("negative") << -1 << "Unknown" << Codec::Mp3;
    }
    void storedCodecNumbers() {
        QFETCH(int, stored);
        EncoderSettings s;
        s.setEncoderType(stored);
        QCOMPARE(s.encoderType(), stored);
        QTEST(s.encoderName(), "name");
        QTEST(s.codec(), "codec");
    }

    void formatLabel_data() {
        QTest::addColumn<Codec>("codec");
        QTest::addColumn<int>("bitrate");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("label");
        QTest::newRow("opus native") << Codec::Opus << 128 << 48000 << "Opus 128kbps @ 48kHz";
        QTest::newRow("mp3 22.05, three digits")
            << Codec::Mp3 << 64 << 22050 << QStringLiteral("MP3 64kbps @ 48kHz \u2192 22.1kHz");
        QTest::newRow("aac 32k") << Codec::Aac << 320 << 32000
                                 << QStringLiteral("AAC 320kbps @ 48kHz \u2192 32kHz");
    }
    void formatLabel() {
        QFETCH(Codec, codec);
        QFETCH(int, bitrate);
        QFETCH(int, rate);
        QTEST(codecFormatLabel(codec, bitrate, rate), "label");
    }

    void gainLaw_data() {
        QTest::addColumn<int>("deck");
        QTest::addColumn<float>("own");
        QTest::addColumn<float>("other");
        QTest::addColumn<bool>("bothActive");
        QTest::addColumn<float>("crossfader");
        QTest::addColumn<float>("gain");
        QTest::newRow("both active: -3 dB") << 1 << 1.0f << 1.0f << true << 0.0f << 0.70794576f;
        QTest::newRow("one active: full") << 1 << 1.0f << 1.0f << false << 0.0f << 1.0f;
        QTest::newRow("other deck inaudible") << 1 << 1.0f << 0.0005f << true << 0.0f << 1.0f;
        QTest::newRow("crossfader 0.5 cuts deck 1") << 1 << 0.8f << 1.0f << false << 0.5f << 0.4f;
        QTest::newRow("crossfader 0.5 leaves deck 2") << 2 << 0.8f << 1.0f << false << 0.5f << 0.8f;
        QTest::newRow("crossfader -1 silences deck 2")
            << 2 << 1.0f << 1.0f << true << -1.0f << 0.0f;
        QTest::newRow("loud stays uncapped before ducking")
            << 1 << 20.0f << 1.0f << false << 0.0f << 20.0f;
    }
    void gainLaw() {
        QFETCH(int, deck);
        QFETCH(float, own);
        QFETCH(float, other);
        QFETCH(bool, bothActive);
        QFETCH(float, crossfader);
        QFETCH(float, gain);
        QVERIFY(qAbs(GStreamerMixer::deckGain(deck, own, other, bothActive, crossfader) - gain) <
                1e-6f);
    }

    void duckingGainCurve_data() {
        QTest::addColumn<float>("threshold");
        QTest::addColumn<float>("ratio");
        QTest::addColumn<float>("knee");
        QTest::addColumn<float>("level");
        QTest::addColumn<float>("reduction");
        QTest::newRow("knee bottom edge") << -20.0f << 4.0f << 6.0f << -23.0f << 0.0f;
        QTest::newRow("threshold, inside the knee") << -20.0f << 4.0f << 6.0f << -20.0f << 0.5625f;
        QTest::newRow("knee top edge") << -20.0f << 4.0f << 6.0f << -17.0f << 2.25f;
        QTest::newRow("above the knee") << -20.0f << 4.0f << 6.0f << -8.0f << 9.0f;
        QTest::newRow("hard knee above") << -20.0f << 4.0f << 0.0f << -19.0f << 0.75f;
        QTest::newRow("ratio 1 never ducks") << -20.0f << 1.0f << 6.0f << 0.0f << 0.0f;
        QTest::newRow("silence floor")
            << -20.0f << 4.0f << 6.0f << VoiceDucker::levelToDb(0.0f) << 0.0f;
    }
    void duckingGainCurve() {
        QFETCH(float, threshold);
        QFETCH(float, ratio);
        QFETCH(float, knee);
        QFETCH(float, level);
        QFETCH(float, reduction);
        QVERIFY2(qAbs(reductionDb(config(threshold, ratio, knee), level) - reduction) < 1e-3f,
                 qPrintable(QString::number(reductionDb(config(threshold, ratio, knee), level))));
    }

    // The knee joins both straight parts: a louder voice never ducks the music less.
    void duckingCurveIsContinuousAndMonotonicForEveryPreset() {
        for (const DuckingPreset& preset : kDuckingPresets) {
            const VoiceDucker::Config c = config(preset.thresholdDb, preset.ratio, preset.kneeDb);
            float previous = reductionDb(c, -100.0f);
            for (float level = -99.99f; level <= 6.0f; level += 0.01f) {
                const float current = reductionDb(c, level);
                QVERIFY2(current >= previous - 1e-4f, preset.name);
                QVERIFY2(current - previous < 0.01f, preset.name);  // no jump anywhere
                previous = current;
            }
        }
    }

    void duckingEnvelope() {
        qint64 now = 1000;
        VoiceDucker ducker;
        ducker.setClock([&now] { return now; });
        ducker.setConfig(config(-20.0f, 4.0f, 6.0f, 10, 500));

        // The first step jumps straight to its target.
        ducker.smoothDuckGain(0.25f);
        QCOMPARE(ducker.gain(), 0.25f);
        ducker.setConfig(config(-20.0f, 4.0f, 6.0f, 10, 500));  // same direction: no reset
        ducker.smoothDuckGain(0.5f);
        QCOMPARE(ducker.gain(), 0.25f);  // no time has passed
        now += 50;
        ducker.smoothDuckGain(0.5f);  // rising towards 0.5 with the release constant
        QVERIFY(qAbs(ducker.gain() - (0.5f - 0.25f * std::exp(-0.1f))) < 1e-5f);

        // Release: 500 ms time constant from 0.5 towards 1.0; 0.9 is passed at about 805 ms.
        VoiceDucker release;
        release.setClock([&now] { return now; });
        release.setConfig(config(-20.0f, 4.0f, 6.0f, 10, 500));
        release.smoothDuckGain(0.5f);
        int elapsedMs = 0;
        while (release.gain() < 0.9f && elapsedMs < 5000) {
            now += 5;
            elapsedMs += 5;
            release.smoothDuckGain(1.0f);
        }
        QVERIFY2(elapsedMs >= 800 && elapsedMs <= 810, qPrintable(QString::number(elapsedMs)));

        // Attack: 10 ms, one 50 ms tick from 1.0 towards 0.5 lands at 0.5034.
        VoiceDucker attack;
        attack.setClock([&now] { return now; });
        attack.setConfig(config(-20.0f, 4.0f, 6.0f, 10, 500));
        attack.smoothDuckGain(1.0f);
        now += 50;
        attack.smoothDuckGain(0.5f);
        QVERIFY(qAbs(attack.gain() - 0.5034f) < 1e-4f);

        // Disabling resets to 1.0, and the next enable starts by jumping again. (Turned round it
        // starts afresh too: the mixer's test, on its elements.)
        VoiceDucker::Config off = attack.config();
        off.enabled = false;
        attack.setConfig(off);
        QCOMPARE(attack.gain(), 1.0f);
        attack.smoothDuckGain(0.1f);
        QCOMPARE(attack.gain(), 1.0f);
        attack.setConfig(config(-20.0f, 4.0f, 6.0f, 10, 500));
        now += 50;
        attack.smoothDuckGain(0.3f);
        QCOMPARE(attack.gain(), 0.3f);
    }

    // Without a pipeline the mixer only stores; values come back as the setters shaped them.
    // Quiet for the hold time: dead air once; a level at the threshold is sound (back once). A
    // NaN level counts as quiet, and a hold of 0 never reports.
    void deadAir() {
        DeadAirDetector detector;
        detector.configure(-50.0f, 2);
        using Event = DeadAirDetector::Event;
        QCOMPARE(detector.update(-60.0f, 1000), Event::None);
        QCOMPARE(detector.update(-20.0f, 2500), Event::None);  // the silence starts again
        QCOMPARE(detector.update(-60.0f, 3000), Event::None);
        QCOMPARE(detector.update(std::nanf(""), 4999), Event::None);
        QCOMPARE(detector.update(-60.0f, 5000), Event::DeadAir);
        QCOMPARE(detector.update(-60.0f, 9000), Event::None);
        QVERIFY(detector.isDeadAir());
        QCOMPARE(detector.update(-50.0f, 9100), Event::SoundBack);
        QCOMPARE(detector.update(-20.0f, 9200), Event::None);

        detector.configure(-50.0f, 0);
        QCOMPARE(detector.update(-90.0f, 0), Event::None);
        QCOMPARE(detector.update(-90.0f, 100000), Event::None);
    }

    void mixerSettersWithoutAPipeline() {
        GStreamerMixer mixer;
        QVERIFY(!mixer.start(false));  // not initialised
        mixer.setCrossfader(2.0f);
        QCOMPARE(mixer.crossfader(), 1.0f);
        mixer.setCrossfader(std::nanf(""));
        QCOMPARE(mixer.crossfader(), 0.0f);
        mixer.setOutputChannels(6);
        QCOMPARE(mixer.outputChannels(), 2);
        mixer.setEncoderType(Codec::Vorbis);
        mixer.setBitrate(96);
        mixer.setTargetSampleRate(44100);
        QCOMPARE(mixer.formatLabel(), QStringLiteral("Vorbis 96kbps @ 48kHz \u2192 44.1kHz"));
    }
};

QTEST_GUILESS_MAIN(TestAudioLogic)
#include "test_audio_logic.moc"
