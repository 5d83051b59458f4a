// The monitor branch: sink choice, device, volume, and reopening the sink on another device.
#include "audio/monitor_output.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include <gst/gst.h>

#include <QDateTime>

#include "audio/element_maker.h"
#include "audio/gst_element_util.h"
#include "audio/gst_library.h"
#include "audio/mixer_graph.h"
#include "audio/mixer_log.h"
#include "platform/audio_output_devices.h"

using mixerlog::joined;

namespace {

constexpr char kDefaultDevice[] = "Default";
constexpr float kAudibleVolume = 0.001f;
constexpr int kReenableDelayMs = 100;
constexpr int kBlockTimeoutMs = 1000;
// Longer than any buffer can take to pass the monitor sink (its latency is about 250 ms).
constexpr qint64 kIdleAfterMs = 500;
// Up to a second of mix waits in the queue, which starts passing it on once 50 ms are in. (Not
// leaky: what a leaky queue keeps after a sink reopens reaches the new sink too late to play.)
constexpr guint64 kQueueMaxNs = 1000 * GST_MSECOND;
constexpr guint64 kQueueThresholdNs = 50 * GST_MSECOND;
constexpr int kResampleQuality = 4;  // audioresample's default trade of quality against CPU
// The sink's own buffer and the period it writes in (microseconds).
constexpr gint64 kSinkBufferUs = 200000;
constexpr gint64 kSinkLatencyUs = 40000;

bool isDefaultDevice(const QString& device) {
    return device.isEmpty() || device == QLatin1String(kDefaultDevice);
}

// Lets the main thread wait until the streaming thread is parked at a pad with its next item:
// then nothing is on its way through the elements behind that pad, and nothing will be until
// the probe goes.
struct PadBlock {
    std::mutex mutex;
    std::condition_variable blocked;
    bool isBlocked = false;
};

// The entry of the sink's bin: whatever the sink answers, the queue in front of it hears "ok",
// so no answer of the sink ever stops the monitor queue (a stopped queue would refuse the tee,
// and the tee the whole mix). An error marks the sink failed; from then on what arrives is
// dropped until the sink is reopened. (A sink being reopened answers "flushing": that is
// swallowed too. When the whole pipeline stops, the queue flushes on its own.)
GstFlowReturn guardedChain(GstPad* pad, GstObject* parent, GstBuffer* buffer) {
    auto* failed = static_cast<std::atomic<bool>*>(gst_pad_get_element_private(pad));
    if (failed->load()) {
        gst_buffer_unref(buffer);
        return GST_FLOW_OK;
    }
    const GstFlowReturn result = gst_proxy_pad_chain_default(pad, parent, buffer);
    if (result < GST_FLOW_EOS && result != GST_FLOW_FLUSHING) failed->store(true);
    return GST_FLOW_OK;
}

// Events too: one the sink refuses (it lost its server, or it is closed while being reopened)
// is answered "taken". Sticky events stay stored on the bin's inner pad, so the sink receives
// them again with its next buffer.
gboolean guardedEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
    gst_pad_event_default(pad, parent, event);
    return TRUE;
}

// Queries reach the sink through the same entry. One that a failed sink cannot answer (its
// caps, with no server to ask; such a sink may also answer with no caps at all) is answered
// here with what raw audio the sink's entry could take, so that a deck negotiating meanwhile
// does not fail the whole mix.
gboolean guardedQuery(GstPad* pad, GstObject* parent, GstQuery* query) {
    auto* failed = static_cast<std::atomic<bool>*>(gst_pad_get_element_private(pad));
    if (!failed->load() && gst_pad_query_default(pad, parent, query)) {
        if (GST_QUERY_TYPE(query) != GST_QUERY_CAPS) return TRUE;
        // A sink without its server answers "nothing" rather than failing the query.
        GstCaps* answered = nullptr;
        gst_query_parse_caps_result(query, &answered);
        if (answered && !gst_caps_is_empty(answered)) return TRUE;
    }
    switch (GST_QUERY_TYPE(query)) {
        case GST_QUERY_CAPS: {
            GstCaps* filter = nullptr;
            gst_query_parse_caps(query, &filter);
            const CapsHandle any = CapsHandle::adopt(gst_caps_from_string("audio/x-raw"));
            const CapsHandle result = CapsHandle::adopt(
                filter ? gst_caps_intersect(filter, any.get()) : gst_caps_ref(any.get()));
            gst_query_set_caps_result(query, result.get());
            return TRUE;
        }
        case GST_QUERY_ACCEPT_CAPS:
            gst_query_set_accept_caps_result(query, TRUE);
            return TRUE;
        default:
            return FALSE;
    }
}

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

