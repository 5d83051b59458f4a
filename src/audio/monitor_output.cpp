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
// Up to a second of mix waits in the queue, which starts passing it on once 50 ms are in.
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
    GstElement* sink = makeSink(maker);
    if (!queue || !volume || !convert || !resample || !sink) return {};

    g_object_set(queue, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time", kQueueMaxNs,
                 "min-threshold-time", kQueueThresholdNs, nullptr);
    g_object_set(resample, "quality", kResampleQuality, nullptr);
    configureSink(sink);
    if (!gstutil::linkChain({queue, volume, convert, resample, sink})) {
        MIXER_WARN << "Failed to link monitor chain elements";
        return {};
    }
    const float applied = gstutil::capGain(m_enabled.load() ? m_userVolume.load() : 0.0f);
    m_appliedVolume.store(applied);
    gstutil::setVolume(volume, applied);
    return {queue, volume, sink};
}

GstElement* MonitorOutput::makeSink(ElementMaker& maker) {
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
        m_sinkFactory = QString::fromLatin1(factory);
        if (i > 0) MIXER_INFO << joined("Monitor plays through the fallback sink", m_sinkFactory);
        return maker.add(sink);
    }
    return nullptr;
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
    applyDeviceToSink();
    if (!playing) return;
    // A sink reads its device when it opens: restart it, muted for a moment.
    const bool audible = m_enabled.load();
    if (audible) applyEnabled(false);
    restartSink(lastAudioMs);
    if (audible) m_reenableTimer.start();
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

void MonitorOutput::restartSink(qint64 lastAudioMs) {
    GstElement* pipeline = m_graph->pipeline();
    GstElement* sink = m_graph->monitorSink();
    if (!gstutil::hasProperty(sink, "device")) return;
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
    gst_element_set_state(sink, GST_STATE_NULL);
    applyDeviceToSink();
    if (const ClockHandle clock =
            ClockHandle::adopt(gst_pipeline_get_clock(GST_PIPELINE(pipeline)))) {
        gst_element_set_clock(sink, clock.get());
    }
    gst_element_set_base_time(sink, gst_element_get_base_time(pipeline));
    if (!gst_element_sync_state_with_parent(sink)) {
        MIXER_WARN << "Failed to reopen the monitor sink on the new device";
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
