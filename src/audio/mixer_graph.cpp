// One pipeline of the mixer: building it, linking it, tearing it down.
#include "audio/mixer_graph.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include <gst/app/gstappsrc.h>
#include <gst/base/gstaggregator.h>
#include <gst/gst.h>

#include <QDateTime>

#include "audio/element_maker.h"
#include "audio/gst_element_util.h"
#include "audio/mix_format.h"
#include "audio/mixer_log.h"
#include "core/logger.h"

namespace {

// At most this much audio waits in each deck's queue, the oldest dropped first: a stalled
// branch cannot build latency.
constexpr guint64 kDeckQueueNs = 100 * GST_MSECOND;
constexpr int kQueueLeakDownstream = 2;  // queue "leaky": drop the oldest buffers
// Room for the encoder to fall behind briefly (a busy machine) without holding the mix back.
constexpr guint kEncoderQueueBuffers = 200;
constexpr guint64 kEncoderQueueNs = 500 * GST_MSECOND;
// A deck source that the pipeline does not drain gives up new blocks beyond this.
constexpr guint64 kDeckSourceMaxBytes = 1024 * 1024;

constexpr guint64 kMixBufferNs = 20 * GST_MSECOND;
// How late a deck block may be before it misses the mix (it is then silent for a moment and its
// late audio is dropped: an audible click). The first mix buffer waits out the whole slack for a
// deck that has never delivered (an idle second deck), so the slack starts short, for a quick
// first packet, and widens as soon as that buffer is out.
constexpr guint64 kFirstMixSlackNs = 30 * GST_MSECOND;
constexpr guint64 kMixSlackNs = 50 * GST_MSECOND;

constexpr qint64 kProbeLogIntervalMs = 1000;

// With the first mix buffer out the slack widens to its running value. The aggregator takes the
// new value at once and posts a latency message, on which the bus handler redistributes the
// pipeline's latency, before the monitor sink has played anything. Streaming thread.
GstPadProbeReturn widenMixSlack(GstPad* pad, GstPadProbeInfo*, gpointer) {
    const ElementHandle mixer = ElementHandle::adopt(gst_pad_get_parent_element(pad));
    if (mixer) g_object_set(mixer.get(), "latency", kMixSlackNs, nullptr);
    return GST_PAD_PROBE_REMOVE;
}

// Diagnostic: what leaves the mixer, once a second while debug logging is on. Streaming thread.
GstPadProbeReturn traceMixerOutput(GstPad*, GstPadProbeInfo* info, gpointer) {
    static std::atomic<quint64> calls{0};
    static std::atomic<qint64> lastLogMs{0};
    const quint64 count = ++calls;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - lastLogMs.load() < kProbeLogIntervalMs) return GST_PAD_PROBE_OK;
    lastLogMs.store(now);
    if (!Logger::instance().isFileLoggingEnabled()) return GST_PAD_PROBE_OK;
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ)) return GST_PAD_PROBE_OK;
    const auto* samples = reinterpret_cast<const float*>(map.data);
    const gsize sampleCount = map.size / sizeof(float);
    float peak = 0.0f;
    for (gsize i = 0; i < sampleCount; ++i) peak = std::max(peak, std::fabs(samples[i]));
    gst_buffer_unmap(buffer, &map);
    const double peakDb = peak > 0.0001f ? 20.0 * std::log10(peak) : -80.0;
    MIXER_DEBUG << QStringLiteral("MIXER OUTPUT: peak=%1 (%2 dB), samples=%3, calls=%4")
                       .arg(QString::number(peak, 'f', 6), QString::number(peakDb, 'f', 1))
                       .arg(sampleCount)
                       .arg(count);
    return GST_PAD_PROBE_OK;
}

// Deck sources: live, time-stamped on arrival, never blocking the capture thread.
void configureDeckSource(GstElement* appsrc, GstCaps* caps) {
    g_object_set(appsrc, "caps", caps, "stream-type", GST_APP_STREAM_TYPE_STREAM, "format",
                 GST_FORMAT_TIME, "is-live", TRUE, "do-timestamp", TRUE, "block", FALSE,
                 "max-bytes", kDeckSourceMaxBytes, nullptr);
}

