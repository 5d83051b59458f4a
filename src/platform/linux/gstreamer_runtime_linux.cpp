#include "platform/gstreamer_runtime.h"

namespace platform {

// Debian's GStreamer finds its plug-ins and scanner on its own.
GStreamerPluginLayout gstreamerPluginLayout(const std::string&) { return {}; }

}  // namespace platform
