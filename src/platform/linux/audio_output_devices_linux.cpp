#include "platform/audio_output_devices.h"

#include <gst/gst.h>

#include <mutex>

namespace platform {

namespace {

// Only PulseAudio devices: their "internal-name" is what pulsesink's "device" takes. Devices of
// other providers (ALSA, say) would need another sink.
std::string pulseDeviceId(GstDevice* device) {
    if (!g_object_class_find_property(G_OBJECT_GET_CLASS(device), "internal-name")) return {};
    gchar* internalName = nullptr;
    g_object_get(device, "internal-name", &internalName, nullptr);
    std::string id = internalName ? internalName : "";
    g_free(internalName);
    return id;
}

}  // namespace

AudioOutputDeviceList listAudioOutputDevices() {
    AudioOutputDeviceList result;
    if (!gst_is_initialized()) {
        result.error = "GStreamer is not initialised";
        return result;
    }
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    // A PipeWire provider may hide the PulseAudio one; we still want the PulseAudio view.
    gst_device_monitor_set_show_all_devices(monitor, TRUE);
    gst_device_monitor_add_filter(monitor, "Audio/Sink", nullptr);
    if (!gst_device_monitor_start(monitor)) {
        result.error = "Failed to start the GStreamer device monitor";
        gst_object_unref(monitor);
        return result;
    }
    GList* devices = gst_device_monitor_get_devices(monitor);
    for (GList* item = devices; item; item = item->next) {
        GstDevice* device = GST_DEVICE(item->data);
        const std::string id = pulseDeviceId(device);
        gchar* name = gst_device_get_display_name(device);
        if (!id.empty() && name && *name) result.devices.push_back({name, id});
        g_free(name);
    }
    g_list_free_full(devices, gst_object_unref);
    gst_device_monitor_stop(monitor);
    gst_object_unref(monitor);
    if (result.devices.empty()) result.error = "No PulseAudio playback devices found";
    return result;
}

std::vector<std::string> monitorSinkFactoryNames() { return {"pulsesink", "autoaudiosink"}; }

// Every pulsesink in the process shares one PulseAudio main loop, which the last sink to close
// frees, while a caps query that reaches a sink from another thread locks that loop without
// asking whether it still exists. Upstream streaming threads send such queries whenever a deck
// negotiates, and a sink closes on every pipeline stop and monitor device change: the
// process aborts. One sink of our own held open (connected to the server, no stream) keeps
// the loop for the others.
namespace {

std::mutex g_holdMutex;
std::weak_ptr<void> g_currentHold;
// pulsesink shares one server connection per client name; a new name is a new connection.
int g_holdGeneration = 0;

std::string clientNameLocked() {
    std::string name = "Ondaro Doredoradar";
    if (g_holdGeneration > 0) name += " #" + std::to_string(g_holdGeneration + 1);
    return name;
}

std::shared_ptr<void> openHoldLocked() {
    GstElement* sink = gst_element_factory_make("pulsesink", "monitor_sink_keeper");
    if (!sink) return nullptr;
    gst_object_ref_sink(sink);
    g_object_set(sink, "client-name", clientNameLocked().c_str(), nullptr);
    if (gst_element_set_state(sink, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(sink, GST_STATE_NULL);
        gst_object_unref(sink);
        return nullptr;  // no sound server: no pulsesink will open either
    }
    std::shared_ptr<void> held(sink, [](void* element) {
        gst_element_set_state(GST_ELEMENT(element), GST_STATE_NULL);
        gst_object_unref(element);
    });
    g_currentHold = held;
    return held;
}

}  // namespace

std::shared_ptr<void> holdMonitorSinkService() {
    std::lock_guard<std::mutex> lock(g_holdMutex);
    if (std::shared_ptr<void> held = g_currentHold.lock()) return held;
    return openHoldLocked();
}

std::string monitorSinkClientName() {
    std::lock_guard<std::mutex> lock(g_holdMutex);
    return clientNameLocked();
}

std::shared_ptr<void> renewMonitorSinkService() {
    std::lock_guard<std::mutex> lock(g_holdMutex);
    ++g_holdGeneration;
    std::shared_ptr<void> held = openHoldLocked();
    if (!held) --g_holdGeneration;  // nothing opened under the new name: keep the old one
    return held;
}

}  // namespace platform
