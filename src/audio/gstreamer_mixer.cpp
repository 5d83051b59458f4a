// The mixer's facade: what outlives a pipeline (gains, ducking, settings), start and stop.
#include "audio/gstreamer_mixer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <utility>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <QDateTime>

#include "audio/gst_element_util.h"
#include "audio/gst_library.h"
#include "audio/mixer_bus.h"
#include "audio/mixer_graph.h"
#include "audio/mixer_log.h"
#include "platform/audio_output_devices.h"
#include "platform/audio_threads.h"

using mixerlog::joined;

namespace {

constexpr float kHeadroomGain = 0.70794576f;  // -3 dB while both decks are audible
constexpr float kAudibleVolume = 0.001f;
constexpr int kLevelTickMs = 50;
constexpr float kPeakDecayPerTick = 0.9f;
constexpr int kFeedLockTimeoutMs = 5;
constexpr int kMaxDeckChannels = 8;
constexpr int kMaxFeedBlockMs = 100;

qint64 nowMs() { return QDateTime::currentMSecsSinceEpoch(); }

// How much of a deck (1 or 2) the crossfader lets through.
float crossfaderShare(int deck, float crossfader) {
    if (deck == 1 && crossfader > 0.0f) return 1.0f - crossfader;
    if (deck == 2 && crossfader < 0.0f) return 1.0f + crossfader;
    return 1.0f;
}

}  // namespace

// GStreamer calls these on its streaming threads.
struct GStreamerMixerCallbacks {
    static GstFlowReturn onNewSample(GstElement* appsink, gpointer userData) {
        auto* mixer = static_cast<GStreamerMixer*>(userData);
        if (!mixer) return GST_FLOW_ERROR;
        if (mixer->m_shuttingDown.load()) return GST_FLOW_OK;
        const SampleHandle sample =
            SampleHandle::adopt(gst_app_sink_pull_sample(GST_APP_SINK(appsink)));
        if (!sample) return GST_FLOW_ERROR;
        GstBuffer* buffer = gst_sample_get_buffer(sample.get());
        GstMapInfo map;
        if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            QByteArray data(reinterpret_cast<const char*>(map.data), static_cast<int>(map.size));
            gst_buffer_unmap(buffer, &map);
            if (!mixer->m_shuttingDown.load()) Q_EMIT mixer->encodedDataReady(data);
        }
        return GST_FLOW_OK;
    }

    // What leaves the master volume is what the encoder gets: its peak, kept as the highest
    // since the last takeSentPeak().
    static GstPadProbeReturn onMixedBuffer(GstPad*, GstPadProbeInfo* info, gpointer userData) {
        auto* mixer = static_cast<GStreamerMixer*>(userData);
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        GstMapInfo map;
        if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ)) return GST_PAD_PROBE_OK;
        const auto* samples = reinterpret_cast<const float*>(map.data);
        float peak = 0.0f;
        for (gsize i = 0, n = map.size / sizeof(float); i < n; ++i) {
            peak = std::max(peak, std::fabs(samples[i]));
        }
        gst_buffer_unmap(buffer, &map);
        float seen = mixer->m_sentPeak.load(std::memory_order_relaxed);
        while (peak > seen && !mixer->m_sentPeak.compare_exchange_weak(seen, peak)) {
        }
        return GST_PAD_PROBE_OK;
    }
};

GStreamerMixer::GStreamerMixer(QObject* parent) : QObject(parent), m_levelTimer(this) {
    m_levelTimer.setInterval(kLevelTickMs);
    connect(&m_levelTimer, &QTimer::timeout, this, &GStreamerMixer::onLevelTimer);
}

GStreamerMixer::~GStreamerMixer() {
    shutdown();
    destroyPipeline();
}

bool GStreamerMixer::initializeGStreamer() { return gstlibrary::initialize(); }

bool GStreamerMixer::initialize() {
    if (m_initialized) return true;
    if (!initializeGStreamer()) return false;
    m_monitorSinkService = platform::holdMonitorSinkService();
    m_encodingEnabled.store(false);  // the ready state is the monitor-only graph
    if (!createPipeline()) {
        MIXER_WARN << "Failed to create pipeline";
        m_monitorSinkService.reset();
        return false;
    }
    m_initialized = true;
    MIXER_DEBUG << "Mixer initialized";
    return true;
}

