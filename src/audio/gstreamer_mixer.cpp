#include "audio/gstreamer_mixer.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <utility>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QThread>

#include "core/log_categories.h"
#include "core/logger.h"
#include "platform/audio_output_devices.h"
#include "platform/audio_threads.h"
#include "platform/gstreamer_runtime.h"

#define MIXER_INFO qCInfo(lcGStreamer).noquote().nospace()
#define MIXER_DEBUG qCDebug(lcGStreamer).noquote().nospace()
#define MIXER_WARN qCWarning(lcGStreamer).noquote().nospace()

namespace {

constexpr float kHeadroomGain = 0.70794576f;  // -3 dB while both decks are audible
constexpr float kMaxGain = 10.0f;             // the volume element's own limit
constexpr float kAudibleVolume = 0.001f;
constexpr int kLevelTickMs = 50;
constexpr float kPeakDecayPerTick = 0.9f;
constexpr int kFeedLockTimeoutMs = 5;
constexpr qint64 kHotPathLogIntervalMs = 1000;
constexpr int kMonitorRestartDelayMs = 100;
constexpr int kMonitorBlockTimeoutMs = 1000;
// Longer than any buffer can take to pass the monitor sink (its latency is about 250 ms).
constexpr qint64 kMonitorIdleAfterMs = 500;
constexpr int kMaxDeckChannels = 8;
// A deck that delivered nothing for this long has paused; matches the deck queues' limit.
constexpr qint64 kStaleBlockMs = 100;
constexpr char kDefaultDevice[] = "Default";
constexpr int kMixRateHz = 48000;
constexpr int kMixChannels = 2;
constexpr guint64 kMixBufferNs = 20000000;
// How late a deck block may be before it misses the mix (it is then silent for a moment and its
// late audio is dropped: an audible click). The first mix buffer waits out the whole slack for a
// deck that has never delivered (an idle second deck), so the slack starts short, for a quick
// first packet, and widens as soon as that buffer is out.
constexpr guint64 kFirstMixSlackNs = 30000000;
constexpr guint64 kMixSlackNs = 50000000;

// Opus only encodes these rates; any other request is encoded at 48 kHz.
constexpr int kOpusRates[] = {8000, 12000, 16000, 24000, 48000};

qint64 nowMs() { return QDateTime::currentMSecsSinceEpoch(); }

QString threadId() {
    return QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()), 16);
}

QString pointerText(const void* pointer) {
    return QStringLiteral("0x") + QString::number(reinterpret_cast<quintptr>(pointer), 16);
}

float capGain(float gain) {
    if (!(gain > 0.0f)) return 0.0f;  // also catches NaN
    return std::min(gain, kMaxGain);
}

QString logText(const char* text) { return QString::fromUtf8(text); }
QString logText(char* text) { return QString::fromUtf8(text); }
QString logText(const QString& text) { return text; }
QString logText(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }
template <typename T>
QString logText(const T& value) {
    return QVariant::fromValue(value).toString();
}

// Space-separated fragments, as every mixer log line is written.
template <typename... Parts>
QString joined(const Parts&... parts) {
    QStringList list;
    (list << ... << logText(parts));
    return list.join(QLatin1Char(' '));
}

bool hasProperty(gpointer object, const char* name) {
    return object && g_object_class_find_property(G_OBJECT_GET_CLASS(object), name) != nullptr;
}

// Sets an integer property after clamping it into the range the element declares: GLib ignores
// an out-of-range value altogether, which would leave the element at its default bitrate.
int setClampedInt(GstElement* element, const char* name, int value) {
    GParamSpec* param = g_object_class_find_property(G_OBJECT_GET_CLASS(element), name);
    if (!param || !G_IS_PARAM_SPEC_INT(param)) return value;
    const GParamSpecInt* range = G_PARAM_SPEC_INT(param);
    const int clamped = std::clamp(value, range->minimum, range->maximum);
    if (clamped != value) {
        MIXER_WARN << joined(GST_OBJECT_NAME(gst_element_get_factory(element)), name, value,
                             "is out of the encoder's range, using", clamped);
    }
    g_object_set(element, name, clamped, nullptr);
    return clamped;
}

QString factoryName(GstElement* element) {
    GstElementFactory* factory = element ? gst_element_get_factory(element) : nullptr;
    return factory ? QString::fromUtf8(GST_OBJECT_NAME(factory)) : QString();
}

bool link(GstElement* a, GstElement* b) { return gst_element_link(a, b); }

template <typename... Rest>
bool link(GstElement* a, GstElement* b, Rest... rest) {
    return gst_element_link(a, b) && link(b, rest...);
}

QString encoderUnavailableMessage(Codec codec) {
    switch (codec) {
        case Codec::Opus:
            return QStringLiteral(
                "Opus encoder not available.\n\nThe Opus encoder could not be found.\nPlease "
                "install GStreamer plugins with Opus support (gst-plugins-base)\nor select a "
                "different encoder format in Settings.");
        case Codec::Mp3:
            return QStringLiteral(
                "MP3 encoder not available.\n\nThe selected MP3 encoder could not be "
                "found.\nPlease "
                "install GStreamer plugins with MP3 support (gst-plugins-ugly)\nor select a "
                "different encoder format in Settings.");
        case Codec::Aac:
            return QStringLiteral(
                "AAC encoder not available.\n\nNo AAC encoder found (tried fdkaacenc and "
                "voaacenc).\nPlease install GStreamer plugins with AAC support "
                "(gst-plugins-bad)\nor select a different encoder format in Settings.");
        case Codec::Vorbis:
            return QStringLiteral(
                "Vorbis encoder not available.\n\nThe Vorbis encoder could not be found.\nPlease "
                "install GStreamer plugins with Vorbis support (gst-plugins-base)\nor select a "
                "different encoder format in Settings.");
        default:
            return QStringLiteral(
                       "Selected encoder (%1) is not available.\n\nPlease select a different "
                       "encoder format in Settings.")
                .arg(QStringLiteral("Unknown"));
    }
}

const char* aacProfileCapsName(int profile) {
    switch (profile) {
        case GStreamerMixerEnums::AAC_PROFILE_AUTO:
            return nullptr;
        case GStreamerMixerEnums::AAC_PROFILE_HE_V1:
            return "he-aac-v1";
        case GStreamerMixerEnums::AAC_PROFILE_HE_V2:
            return "he-aac-v2";
        default:
            return "lc";
    }
}

// Lets the main thread wait until the streaming thread is parked at a pad with its next item:
// then nothing is on its way through the elements behind that pad, and nothing will be until
// the probe goes.
struct PadBlock {
    std::mutex mutex;
    std::condition_variable blocked;
    bool isBlocked = false;
};

GstPadProbeReturn onPadBlocked(GstPad*, GstPadProbeInfo*, gpointer userData) {
    auto* block = static_cast<PadBlock*>(userData);
    {
        std::lock_guard<std::mutex> lock(block->mutex);
        block->isBlocked = true;
    }
    block->blocked.notify_all();
    return GST_PAD_PROBE_OK;  // stay blocked until the probe is removed
}

}  // namespace

// GStreamer calls these on its streaming threads.
struct GStreamerMixerCallbacks {
    // Every streaming thread announces here, on itself, that it starts and ends its work: the
    // moments to set it up for the live path (platform/audio_threads.h). Nothing else reads
    // these announcements, so they stop here rather than wake the main thread.
    static GstBusSyncReply onSyncMessage(GstBus*, GstMessage* message, gpointer) {
        if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_STREAM_STATUS) return GST_BUS_PASS;
        GstStreamStatusType type;
        gst_message_parse_stream_status(message, &type, nullptr);
        if (type == GST_STREAM_STATUS_TYPE_ENTER) platform::enterStreamingThread();
        if (type == GST_STREAM_STATUS_TYPE_LEAVE) platform::leaveStreamingThread();
        gst_message_unref(message);  // a dropped message is ours to release
        return GST_BUS_DROP;
    }

    static GstFlowReturn onNewSample(GstElement* appsink, gpointer userData) {
        auto* mixer = static_cast<GStreamerMixer*>(userData);
        if (!mixer) return GST_FLOW_ERROR;
        if (mixer->m_shuttingDown.load()) return GST_FLOW_OK;
        GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(appsink));
        if (!sample) return GST_FLOW_ERROR;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstMapInfo map;
        if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            QByteArray data(reinterpret_cast<const char*>(map.data), static_cast<int>(map.size));
            gst_buffer_unmap(buffer, &map);
            if (!mixer->m_shuttingDown.load()) Q_EMIT mixer->encodedDataReady(data);
        }
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }

    // With the first mix buffer out the slack widens to its running value. The aggregator takes
    // the new value at once and posts a latency message, on which the bus handler redistributes
    // the pipeline's latency, before the monitor sink has played anything.
    static GstPadProbeReturn widenMixSlack(GstPad* pad, GstPadProbeInfo*, gpointer) {
        if (GstElement* mixer = gst_pad_get_parent_element(pad)) {
            g_object_set(mixer, "latency", static_cast<guint64>(kMixSlackNs), nullptr);
            gst_object_unref(mixer);
        }
        return GST_PAD_PROBE_REMOVE;
    }

    // Diagnostic: what leaves the mixer, once a second while debug logging is on.
    static GstPadProbeReturn mixerOutputProbe(GstPad*, GstPadProbeInfo* info, gpointer) {
        static std::atomic<quint64> calls{0};
        static std::atomic<qint64> lastLogMs{0};
        const quint64 count = ++calls;
        const qint64 now = nowMs();
        if (now - lastLogMs.load() < kHotPathLogIntervalMs) return GST_PAD_PROBE_OK;
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
};

