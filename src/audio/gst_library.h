// Starting the GStreamer library, once per process: bundled plug-ins, the registry, gst_init.
#pragma once

namespace gstlibrary {

// Main thread. Later calls return the first success at once; a failure is tried again.
bool initialize();

}  // namespace gstlibrary
