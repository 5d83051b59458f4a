// The mixer against real GStreamer pipelines and a private PulseAudio: two capture-like threads
// feed tones, a real decoder reads back what the encoders made, and the null sinks show where
// the monitor plays.
#include <gst/gst.h>

#include <QtTest>

#include <atomic>
#include <memory>

#include "audio/gstreamer_mixer.h"
#include "audio_probe.h"
#include "deck_feeder.h"
#include "encoded_collector.h"
#include "platform/audio_output_devices.h"
#include "pulse_server.h"
#include "test_environment.h"
#include "tone.h"

namespace {

constexpr char kNotRealTime[] = "levels need real-time speed; this build checks memory and threads";
// ThreadSanitizer stops checking a threaded process that forks: no helper programs (PulseAudio,
// decoders, recorders) there; the pipelines run against the fallback sink instead.
#ifdef DOREDORADAR_THREAD_SANITIZER
constexpr bool kHelperProgramsAllowed = false;
#else
constexpr bool kHelperProgramsAllowed = true;
#endif
constexpr char kNoHelperPrograms[] = "needs helper programs, which this build cannot start";

constexpr double kDeck1Hz = 500.0;
constexpr double kDeck2Hz = 1700.0;
constexpr double kHeadroom = 0.70794576;

// Two capture threads feeding one mixer for as long as the object lives.
struct TwoDecks {
    TwoDecks(GStreamerMixer& mixer, double amplitude1, double amplitude2)
        : deck1(mixer, 1, kDeck1Hz, amplitude1), deck2(mixer, 2, kDeck2Hz, amplitude2) {
        deck1.start();
        deck2.start();
    }
    DeckFeeder deck1;
    DeckFeeder deck2;
};

// Counts the mixer's own reports of a deck that missed its deadline: the mix then has a hole
// (silence for that deck) and the deck's late audio is dropped. GStreamer's log, taken over for
// the object's life.
class MixHoleCounter {
public:
    MixHoleCounter() {
        gst_debug_remove_log_function(gst_debug_log_default);  // no flood on the test's output
        gst_debug_add_log_function(&MixHoleCounter::log, this, nullptr);
        gst_debug_set_threshold_for_name("audioaggregator", GST_LEVEL_DEBUG);
    }
    ~MixHoleCounter() {
        gst_debug_unset_threshold_for_name("audioaggregator");
        gst_debug_remove_log_function_by_data(this);
        gst_debug_add_log_function(gst_debug_log_default, nullptr, nullptr);
    }
    MixHoleCounter(const MixHoleCounter&) = delete;
    MixHoleCounter& operator=(const MixHoleCounter&) = delete;
    int holes() const { return m_holes.load(); }

private:
    static void log(GstDebugCategory*, GstDebugLevel, const gchar*, const gchar*, gint, GObject*,
                    GstDebugMessage* message, gpointer self) {
        const gchar* text = gst_debug_message_get(message);
        if (text && g_str_has_prefix(text, "Timeout, missing")) {
            ++static_cast<MixHoleCounter*>(self)->m_holes;
        }
    }
    std::atomic<int> m_holes{0};
};

QString dbText(double value) { return QString::number(value, 'f', 2) + QStringLiteral(" dB"); }

// GStreamer's own leak tracer (set up before GStreamer starts) follows every element, pad and bus:
// calls `visit` with each one alive now and returns true, or false when the tracer does not run.
template <typename Visit>
bool forEachLiveGstObject(Visit visit) {
    GstTracer* tracer = nullptr;
    GList* tracers = gst_tracing_get_active_tracers();
    for (GList* item = tracers; item; item = item->next) {
        if (!tracer && g_str_equal(G_OBJECT_TYPE_NAME(item->data), "GstLeaksTracer"))
            tracer = GST_TRACER(gst_object_ref(item->data));
    }
    g_list_free_full(tracers, gst_object_unref);
    if (!tracer) return false;
    GstStructure* info = nullptr;
    g_signal_emit_by_name(tracer, "get-live-objects", &info);
    const GValue* list = info ? gst_structure_get_value(info, "live-objects-list") : nullptr;
    for (guint i = 0; list && i < gst_value_list_get_size(list); ++i) {
        const GstStructure* entry = gst_value_get_structure(gst_value_list_get_value(list, i));
        const GValue* value = gst_structure_get_value(entry, "object");
        GObject* object =
            value && G_VALUE_HOLDS_OBJECT(value) ? G_OBJECT(g_value_get_object(value)) : nullptr;
        guint refs = 0;
        gst_structure_get_uint(entry, "ref-count", &refs);
        visit(object, refs);
        // GStreamer 1.22 puts the objects into the list without a reference of their own, yet
        // freeing the list drops one: give it the reference it is about to drop.
        if (object) g_object_ref(object);
    }
    if (info) gst_structure_free(info);
    gst_object_unref(tracer);
    return true;
}

// The objects alive now, to be left out of a later check.
QSet<quintptr> liveGstObjects() {
    QSet<quintptr> alive;
    forEachLiveGstObject([&alive](GObject* object, guint) { alive.insert(quintptr(object)); });
    return alive;
}

// Those alive now and not in `ignore` ("GstPad sink refs=1; ..."); empty when all is well.
QString gstLeftovers(const QSet<quintptr>& ignore) {
    QStringList found;
    const bool running = forEachLiveGstObject([&](GObject* object, guint refs) {
        if (ignore.contains(quintptr(object))) return;
        found << QStringLiteral("%1 %2 refs=%3")
                     .arg(QString::fromUtf8(object ? G_OBJECT_TYPE_NAME(object) : "?"),
                          object && GST_IS_OBJECT(object)
                              ? QString::fromUtf8(GST_OBJECT_NAME(object))
                              : QString())
                     .arg(refs);
    });
    return running ? found.join(QStringLiteral("; ")) : QStringLiteral("no leak tracer runs");
}

}  // namespace