GStreamerMixer::GStreamerMixer(QObject* parent) : QObject(parent), m_levelTimer(this) {
    m_levelTimer.setInterval(kLevelTickMs);
    connect(&m_levelTimer, &QTimer::timeout, this, &GStreamerMixer::onLevelTimer);
    m_monitorReenableTimer.setSingleShot(true);
    m_monitorReenableTimer.setInterval(kMonitorRestartDelayMs);
    connect(&m_monitorReenableTimer, &QTimer::timeout, this, [this] {
        if (!m_running.load()) return;
        applyMonitorEnabled(true);
        MIXER_INFO << "Monitor restarted with new device";
    });
}

GStreamerMixer::~GStreamerMixer() {
    shutdown();
    destroyPipeline();
}

bool GStreamerMixer::initializeGStreamer() {
    static bool s_initialized = false;
    if (s_initialized) return true;
    MIXER_INFO << "Initializing GStreamer library...";

    const QString applicationDir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    const platform::GStreamerPluginLayout layout =
        platform::gstreamerPluginLayout(applicationDir.toStdString());
    if (!layout.bundledPluginPath.empty()) {
        const QString pluginPath = QString::fromStdString(layout.bundledPluginPath);
        qputenv("GST_PLUGIN_PATH", pluginPath.toUtf8());
        qputenv("GST_PLUGIN_SYSTEM_PATH", QByteArray(""));
        MIXER_INFO << joined("Setting GST_PLUGIN_PATH to:", pluginPath);
    }
    for (const std::string& candidate : layout.scannerCandidates) {
        const QString scanner = QString::fromStdString(candidate);
        if (QFile::exists(scanner)) {
            qputenv("GST_PLUGIN_SCANNER", QFile::encodeName(scanner));
            MIXER_INFO << joined("Setting GST_PLUGIN_SCANNER to:", scanner);
            break;
        }
    }
    // Scan plug-ins in-process, into a registry of our own.
    qputenv("GST_REGISTRY_FORK", QByteArray("no"));
    const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (!dataDir.isEmpty()) {
        QDir().mkpath(dataDir);
        const QString registry = dataDir + QStringLiteral("/gst-registry.bin");
        qputenv("GST_REGISTRY", QFile::encodeName(registry));
        MIXER_INFO << joined("Setting GST_REGISTRY to:", registry);
    }

    GError* error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
        MIXER_WARN << joined("Failed to initialize GStreamer:",
                             error && error->message ? QString::fromUtf8(error->message)
                                                     : QStringLiteral("Unknown error"));
        g_clear_error(&error);
        return false;
    }
    gchar* version = gst_version_string();
    MIXER_INFO << joined("GStreamer initialized, version:", QString::fromUtf8(version));
    g_free(version);
    s_initialized = true;
    return true;
}

bool GStreamerMixer::initialize() {
    if (m_initialized) return true;
    if (!initializeGStreamer()) return false;
    m_monitorSinkService = platform::holdMonitorSinkService();
    MIXER_INFO << "Initializing pipeline...";
    m_encodingEnabled.store(false);  // the ready state is the monitor-only graph
    if (!createPipeline()) {
        MIXER_WARN << "Failed to create pipeline";
        m_monitorSinkService.reset();
        return false;
    }
    m_initialized = true;
    MIXER_INFO << "Pipeline initialized successfully";
    return true;
}

// ---- Pipeline construction and teardown ----

GstElement* GStreamerMixer::makeElement(const char* factory, const char* name) {
    if (m_unavailableFactories.contains(QLatin1String(factory))) return nullptr;
    GstElement* element = gst_element_factory_make(factory, name);
    if (!element) return nullptr;
    // The bin owns every element from here on, so any failure later only has to drop the bin.
    gst_bin_add(GST_BIN(m_pipeline.get()), element);
    return element;
}