bool GStreamerMixer::createPipeline() {
    m_shuttingDown.store(false);
    destroyPipeline();
    MixerGraph::Recipe recipe;
    recipe.deckChannels = mixformat::kChannels;
    recipe.deckRateHz = m_inputSampleRate.load();
    recipe.encoding = m_encodingEnabled.load();
    recipe.encoder = m_encoder;
    recipe.unavailableFactories = m_unavailableFactories;
    QString error;
    m_graph = MixerGraph::build(recipe, m_monitor, &error);
    if (!m_graph) {
        // Told once the failed build is gone, so a handler may start another at once.
        if (!error.isEmpty()) Q_EMIT errorOccurred(error);
        return false;
    }
    ++m_pipelineSerial;
    if (recipe.encoding) {
        g_signal_connect(m_graph->appsink(), "new-sample",
                         G_CALLBACK(GStreamerMixerCallbacks::onNewSample), this);
    }
    {
        QMutexLocker locker(&m_mutex);
        for (int i = 0; i < MixerGraph::kDecks; ++i) {
            m_decks[i].attach(m_graph->deckSource(i), recipe.deckChannels, recipe.deckRateHz,
                              m_feedBlockMs);
        }
    }
    m_monitor.attach(m_graph.get());
    if (const PadHandle mixed = staticPad(m_graph->masterVolume(), "src")) {
        gst_pad_add_probe(mixed.get(), GST_PAD_PROBE_TYPE_BUFFER,
                          GStreamerMixerCallbacks::onMixedBuffer, this, nullptr);
    }
    reapplyDeckVolumes();
    setMasterVolume(m_masterGain.load());

    m_bus = new MixerBus(
        m_graph->pipeline(),
        [this](const GstObject* source) { return m_monitor.isFromSink(source); }, this);
    connect(m_bus, &MixerBus::errorOccurred, this, [this](const QString& message) {
        if (!m_shuttingDown.load()) Q_EMIT errorOccurred(message);
    });
    connect(m_bus, &MixerBus::monitorFailed, this, [this](const QString& message) {
        if (!m_monitor.markFailed()) {
            MIXER_DEBUG << joined("Monitor output, again:", message);
            return;
        }
        MIXER_WARN << joined("Monitor output stopped:", message, "- the mix goes on without it");
        Q_EMIT monitorFailed(message);
    });
    return true;
}

void GStreamerMixer::destroyPipeline() {
    QMutexLocker locker(&m_mutex);
    m_running.store(false);
    for (DeckFeed& deck : m_decks) deck.detach();
    m_levelTimer.stop();
    m_monitor.detach();
    if (m_bus) {
        m_bus->close();
        // We may be inside its own drain (an error handler that shuts down): delete later.
        std::exchange(m_bus, nullptr)->deleteLater();
    }
    if (m_graph) {
        m_graph.reset();
        MIXER_DEBUG << "Pipeline destroyed";
    }
}

bool GStreamerMixer::start(bool enableEncoding) {
    MIXER_DEBUG << QStringLiteral("start(%1), running: %2")
                       .arg(mixerlog::text(enableEncoding), mixerlog::text(m_running.load()));
    if (!m_initialized) {
        MIXER_WARN << "Not initialized";
        return false;
    }
    if (m_running.load()) {
        if (m_encodingEnabled.load() == enableEncoding) return true;
        // The graph is rebuilt, never reconfigured.
        stop();
    }
    m_encodingEnabled.store(enableEncoding);
    if (!createPipeline()) {
        MIXER_WARN << "Failed to create pipeline";
        return false;
    }
    applyPendingTags();
    if (!m_graph->play()) {
        MIXER_WARN << "Failed to start pipeline";
        m_bus->drain();  // the element's own error text tells the user why
        destroyPipeline();
        return false;
    }
    m_running.store(true);
    m_levelTimer.start();
    const float monitorVolume = m_monitor.appliedVolume();
    const QString monitor =
        QStringLiteral("- monitor: %1, %2")
            .arg(m_monitor.sinkFactory(), monitorVolume > 0.0f
                                              ? QStringLiteral("volume %1").arg(monitorVolume)
                                              : QStringLiteral("off"));
    if (enableEncoding) {
        MIXER_INFO << joined("Pipeline started, encoding", formatLabel(), "with",
                             activeEncoderFactory(), monitor);
    } else {
        MIXER_INFO << joined("Pipeline started, monitor only", monitor);
    }
    return true;
}

void GStreamerMixer::stop() {
    if (!m_running.load()) return;
    m_levelTimer.stop();
    m_monitor.cancelReenable();
    {
        QMutexLocker locker(&m_mutex);
        m_running.store(false);
        for (DeckFeed& deck : m_decks) deck.releaseBlock();
    }
    if (m_graph) m_graph->halt();
    MIXER_INFO << "Pipeline stopped";
}

