#include <cmath>
#include <limits>

#include <QSignalSpy>
#include <QtTest>

#include "audio/encoder_settings.h"

class TestEncoderSettings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void defaults() {
        EncoderSettings settings;
        QCOMPARE(settings.encoderType(), int(EncoderSettings::OGG_OPUS));
        QCOMPARE(settings.bitrate(), 128);
        QCOMPARE(settings.sampleRate(), 48000);
        QCOMPARE(settings.channels(), 2);
        QVERIFY(settings.aacAfterburner());
        QCOMPARE(settings.aacProfile(), 0);
        QCOMPARE(settings.opusAudioType(), 0);
        QVERIFY(!settings.duckingEnabled());
        QCOMPARE(settings.duckingSourceDeck(), 0);
        QCOMPARE(settings.duckingThresholdDb(), -20.0f);
        QCOMPARE(settings.duckingRatio(), 4.0f);
        QCOMPARE(settings.duckingAttackMs(), 10);
        QCOMPARE(settings.duckingReleaseMs(), 100);
        QCOMPARE(settings.duckingKneeDb(), 6.0f);
        QCOMPARE(settings.encoderName(), QStringLiteral("OGG Opus"));
    }

    void settersClampIntoRange() {
        EncoderSettings s;
        s.setBitrate(500);
        QCOMPARE(s.bitrate(), 320);
        s.setBitrate(8);
        QCOMPARE(s.bitrate(), 32);
        s.setChannels(0);
        QCOMPARE(s.channels(), 1);
        s.setChannels(6);
        QCOMPARE(s.channels(), 2);
        s.setAacProfile(9);
        QCOMPARE(s.aacProfile(), 3);
        s.setAacProfile(-2);
        QCOMPARE(s.aacProfile(), 0);
        s.setOpusAudioType(4);
        QCOMPARE(s.opusAudioType(), 1);
        s.setDuckingSourceDeck(5);
        QCOMPARE(s.duckingSourceDeck(), 1);
        s.setDuckingThreshold(-80.0f);
        QCOMPARE(s.duckingThresholdDb(), -60.0f);
        s.setDuckingThreshold(3.0f);
        QCOMPARE(s.duckingThresholdDb(), 0.0f);
        s.setDuckingRatio(0.5f);
        QCOMPARE(s.duckingRatio(), 1.0f);
        s.setDuckingRatio(40.0f);
        QCOMPARE(s.duckingRatio(), 10.0f);
        s.setDuckingKnee(25.0f);
        QCOMPARE(s.duckingKneeDb(), 20.0f);
        s.setDuckingAttack(0);
        QCOMPARE(s.duckingAttackMs(), 1);
        s.setDuckingRelease(6000);
        QCOMPARE(s.duckingReleaseMs(), 5000);
        s.setDuckingRelease(1);
        QCOMPARE(s.duckingReleaseMs(), 10);
        // No range: kept as given.
        s.setSampleRate(22050);
        QCOMPARE(s.sampleRate(), 22050);
        s.setEncoderType(7);
        QCOMPARE(s.encoderType(), 7);
    }

    void signalsOnlyRealChanges() {
        EncoderSettings s;
        QSignalSpy spy(&s, &EncoderSettings::settingsChanged);
        s.setBitrate(320);
        s.setBitrate(320);
        s.setBitrate(999);  // clamps to the value it already has
        QCOMPARE(spy.size(), 1);
        s.setEncoderType(3);
        s.setSampleRate(48000);
        s.setChannels(2);
        s.setAacAfterburner(true);
        s.setDuckingEnabled(false);
        s.setDuckingThreshold(-20.0f);
        QCOMPARE(spy.size(), 1);
        s.setDuckingEnabled(true);
        s.setAacAfterburner(false);
        QCOMPARE(spy.size(), 3);
    }

    void notANumberIsIgnored() {
        EncoderSettings s;
        QSignalSpy spy(&s, &EncoderSettings::settingsChanged);
        const float nan = std::numeric_limits<float>::quiet_NaN();
        s.setDuckingThreshold(nan);
        s.setDuckingRatio(nan);
        s.setDuckingKnee(nan);
        QCOMPARE(spy.size(), 0);
        QCOMPARE(s.duckingThresholdDb(), -20.0f);
        QCOMPARE(s.duckingRatio(), 4.0f);
        QCOMPARE(s.duckingKneeDb(), 6.0f);
    }

    void namesAndMixerMapping_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("mixerType");
        QTest::addColumn<QString>("shortName");
        QTest::newRow("mp3") << 0 << "MP3" << int(GStreamerMixerEnums::ENCODER_MP3) << "MP3";
        QTest::newRow("aac") << 1 << "AAC" << int(GStreamerMixerEnums::ENCODER_AAC) << "AAC";
        QTest::newRow("vorbis") << 2 << "OGG Vorbis" << int(GStreamerMixerEnums::ENCODER_VORBIS)
                                << "Vorbis";
        QTest::newRow("opus") << 3 << "OGG Opus" << int(GStreamerMixerEnums::ENCODER_OPUS)
                              << "Opus";
        QTest::newRow("unknown code 7")
            << 7 << "Unknown" << int(GStreamerMixerEnums::ENCODER_MP3) << "MP3";
        QTest::newRow("negative code")
            << -1 << "Unknown" << int(GStreamerMixerEnums::ENCODER_MP3) << "MP3";
    }

    void namesAndMixerMapping() {
        QFETCH(int, format);
        QFETCH(int, mixerType);
        EncoderSettings s;
        s.setEncoderType(format);
        QTEST(s.encoderName(), "name");
        QCOMPARE(int(EncoderSettings::toMixerEncoderType(format)), mixerType);
        QTEST(EncoderSettings::mixerEncoderShortName(mixerType), "shortName");
    }

    void formatLabels_data() {
        QTest::addColumn<int>("mixerType");
        QTest::addColumn<int>("bitrate");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("label");
        QTest::newRow("opus at the mix rate")
            << int(GStreamerMixerEnums::ENCODER_OPUS) << 128 << 48000 << "Opus 128kbps @ 48kHz";
        QTest::newRow("vorbis resampled to 44.1")
            << int(GStreamerMixerEnums::ENCODER_VORBIS) << 96 << 44100
            << QString::fromUtf8("Vorbis 96kbps @ 48kHz \u2192 44.1kHz");
        QTest::newRow("mp3 resampled to 22.05, three digits")
            << int(GStreamerMixerEnums::ENCODER_MP3) << 64 << 22050
            << QString::fromUtf8("MP3 64kbps @ 48kHz \u2192 22.1kHz");
        QTest::newRow("aac at 32 kHz") << int(GStreamerMixerEnums::ENCODER_AAC) << 320 << 32000
                                       << QString::fromUtf8("AAC 320kbps @ 48kHz \u2192 32kHz");
        QTest::newRow("unknown encoder") << 9 << 128 << 48000 << " 128kbps @ 48kHz";
    }

    void formatLabels() {
        QFETCH(int, mixerType);
        QFETCH(int, bitrate);
        QFETCH(int, rate);
        QTEST(EncoderSettings::formatLabel(mixerType, bitrate, rate), "label");
    }
};

QTEST_GUILESS_MAIN(TestEncoderSettings)
#include "test_encoder_settings.moc"