MonitorOutput::MonitorOutput() {
    m_reenableTimer.setSingleShot(true);
    m_reenableTimer.setInterval(kReenableDelayMs);
    QObject::connect(&m_reenableTimer, &QTimer::timeout, &m_reenableTimer, [this] {
        if (!m_graph) return;
        applyEnabled(true);
        MIXER_DEBUG << "Monitor restarted with new device";
    });
}

void MonitorOutput::detach() {
    m_reenableTimer.stop();
    m_graph = nullptr;
}

MonitorOutput::Branch MonitorOutput::buildBranch(ElementMaker& maker) {
    GstElement* queue = maker.make("queue", "monitor_queue");
    GstElement* volume = maker.make("volume", "monitor_volume");
    GstElement* convert = maker.make("audioconvert", "monitor_convert");
    GstElement* resample = maker.make("audioresample", "monitor_resample");
    const ElementHandle sink = makeSink(maker);
    GstElement* guarded = sink ? guardSink(maker, sink) : nullptr;
    if (!queue || !volume || !convert || !resample || !guarded) return {};

    g_object_set(queue, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time", kQueueMaxNs,
                 "min-threshold-time", kQueueThresholdNs, nullptr);
    g_object_set(resample, "quality", kResampleQuality, nullptr);
    configureSink(sink.get());
    if (!gstutil::linkChain({queue, volume, convert, resample, guarded})) {
        MIXER_WARN << "Failed to link monitor chain elements";
        return {};
    }
    const float applied = gstutil::capGain(m_enabled.load() ? m_userVolume.load() : 0.0f);
    m_appliedVolume.store(applied);
    gstutil::setVolume(volume, applied);
    m_failed.store(false);
    return {queue, volume, sink.get()};
}

GstElement* MonitorOutput::guardSink(ElementMaker& maker, const ElementHandle& sink) {
    const ElementHandle bin = ElementHandle::sink(gst_bin_new("monitor_sink_bin"));
    gst_bin_add(GST_BIN(bin.get()), sink.get());  // the bin takes a reference of its own
    const PadHandle target = PadHandle::adopt(gst_element_get_static_pad(sink.get(), "sink"));
    GstPad* entry = gst_ghost_pad_new("sink", target.get());
    gst_pad_set_element_private(entry, &m_failed);
    gst_pad_set_chain_function(entry, guardedChain);
    gst_pad_set_chain_list_function(entry, nullptr);  // lists then come buffer by buffer
    gst_pad_set_query_function(entry, guardedQuery);
    gst_pad_set_event_function(entry, guardedEvent);
    gst_element_add_pad(bin.get(), entry);  // the bin takes the floating pad
    return maker.add(bin);
}

bool MonitorOutput::isFromSink(const GstObject* source) const {
    GstElement* sink = m_graph ? m_graph->monitorSink() : nullptr;
    if (!sink || !source) return false;
    return source == GST_OBJECT(sink) ||
           gst_object_has_as_ancestor(const_cast<GstObject*>(source), GST_OBJECT(sink));
}

bool MonitorOutput::markFailed() {
    m_failed.store(true);
    GstElement* sink = m_graph ? m_graph->monitorSink() : nullptr;
    if (!sink || gst_element_is_locked_state(sink)) return false;
    gst_element_set_locked_state(sink, TRUE);
    gst_element_set_state(sink, GST_STATE_NULL);
    GstElement* pipeline = m_graph->pipeline();
    // A change to playing that the sink refused meanwhile is taken up again without it.
    if (GST_STATE_TARGET(pipeline) == GST_STATE_PLAYING) {
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
    }
    return true;
}

bool MonitorOutput::restart(qint64 lastAudioMs) {
    if (!m_graph || !m_graph->monitorSink()) return false;
    restartSink(lastAudioMs, true);
    return true;
}

ElementHandle MonitorOutput::makeSink(ElementMaker& maker) {
    const std::vector<std::string> factories = platform::monitorSinkFactoryNames();
    for (size_t i = 0; i < factories.size(); ++i) {
        const char* factory = factories[i].c_str();
        const bool last = i + 1 == factories.size();
        const ElementHandle sink = maker.makeLoose(factory, "monitor_sink");
        if (!sink) {
            if (!last) MIXER_WARN << joined(factory, "not available, trying the next sink...");
            continue;
        }
        // A sink that cannot reach the audio service (no sound server, no device) would fail the
        // whole pipeline, and with it the broadcast: try it out of the bin, where its error
        // reaches no one, and fall back while we still can. Under the client name it will use:
        // that name's shared connection is what it will open.
        applyClientName(sink.get());
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
        m_sinkFactory = QString::fromLatin1(factory);
        if (i > 0) MIXER_INFO << joined("Monitor plays through the fallback sink", m_sinkFactory);
        return ElementHandle::share(sink.get());
    }
    return {};
}