class TestAudioEngine : public QObject {
    Q_OBJECT

    TestEnvironment m_env;
    PulseServer m_pulse;
    QSet<quintptr> m_gstSingletons;

    QString leftovers() const { return gstLeftovers(m_gstSingletons); }

    // Feeds both decks for `seconds`; what a decoder makes of the encoder branch's output.
    AudioProbe encodeFor(GStreamerMixer& mixer, double seconds, double amplitude1,
                         double amplitude2) {
        EncodedCollector collector(mixer);
        {
            TwoDecks decks(mixer, amplitude1, amplitude2);
            QTest::qWait(int(seconds * 1000));
        }
        mixer.stop();
        return kHelperProgramsAllowed ? AudioProbe::of(collector.bytes()) : AudioProbe();
    }

    static void prepare(GStreamerMixer& mixer) {
        QVERIFY(mixer.initialize());
        mixer.setDeck1Active(true);
        mixer.setDeck2Active(true);
    }

private Q_SLOTS:
    void initTestCase() {
        if (kHelperProgramsAllowed) {
            QString error;
            QVERIFY2(m_pulse.start(&error), qPrintable(error));
            m_pulse.applyToProcess();
        } else {
            // Nowhere, so that nothing spawns a sound server either.
            qputenv("PULSE_SERVER",
                    (QStringLiteral("unix:") + m_env.root() + QStringLiteral("/no-sound-server"))
                        .toLocal8Bit());
        }
        qputenv("JACK_NO_START_SERVER", "1");  // the automatic sink must not start a JACK server
        qputenv("GST_TRACERS", "leaks(filters=\"GstElement,GstPad,GstBus\")");
        QVERIFY(GStreamerMixer::initializeGStreamer());
        // Device providers are process-wide and keep a bus each: not ours to free.
        QVERIFY(!GStreamerMixer().getMonitorDevices().isEmpty());
        m_gstSingletons = liveGstObjects();
        QVERIFY(QFile::exists(m_env.dataHome()));
    }