GstElement* GStreamerMixer::makeMonitorSink() {
    const std::vector<std::string> factories = platform::monitorSinkFactoryNames();
    for (size_t i = 0; i < factories.size(); ++i) {
        const char* factory = factories[i].c_str();
        const bool last = i + 1 == factories.size();
        ElementHandle sink;
        if (!m_unavailableFactories.contains(QLatin1String(factory))) {
            sink = ElementHandle::sink(gst_element_factory_make(factory, "monitor_sink"));
        }
        if (!sink) {
            if (!last) {
                MIXER_WARN
                    << "Failed to create platform-specific audio sink, trying autoaudiosink...";
            }
            continue;
        }
        // A sink that cannot reach the audio service (no sound server, no device) would fail the
        // whole pipeline, and with it the broadcast: try it out of the bin, where its error
        // reaches no one, and fall back while we still can.
        if (!last) {
            const bool opens =
                gst_element_set_state(sink.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
            gst_element_set_state(sink.get(), GST_STATE_NULL);
            if (!opens) {
                MIXER_WARN << joined(factory,
                                     "cannot open an audio device, trying the next sink...");
                continue;
            }
        }
        gst_bin_add(GST_BIN(m_pipeline.get()), sink.get());
        m_monitorSinkFactory = QString::fromLatin1(factory);
        return sink.get();  // the bin holds it now
    }
    return nullptr;
}

bool GStreamerMixer::createPipeline() {
    MIXER_INFO << "createPipeline() called, m_pipeline=" << pointerText(m_pipeline.get())
               << ", thread=" << threadId();
    m_shuttingDown.store(false);
    if (m_pipeline) {
        MIXER_INFO << "createPipeline() - existing pipeline, calling destroyPipeline()";
        destroyPipeline();
        MIXER_INFO << "createPipeline() - destroyPipeline() completed";
    }
    if (buildPipeline()) return true;
    // One clean-up for every failure: whatever was made goes, every handle is cleared.
    destroyPipeline();
    return false;
}

bool GStreamerMixer::createEncoderChain(GstElement*& encoder, GstElement*& muxer,
                                        GstElement*& aacParse, GstElement*& aacCaps,
                                        GstElement*& rawCaps) {
    switch (m_encoderType) {
        case Codec::Opus:
            encoder = makeElement("opusenc", "encoder");
            if (encoder) muxer = makeElement("oggmux", "muxer");
            break;
        case Codec::Vorbis:
            encoder = makeElement("vorbisenc", "encoder");
            if (encoder) muxer = makeElement("oggmux", "muxer");
            break;
        case Codec::Mp3:
            encoder = makeElement("lamemp3enc", "encoder");
            if (!encoder) {
                MIXER_INFO << "lamemp3enc not available, trying avenc_mp3lame...";
                encoder = makeElement("avenc_mp3lame", "encoder");
            }
            if (!encoder) {
                MIXER_INFO << "avenc_mp3lame not available, trying avenc_libmp3lame...";
                encoder = makeElement("avenc_libmp3lame", "encoder");
            }
            break;
        case Codec::Aac: {
            encoder = makeElement("fdkaacenc", "encoder");
            if (encoder) {
                MIXER_INFO << "Using fdkaacenc (FDK-AAC encoder)";
                break;
            }
            MIXER_INFO << "fdkaacenc not available, trying voaacenc...";
            encoder = makeElement("voaacenc", "encoder");
            if (encoder) {
                MIXER_INFO << "Using voaacenc (VO-AAC encoder)";
                break;
            }
            // FFmpeg's encoder writes raw AAC; only a parser turns it into ADTS.
            MIXER_INFO << "voaacenc not available, trying avenc_aac...";
            aacParse = makeElement("aacparse", "aac_parse");
            if (aacParse) encoder = makeElement("avenc_aac", "encoder");
            if (encoder) {
                MIXER_INFO << "Using avenc_aac (FFmpeg AAC encoder)";
            } else if (aacParse) {
                gst_bin_remove(GST_BIN(m_pipeline.get()), aacParse);
                aacParse = nullptr;
            }
            break;
        }
        default:
            break;
    }

    if (!encoder) {
        const QString message = encoderUnavailableMessage(m_encoderType);
        MIXER_WARN << "GStreamerMixer: " << message;
        Q_EMIT errorOccurred(message);
        return false;
    }

    if (m_encoderType == Codec::Aac) {
        const QString factory = factoryName(encoder);
        int profile = m_aacProfile;
        // Only FDK-AAC makes HE-AAC; asking another encoder for it fails negotiation mid-stream.
        if ((profile == AAC_PROFILE_HE_V1 || profile == AAC_PROFILE_HE_V2) &&
            factory != QLatin1String("fdkaacenc")) {
            MIXER_WARN << joined(factory, "cannot encode AAC profile",
                                 QString::fromLatin1(aacProfileCapsName(profile)),
                                 "- encoding AAC-LC instead");
            profile = AAC_PROFILE_LC;
        }
        aacCaps = makeElement("capsfilter", "aac_caps");
        if (!aacCaps) {
            MIXER_WARN << "Failed to create AAC capsfilter";
        } else {
            GstCaps* caps = gst_caps_new_simple("audio/mpeg", "mpegversion", G_TYPE_INT, 4,
                                                "stream-format", G_TYPE_STRING, "adts", nullptr);
            if (const char* name = aacProfileCapsName(profile)) {
                gst_caps_set_simple(caps, "profile", G_TYPE_STRING, name, nullptr);
            }
            g_object_set(aacCaps, "caps", caps, nullptr);
            gst_caps_unref(caps);
            MIXER_INFO << "AAC capsfilter configured for ADTS output";
        }
    }

    int channels = std::clamp(m_outputChannels, 1, 2);
    if (m_encoderType == Codec::Aac && m_aacProfile == AAC_PROFILE_HE_V2) channels = 2;
    int rate = m_targetSampleRate;
    if (m_encoderType == Codec::Opus &&
        std::find(std::begin(kOpusRates), std::end(kOpusRates), rate) == std::end(kOpusRates)) {
        MIXER_WARN << joined("Opus cannot encode at", rate, "Hz - encoding at 48000 Hz");
        rate = 48000;
    }
    if (rate <= 0) rate = 48000;
    rawCaps = makeElement("capsfilter", "encoder_raw_caps");
    if (!rawCaps) {
        MIXER_WARN << "Failed to create encoder raw capsfilter";
    } else {
        GstCaps* caps = gst_caps_new_simple("audio/x-raw", "channels", G_TYPE_INT, channels, "rate",
                                            G_TYPE_INT, rate, nullptr);
        g_object_set(rawCaps, "caps", caps, nullptr);
        gst_caps_unref(caps);
        MIXER_INFO << joined("Encoder raw caps: channels=", channels, "rate=", rate, "Hz");
    }

    // Codec properties.
    const QString factory = factoryName(encoder);
    const bool ffmpeg = factory.startsWith(QLatin1String("avenc_"));
    int readbackKbps = 0;
    switch (m_encoderType) {
        case Codec::Opus:
            setClampedInt(encoder, "bitrate", m_bitrate * 1000);
            g_object_set(encoder, "bitrate-type", 0, "audio-type",
                         m_opusAudioType == OPUS_AUDIO_SPEECH ? 2048 : 2049, nullptr);
            break;
        case Codec::Vorbis:
            g_object_set(encoder, "managed", TRUE, nullptr);
            setClampedInt(encoder, "bitrate", m_bitrate * 1000);
            setClampedInt(encoder, "max-bitrate", m_bitrate * 1000);
            break;
        case Codec::Mp3:
            if (ffmpeg) {
                setClampedInt(encoder, "bitrate", m_bitrate * 1000);
            } else {
                g_object_set(encoder, "target", 1, nullptr);
                setClampedInt(encoder, "bitrate", m_bitrate);
                g_object_set(encoder, "cbr", TRUE, nullptr);
            }
            break;
        case Codec::Aac:
            setClampedInt(encoder, "bitrate", m_bitrate * 1000);
            if (factory == QLatin1String("fdkaacenc") && hasProperty(encoder, "afterburner")) {
                g_object_set(encoder, "afterburner", m_aacAfterburner ? TRUE : FALSE, nullptr);
            }
            break;
        default:
            break;
    }
    MIXER_INFO << joined("Configuring encoder:", factory, "bitrate:", m_bitrate, "kbps",
                         "sampleRate:", rate, "Hz", "channels:", channels);
    if (m_encoderType != Codec::Vorbis && hasProperty(encoder, "bitrate")) {
        int readback = 0;
        g_object_get(encoder, "bitrate", &readback, nullptr);
        if (m_encoderType == Codec::Mp3 && !ffmpeg) {
            MIXER_INFO << joined("MP3 encoder actual bitrate readback:", readback, "kbps");
        } else {
            readbackKbps = readback / 1000;
            MIXER_INFO << joined("Encoder actual bitrate readback:", readback, "bps (") +
                              QString::number(readbackKbps) + QStringLiteral("kbps)");
        }
    }
    if (muxer) {
        g_object_set(muxer, "max-delay", static_cast<guint64>(500000000), "max-page-delay",
                     static_cast<guint64>(500000000), nullptr);
    }
    m_activeEncoderFactory = factory;
    return true;
}

bool GStreamerMixer::buildPipeline() {
    MIXER_INFO << "Creating pipeline...";
    m_pipeline = ElementHandle::sink(gst_pipeline_new("mixer-pipeline"));
    if (!m_pipeline) {
        MIXER_WARN << "Failed to create pipeline";
        return false;
    }
    ++m_pipelineSerial;
    // The system clock, not the monitor sink's: restarting the monitor device must not take
    // the clock of the whole mix (and of the broadcast) with it.
    GstClock* systemClock = gst_system_clock_obtain();
    gst_pipeline_use_clock(GST_PIPELINE(m_pipeline.get()), systemClock);
    gst_object_unref(systemClock);

    GstElement* appsrc1 = makeElement("appsrc", "appsrc1");
    GstElement* queue1 = makeElement("queue", "queue1");
    GstElement* convert1 = makeElement("audioconvert", "convert1");
    GstElement* resample1 = makeElement("audioresample", "resample1");
    GstElement* volume1 = makeElement("volume", "volume1");
    GstElement* appsrc2 = makeElement("appsrc", "appsrc2");
    GstElement* queue2 = makeElement("queue", "queue2");
    GstElement* convert2 = makeElement("audioconvert", "convert2");
    GstElement* resample2 = makeElement("audioresample", "resample2");
    GstElement* volume2 = makeElement("volume", "volume2");
    GstElement* mixer = makeElement("audiomixer", "mixer");
    // The mix always runs in the capture format, whatever a deck delivers: pinned here, the
    // mixer converts a deviating deck instead of renegotiating its output under the encoder.
    GstElement* mixFormat = makeElement("capsfilter", "mix_format");
    GstElement* masterVolume = makeElement("volume", "master_volume");
    GstElement* tee = makeElement("tee", "tee");
    for (GstElement* queue : {queue1, queue2}) {
        if (!queue) continue;
        // At most 100 ms per deck, dropping the oldest: a stalled branch cannot build latency.
        g_object_set(queue, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time",
                     static_cast<guint64>(100000000), "leaky", 2, nullptr);
    }
    if (mixer) {
        // The deck blocks are stamped on arrival, while their audio lines up by sample count:
        // how the capture's chunks happen to fill a block moves a block's arrival by up to
        // about 30 ms against its place in the mix, and a busy machine adds its own delays. With
        // a zero-latency deadline the mixer would play silence for that deck and drop its late
        // audio; 50 ms of slack absorbs both (with four busy loops on two cores no deck missed a
        // deadline). The first buffer uses less, because a connect's first packet waits for it.
        g_object_set(mixer, "start-time-selection", 1, "output-buffer-duration",
                     static_cast<guint64>(kMixBufferNs), "latency",
                     static_cast<guint64>(kFirstMixSlackNs), nullptr);
        // A deck that has not delivered yet (no source, or not started) must not hold the mix
        // back: without this the mixer waits out its latency for that deck on every 20 ms
        // buffer, which costs wake-ups and delays the first encoded packet of a connect by
        // about 25 ms. A deck that starts later joins the mix with its first buffer.
        if (hasProperty(mixer, "ignore-inactive-pads")) {
            g_object_set(mixer, "ignore-inactive-pads", TRUE, nullptr);
        }
    }

    GstElement* encoderQueue = nullptr;
    GstElement* encoderConvert = nullptr;
    GstElement* encoderResample = nullptr;
    GstElement* encoder = nullptr;
    GstElement* muxer = nullptr;
    GstElement* aacParse = nullptr;
    GstElement* aacCaps = nullptr;
    GstElement* rawCaps = nullptr;
    GstElement* appsink = nullptr;
    const bool encoding = m_encodingEnabled.load();
    if (encoding) {
        MIXER_INFO << "Creating encoder chain (encoding enabled)";
        encoderQueue = makeElement("queue", "encoder_queue");
        if (encoderQueue) {
            g_object_set(encoderQueue, "max-size-buffers", 200u, "max-size-bytes", 0u,
                         "max-size-time", static_cast<guint64>(500000000), nullptr);
        }
        encoderConvert = makeElement("audioconvert", "encoder_convert");
        encoderResample = makeElement("audioresample", "encoder_resample");
        if (!createEncoderChain(encoder, muxer, aacParse, aacCaps, rawCaps)) return false;
        appsink = makeElement("appsink", "appsink");
    } else {
        MIXER_INFO << "Skipping encoder chain creation (encoding disabled)";
    }

    GstElement* monitorQueue = makeElement("queue", "monitor_queue");
    GstElement* monitorVolume = makeElement("volume", "monitor_volume");
    GstElement* monitorConvert = makeElement("audioconvert", "monitor_convert");
    GstElement* monitorResample = makeElement("audioresample", "monitor_resample");
    GstElement* monitorSink = makeMonitorSink();
    if (monitorQueue) {
        g_object_set(monitorQueue, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time",
                     static_cast<guint64>(1000000000), "min-threshold-time",
                     static_cast<guint64>(50000000), nullptr);
    }
    if (monitorResample) g_object_set(monitorResample, "quality", 4, nullptr);

    if (mixFormat) {
        GstCaps* caps = gst_caps_new_simple(
            "audio/x-raw", "format", G_TYPE_STRING, "F32LE", "rate", G_TYPE_INT, kMixRateHz,
            "channels", G_TYPE_INT, kMixChannels, "layout", G_TYPE_STRING, "interleaved", nullptr);
        g_object_set(mixFormat, "caps", caps, nullptr);
        gst_caps_unref(caps);
    }
    const bool coreMissing = !mixFormat || !appsrc1 || !queue1 || !convert1 || !resample1 ||
                             !volume1 || !appsrc2 || !queue2 || !convert2 || !resample2 ||
                             !volume2 || !mixer || !masterVolume || !tee || !monitorQueue ||
                             !monitorVolume || !monitorConvert || !monitorResample || !monitorSink;
    if (coreMissing) {
        MIXER_WARN << "Failed to create one or more core elements";
        return false;
    }
    if (encoding &&
        (!encoderQueue || !encoderConvert || !encoderResample || !encoder || !appsink)) {
        MIXER_WARN << "Failed to create one or more encoder elements";
        return false;
    }

    m_appsrc1 = ElementHandle::share(appsrc1);
    m_appsrc2 = ElementHandle::share(appsrc2);
    m_volume1 = ElementHandle::share(volume1);
    m_volume2 = ElementHandle::share(volume2);
    m_audioMixer = ElementHandle::share(mixer);
    m_masterVolume = ElementHandle::share(masterVolume);
    m_tee = ElementHandle::share(tee);
    m_monitorQueue = ElementHandle::share(monitorQueue);
    m_monitorVolume = ElementHandle::share(monitorVolume);
    m_monitorConvert = ElementHandle::share(monitorConvert);
    m_monitorResample = ElementHandle::share(monitorResample);
    m_monitorSink = ElementHandle::share(monitorSink);
    if (encoding) {
        m_encoder = ElementHandle::share(encoder);
        m_appsink = ElementHandle::share(appsink);
    }

    // Deck sources: live, time-stamped on arrival, never blocking the capture thread.
    GstCaps* deckCaps =
        gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "F32LE", "channels", G_TYPE_INT,
                            m_inputChannels, "rate", G_TYPE_INT, m_inputSampleRate.load(), "layout",
                            G_TYPE_STRING, "interleaved", nullptr);
    for (GstElement* appsrc : {appsrc1, appsrc2}) {
        g_object_set(appsrc, "caps", deckCaps, "stream-type", 0, "format", GST_FORMAT_TIME,
                     "is-live", TRUE, "do-timestamp", TRUE, "block", FALSE, "max-bytes",
                     static_cast<guint64>(1048576), nullptr);
    }
    gst_caps_unref(deckCaps);
    m_deck1CapsChannels = m_deck2CapsChannels = m_inputChannels;
    m_deck1CapsRate = m_deck2CapsRate = m_inputSampleRate.load();
    m_activeFeedBlockMs.store(m_feedBlockMs);

    if (encoding) {
        g_object_set(appsink, "emit-signals", TRUE, "sync", FALSE, nullptr);
        g_signal_connect(appsink, "new-sample", G_CALLBACK(GStreamerMixerCallbacks::onNewSample),
                         this);
    }

    // Monitor sink.
    g_object_set(monitorVolume, "volume", static_cast<gdouble>(m_appliedMonitorVolume.load()),
                 nullptr);
    if (hasProperty(monitorSink, "sync")) g_object_set(monitorSink, "sync", TRUE, nullptr);
    // Without async state changes the sink can be restarted in a playing pipeline without
    // sending the whole pipeline through PAUSED.
    if (hasProperty(monitorSink, "async")) g_object_set(monitorSink, "async", FALSE, nullptr);
    if (hasProperty(monitorSink, "buffer-time")) {
        g_object_set(monitorSink, "buffer-time", static_cast<gint64>(200000), nullptr);
    }
    if (hasProperty(monitorSink, "latency-time")) {
        g_object_set(monitorSink, "latency-time", static_cast<gint64>(40000), nullptr);
    }
    if (hasProperty(monitorSink, "low-latency")) {
        g_object_set(monitorSink, "low-latency", TRUE, nullptr);
    }
    if (!m_monitorDevice.isEmpty() && m_monitorDevice != QLatin1String(kDefaultDevice) &&
        hasProperty(monitorSink, "device")) {
        g_object_set(monitorSink, "device", m_monitorDevice.toUtf8().constData(), nullptr);
        MIXER_INFO << joined("Monitor device applied at pipeline creation (endpoint):",
                             m_monitorDevice);
    }
    MIXER_INFO << joined("Using monitor sink:", m_monitorSinkFactory,
                         QStringLiteral("(monitor_sink)"));

    if (!link(monitorQueue, monitorVolume, monitorConvert, monitorResample, monitorSink)) {
        MIXER_WARN << "Failed to link monitor chain elements";
        return false;
    }
    if (!link(appsrc1, queue1, convert1, resample1, volume1)) {
        MIXER_WARN << "Failed to link deck 1 elements";
        return false;
    }
    if (!link(appsrc2, queue2, convert2, resample2, volume2)) {
        MIXER_WARN << "Failed to link deck 2 elements";
        return false;
    }
    m_mixerSinkPad1 = PadHandle::adopt(gst_element_request_pad_simple(mixer, "sink_%u"));
    m_mixerSinkPad2 = PadHandle::adopt(gst_element_request_pad_simple(mixer, "sink_%u"));
    {
        GstPad* src1 = gst_element_get_static_pad(volume1, "src");
        GstPad* src2 = gst_element_get_static_pad(volume2, "src");
        const bool linked = m_mixerSinkPad1 && m_mixerSinkPad2 && src1 && src2 &&
                            gst_pad_link(src1, m_mixerSinkPad1.get()) == GST_PAD_LINK_OK &&
                            gst_pad_link(src2, m_mixerSinkPad2.get()) == GST_PAD_LINK_OK;
        if (src1) gst_object_unref(src1);
        if (src2) gst_object_unref(src2);
        if (!linked) {
            MIXER_WARN << "Failed to link volumes to mixer";
            return false;  // the clean-up releases both request pads
        }
    }
    if (!link(mixer, mixFormat, masterVolume, tee)) {
        MIXER_WARN << "Failed to link mixer to tee";
        return false;
    }
    if (GstPad* mixerSrc = gst_element_get_static_pad(mixer, "src")) {
        gst_pad_add_probe(mixerSrc, GST_PAD_PROBE_TYPE_BUFFER,
                          GStreamerMixerCallbacks::widenMixSlack, nullptr, nullptr);
        gst_pad_add_probe(mixerSrc, GST_PAD_PROBE_TYPE_BUFFER,
                          GStreamerMixerCallbacks::mixerOutputProbe, nullptr, nullptr);
        gst_object_unref(mixerSrc);
    }

    if (encoding) {
        m_teeEncoderPad = PadHandle::adopt(gst_element_request_pad_simple(tee, "src_%u"));
        GstPad* queueSink = gst_element_get_static_pad(encoderQueue, "sink");
        const bool linked = m_teeEncoderPad && queueSink &&
                            gst_pad_link(m_teeEncoderPad.get(), queueSink) == GST_PAD_LINK_OK;
        if (queueSink) gst_object_unref(queueSink);
        if (!linked) {
            MIXER_WARN << "Failed to link tee to encoder queue";
            return false;
        }
        if (!link(encoderQueue, encoderConvert, encoderResample)) {
            MIXER_WARN << "Failed to link encoder queue/convert/resample";
            return false;
        }
        if (rawCaps) {
            if (!link(encoderResample, rawCaps, encoder)) {
                MIXER_WARN << "Failed to link encoder raw capsfilter";
                return false;
            }
            MIXER_INFO << "Encoder raw capsfilter linked";
        } else if (!link(encoderResample, encoder)) {
            MIXER_WARN << "Failed to link resample to encoder";
            return false;
        }
        GstElement* encoded = encoder;
        if (aacParse) {
            if (!link(encoder, aacParse)) {
                MIXER_WARN << "Failed to link encoder to AAC parser";
                return false;
            }
            encoded = aacParse;
        }
        if (muxer) {
            MIXER_INFO << "Linking encoder chain with OGG muxer";
            if (!link(encoded, muxer, appsink)) {
                MIXER_WARN << "Failed to link encoder to muxer";
                return false;
            }
        } else if (aacCaps) {
            MIXER_INFO << "Linking encoder chain with AAC ADTS capsfilter";
            if (!link(encoded, aacCaps, appsink)) {
                MIXER_WARN << "Failed to link encoder to AAC capsfilter";
                return false;
            }
            MIXER_INFO << "AAC encoder chain linked successfully (ADTS format)";
        } else {
            MIXER_INFO << "Linking encoder chain (raw output)";
            if (!link(encoded, appsink)) {
                MIXER_WARN << "Failed to link encoder to appsink";
                return false;
            }
        }
        MIXER_INFO << "Encoder chain linked successfully";
    } else {
        MIXER_INFO << "Skipping encoder chain linking (encoding disabled)";
    }

    m_teeMonitorPad = PadHandle::adopt(gst_element_request_pad_simple(tee, "src_%u"));
    GstPad* monitorSinkPad = gst_element_get_static_pad(monitorQueue, "sink");
    if (!m_teeMonitorPad || !monitorSinkPad) {
        if (monitorSinkPad) gst_object_unref(monitorSinkPad);
        MIXER_WARN << "Failed to get pads for monitor branch linking";
        return false;
    }
    const GstPadLinkReturn monitorLink = gst_pad_link(m_teeMonitorPad.get(), monitorSinkPad);
    gst_object_unref(monitorSinkPad);
    if (monitorLink != GST_PAD_LINK_OK) {
        MIXER_WARN << "Failed to link tee to monitor queue";
        return false;
    }
    MIXER_INFO << "Monitor branch permanently linked to tee";

    const float monitorVolumeValue =
        capGain(m_monitorEnabled.load() ? m_monitorUserVolume.load() : 0.0f);
    g_object_set(monitorVolume, "volume", static_cast<gdouble>(monitorVolumeValue), nullptr);
    m_appliedMonitorVolume.store(monitorVolumeValue);
    MIXER_INFO << joined("Monitor volume initialized to", monitorVolumeValue,
                         "(enabled:", m_monitorEnabled.load() ? "true)" : "false)");

    setDeck1Volume(m_deck1Volume.load());
    setDeck2Volume(m_deck2Volume.load());
    setMasterVolume(m_masterGain.load());
    MIXER_INFO << joined("Deck volumes synced - deck1:", m_deck1Volume.load(),
                         "deck2:", m_deck2Volume.load(), "master:", m_masterGain.load());

    // Bus messages are drained here on the main thread, whatever event dispatcher Qt runs:
    // the bus's poll descriptor is readable while messages wait.
    m_bus = BusHandle::adopt(gst_pipeline_get_bus(GST_PIPELINE(m_pipeline.get())));
    gst_bus_set_sync_handler(m_bus.get(), GStreamerMixerCallbacks::onSyncMessage, nullptr, nullptr);
    GPollFD pollFd{};
    gst_bus_get_pollfd(m_bus.get(), &pollFd);
    m_busNotifier = std::make_unique<QSocketNotifier>(pollFd.fd, QSocketNotifier::Read);
    m_busNotifier->setParent(
        this);  // goes with the mixer at the latest, even if never deleted later
    connect(m_busNotifier.get(), &QSocketNotifier::activated, this, &GStreamerMixer::drainBus);
    m_pipelineErrorReported = false;

    MIXER_INFO << "Pipeline created successfully";
    if (!encoding) {
        MIXER_INFO << "  Encoding: Disabled (monitor-only mode)";
    } else {
        MIXER_INFO << joined("  Encoder:", m_activeEncoderFactory, "Bitrate:", m_bitrate, "kbps");
        MIXER_INFO << joined("  Sample rate:", m_targetSampleRate, "Hz",
                             m_targetSampleRate == 48000 ? "(native)" : "(resampling from 48kHz)");
    }
    MIXER_INFO << "  Monitor: Always linked (volume-based enable/disable)";
    return true;
}

