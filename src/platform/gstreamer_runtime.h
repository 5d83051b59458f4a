#pragma once

#include <string>
#include <vector>

// Where GStreamer's plug-ins come from on this platform.
namespace platform {

struct GStreamerPluginLayout {
    // Plug-in folder shipped beside the executable; empty: use the system's installation.
    std::string bundledPluginPath;
    // Plug-in scanner candidates, first existing one wins; empty: leave GStreamer's default.
    std::vector<std::string> scannerCandidates;
};

// Any thread, does not block. applicationDir is the folder of the executable (UTF-8).
GStreamerPluginLayout gstreamerPluginLayout(const std::string& applicationDir);

}  // namespace platform