    // Without the first AAC encoder the next one is taken, and HE-AAC v2 asked of an encoder
    // that only makes LC still plays: codec, rate, channels, and both deck tones at the -3 dB
    // two-deck level. (Each codec through the whole broadcast is the end-to-end test's.)
    void aacEncoderChoice_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("profile");
        QTest::addColumn<QStringList>("unavailable");
        QTest::addColumn<QString>("factory");
        QTest::addColumn<int>("expectedChannels");
        QTest::newRow("ffmpeg's, 44.1k mono")
            << 44100 << 1 << 0 << QStringList{"voaacenc"} << "avenc_aac" << 1;
        // HE-AAC v2 needs stereo.
        QTest::newRow("he-v2 asked of voaacenc")
            << 48000 << 1 << 3 << QStringList() << "voaacenc" << 2;
    }

    void aacEncoderChoice() {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(int, profile);
        QFETCH(QStringList, unavailable);
        QFETCH(int, expectedChannels);
        GStreamerMixer mixer;
        mixer.setUnavailableFactoriesForTesting(unavailable);
        prepare(mixer);
        mixer.setEncoderType(Codec::Aac);
        mixer.setBitrate(128);
        mixer.setTargetSampleRate(rate);
        mixer.setOutputChannels(channels);
        mixer.setAacProfile(GStreamerMixer::AacProfile(profile));
        QSignalSpy errors(&mixer, &GStreamerMixer::errorOccurred);
        QVERIFY(mixer.start(true));
        QTEST(mixer.activeEncoderFactory(), "factory");

        const AudioProbe probe = encodeFor(mixer, 2.2, 0.4, 0.2);
        if (!kHelperProgramsAllowed) QSKIP(kNoHelperPrograms);
        QVERIFY2(errors.isEmpty(),
                 errors.isEmpty() ? "" : qPrintable(errors.first().first().toString()));
        QVERIFY2(probe.ok, qPrintable(probe.error));
        QCOMPARE(probe.codec, QStringLiteral("aac"));
        QCOMPARE(probe.sampleRate, rate);
        QCOMPARE(probe.channels, expectedChannels);
        if (!kRealTimeBuild) QSKIP(kNotRealTime);
        QVERIFY2(probe.decodedSeconds > 1.5, qPrintable(QString::number(probe.decodedSeconds)));

        // The decoder's mono upmix spreads the signal over two channels at -3 dB each.
        const double upmix = expectedChannels == 1 ? M_SQRT1_2 : 1.0;
        const double a1 = tone::amplitudeS16(probe.pcm, 2, 0, 48000, kDeck1Hz, 0.4, 1.2);
        const double a2 = tone::amplitudeS16(probe.pcm, 2, 0, 48000, kDeck2Hz, 0.4, 1.2);
        const double error1 = tone::ratioDb(a1, 0.4 * kHeadroom * upmix);
        const double error2 = tone::ratioDb(a2, 0.2 * kHeadroom * upmix);
        QVERIFY2(qAbs(error1) < 1.0, qPrintable(QStringLiteral("deck 1 off by ") + dbText(error1)));
        QVERIFY2(qAbs(error2) < 1.0, qPrintable(QStringLiteral("deck 2 off by ") + dbText(error2)));
        mixer.shutdown();
    }

    // Capture in another layout is converted, not misread; nonsense formats are dropped.
    void deckFormatIsFollowed() {
        GStreamerMixer mixer;
        prepare(mixer);
        mixer.setDeck2Active(false);
        QVERIFY(mixer.start(true));
        const std::vector<float> samples = SineGenerator(440.0, 0.5).next(480);
        for (const auto& [channels, rate] :
             {std::pair{0, 48000}, std::pair{2, 0}, std::pair{-1, 48000}, std::pair{9, 48000}}) {
            mixer.feedDeck1Audio(samples.data(), 240, channels, rate);
        }
        mixer.feedDeck1Audio(samples.data(), -5, 2, 48000);
        QCOMPARE(mixer.droppedBufferCount(), quint64(5));

        QSignalSpy errors(&mixer, &GStreamerMixer::errorOccurred);
        EncodedCollector collector(mixer);
        {
            // Mono at 44.1 kHz: still a 700 Hz tone in the 48 kHz stereo mix, at full level.
            DeckFeeder mono(mixer, 1, 700.0, 0.4, 441, 1, 44100);
            mono.start();
            QTest::qWait(2000);
        }
        mixer.stop();
        QCoreApplication::processEvents();
        QVERIFY(errors.isEmpty());
        if (!kHelperProgramsAllowed) QSKIP(kNoHelperPrograms);
        const AudioProbe probe = AudioProbe::of(collector.bytes());
        QVERIFY2(probe.ok, qPrintable(probe.error));
        if (!kRealTimeBuild) QSKIP(kNotRealTime);
        const double a = tone::amplitudeS16(probe.pcm, 2, 1, 48000, 700.0, 0.4, 1.2);
        QVERIFY2(qAbs(tone::ratioDb(a, 0.4)) < 1.0, qPrintable(QString::number(a)));
        mixer.shutdown();
    }

    // Short capture buffers enter the pipeline a block (40 ms) at a time, with every frame
    // accounted for: a longer buffer goes alone, a format change sends the gathered audio
    // under its own format, and a block left open by a pause is not played late.
    void deckAudioEntersThePipelineInBlocks() {
        GStreamerMixer mixer;
        prepare(mixer);
        QCOMPARE(mixer.feedBlockMs(), GStreamerMixer::kDefaultFeedBlockMs);
        QVERIFY(mixer.start(false));
        const std::vector<float> samples = SineGenerator(440.0, 0.3).next(2400);
        quint64 blocks = mixer.pushedBlockCount();
        quint64 frames = mixer.pushedFrameCount();
        const auto pushed = [&](quint64 expectedBlocks, quint64 expectedFrames) {
            const quint64 newBlocks = mixer.pushedBlockCount() - blocks;
            const quint64 newFrames = mixer.pushedFrameCount() - frames;
            blocks = mixer.pushedBlockCount();
            frames = mixer.pushedFrameCount();
            return newBlocks == expectedBlocks && newFrames == expectedFrames;
        };

        for (int i = 0; i < 8; ++i) mixer.feedDeck1Audio(samples.data(), 480, 2, 48000);
        QVERIFY(pushed(2, 3840));
        for (int i = 0; i < 3; ++i) mixer.feedDeck2Audio(samples.data(), 480, 2, 48000);
        QVERIFY(pushed(0, 0));  // gathering
        mixer.feedDeck2Audio(samples.data(), 480, 2, 48000);
        QVERIFY(pushed(1, 1920));

        mixer.feedDeck1Audio(samples.data(), 2400, 2, 48000);
        QVERIFY(pushed(1, 2400));

        // Uneven buffers: out before the next one of the same size would overflow the block.
        mixer.feedDeck1Audio(samples.data(), 1200, 2, 48000);
        QVERIFY(pushed(1, 1200));
        mixer.feedDeck1Audio(samples.data(), 21, 2, 48000);
        mixer.feedDeck1Audio(samples.data(), 1179, 2, 48000);
        QVERIFY(pushed(1, 1200));

        mixer.feedDeck1Audio(samples.data(), 480, 2, 48000);
        QVERIFY(pushed(0, 0));
        mixer.feedDeck1Audio(samples.data(), 441, 1, 44100);  // mono 44.1 kHz from now on
        QVERIFY(pushed(1, 480));

        QTest::qWait(250);  // the deck pauses
        const quint64 stale = mixer.staleFrameCount();
        mixer.feedDeck1Audio(samples.data(), 441, 1, 44100);
        QCOMPARE(mixer.staleFrameCount() - stale, quint64(441));
        for (int i = 0; i < 3; ++i) mixer.feedDeck1Audio(samples.data(), 441, 1, 44100);
        QVERIFY(pushed(1, 1764));  // 40 ms at 44.1 kHz
        QCOMPARE(mixer.droppedBufferCount(), quint64(0));

        // Without gathering every buffer goes in as it comes.
        mixer.stop();
        mixer.setFeedBlockMs(0);
        QVERIFY(mixer.start(false));
        blocks = mixer.pushedBlockCount();
        frames = mixer.pushedFrameCount();
        mixer.feedDeck1Audio(samples.data(), 480, 2, 48000);
        mixer.feedDeck2Audio(samples.data(), 480, 2, 48000);
        QVERIFY(pushed(2, 960));
        mixer.shutdown();
    }

    // A capture thread held up now and then for 65 ms, which then hands over what piled up,
    // must not punch holes into the mix (with too short a slack the mixer misses that deadline:
    // silence for the deck, and its late audio dropped; 30 ms of slack missed here once in 12
    // stalls, 50 ms copes with stalls up to about 85 ms). The slack is short for the first mix
    // buffer only, so that a connect's first packet does not wait long for an idle deck.
    void lateDeckBlocksLeaveNoHoles() {
        if (!kRealTimeBuild) QSKIP(kNotRealTime);
        GStreamerMixer mixer;
        prepare(mixer);
        QVERIFY(mixer.start(false));
        const auto slack = [&mixer] {
            return mixer.elementProperty(QStringLiteral("mixer"), QStringLiteral("latency"));
        };
        QCOMPARE(slack(), QVariant(quint64(30000000)));
        int holes = 0;
        {
            DeckFeeder deck(mixer, 1, kDeck1Hz, 0.5);
            deck.setStalls(250, 65);
            deck.start();
            QTest::qWait(200);  // the start's own timeout (deck 2 never delivers) is not counted
            MixHoleCounter counter;
            QTest::qWait(3000);  // 12 stalls, at every place in the mix's 20 ms buffers
            holes = counter.holes();
        }
        QCOMPARE(slack(), QVariant(quint64(50000000)));
        mixer.shutdown();
        QVERIFY2(holes == 0, qPrintable(QStringLiteral("%1 holes in the mix").arg(holes)));
    }

    void startKeepsOrRebuildsThePipeline() {
        GStreamerMixer mixer;
        QVERIFY(!mixer.start(false));  // not initialised yet
        QVERIFY(mixer.initialize());
        QVERIFY(mixer.start(false));
        const quint64 monitorOnly = mixer.pipelineSerial();
        QVERIFY(mixer.start(false));
        QCOMPARE(mixer.pipelineSerial(), monitorOnly);
        QVERIFY(mixer.activeEncoderFactory().isEmpty());
        QVERIFY(mixer.start(true));
        QVERIFY(mixer.pipelineSerial() > monitorOnly);
        QVERIFY(mixer.isEncodingEnabled());
        QCOMPARE(mixer.activeEncoderFactory(), QStringLiteral("opusenc"));
        mixer.stop();
        mixer.stop();  // already stopped: nothing happens
        QVERIFY(!mixer.isRunning());
        mixer.shutdown();
        QVERIFY(!mixer.isInitialized());
    }

    void opusAudioTypeFollowsTheSetting() {
        GStreamerMixer mixer;
        QVERIFY(mixer.initialize());
        mixer.setOpusAudioType(GStreamerMixer::OPUS_AUDIO_SPEECH);
        QVERIFY(mixer.start(true));
        QCOMPARE(mixer.elementProperty("encoder", "audio-type").toInt(), 2048);
        QCOMPARE(mixer.elementProperty("encoder", "bitrate").toInt(), 128000);
        mixer.stop();
        mixer.setOpusAudioType(GStreamerMixer::OPUS_AUDIO_MUSIC);
        QVERIFY(mixer.start(true));
        QCOMPARE(mixer.elementProperty("encoder", "audio-type").toInt(), 2049);
        mixer.shutdown();
    }

    // A missing encoder fails the start with the user's message and leaves nothing behind: the
    // next start with another codec simply works.
    void missingEncoderFailsCleanly() {
        GStreamerMixer mixer;
        mixer.setUnavailableFactoriesForTesting({QStringLiteral("lamemp3enc"),
                                                 QStringLiteral("avenc_mp3lame"),
                                                 QStringLiteral("avenc_libmp3lame")});
        QVERIFY(mixer.initialize());
        // An initialised mixer holds the monitor sink service (on Linux an idle pulsesink).
        const QSet<quintptr> initialised = liveGstObjects();
        QSignalSpy errors(&mixer, &GStreamerMixer::errorOccurred);

        // From a running monitor-only pipeline, then from a stopped mixer.
        QVERIFY(mixer.start(false));
        mixer.setEncoderType(Codec::Mp3);
        QVERIFY(!mixer.start(true));
        QVERIFY(!mixer.isRunning());
        QVERIFY(!mixer.elementProperty("volume1", "volume").isValid());
        QVERIFY(!mixer.start(true));
        QCOMPARE(errors.size(), 2);
        QCOMPARE(errors.first().first().toString(),
                 QStringLiteral("MP3 encoder not available.\n\nThe selected MP3 encoder could not "
                                "be found.\nPlease install GStreamer plugins with MP3 support "
                                "(gst-plugins-ugly)\nor select a different encoder format in "
                                "Settings."));

        mixer.setEncoderType(Codec::Vorbis);
        mixer.setDeck1Active(true);
        QVERIFY(mixer.start(true));
        QCOMPARE(mixer.activeEncoderFactory(), QStringLiteral("vorbisenc"));
        {
            EncodedCollector vorbis(mixer);
            TwoDecks decks(mixer, 0.3, 0.0);
            // Headers and a page or two; a sanitized build is glad of the headers.
            QTRY_VERIFY_WITH_TIMEOUT(vorbis.size() > (kRealTimeBuild ? 8000 : 0), 30000);
            QVERIFY(vorbis.bytes().startsWith("OggS"));
        }
        mixer.stop();

        mixer.setUnavailableFactoriesForTesting(
            {QStringLiteral("fdkaacenc"), QStringLiteral("voaacenc"), QStringLiteral("avenc_aac")});
        mixer.setEncoderType(Codec::Aac);
        QVERIFY(!mixer.start(true));
        QVERIFY(errors.last().first().toString().startsWith(
            QStringLiteral("AAC encoder not available.")));
        // The failed builds left nothing behind.
        QVERIFY2(gstLeftovers(initialised).isEmpty(), qPrintable(gstLeftovers(initialised)));
        mixer.shutdown();
    }

    // Stop, start and shutdown from the main thread while two capture threads keep feeding.
    void lifecycleWhileFeeding() {
        GStreamerMixer mixer;
        prepare(mixer);
        {
            TwoDecks decks(mixer, 0.3, 0.3);
            for (int round = 0; round < 12; ++round) {
                QVERIFY(mixer.start(round % 2 == 1));
                QTest::qWait(60);
                if (round % 3 == 2) mixer.stop();
            }
            QVERIFY(mixer.start(true));
            QTest::qWait(100);
            mixer.shutdown();
            QTest::qWait(50);  // feeding a shut-down mixer does nothing
            QVERIFY(!mixer.isRunning());
            QVERIFY(decks.deck1.buffersFed() > 50);
            QVERIFY(decks.deck2.buffersFed() > 50);
        }
        QVERIFY2(leftovers().isEmpty(), qPrintable(leftovers()));
        // Restarting after a shutdown builds afresh.
        QVERIFY(mixer.initialize());
        QVERIFY(mixer.start(false));
        mixer.shutdown();
    }

    // Switching the ducking direction, or ducking off, gives the formerly ducked deck its plain
    // gain at once; its own fader moved during speech keeps the duck gain.
    void duckedDeckFollowsConfigurationAndFader() {
        qint64 clockMs = 1000;
        GStreamerMixer mixer;
        mixer.setDuckingClockForTesting([&clockMs] { return clockMs; });
        prepare(mixer);
        QVERIFY(mixer.start(false));

        GStreamerMixer::DuckingConfig ducking;
        ducking.enabled = true;
        ducking.sourceDeck = 0;  // deck 1 speaks, deck 2 is ducked
        mixer.setDuckingConfig(ducking);
        const std::vector<float> voice = SineGenerator(300.0, 0.5).next(480);
        mixer.feedDeck1Audio(voice.data(), 480, 2, 48000);
        QMetaObject::invokeMethod(&mixer, "onLevelTimer");
        const float duck = mixer.duckGain();
        QVERIFY2(duck < 0.5f, qPrintable(QString::number(duck)));
        const auto volume2 = [&mixer] {
            return mixer.elementProperty("volume2", "volume").toDouble();
        };
        QVERIFY(qAbs(volume2() - kHeadroom * duck) < 1e-4);

        // The ducked deck's fader during speech: still ducked, and not pumping back to full.
        mixer.setDeck2Volume(0.8f);
        QVERIFY(qAbs(volume2() - 0.8 * kHeadroom * mixer.duckGain()) < 1e-4);
        QCOMPARE(mixer.duckGain(), duck);  // the fader did not advance the envelope

        // Direction switched: deck 2 back to its plain gain now, deck 1 not ducked yet.
        ducking.sourceDeck = 1;
        mixer.setDuckingConfig(ducking);
        QVERIFY(qAbs(volume2() - 0.8 * kHeadroom) < 1e-4);
        QVERIFY(qAbs(mixer.elementProperty("volume1", "volume").toDouble() - kHeadroom) < 1e-4);

        // Back, ducked again, then ducking off: plain at once.
        ducking.sourceDeck = 0;
        mixer.setDuckingConfig(ducking);
        mixer.feedDeck1Audio(voice.data(), 480, 2, 48000);
        clockMs += 50;
        QMetaObject::invokeMethod(&mixer, "onLevelTimer");
        QVERIFY(mixer.duckGain() < 0.5f);
        QVERIFY(volume2() < 0.8 * kHeadroom * 0.5);
        ducking.enabled = false;
        mixer.setDuckingConfig(ducking);
        QCOMPARE(mixer.duckGain(), 1.0f);
        QVERIFY(qAbs(volume2() - 0.8 * kHeadroom) < 1e-4);
        mixer.setDeck2Volume(20.0f);
        QCOMPARE(volume2(), 10.0);  // capped after the headroom
        mixer.shutdown();
    }

    // After the last buffer the meters fall by 10 % per tick.
    void levelFollowersDecayPerTick() {
        GStreamerMixer mixer;
        prepare(mixer);
        QVERIFY(mixer.start(false));
        QSignalSpy levels(&mixer, &GStreamerMixer::levelsUpdated);
        const std::vector<float> burst = SineGenerator(440.0, 0.5).next(480);
        mixer.feedDeck1Audio(burst.data(), 480, 2, 48000);
        QTRY_VERIFY_WITH_TIMEOUT(levels.size() >= 6, 3000);
        mixer.stop();
        int first = -1;
        for (int i = 0; i < levels.size(); ++i) {
            if (levels.at(i).at(0).toFloat() > 0.0f) {
                first = i;
                break;
            }
        }
        QVERIFY(first >= 0 && first + 3 < levels.size());
        QVERIFY(qAbs(levels.at(first).at(0).toFloat() - 0.5f) < 1e-3f);
        for (int i = first + 1; i < first + 4; ++i) {
            const float previous = levels.at(i - 1).at(0).toFloat();
            QVERIFY(qAbs(levels.at(i).at(0).toFloat() - previous * 0.9f) < 1e-6f);
            QCOMPARE(levels.at(i).at(2).toFloat(), levels.at(i).at(0).toFloat());  // master
            QCOMPARE(levels.at(i).at(1).toFloat(), 0.0f);
        }
        mixer.shutdown();
    }

    // What is sent is measured after the master volume: a muted master reads as silence.
    void sentPeakIsTakenAfterTheMaster() {
        GStreamerMixer mixer;
        prepare(mixer);
        QVERIFY(mixer.start(false));
        SineGenerator sine(440.0, 0.5);
        QTimer feeder;
        QObject::connect(&feeder, &QTimer::timeout, [&] {
            const std::vector<float> block = sine.next(480);
            mixer.feedDeck1Audio(block.data(), 480, 2, 48000);
        });
        feeder.start(10);
        float peak = 0.0f;  // each call takes the peak away
        QTRY_VERIFY((peak = std::max(peak, mixer.takeSentPeak())) > 0.3f);
        mixer.setMasterVolume(0.0f);
        QTest::qWait(300);  // what was on its way before the mute
        mixer.takeSentPeak();
        QTest::qWait(200);
        QCOMPARE(mixer.takeSentPeak(), 0.0f);
        mixer.shutdown();
    }

    // The monitor's volume (silent while off, never inaudible once on, capped at 10, kept over a
    // rebuild) and its device: a change mutes for about 100 ms and reopens the sink on the new
    // device, where the tone then plays; an unknown name means the default device.
    void monitorVolumeAndDevice() {
        if (!kHelperProgramsAllowed) QSKIP(kNoHelperPrograms);
        GStreamerMixer mixer;
        prepare(mixer);
        const QStringList devices = mixer.getMonitorDevices();
        QCOMPARE(devices.first(), QStringLiteral("Default"));
        QCOMPARE(devices.count(QStringLiteral("Default")), 1);
        QVERIFY(devices.contains(QStringLiteral("Test_Sink")));
        QVERIFY(devices.contains(QStringLiteral("Test_Mic_Feed")));

        QVERIFY(mixer.start(false));
        QCOMPARE(mixer.monitorSinkFactory(), QStringLiteral("pulsesink"));
        const auto element = [&mixer] {
            return mixer.elementProperty("monitor_volume", "volume").toDouble();
        };
        QCOMPARE(element(), 0.0);
        mixer.setMonitorVolume(0.0f);
        mixer.setMonitorEnabled(true);
        QCOMPARE(element(), 1.0);
        QCOMPARE(mixer.monitorUserVolume(), 1.0f);
        mixer.setMonitorEnabled(false);
        mixer.setMonitorVolume(0.5f);
        QCOMPARE(element(), 0.0);
        mixer.setMonitorEnabled(true);
        QCOMPARE(element(), 0.5);
        mixer.setMonitorVolume(15.0f);
        QCOMPARE(element(), 10.0);
        QCOMPARE(mixer.monitorUserVolume(), 15.0f);
        mixer.setMonitorVolume(1.0f);
        QVERIFY(mixer.start(true));
        QCOMPARE(element(), 1.0);

        DeckFeeder feeder(mixer, 1, 1000.0, 0.5);
        feeder.start();
        // Where our stream plays (the only one on this server), and what a sink plays.
        const auto shortList = [this](const char* what) {
            return m_pulse.pactl(
                {QStringLiteral("list"), QStringLiteral("short"), QString::fromLatin1(what)});
        };
        const auto streamSink = [&] {
            const QString sinkIndex =
                shortList("sink-inputs").section(QLatin1Char('\n'), 0, 0).section('\t', 1, 1);
            for (const QString& sink : shortList("sinks").split('\n', Qt::SkipEmptyParts)) {
                if (!sinkIndex.isEmpty() && sink.section('\t', 0, 0) == sinkIndex)
                    return sink.section('\t', 1, 1);
            }
            return QString();
        };
        // The last second of 2.5 s of what a sink plays: a reopened sink settles within about a
        // second. The recorder may take a while to start on a busy machine. Deck 1 alone of two
        // active decks plays at -3 dB.
        QTemporaryDir dir;
        int recordings = 0;
        const auto playsOn = [&](const QString& sink) {
            if (!kRealTimeBuild) return true;
            const QString file =
                dir.filePath(QStringLiteral("%1-%2.raw").arg(++recordings).arg(sink));
            auto recorder = m_pulse.record(sink, file);
            QElapsedTimer waited;
            waited.start();
            while (QFileInfo(file).size() < 2.5 * 192000 && waited.elapsed() < 10000) {
                QTest::qWait(100);
            }
            recorder.reset();
            const QByteArray pcm = testsupport::readFile(file);
            const double heard =
                tone::amplitudeS16(pcm, 2, 0, 48000, 1000.0, pcm.size() / 192000.0 - 1.0, 1.0);
            return qAbs(tone::ratioDb(heard, 0.5 * kHeadroom)) < 1.0;
        };
        QTRY_COMPARE_WITH_TIMEOUT(streamSink(), QStringLiteral("test_sink"), 3000);
        QVERIFY(playsOn(QStringLiteral("test_sink")));

        QElapsedTimer muted;
        muted.start();
        QVERIFY(mixer.setMonitorDevice(QStringLiteral("Test_Mic_Feed")));
        QCOMPARE(element(), 0.0);
        QCOMPARE(mixer.monitorDevice(), QStringLiteral("mic_sink"));
        QTRY_COMPARE_WITH_TIMEOUT(element(), 1.0, 2000);
        QVERIFY(muted.elapsed() >= 90);
        QTRY_COMPARE_WITH_TIMEOUT(streamSink(), QStringLiteral("mic_sink"), 5000);
        QVERIFY(playsOn(QStringLiteral("mic_sink")));

        QVERIFY(mixer.setMonitorDevice(QStringLiteral("No Such Speakers")));
        QCOMPARE(mixer.monitorDevice(), QStringLiteral("Default"));
        QVERIFY(mixer.elementProperty("monitor_sink", "device").toString().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(streamSink(), QStringLiteral("test_sink"), 5000);
        QVERIFY(playsOn(QStringLiteral("test_sink")));
        feeder.stop();
        mixer.shutdown();
    }

    // Every element, pad and bus of every mixer above is gone.
    void noGStreamerObjectOutlivesItsMixer() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY2(leftovers().isEmpty(), qPrintable(leftovers()));
    }
};

QTEST_GUILESS_MAIN(TestAudioEngine)
#include "test_audio_engine.moc"