void GStreamerMixer::destroyPipeline() {
    MIXER_INFO << "destroyPipeline() called, thread=" << threadId();
    MIXER_INFO << "destroyPipeline() - acquiring mutex...";
    QMutexLocker locker(&m_mutex);
    MIXER_INFO << "destroyPipeline() - mutex acquired";
    m_running.store(false);
    releasePendingBlocks();
    m_levelTimer.stop();
    m_monitorReenableTimer.stop();
    if (m_busNotifier) {
        MIXER_INFO << "destroyPipeline() - removing bus watch";
        m_busNotifier->setEnabled(false);
        // We may be inside its own signal (an error handler that shuts down): delete later.
        m_busNotifier.release()->deleteLater();
    }
    if (m_bus) {
        gst_bus_set_flushing(m_bus.get(), TRUE);
        m_bus.reset();
    }
    // Stop the streaming threads first, so no buffer runs through a pad being released.
    if (m_pipeline) gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
    const auto release = [](ElementHandle& element, PadHandle& pad) {
        if (element && pad) gst_element_release_request_pad(element.get(), pad.get());
        pad.reset();
    };
    release(m_audioMixer, m_mixerSinkPad1);
    release(m_audioMixer, m_mixerSinkPad2);
    release(m_tee, m_teeEncoderPad);
    release(m_tee, m_teeMonitorPad);
    for (ElementHandle* element :
         {&m_appsrc1, &m_appsrc2, &m_volume1, &m_volume2, &m_audioMixer, &m_masterVolume, &m_tee,
          &m_appsink, &m_encoder, &m_monitorQueue, &m_monitorVolume, &m_monitorConvert,
          &m_monitorResample, &m_monitorSink}) {
        element->reset();
    }
    const bool hadPipeline = static_cast<bool>(m_pipeline);
    m_pipeline.reset();
    m_activeEncoderFactory.clear();
    if (hadPipeline) MIXER_INFO << "Pipeline destroyed";
}

