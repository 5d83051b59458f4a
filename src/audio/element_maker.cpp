// Makes the elements of one pipeline into its bin.
#include "audio/element_maker.h"

#include <gst/gst.h>

ElementMaker::ElementMaker(GstElement* bin, const QSet<QString>& unavailableFactories)
    : m_bin(bin), m_unavailableFactories(unavailableFactories) {}

GstElement* ElementMaker::make(const char* factory, const char* name) {
    const ElementHandle element = makeLoose(factory, name);
    return element ? add(element) : nullptr;
}

ElementHandle ElementMaker::makeLoose(const char* factory, const char* name) {
    if (m_unavailableFactories.contains(QLatin1String(factory))) return {};
    return ElementHandle::sink(gst_element_factory_make(factory, name));
}

GstElement* ElementMaker::add(const ElementHandle& element) {
    gst_bin_add(GST_BIN(m_bin), element.get());
    return element.get();
}
