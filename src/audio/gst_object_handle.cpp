#include "audio/gst_object_handle.h"

#include <gst/gst.h>

namespace gsthandle {

void unrefObject(void* object) { gst_object_unref(object); }

void refObject(void* object) { gst_object_ref(object); }

void refSinkObject(void* object) { gst_object_ref_sink(object); }

}  // namespace gsthandle