bool GStreamerMixer::setPipelineState(int state) {
    return gst_element_set_state(m_pipeline.get(), static_cast<GstState>(state)) !=
           GST_STATE_CHANGE_FAILURE;
}

// ---- Start and stop ----

bool GStreamerMixer::start(bool enableEncoding) {
    MIXER_INFO << joined("start() called, enableEncoding=", enableEncoding,
                         "m_running=", m_running.load(), "thread=", threadId());
    if (!m_initialized) {
        MIXER_WARN << "Not initialized";
        return false;
    }
    const bool running = m_running.load();
    if (running && m_encodingEnabled.load() == enableEncoding) {
        MIXER_INFO << "start() - already running with same encoding state, returning true";
        return true;
    }
    if (running) {
        MIXER_INFO << "start() - encoding state change, recreating pipeline";
        MIXER_INFO << joined("Changing encoding state from", m_encodingEnabled.load(), "to",
                             enableEncoding);
        MIXER_INFO << "Stopping and recreating pipeline...";
        stop();
        destroyPipeline();
        m_encodingEnabled.store(enableEncoding);
        if (!createPipeline()) {
            MIXER_WARN << "Failed to recreate pipeline";
            return false;
        }
        applyPendingTags();
        if (!setPipelineState(GST_STATE_PLAYING)) {
            MIXER_WARN << "Failed to restart pipeline";
            drainBus();
            destroyPipeline();
            return false;
        }
        m_running.store(true);
        m_levelTimer.start();
        MIXER_INFO << QStringLiteral("start(): monitor state preserved (enabled=%1, volume=%2)")
                          .arg(m_monitorEnabled.load() ? 1 : 0)
                          .arg(m_appliedMonitorVolume.load());
        MIXER_INFO << joined("Pipeline recreated successfully with encoding",
                             enableEncoding ? "enabled" : "disabled");
        return true;
    }

    MIXER_INFO << "start() - not running, creating new pipeline";
    m_encodingEnabled.store(enableEncoding);
    if (!createPipeline()) {
        MIXER_WARN << "start() - createPipeline() FAILED";
        return false;
    }
    MIXER_INFO << "start() - createPipeline() succeeded";
    applyPendingTags();
    MIXER_INFO << "start() - setting pipeline to PLAYING";
    if (!setPipelineState(GST_STATE_PLAYING)) {
        MIXER_WARN << "Failed to start pipeline";
        drainBus();  // the element's own error text tells the user why
        destroyPipeline();
        return false;
    }
    MIXER_INFO << "start() - pipeline now PLAYING";
    m_running.store(true);
    m_levelTimer.start();
    MIXER_INFO << joined("Monitor state:", m_monitorEnabled.load() ? "enabled" : "disabled",
                         "volume:", m_appliedMonitorVolume.load());
    MIXER_INFO << joined(
        "Pipeline started (encoding:", m_encodingEnabled.load() ? "enabled" : "disabled", ")");
    return true;
}

