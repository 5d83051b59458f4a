#include "platform/audio_output_devices.h"

#include <gst/gst.h>

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

}  // namespace platform