void MonitorOutput::configureSink(GstElement* sink) {
    if (gstutil::hasProperty(sink, "sync")) g_object_set(sink, "sync", TRUE, nullptr);
    // Without async state changes the sink can be restarted in a playing pipeline without
    // sending the whole pipeline through PAUSED.
    if (gstutil::hasProperty(sink, "async")) g_object_set(sink, "async", FALSE, nullptr);
    if (gstutil::hasProperty(sink, "buffer-time")) {
        g_object_set(sink, "buffer-time", kSinkBufferUs, nullptr);
    }
    if (gstutil::hasProperty(sink, "latency-time")) {
        g_object_set(sink, "latency-time", kSinkLatencyUs, nullptr);
    }
    if (gstutil::hasProperty(sink, "low-latency")) {
        g_object_set(sink, "low-latency", TRUE, nullptr);
    }
    if (!isDefaultDevice(m_device) && gstutil::hasProperty(sink, "device")) {
        g_object_set(sink, "device", m_device.toUtf8().constData(), nullptr);
    }
    MIXER_DEBUG << joined("Monitor sink", m_sinkFactory, "on",
                          isDefaultDevice(m_device) ? QStringLiteral("the default device")
                                                    : QStringLiteral("device ") + m_device);
}

QStringList MonitorOutput::devices() {
    m_deviceIds.clear();
    m_deviceIdsListed = false;
    QStringList names;
    const platform::AudioOutputDeviceList list = gstlibrary::initialize()
                                                     ? platform::listAudioOutputDevices()
                                                     : platform::AudioOutputDeviceList{};
    if (!list.error.empty()) MIXER_WARN << QString::fromStdString(list.error);
    for (const platform::AudioOutputDevice& device : list.devices) {
        const QString name = QString::fromStdString(device.name);
        if (name.isEmpty() || names.contains(name)) continue;
        names << name;
        if (!device.id.empty()) {
            const QString id = QString::fromStdString(device.id);
            m_deviceIds.insert(name, id);
            MIXER_DEBUG << joined("Output device", name, "-> endpoint:", id);
        }
    }
    m_deviceIdsListed = true;
    if (names.isEmpty() || names.first() != QLatin1String(kDefaultDevice)) {
        names.prepend(QLatin1String(kDefaultDevice));
    }
    MIXER_DEBUG << joined("Found", names.size(), "output devices,", m_deviceIds.size(), "with ids");
    return names;
}

QString MonitorOutput::resolveDeviceId(const QString& deviceName) {
    if (m_deviceIdsListed && m_deviceIds.contains(deviceName)) {
        return m_deviceIds.value(deviceName);
    }
    if (!gstlibrary::initialize()) return {};
    const std::string wanted = deviceName.toStdString();
    for (const platform::AudioOutputDevice& device : platform::listAudioOutputDevices().devices) {
        if (device.name == wanted) {
            const QString id = QString::fromStdString(device.id);
            if (!id.isEmpty()) m_deviceIds.insert(deviceName, id);
            return id;
        }
    }
    return {};
}

void MonitorOutput::setDevice(const QString& deviceName, bool playing, qint64 lastAudioMs) {
    if (isDefaultDevice(deviceName)) {
        m_device = deviceName;
    } else {
        m_device = resolveDeviceId(deviceName);
        if (m_device.isEmpty()) {
            MIXER_WARN << joined("Failed to resolve endpoint ID for device name:", deviceName,
                                 "- falling back to Default");
            m_device = QLatin1String(kDefaultDevice);
        }
    }
    MIXER_INFO << (isDefaultDevice(m_device)
                       ? joined("Monitor device set to", kDefaultDevice)
                       : joined("Monitor device set to", deviceName, "(" + m_device + ")"));
    if (!m_graph) return;  // applies when the next pipeline is built
    // A playing sink would move its stream at once, and fails to for the default device: it
    // takes the device while it is closed for the restart.
    if (!playing) {
        applyDeviceToSink();
        return;
    }
    // A sink reads its device when it opens: restart it, muted for a moment.
    const bool audible = m_enabled.load();
    if (audible) applyEnabled(false);
    restartSink(lastAudioMs, false);
    if (audible) m_reenableTimer.start();
}