void GStreamerMixer::stop() {
    MIXER_INFO << joined("stop() called, m_running=", m_running.load(), "thread=", threadId());
    if (!m_running.load()) {
        MIXER_INFO << "stop() - already stopped, returning";
        return;
    }
    m_levelTimer.stop();
    m_monitorReenableTimer.stop();
    MIXER_INFO << "stop() - level timer stopped, acquiring mutex...";
    {
        QMutexLocker locker(&m_mutex);
        MIXER_INFO << "stop() - mutex acquired, setting m_running=false";
        m_running.store(false);
        releasePendingBlocks();
    }
    MIXER_INFO << "stop() - mutex released";
    if (m_pipeline) {
        MIXER_INFO << "stop() - setting pipeline to NULL state";
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
    }
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

// ---- Deck input (capture threads) ----

void GStreamerMixer::feedDeck1Audio(const float* data, int frames, int channels, int sampleRate) {
    feedDeck(1, data, frames, channels, sampleRate);
}

void GStreamerMixer::feedDeck2Audio(const float* data, int frames, int channels, int sampleRate) {
    feedDeck(2, data, frames, channels, sampleRate);
}

void GStreamerMixer::feedDeck(int deck, const float* data, int frames, int channels,
                              int sampleRate) {
    platform::clearUpperVectorState();  // capture threads may be born dirty (audio_threads.h)
    const qint64 now = nowMs();
    const bool validFormat =
        frames > 0 && channels > 0 && channels <= kMaxDeckChannels && sampleRate > 0;
    const qint64 sampleCount = data && validFormat ? qint64(frames) * channels : 0;
    float peak = 0.0f;
    for (qint64 i = 0; i < sampleCount; ++i) {
        const float magnitude = std::fabs(data[i]);
        if (magnitude > peak) peak = magnitude;  // NaN never wins
    }

    const char* function = deck == 1 ? "feedDeck1Audio" : "feedDeck2Audio";
    std::atomic<qint64>& lastLog = deck == 1 ? m_lastDeck1LogMs : m_lastDeck2LogMs;
    if (now - lastLog.load(std::memory_order_relaxed) >= kHotPathLogIntervalMs) {
        lastLog.store(now, std::memory_order_relaxed);
        if (deck == 1) {
            MIXER_DEBUG << QStringLiteral(
                               "feedDeck1Audio: peak=%1, frames=%2, channels=%3, running=%4")
                               .arg(QString::number(peak, 'f', 6))
                               .arg(frames)
                               .arg(channels)
                               .arg(m_running.load() ? 1 : 0);
        } else {
            MIXER_DEBUG << QStringLiteral("feedDeck2Audio: peak=%1, frames=%2, running=%3")
                               .arg(QString::number(peak, 'f', 6))
                               .arg(frames)
                               .arg(m_running.load() ? 1 : 0);
        }
    }

    if (!m_running.load() || !data || m_shuttingDown.load()) return;

    std::atomic<qint64>& lastWarn = deck == 1 ? m_lastDeck1DropWarnMs : m_lastDeck2DropWarnMs;
    const auto dropWithWarning = [&](const QString& text) {
        m_droppedBuffers.fetch_add(1, std::memory_order_relaxed);
        if (now - lastWarn.load(std::memory_order_relaxed) >= kHotPathLogIntervalMs) {
            lastWarn.store(now, std::memory_order_relaxed);
            MIXER_WARN << QLatin1String(function) << ": " << text;
        }
    };
    // A zero rate would divide by zero below; a wrong channel count would misread the samples.
    if (!validFormat) {
        dropWithWarning(
            QStringLiteral("invalid buffer (frames=%1, channels=%2, rate=%3), dropping buffer")
                .arg(frames)
                .arg(channels)
                .arg(sampleRate));
        return;
    }
    if (!m_mutex.tryLock(kFeedLockTimeoutMs)) {
        dropWithWarning(QStringLiteral("dropped buffer due to mutex contention"));
        return;
    }
    struct Unlock {
        QMutex& mutex;
        ~Unlock() { mutex.unlock(); }
    } unlock{m_mutex};

    GstElement* appsrc = deck == 1 ? m_appsrc1.get() : m_appsrc2.get();
    if (!m_running.load() || !appsrc || m_shuttingDown.load()) return;
    if (deck == 1 && sampleRate != m_inputSampleRate.load()) m_inputSampleRate.store(sampleRate);
    (deck == 1 ? m_deck1Peak : m_deck2Peak).store(peak);

    PendingBlock& block = deck == 1 ? m_pending1 : m_pending2;
    // Follow the capture format instead of letting a different rate or layout be misread.
    int& capsChannels = deck == 1 ? m_deck1CapsChannels : m_deck2CapsChannels;
    int& capsRate = deck == 1 ? m_deck1CapsRate : m_deck2CapsRate;
    if (channels != capsChannels || sampleRate != capsRate) {
        // What was gathered so far is in the old format and goes out under the old caps.
        if (block.buffer) pushBlock(deck, block, capsRate, now);
        GstCaps* caps = gst_caps_new_simple(
            "audio/x-raw", "format", G_TYPE_STRING, "F32LE", "channels", G_TYPE_INT, channels,
            "rate", G_TYPE_INT, sampleRate, "layout", G_TYPE_STRING, "interleaved", nullptr);
        gst_app_src_set_caps(GST_APP_SRC(appsrc), caps);
        gst_caps_unref(caps);
        capsChannels = channels;
        capsRate = sampleRate;
    }
    // A block left open when the deck paused holds audio from before the pause; stamped now it
    // would play late, so it goes (the deck queue would not keep it that long either).
    if (block.buffer && now - block.lastAppendMs > kStaleBlockMs) {
        m_staleFrames.fetch_add(static_cast<quint64>(block.frames), std::memory_order_relaxed);
        gst_buffer_unref(block.buffer);
        block = PendingBlock{};
    }

    const gsize bytes = static_cast<gsize>(sampleCount) * sizeof(float);
    const int blockFrames = static_cast<int>(
        qint64(sampleRate) * m_activeFeedBlockMs.load(std::memory_order_relaxed) / 1000);
    if (block.buffer && block.frames + frames > block.capacityFrames) {
        pushBlock(deck, block, sampleRate, now);
    }
    if (!block.buffer) {
        // One allocation per block, sized for the whole block up front.
        block.capacityFrames = std::max(blockFrames, frames);
        block.buffer = gst_buffer_new_allocate(
            nullptr, static_cast<gsize>(block.capacityFrames) * channels * sizeof(float), nullptr);
        block.frames = 0;
        if (!block.buffer) {
            block = PendingBlock{};
            dropWithWarning(QStringLiteral("gst_buffer_map failed, dropping buffer"));
            return;
        }
    }
    const gsize offset = static_cast<gsize>(block.frames) * channels * sizeof(float);
    if (gst_buffer_fill(block.buffer, offset, data, bytes) != bytes) {
        dropWithWarning(QStringLiteral("gst_buffer_map failed, dropping buffer"));
        return;
    }
    block.frames += frames;
    block.lastAppendMs = now;
    m_lastPushMs.store(now, std::memory_order_relaxed);
    // Out as soon as the next buffer of this size would not fit: a block never waits for one
    // more capture buffer than it needs.
    if (block.capacityFrames - block.frames < frames) pushBlock(deck, block, sampleRate, now);
}

bool GStreamerMixer::pushBlock(int deck, PendingBlock& block, int sampleRate, qint64 now) {
    GstBuffer* buffer = std::exchange(block.buffer, nullptr);
    const int frames = block.frames;
    block = PendingBlock{};
    if (!buffer) return false;
    GstElement* appsrc = deck == 1 ? m_appsrc1.get() : m_appsrc2.get();
    if (frames <= 0 || sampleRate <= 0 || !appsrc) {
        gst_buffer_unref(buffer);
        return false;
    }
    const int channels = deck == 1 ? m_deck1CapsChannels : m_deck2CapsChannels;
    gst_buffer_set_size(buffer, static_cast<gssize>(frames) * channels * sizeof(float));
    // No time stamp: the live appsrc stamps each block with the running time on arrival.
    GST_BUFFER_DURATION(buffer) =
        gst_util_uint64_scale_int(static_cast<guint64>(frames), GST_SECOND, sampleRate);
    const GstFlowReturn result = gst_app_src_push_buffer(GST_APP_SRC(appsrc), buffer);
    if (result == GST_FLOW_OK) {
        m_pushedBlocks.fetch_add(1, std::memory_order_relaxed);
        m_pushedFrames.fetch_add(static_cast<quint64>(frames), std::memory_order_relaxed);
        return true;
    }
    m_droppedBuffers.fetch_add(1, std::memory_order_relaxed);
    std::atomic<qint64>& lastWarn = deck == 1 ? m_lastDeck1DropWarnMs : m_lastDeck2DropWarnMs;
    if (now - lastWarn.load(std::memory_order_relaxed) >= kHotPathLogIntervalMs) {
        lastWarn.store(now, std::memory_order_relaxed);
        MIXER_WARN << (deck == 1 ? "feedDeck1Audio: " : "feedDeck2Audio: ")
                   << QStringLiteral("appsrc push failed, dropping buffer (ret=%1)")
                          .arg(static_cast<int>(result));
    }
    return false;
}

void GStreamerMixer::releasePendingBlocks() {
    for (PendingBlock* block : {&m_pending1, &m_pending2}) {
        if (block->buffer) gst_buffer_unref(block->buffer);
        *block = PendingBlock{};
    }
}

void GStreamerMixer::setFeedBlockMs(int blockMs) { m_feedBlockMs = std::clamp(blockMs, 0, 100); }

// ---- Gains ----

float GStreamerMixer::deckGain(int deck, float ownVolume, float otherVolume, bool bothActive,
                               float crossfader) {
    float gain = ownVolume;
    if (bothActive && ownVolume > kAudibleVolume && otherVolume > kAudibleVolume) {
        gain *= kHeadroomGain;
    }
    if (deck == 1 && crossfader > 0.0f) gain *= 1.0f - crossfader;
    if (deck == 2 && crossfader < 0.0f) gain *= 1.0f + crossfader;
    return gain;
}

float GStreamerMixer::plainDeckGain(int deck) const {
    const bool bothActive = m_deck1Active.load() && m_deck2Active.load();
    return deck == 1 ? deckGain(1, m_deck1Volume.load(), m_deck2Volume.load(), bothActive,
                                m_crossfader.load())
                     : deckGain(2, m_deck2Volume.load(), m_deck1Volume.load(), bothActive,
                                m_crossfader.load());
}

void GStreamerMixer::applyDeckGain(int deck, bool advanceDucking) {
    float gain = plainDeckGain(deck);
    if (m_ducker.isEnabled() && deck == m_ducker.duckedDeck()) {
        if (advanceDucking) {
            const bool deck1Triggers = m_ducker.triggerDeck() == 1;
            const float triggerLevel = deck1Triggers ? m_deck1Peak.load() * m_deck1Volume.load()
                                                     : m_deck2Peak.load() * m_deck2Volume.load();
            m_ducker.smoothDuckGain(
                m_ducker.computeDuckTarget(VoiceDucker::levelToDb(triggerLevel)));
        }
        gain *= m_ducker.gain();
    }
    GstElement* element = deck == 1 ? m_volume1.get() : m_volume2.get();
    if (element) g_object_set(element, "volume", static_cast<gdouble>(capGain(gain)), nullptr);
}

void GStreamerMixer::applyBothDeckGains() {
    applyDeckGain(1, false);
    applyDeckGain(2, false);
}

void GStreamerMixer::setDeck1Volume(float volume) {
    m_deck1Volume.store(volume);
    applyDeckGain(1, false);
    applyDeckGain(2, true);
}

void GStreamerMixer::setDeck2Volume(float volume) {
    m_deck2Volume.store(volume);
    applyDeckGain(2, false);
    applyDeckGain(1, true);
}

void GStreamerMixer::setMasterVolume(float volume) {
    m_masterGain.store(volume);
    if (m_masterVolume) {
        g_object_set(m_masterVolume.get(), "volume", static_cast<gdouble>(capGain(volume)),
                     nullptr);
    }
}

void GStreamerMixer::setCrossfader(float position) {
    m_crossfader.store(std::isnan(position) ? 0.0f : std::clamp(position, -1.0f, 1.0f));
    setDeck1Volume(m_deck1Volume.load());
    setDeck2Volume(m_deck2Volume.load());
}

void GStreamerMixer::setDeck1Active(bool active) { setDeckActive(1, active); }

void GStreamerMixer::setDeck2Active(bool active) { setDeckActive(2, active); }

void GStreamerMixer::setDeckActive(int deck, bool active) {
    if ((deck == 1 ? m_deck1Active : m_deck2Active).exchange(active) == active) return;
    MIXER_INFO << joined(
        deck == 1 ? "Deck 1" : "Deck 2", active ? "active" : "inactive",
        "- headroom:", m_deck1Active.load() && m_deck2Active.load() ? "-3dB" : "0dB");
    // The headroom depends on both decks.
    setDeck1Volume(m_deck1Volume.load());
    setDeck2Volume(m_deck2Volume.load());
}

void GStreamerMixer::setDuckingConfig(const DuckingConfig& config) {
    const DuckingConfig previous = m_ducker.config();
    m_ducker.setConfig(config);
    // A deck that stops being the ducked one must not stay attenuated until its next fader move.
    if (previous.enabled != config.enabled || previous.sourceDeck != config.sourceDeck) {
        applyBothDeckGains();
    }
}

// ---- Level tick ----

void GStreamerMixer::onLevelTimer() {
    if (m_shuttingDown.load()) return;
    const float crossfader = m_crossfader.load();
    const float factor1 = crossfader > 0.0f ? 1.0f - crossfader : 1.0f;
    const float factor2 = crossfader < 0.0f ? 1.0f + crossfader : 1.0f;
    m_masterPeak.store(std::max(m_deck1Peak.load() * factor1, m_deck2Peak.load() * factor2));

    if (m_ducker.isEnabled()) {
        const float previous = m_ducker.gain();
        const float triggerLevel = m_ducker.triggerDeck() == 1
                                       ? m_deck1Peak.load() * m_deck1Volume.load()
                                       : m_deck2Peak.load() * m_deck2Volume.load();
        applyDeckGain(m_ducker.duckedDeck(), true);
        m_ducker.logTick(previous, m_ducker.gain(), VoiceDucker::levelToDb(triggerLevel));
    }

    Q_EMIT levelsUpdated(m_deck1Peak.load(), m_deck2Peak.load(), m_masterPeak.load());

    // Decay, unless a capture thread has just stored a fresh peak.
    for (std::atomic<float>* follower : {&m_deck1Peak, &m_deck2Peak, &m_masterPeak}) {
        float value = follower->load();
        follower->compare_exchange_strong(value, value * kPeakDecayPerTick);
    }
}

// ---- Monitor ----

QStringList GStreamerMixer::getMonitorDevices() {
    MIXER_INFO << "Enumerating monitor devices...";
    m_endpointCache.clear();
    m_endpointCacheValid = false;
    QStringList names;
    if (initializeGStreamer()) {
        const platform::AudioOutputDeviceList list = platform::listAudioOutputDevices();
        if (!list.error.empty()) MIXER_WARN << QString::fromStdString(list.error);
        MIXER_INFO << joined("Found", static_cast<int>(list.devices.size()), "output devices");
        for (const platform::AudioOutputDevice& device : list.devices) {
            const QString name = QString::fromStdString(device.name);
            if (name.isEmpty() || names.contains(name)) continue;
            names << name;
            if (!device.id.empty()) {
                const QString id = QString::fromStdString(device.id);
                m_endpointCache.insert(name, id);
                MIXER_INFO << joined("Output device", name, "-> endpoint:", id);
            }
        }
    }
    m_endpointCacheValid = true;
    if (names.isEmpty() || names.first() != QLatin1String(kDefaultDevice)) {
        names.prepend(QLatin1String(kDefaultDevice));
    }
    MIXER_INFO << joined("Returning", names.size(), "devices total,", m_endpointCache.size(),
                         "cached IDs");
    return names;
}

QString GStreamerMixer::resolveDeviceId(const QString& deviceName) {
    if (deviceName.isEmpty() || !initializeGStreamer()) return {};
    const std::string wanted = deviceName.toStdString();
    for (const platform::AudioOutputDevice& device : platform::listAudioOutputDevices().devices) {
        if (device.name == wanted) return QString::fromStdString(device.id);
    }
    return {};
}

bool GStreamerMixer::setMonitorDevice(const QString& deviceName) {
    if (!deviceName.isEmpty() && deviceName != QLatin1String(kDefaultDevice)) {
        if (m_endpointCacheValid && m_endpointCache.contains(deviceName)) {
            m_monitorDevice = m_endpointCache.value(deviceName);
            MIXER_INFO << joined("Using cached endpoint ID for", deviceName, "->", m_monitorDevice);
        } else {
            const QString id = resolveDeviceId(deviceName);
            if (!id.isEmpty()) {
                m_monitorDevice = id;
                m_endpointCache.insert(deviceName, id);
            } else {
                MIXER_WARN << joined("Failed to resolve endpoint ID for device name:", deviceName,
                                     "- falling back to Default");
                m_monitorDevice = QLatin1String(kDefaultDevice);
            }
        }
    } else {
        m_monitorDevice = deviceName;
    }

    if (!m_monitorSink) {
        MIXER_INFO << joined("Monitor device saved:", deviceName,
                             "- will apply when pipeline starts");
        return true;
    }
    applyMonitorDeviceToSink();
    if (m_running.load()) {
        // A sink reads its device when it opens: restart it, muted for a moment.
        const bool audible = m_monitorEnabled.load();
        if (audible) {
            MIXER_INFO << "Monitor device changed while running, restarting monitor...";
            applyMonitorEnabled(false);
        }
        restartMonitorSink();
        if (audible) m_monitorReenableTimer.start();
    }
    return true;
}

void GStreamerMixer::applyMonitorDeviceToSink() {
    GstElement* sink = m_monitorSink.get();
    if (!hasProperty(sink, "device")) return;
    if (m_monitorDevice.isEmpty() || m_monitorDevice == QLatin1String(kDefaultDevice)) {
        MIXER_INFO << "Using default monitor device";
        g_object_set(sink, "device", nullptr, nullptr);  // unset: the system default
    } else {
        g_object_set(sink, "device", m_monitorDevice.toUtf8().constData(), nullptr);
        MIXER_INFO << joined("Monitor device set to (endpoint id):", m_monitorDevice);
    }
}

void GStreamerMixer::restartMonitorSink() {
    GstElement* sink = m_monitorSink.get();
    if (!m_pipeline || !sink || !m_monitorQueue || !hasProperty(sink, "device")) return;
    GstPad* queueSrc = gst_element_get_static_pad(m_monitorQueue.get(), "src");
    if (!queueSrc) return;

    // Hold the monitor queue while the sink closes and reopens: a buffer reaching a closed sink
    // would come back as "flushing" and stop the queue for good. The queue has room for the
    // moment this takes, so the tee and the encoder branch go on undisturbed.
    auto* block = new PadBlock;
    const gulong probe =
        gst_pad_add_probe(queueSrc, GST_PAD_PROBE_TYPE_BLOCK_DOWNSTREAM, onPadBlocked, block,
                          [](gpointer data) { delete static_cast<PadBlock*>(data); });
    // With audio flowing, wait until the streaming thread parks at the probe: then nothing is
    // on its way into the sink. Without any for a while, nothing can be, and the probe holds
    // whatever comes next; no need to keep the user waiting.
    if (nowMs() - m_lastPushMs.load(std::memory_order_relaxed) < kMonitorIdleAfterMs) {
        std::unique_lock<std::mutex> lock(block->mutex);
        if (!block->blocked.wait_for(lock, std::chrono::milliseconds(kMonitorBlockTimeoutMs),
                                     [block] { return block->isBlocked; })) {
            MIXER_WARN << "No audio reached the monitor sink, restarting it anyway";
        }
    }
    gst_element_set_state(sink, GST_STATE_NULL);
    applyMonitorDeviceToSink();
    if (GstClock* clock = gst_pipeline_get_clock(GST_PIPELINE(m_pipeline.get()))) {
        gst_element_set_clock(sink, clock);
        gst_object_unref(clock);
    }
    gst_element_set_base_time(sink, gst_element_get_base_time(m_pipeline.get()));
    if (!gst_element_sync_state_with_parent(sink)) {
        MIXER_WARN << "Failed to reopen the monitor sink on the new device";
    }
    gst_pad_remove_probe(queueSrc, probe);  // also frees the block
    gst_object_unref(queueSrc);
}

void GStreamerMixer::setMonitorEnabled(bool enabled) {
    m_monitorReenableTimer.stop();  // the user's choice wins over a pending re-enable
    applyMonitorEnabled(enabled);
}

void GStreamerMixer::applyMonitorEnabled(bool enabled) {
    MIXER_INFO << QStringLiteral("setMonitorEnabled(%1) called, current=%2, userVol=%3")
                      .arg(enabled ? 1 : 0)
                      .arg(m_monitorEnabled.load() ? 1 : 0)
                      .arg(m_monitorUserVolume.load());
    m_monitorEnabled.store(enabled);
    float volume = 0.0f;
    if (enabled) {
        volume = m_monitorUserVolume.load();
        // Switching the monitor on must make it audible.
        if (!(volume >= kAudibleVolume)) {
            volume = 1.0f;
            m_monitorUserVolume.store(volume);
        }
    }
    MIXER_INFO << joined("Monitor", enabled ? "ENABLED" : "DISABLED", "- setting volume to",
                         volume);
    volume = capGain(volume);
    m_appliedMonitorVolume.store(volume);
    if (m_monitorVolume) {
        g_object_set(m_monitorVolume.get(), "volume", static_cast<gdouble>(volume), nullptr);
    }
    if (!m_pipeline) MIXER_INFO << "Pipeline not created yet - monitor state saved";
}

void GStreamerMixer::setMonitorVolume(float volume) {
    m_monitorUserVolume.store(volume);
    if (!m_monitorEnabled.load()) return;
    const float applied = capGain(volume);
    m_appliedMonitorVolume.store(applied);
    if (m_monitorVolume) {
        g_object_set(m_monitorVolume.get(), "volume", static_cast<gdouble>(applied), nullptr);
    }
}

// ---- Encoder configuration ----

void GStreamerMixer::setEncoderType(Codec type) {
    if (m_running.load() && m_encodingEnabled.load()) {
        MIXER_WARN << "Cannot change encoder while encoding";
        return;
    }
    m_encoderType = type;
    MIXER_INFO << joined("Encoder type set to", codecShortName(type));
}

void GStreamerMixer::setBitrate(int bitrateKbps) { m_bitrate = bitrateKbps; }

void GStreamerMixer::setTargetSampleRate(int sampleRateHz) {
    if (sampleRateHz == m_targetSampleRate) return;
    m_targetSampleRate = sampleRateHz;
    MIXER_INFO << joined("Target sample rate set to", sampleRateHz, "Hz",
                         sampleRateHz == 48000 ? "(no resampling)" : "(will resample from 48kHz)");
}

void GStreamerMixer::setOutputChannels(int channels) {
    channels = std::clamp(channels, 1, 2);
    if (channels == m_outputChannels) return;
    m_outputChannels = channels;
    MIXER_INFO << joined("Encoder output channels set to", channels);
}

void GStreamerMixer::setAacAfterburner(bool enabled) {
    if (enabled == m_aacAfterburner) return;
    m_aacAfterburner = enabled;
    MIXER_INFO << joined("AAC afterburner set to", enabled ? "on" : "off");
}

void GStreamerMixer::setAacProfile(AacProfile profile) {
    const auto clamped = static_cast<AacProfile>(std::clamp(static_cast<int>(profile), 0, 3));
    if (clamped == m_aacProfile) return;
    m_aacProfile = clamped;
    MIXER_INFO << joined("AAC profile set to", static_cast<int>(clamped));
}

void GStreamerMixer::setOpusAudioType(OpusAudioType type) {
    const auto clamped = static_cast<OpusAudioType>(std::clamp(static_cast<int>(type), 0, 1));
    if (clamped == m_opusAudioType) return;
    m_opusAudioType = clamped;
    MIXER_INFO << joined("Opus optimized for", clamped == OPUS_AUDIO_SPEECH ? "speech" : "music");
}

QString GStreamerMixer::formatLabel() const {
    return codecFormatLabel(m_encoderType, m_bitrate, m_targetSampleRate);
}

// ---- Stream tags ----

void GStreamerMixer::setInitialStreamTags(const QString& title, const QString& artist) {
    m_pendingTitle = title;
    m_pendingArtist = artist;
    MIXER_INFO << joined("Stored initial stream tags - title:", title, "artist:", artist);
}

bool GStreamerMixer::applyPendingTags() {
    if (m_pendingTitle.isEmpty() && m_pendingArtist.isEmpty()) return false;
    if (!m_encoder || !isOggCodec(m_encoderType)) {
        return false;
    }
    if (!GST_IS_TAG_SETTER(m_encoder.get())) {
        MIXER_WARN << "Encoder does not implement GstTagSetter interface";
        return false;
    }
    GstTagList* tags = gst_tag_list_new_empty();
    if (!m_pendingTitle.isEmpty()) {
        gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_TITLE,
                         m_pendingTitle.toUtf8().constData(), nullptr);
    }
    if (!m_pendingArtist.isEmpty()) {
        gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_ARTIST,
                         m_pendingArtist.toUtf8().constData(), nullptr);
    }
    gst_tag_setter_merge_tags(GST_TAG_SETTER(m_encoder.get()), tags, GST_TAG_MERGE_REPLACE);
    gst_tag_list_unref(tags);
    MIXER_INFO << joined("Applied initial stream tags - title:", m_pendingTitle,
                         "artist:", m_pendingArtist);
    return true;
}

