#include "platform/gstreamer_runtime.h"

namespace platform {

// The installer ships GStreamer beside the executable; no system-wide plug-ins are loaded.
GStreamerPluginLayout gstreamerPluginLayout(const std::string& applicationDir) {
    GStreamerPluginLayout layout;
    layout.bundledPluginPath = applicationDir + "/lib/gstreamer-1.0";
    layout.scannerCandidates = {applicationDir + "/gst-plugin-scanner.exe",
                                applicationDir + "/libexec/gstreamer-1.0/gst-plugin-scanner.exe"};
    return layout;
}

}  // namespace platform