void GStreamerMixer::shutdown() {
    if (!m_initialized) return;
    m_shuttingDown.store(true);
    stop();
    destroyPipeline();
    m_monitorSinkService.reset();
    m_initialized = false;
    MIXER_INFO << "Shut down";
}

void GStreamerMixer::feedDeck1Audio(const float* data, int frames, int channels, int sampleRate) {
    feedDeck(0, data, frames, channels, sampleRate);
}

void GStreamerMixer::feedDeck2Audio(const float* data, int frames, int channels, int sampleRate) {
    feedDeck(1, data, frames, channels, sampleRate);
}

void GStreamerMixer::feedDeck(int deckIndex, const float* data, int frames, int channels,
                              int sampleRate) {
    platform::clearUpperVectorState();  // capture threads may be born dirty (audio_threads.h)
    DeckFeed& deck = m_decks[deckIndex];
    const qint64 now = nowMs();
    const bool validFormat =
        frames > 0 && channels > 0 && channels <= kMaxDeckChannels && sampleRate > 0;
    const qint64 sampleCount = data && validFormat ? qint64(frames) * channels : 0;
    float peak = 0.0f;
    for (qint64 i = 0; i < sampleCount; ++i) {
        const float magnitude = std::fabs(data[i]);
        if (magnitude > peak) peak = magnitude;  // NaN never wins
    }
    deck.traceCall(peak, frames, channels, m_running.load(), now);
    if (!m_running.load() || !data || m_shuttingDown.load()) return;

    // A zero rate would divide by zero; a wrong channel count would misread the samples.
    if (!validFormat) {
        deck.drop(
            QStringLiteral("invalid buffer (frames=%1, channels=%2, rate=%3), dropping buffer")
                .arg(frames)
                .arg(channels)
                .arg(sampleRate),
            now);
        return;
    }
    std::unique_lock<QMutex> lock(m_mutex, std::chrono::milliseconds(kFeedLockTimeoutMs));
    if (!lock.owns_lock()) {
        deck.drop(QStringLiteral("dropped buffer due to mutex contention"), now);
        return;
    }
    if (!m_running.load() || !deck.isAttached() || m_shuttingDown.load()) return;
    if (deckIndex == 0 && sampleRate != m_inputSampleRate.load()) {
        m_inputSampleRate.store(sampleRate);
    }
    deck.setPeak(peak);
    deck.append(data, frames, channels, sampleRate, now);
}

void GStreamerMixer::setFeedBlockMs(int blockMs) {
    m_feedBlockMs = std::clamp(blockMs, 0, kMaxFeedBlockMs);
}

quint64 GStreamerMixer::droppedBufferCount() const {
    return m_decks[0].droppedBuffers() + m_decks[1].droppedBuffers();
}

quint64 GStreamerMixer::pushedBlockCount() const {
    return m_decks[0].pushedBlocks() + m_decks[1].pushedBlocks();
}

quint64 GStreamerMixer::pushedFrameCount() const {
    return m_decks[0].pushedFrames() + m_decks[1].pushedFrames();
}

quint64 GStreamerMixer::staleFrameCount() const {
    return m_decks[0].staleFrames() + m_decks[1].staleFrames();
}

float GStreamerMixer::deckGain(int deck, float ownVolume, float otherVolume, bool bothActive,
                               float crossfader) {
    float gain = ownVolume;
    if (bothActive && ownVolume > kAudibleVolume && otherVolume > kAudibleVolume) {
        gain *= kHeadroomGain;
    }
    return gain * crossfaderShare(deck, crossfader);
}

float GStreamerMixer::triggerLevel() const {
    const int trigger = m_ducker.triggerDeck() - 1;
    return m_decks[trigger].peak() * m_deckVolumes[trigger].load();
}

void GStreamerMixer::applyDeckGain(int deckIndex, bool advanceDucking) {
    const bool bothActive = m_deckActive[0].load() && m_deckActive[1].load();
    float gain = deckGain(deckIndex + 1, m_deckVolumes[deckIndex].load(),
                          m_deckVolumes[1 - deckIndex].load(), bothActive, m_crossfader.load());
    if (m_ducker.isEnabled() && deckIndex + 1 == m_ducker.duckedDeck()) {
        if (advanceDucking) {
            m_ducker.smoothDuckGain(
                m_ducker.computeDuckTarget(VoiceDucker::levelToDb(triggerLevel())));
        }
        gain *= m_ducker.gain();
    }
    if (m_graph) gstutil::setVolume(m_graph->deckVolume(deckIndex), gstutil::capGain(gain));
}