// ---- Bus ----

void GStreamerMixer::drainBus() {
    // Our own reference: a handler may destroy the pipeline (and drop m_bus) mid-loop.
    const BusHandle bus = BusHandle::share(m_bus.get());
    while (bus && bus.get() == m_bus.get()) {
        GstMessage* message = gst_bus_pop(bus.get());
        if (!message) break;
        handleBusMessage(message);
        gst_message_unref(message);
    }
}

void GStreamerMixer::handleBusMessage(void* rawMessage) {
    auto* message = static_cast<GstMessage*>(rawMessage);
    if (m_shuttingDown.load()) return;
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_EOS:
            MIXER_INFO << "End of stream";
            break;
        case GST_MESSAGE_LATENCY:
            // A sink that (re)opened knows its latency only now; without the recalculation it
            // would treat every buffer as late and play silence.
            if (m_pipeline) gst_bin_recalculate_latency(GST_BIN(m_pipeline.get()));
            break;
        case GST_MESSAGE_ERROR: {
            GError* error = nullptr;
            gchar* debug = nullptr;
            gst_message_parse_error(message, &error, &debug);
            const QString text = error && error->message ? QString::fromUtf8(error->message)
                                                         : QStringLiteral("Unknown error");
            MIXER_WARN << joined("Pipeline error:", text);
            if (debug && *debug)
                MIXER_WARN << joined("Pipeline error debug:", QString::fromUtf8(debug));
            g_clear_error(&error);
            g_free(debug);
            // One failure tends to raise a burst of follow-up errors; the user hears of the
            // first one per pipeline.
            if (!m_pipelineErrorReported && !m_shuttingDown.load()) {
                m_pipelineErrorReported = true;
                Q_EMIT errorOccurred(text);
            }
            break;
        }
        case GST_MESSAGE_WARNING: {
            GError* error = nullptr;
            gchar* debug = nullptr;
            gst_message_parse_warning(message, &error, &debug);
            MIXER_WARN << joined("Pipeline warning:", error && error->message
                                                          ? QString::fromUtf8(error->message)
                                                          : QStringLiteral("Unknown warning"));
            if (debug && *debug) {
                MIXER_WARN << joined("Pipeline warning debug:", QString::fromUtf8(debug));
            }
            g_clear_error(&error);
            g_free(debug);
            break;
        }
        default:
            break;
    }
}