void configureMixer(GstElement* mixer) {
    // The deck blocks are stamped on arrival, while their audio lines up by sample count: how
    // the capture's chunks happen to fill a block moves a block's arrival by up to about 30 ms
    // against its place in the mix, and a busy machine adds its own delays. With a zero-latency
    // deadline the mixer would play silence for that deck and drop its late audio; 50 ms of
    // slack absorbs both (with four busy loops on two cores no deck missed a deadline). The
    // first buffer uses less, because a connect's first packet waits for it.
    g_object_set(mixer, "start-time-selection", GST_AGGREGATOR_START_TIME_SELECTION_FIRST,
                 "output-buffer-duration", kMixBufferNs, "latency", kFirstMixSlackNs, nullptr);
    // A deck that has not delivered yet (no source, or not started) must not hold the mix back:
    // without this the mixer waits out its latency for that deck on every 20 ms buffer, which
    // costs wake-ups and delays the first encoded packet of a connect by about 25 ms. A deck
    // that starts later joins the mix with its first buffer.
    if (gstutil::hasProperty(mixer, "ignore-inactive-pads")) {
        g_object_set(mixer, "ignore-inactive-pads", TRUE, nullptr);
    }
}

}  // namespace

std::unique_ptr<MixerGraph> MixerGraph::build(const Recipe& recipe, MonitorOutput& monitor,
                                              QString* error) {
    std::unique_ptr<MixerGraph> graph(new MixerGraph);
    if (!graph->assemble(recipe, monitor, error)) return nullptr;  // one clean-up: the destructor
    return graph;
}

MixerGraph::~MixerGraph() {
    // Stop the streaming threads first, so no buffer runs through a pad being released; the
    // members then go in reverse order: request pads, elements, the pipeline.
    halt();
}

bool MixerGraph::play() {
    return gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
}

void MixerGraph::halt() {
    if (m_pipeline) gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
}

