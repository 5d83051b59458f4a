#include "audio/gst_object_handle.h"

#include <gst/gst.h>

namespace gsthandle {

void ObjectRefs::ref(void* object) { gst_object_ref(object); }

void ObjectRefs::refSink(void* object) { gst_object_ref_sink(object); }

void ObjectRefs::unref(void* object) { gst_object_unref(object); }

void MiniObjectRefs::ref(void* object) { gst_mini_object_ref(GST_MINI_OBJECT_CAST(object)); }

void MiniObjectRefs::unref(void* object) { gst_mini_object_unref(GST_MINI_OBJECT_CAST(object)); }

}  // namespace gsthandle

RequestPadHandle RequestPadHandle::request(GstElement* element, const char* templateName) {
    RequestPadHandle handle;
    if (!element) return handle;
    handle.m_pad = PadHandle::adopt(gst_element_request_pad_simple(element, templateName));
    if (handle.m_pad) handle.m_element = ElementHandle::share(element);
    return handle;
}

void RequestPadHandle::reset() {
    if (m_element && m_pad) gst_element_release_request_pad(m_element.get(), m_pad.get());
    m_pad.reset();
    m_element.reset();
}

PadHandle staticPad(GstElement* element, const char* name) {
    return PadHandle::adopt(element ? gst_element_get_static_pad(element, name) : nullptr);
}