// ---- Diagnostics and test seams ----

QVariant GStreamerMixer::elementProperty(const QString& elementName,
                                         const QString& property) const {
    if (!m_pipeline) return {};
    GstElement* element =
        gst_bin_get_by_name(GST_BIN(m_pipeline.get()), elementName.toUtf8().constData());
    if (!element) return {};
    const QByteArray name = property.toUtf8();
    QVariant result;
    if (GParamSpec* param = g_object_class_find_property(G_OBJECT_GET_CLASS(element), name)) {
        GValue value = G_VALUE_INIT;
        g_value_init(&value, param->value_type);
        g_object_get_property(G_OBJECT(element), name.constData(), &value);
        switch (G_TYPE_FUNDAMENTAL(param->value_type)) {
            case G_TYPE_BOOLEAN:
                result = static_cast<bool>(g_value_get_boolean(&value));
                break;
            case G_TYPE_INT:
                result = g_value_get_int(&value);
                break;
            case G_TYPE_UINT:
                result = g_value_get_uint(&value);
                break;
            case G_TYPE_INT64:
                result = static_cast<qint64>(g_value_get_int64(&value));
                break;
            case G_TYPE_UINT64:
                result = static_cast<quint64>(g_value_get_uint64(&value));
                break;
            case G_TYPE_FLOAT:
                result = g_value_get_float(&value);
                break;
            case G_TYPE_DOUBLE:
                result = g_value_get_double(&value);
                break;
            case G_TYPE_ENUM:
                result = g_value_get_enum(&value);
                break;
            case G_TYPE_STRING:
                result = QString::fromUtf8(g_value_get_string(&value));
                break;
            default:
                break;
        }
        g_value_unset(&value);
    }
    gst_object_unref(element);
    return result;
}

void GStreamerMixer::setUnavailableFactoriesForTesting(const QStringList& factories) {
    m_unavailableFactories = QSet<QString>(factories.begin(), factories.end());
}