bool MixerGraph::assemble(const Recipe& recipe, MonitorOutput& monitor, QString* error) {
    m_pipeline = ElementHandle::sink(gst_pipeline_new("mixer-pipeline"));
    if (!m_pipeline) {
        MIXER_WARN << "Failed to create pipeline";
        return false;
    }
    // The system clock, not the monitor sink's: restarting the monitor device must not take
    // the clock of the whole mix (and of the broadcast) with it.
    const ClockHandle systemClock = ClockHandle::adopt(gst_system_clock_obtain());
    gst_pipeline_use_clock(GST_PIPELINE(m_pipeline.get()), systemClock.get());

    ElementMaker maker(m_pipeline.get(), recipe.unavailableFactories);
    struct DeckBranch {
        GstElement* source;
        GstElement* queue;
        GstElement* convert;
        GstElement* resample;
        GstElement* volume;
    };
    std::array<DeckBranch, kDecks> decks{};
    for (int i = 0; i < kDecks; ++i) {
        const QByteArray number = QByteArray::number(i + 1);
        const auto make = [&](const char* factory, const char* name) {
            return maker.make(factory, (name + number).constData());
        };
        decks[i] = {make("appsrc", "appsrc"), make("queue", "queue"),
                    make("audioconvert", "convert"), make("audioresample", "resample"),
                    make("volume", "volume")};
        if (decks[i].queue) {
            g_object_set(decks[i].queue, "max-size-buffers", 0u, "max-size-bytes", 0u,
                         "max-size-time", kDeckQueueNs, "leaky", kQueueLeakDownstream, nullptr);
        }
    }
    GstElement* mixer = maker.make("audiomixer", "mixer");
    // The mix always runs in the capture format, whatever a deck delivers: pinned here, the
    // mixer converts a deviating deck instead of renegotiating its output under the encoder.
    GstElement* mixFormat = maker.make("capsfilter", "mix_format");
    GstElement* masterVolume = maker.make("volume", "master_volume");
    GstElement* tee = maker.make("tee", "tee");
    if (mixer) configureMixer(mixer);
    if (mixFormat) {
        const CapsHandle caps =
            gstutil::floatAudioCaps(mixformat::kChannels, mixformat::kSampleRateHz);
        g_object_set(mixFormat, "caps", caps.get(), nullptr);
    }

    GstElement* encoderQueue = nullptr;
    GstElement* encoderConvert = nullptr;
    GstElement* encoderResample = nullptr;
    GstElement* appsink = nullptr;
    if (recipe.encoding) {
        encoderQueue = maker.make("queue", "encoder_queue");
        if (encoderQueue) {
            g_object_set(encoderQueue, "max-size-buffers", kEncoderQueueBuffers, "max-size-bytes",
                         0u, "max-size-time", kEncoderQueueNs, nullptr);
        }
        encoderConvert = maker.make("audioconvert", "encoder_convert");
        encoderResample = maker.make("audioresample", "encoder_resample");
        m_encoderChain = std::make_unique<EncoderChain>();
        if (!m_encoderChain->build(maker, recipe.encoder, error)) return false;
        appsink = maker.make("appsink", "appsink");
        if (appsink) g_object_set(appsink, "emit-signals", TRUE, "sync", FALSE, nullptr);
    }

    const MonitorOutput::Branch monitorBranch = monitor.buildBranch(maker);

    const bool deckMissing = std::any_of(decks.begin(), decks.end(), [](const DeckBranch& d) {
        return !d.source || !d.queue || !d.convert || !d.resample || !d.volume;
    });
    if (deckMissing || !mixer || !mixFormat || !masterVolume || !tee || !monitorBranch.queue) {
        MIXER_WARN << "Failed to create one or more core elements";
        return false;
    }
    if (recipe.encoding && (!encoderQueue || !encoderConvert || !encoderResample || !appsink)) {
        MIXER_WARN << "Failed to create one or more encoder elements";
        return false;
    }

    m_mixer = ElementHandle::share(mixer);
    m_masterVolume = ElementHandle::share(masterVolume);
    m_tee = ElementHandle::share(tee);
    m_monitorQueue = ElementHandle::share(monitorBranch.queue);
    m_monitorVolume = ElementHandle::share(monitorBranch.volume);
    m_monitorSink = ElementHandle::share(monitorBranch.sink);
    m_appsink = ElementHandle::share(appsink);

    const CapsHandle deckCaps = gstutil::floatAudioCaps(recipe.deckChannels, recipe.deckRateHz);
    for (int i = 0; i < kDecks; ++i) {
        const DeckBranch& deck = decks[i];
        m_deckSources[i] = ElementHandle::share(deck.source);
        m_deckVolumes[i] = ElementHandle::share(deck.volume);
        configureDeckSource(deck.source, deckCaps.get());
        if (!gstutil::linkChain(
                {deck.source, deck.queue, deck.convert, deck.resample, deck.volume})) {
            MIXER_WARN << mixerlog::joined("Failed to link deck", i + 1, "elements");
            return false;
        }
        m_mixerPads[i] = RequestPadHandle::request(mixer, "sink_%u");
        if (!gstutil::linkPads(staticPad(deck.volume, "src").get(), m_mixerPads[i].get())) {
            MIXER_WARN << "Failed to link volumes to mixer";
            return false;
        }
    }
    if (!gstutil::linkChain({mixer, mixFormat, masterVolume, tee})) {
        MIXER_WARN << "Failed to link mixer to tee";
        return false;
    }
    if (const PadHandle mixerSrc = staticPad(mixer, "src")) {
        gst_pad_add_probe(mixerSrc.get(), GST_PAD_PROBE_TYPE_BUFFER, widenMixSlack, nullptr,
                          nullptr);
        gst_pad_add_probe(mixerSrc.get(), GST_PAD_PROBE_TYPE_BUFFER, traceMixerOutput, nullptr,
                          nullptr);
    }

    if (recipe.encoding) {
        m_teeEncoderPad = RequestPadHandle::request(tee, "src_%u");
        if (!gstutil::linkPads(m_teeEncoderPad.get(), staticPad(encoderQueue, "sink").get())) {
            MIXER_WARN << "Failed to link tee to encoder queue";
            return false;
        }
        if (!gstutil::linkChain({encoderQueue, encoderConvert, encoderResample})) {
            MIXER_WARN << "Failed to link encoder queue/convert/resample";
            return false;
        }
        if (!m_encoderChain->link(encoderResample, appsink)) return false;
    }

    m_teeMonitorPad = RequestPadHandle::request(tee, "src_%u");
    if (!gstutil::linkPads(m_teeMonitorPad.get(), staticPad(monitorBranch.queue, "sink").get())) {
        MIXER_WARN << "Failed to link tee to monitor queue";
        return false;
    }
    MIXER_DEBUG << "Pipeline built";
    return true;
}

QVariant MixerGraph::property(const QString& elementName, const QString& property) const {
    const ElementHandle element = ElementHandle::adopt(
        gst_bin_get_by_name(GST_BIN(m_pipeline.get()), elementName.toUtf8().constData()));
    if (!element) return {};
    return gstutil::propertyValue(element.get(), property.toUtf8().constData());
}