// A deck's volume changes its own gain and, as the ducking trigger, the other deck's.
void GStreamerMixer::setDeckVolume(int deckIndex, float volume) {
    m_deckVolumes[deckIndex].store(volume);
    applyDeckGain(deckIndex, false);
    applyDeckGain(1 - deckIndex, true);
}

void GStreamerMixer::reapplyDeckVolumes() {
    setDeckVolume(0, m_deckVolumes[0].load());
    setDeckVolume(1, m_deckVolumes[1].load());
}

void GStreamerMixer::setDeck1Volume(float volume) { setDeckVolume(0, volume); }

void GStreamerMixer::setDeck2Volume(float volume) { setDeckVolume(1, volume); }

void GStreamerMixer::setMasterVolume(float volume) {
    m_masterGain.store(volume);
    if (m_graph) gstutil::setVolume(m_graph->masterVolume(), gstutil::capGain(volume));
}

void GStreamerMixer::setCrossfader(float position) {
    m_crossfader.store(std::isnan(position) ? 0.0f : std::clamp(position, -1.0f, 1.0f));
    reapplyDeckVolumes();
}

void GStreamerMixer::setDeck1Active(bool active) { setDeckActive(0, active); }

void GStreamerMixer::setDeck2Active(bool active) { setDeckActive(1, active); }

void GStreamerMixer::setDeckActive(int deckIndex, bool active) {
    if (m_deckActive[deckIndex].exchange(active) == active) return;
    const bool both = m_deckActive[0].load() && m_deckActive[1].load();
    MIXER_INFO << joined("Deck", deckIndex + 1, active ? "active" : "inactive",
                         "- headroom:", both ? "-3dB" : "0dB");
    reapplyDeckVolumes();  // the headroom depends on both decks
}

void GStreamerMixer::setDuckingConfig(const DuckingConfig& config) {
    const DuckingConfig previous = m_ducker.config();
    m_ducker.setConfig(config);
    // A deck that stops being the ducked one must not stay attenuated until its next fader move.
    if (previous.enabled != config.enabled || previous.sourceDeck != config.sourceDeck) {
        applyDeckGain(0, false);
        applyDeckGain(1, false);
    }
}

void GStreamerMixer::onLevelTimer() {
    if (m_shuttingDown.load()) return;
    if (m_ducker.isEnabled()) {
        const float previous = m_ducker.gain();
        const float level = triggerLevel();
        applyDeckGain(m_ducker.duckedDeck() - 1, true);
        m_ducker.logTick(previous, m_ducker.gain(), VoiceDucker::levelToDb(level));
    }

    const float peak1 = m_decks[0].peak();
    const float peak2 = m_decks[1].peak();
    const float crossfader = m_crossfader.load();
    const float master =
        std::max(peak1 * crossfaderShare(1, crossfader), peak2 * crossfaderShare(2, crossfader));
    Q_EMIT levelsUpdated(peak1, peak2, master);
    for (DeckFeed& deck : m_decks) deck.decayPeak(kPeakDecayPerTick);
}

QStringList GStreamerMixer::getMonitorDevices() { return m_monitor.devices(); }

void GStreamerMixer::monitorServiceLost() {
    m_monitorServiceStale = true;
    // The sink's connection is dead whether or not it has noticed yet.
    if (m_graph) m_monitor.markFailed();
}

bool GStreamerMixer::restartMonitorOutput() {
    // Our sinks share one connection to the service per client name, and that connection died
    // with the service: a fresh one, under a new name, for every sink opened from now on (a
    // pipeline built later included). The old hold goes only after the sink reopened, so the
    // two overlap.
    std::shared_ptr<void> previous;
    if (m_monitorServiceStale) {
        std::shared_ptr<void> renewed = platform::renewMonitorSinkService();
        if (!renewed) return true;  // the service is not reachable yet: still pending
        previous = std::exchange(m_monitorSinkService, std::move(renewed));
        m_monitorServiceStale = false;
    }
    if (!m_graph || !m_monitor.hasFailed()) return false;
    const qint64 lastAudioMs = std::max(m_decks[0].lastAudioMs(), m_decks[1].lastAudioMs());
    if (!m_monitor.restart(lastAudioMs)) return false;
    MIXER_INFO << "Monitor output reopened";
    return true;
}

bool GStreamerMixer::setMonitorDevice(const QString& deviceName) {
    const qint64 lastAudioMs = std::max(m_decks[0].lastAudioMs(), m_decks[1].lastAudioMs());
    m_monitor.setDevice(deviceName, m_running.load(), lastAudioMs);
    return true;
}