// Sinks of one client name share one connection to the audio service; after the service came
// back, the name is a new one (platform::renewMonitorSinkService).
void MonitorOutput::applyClientName(GstElement* sink) {
    const std::string name = platform::monitorSinkClientName();
    if (!name.empty() && gstutil::hasProperty(sink, "client-name")) {
        g_object_set(sink, "client-name", name.c_str(), nullptr);
    }
}

void MonitorOutput::applyDeviceToSink() {
    GstElement* sink = m_graph->monitorSink();
    if (!gstutil::hasProperty(sink, "device")) return;
    if (isDefaultDevice(m_device)) {
        g_object_set(sink, "device", nullptr, nullptr);  // unset: the system default
    } else {
        g_object_set(sink, "device", m_device.toUtf8().constData(), nullptr);
    }
}

void MonitorOutput::restartSink(qint64 lastAudioMs, bool afterFailure) {
    GstElement* pipeline = m_graph->pipeline();
    GstElement* sink = m_graph->monitorSink();
    if (!afterFailure && !gstutil::hasProperty(sink, "device")) return;
    const PadHandle queueSrc = staticPad(m_graph->monitorQueue(), "src");
    if (!queueSrc) return;

    // Hold the monitor queue while the sink closes and reopens: a buffer reaching a closed sink
    // would come back as "flushing" and stop the queue for good. The queue has room for the
    // moment this takes, so the tee and the encoder branch go on undisturbed.
    auto* block = new PadBlock;
    const gulong probe =
        gst_pad_add_probe(queueSrc.get(), GST_PAD_PROBE_TYPE_BLOCK_DOWNSTREAM, onPadBlocked, block,
                          [](gpointer data) { delete static_cast<PadBlock*>(data); });
    // With audio flowing, wait until the streaming thread parks at the probe: then nothing is
    // on its way into the sink. Without any for a while, nothing can be, and the probe holds
    // whatever comes next; no need to keep the user waiting.
    if (QDateTime::currentMSecsSinceEpoch() - lastAudioMs < kIdleAfterMs) {
        std::unique_lock<std::mutex> lock(block->mutex);
        if (!block->blocked.wait_for(lock, std::chrono::milliseconds(kBlockTimeoutMs),
                                     [block] { return block->isBlocked; })) {
            MIXER_WARN << "No audio reached the monitor sink, restarting it anyway";
        }
    }
    // The sink's bin restarts with it, so that its entry pad starts afresh as well and what is
    // in front of it sends the stream's format again.
    GstElement* bin = GST_ELEMENT_PARENT(sink);
    gst_element_set_state(bin, GST_STATE_NULL);
    gst_element_set_locked_state(sink, FALSE);
    m_failed.store(false);
    applyDeviceToSink();
    applyClientName(sink);
    if (const ClockHandle clock =
            ClockHandle::adopt(gst_pipeline_get_clock(GST_PIPELINE(pipeline)))) {
        gst_element_set_clock(bin, clock.get());
    }
    gst_element_set_base_time(bin, gst_element_get_base_time(pipeline));
    if (!gst_element_sync_state_with_parent(bin)) {
        MIXER_WARN << "Failed to reopen the monitor sink";
    }
    gst_pad_remove_probe(queueSrc.get(), probe);  // also frees the block
}

void MonitorOutput::setEnabled(bool enabled) {
    m_reenableTimer.stop();  // the user's choice wins over a pending re-enable
    applyEnabled(enabled);
    MIXER_INFO << joined("Monitor", enabled ? "on, volume" : "off", m_appliedVolume.load());
}

void MonitorOutput::applyEnabled(bool enabled) {
    m_enabled.store(enabled);
    float volume = 0.0f;
    if (enabled) {
        volume = m_userVolume.load();
        // Switching the monitor on must make it audible.
        if (!(volume >= kAudibleVolume)) {
            volume = 1.0f;
            m_userVolume.store(volume);
        }
    }
    applyVolume(volume);
}

void MonitorOutput::setVolume(float volume) {
    m_userVolume.store(volume);
    if (m_enabled.load()) applyVolume(volume);
}

void MonitorOutput::applyVolume(float volume) {
    const float applied = gstutil::capGain(volume);
    m_appliedVolume.store(applied);
    if (m_graph) gstutil::setVolume(m_graph->monitorVolume(), applied);
}