void GStreamerMixer::setMonitorEnabled(bool enabled) { m_monitor.setEnabled(enabled); }

void GStreamerMixer::setMonitorVolume(float volume) { m_monitor.setVolume(volume); }

void GStreamerMixer::setEncoderType(Codec type) {
    if (m_running.load() && m_encodingEnabled.load()) {
        MIXER_WARN << "Cannot change encoder while encoding";
        return;
    }
    m_encoder.codec = type;
    MIXER_DEBUG << joined("Encoder type set to", codecShortName(type));
}

void GStreamerMixer::setBitrate(int bitrateKbps) { m_encoder.bitrateKbps = bitrateKbps; }

void GStreamerMixer::setTargetSampleRate(int sampleRateHz) {
    if (sampleRateHz == m_encoder.sampleRateHz) return;
    m_encoder.sampleRateHz = sampleRateHz;
    MIXER_DEBUG << joined("Target sample rate set to", sampleRateHz, "Hz");
}

void GStreamerMixer::setOutputChannels(int channels) {
    channels = std::clamp(channels, 1, mixformat::kChannels);
    if (channels == m_encoder.channels) return;
    m_encoder.channels = channels;
    MIXER_DEBUG << joined("Encoder output channels set to", channels);
}

void GStreamerMixer::setAacAfterburner(bool enabled) {
    if (enabled == m_encoder.aacAfterburner) return;
    m_encoder.aacAfterburner = enabled;
    MIXER_DEBUG << joined("AAC afterburner set to", enabled ? "on" : "off");
}

void GStreamerMixer::setAacProfile(AacProfile profile) {
    const auto clamped = static_cast<AacProfile>(
        std::clamp(static_cast<int>(profile), int(AAC_PROFILE_AUTO), int(AAC_PROFILE_HE_V2)));
    if (clamped == m_encoder.aacProfile) return;
    m_encoder.aacProfile = clamped;
    MIXER_DEBUG << joined("AAC profile set to", static_cast<int>(clamped));
}

void GStreamerMixer::setOpusAudioType(OpusAudioType type) {
    const auto clamped = static_cast<OpusAudioType>(
        std::clamp(static_cast<int>(type), int(OPUS_AUDIO_MUSIC), int(OPUS_AUDIO_SPEECH)));
    if (clamped == m_encoder.opusAudioType) return;
    m_encoder.opusAudioType = clamped;
    MIXER_DEBUG << joined("Opus optimized for", clamped == OPUS_AUDIO_SPEECH ? "speech" : "music");
}

QString GStreamerMixer::formatLabel() const {
    return codecFormatLabel(m_encoder.codec, m_encoder.bitrateKbps, m_encoder.sampleRateHz);
}

QString GStreamerMixer::activeEncoderFactory() const {
    const EncoderChain* chain = m_graph ? m_graph->encoderChain() : nullptr;
    return chain ? chain->encoderFactory() : QString();
}

void GStreamerMixer::setInitialStreamTags(const QString& title, const QString& artist) {
    m_pendingTitle = title;
    m_pendingArtist = artist;
    MIXER_DEBUG << joined("Stored initial stream tags - title:", title, "artist:", artist);
}

bool GStreamerMixer::applyPendingTags() {
    if (m_pendingTitle.isEmpty() && m_pendingArtist.isEmpty()) return false;
    const EncoderChain* chain = m_graph ? m_graph->encoderChain() : nullptr;
    if (!chain || !chain->setStreamTags(m_pendingTitle, m_pendingArtist)) return false;
    MIXER_DEBUG << joined("Applied initial stream tags - title:", m_pendingTitle,
                          "artist:", m_pendingArtist);
    return true;
}

QVariant GStreamerMixer::elementProperty(const QString& elementName,
                                         const QString& property) const {
    return m_graph ? m_graph->property(elementName, property) : QVariant();
}

void GStreamerMixer::postErrorForTesting(const QString& text) {
    if (!m_graph) return;
    GstObject* pipeline = GST_OBJECT(m_graph->pipeline());
    GError* error =
        g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED, text.toUtf8().constData());
    gst_element_post_message(m_graph->pipeline(),
                             gst_message_new_error(pipeline, error, "posted for a test"));
    g_error_free(error);
}

void GStreamerMixer::setUnavailableFactoriesForTesting(const QStringList& factories) {
    m_unavailableFactories = QSet<QString>(factories.begin(), factories.end());
}
