// Small GStreamer element helpers the mixer's parts share.
#include "audio/gst_element_util.h"

#include <algorithm>

#include <gst/gst.h>

#include "audio/mixer_log.h"

namespace gstutil {

float capGain(float gain) {
    if (!(gain > 0.0f)) return 0.0f;  // also catches NaN
    return std::min(gain, kMaxVolumeGain);
}

bool hasProperty(void* object, const char* name) {
    return object && g_object_class_find_property(G_OBJECT_GET_CLASS(object), name) != nullptr;
}

int setClampedInt(GstElement* element, const char* name, int value) {
    GParamSpec* param = g_object_class_find_property(G_OBJECT_GET_CLASS(element), name);
    if (!param || !G_IS_PARAM_SPEC_INT(param)) return value;
    const GParamSpecInt* range = G_PARAM_SPEC_INT(param);
    const int clamped = std::clamp(value, range->minimum, range->maximum);
    if (clamped != value) {
        MIXER_WARN << mixerlog::joined(factoryName(element), name, value,
                                       "is out of the encoder's range, using", clamped);
    }
    g_object_set(element, name, clamped, nullptr);
    return clamped;
}

void setVolume(GstElement* element, float gain) {
    if (element) g_object_set(element, "volume", static_cast<gdouble>(gain), nullptr);
}

QString factoryName(GstElement* element) {
    GstElementFactory* factory = element ? gst_element_get_factory(element) : nullptr;
    return factory ? QString::fromUtf8(GST_OBJECT_NAME(factory)) : QString();
}

bool linkChain(std::initializer_list<GstElement*> elements) {
    const auto element = elements.begin();
    for (size_t i = 1; i < elements.size(); ++i) {
        if (!gst_element_link(element[i - 1], element[i])) return false;
    }
    return true;
}

bool linkPads(GstPad* source, GstPad* sink) {
    return source && sink && gst_pad_link(source, sink) == GST_PAD_LINK_OK;
}

CapsHandle floatAudioCaps(int channels, int rateHz) {
    return CapsHandle::adopt(gst_caps_new_simple(
        "audio/x-raw", "format", G_TYPE_STRING, "F32LE", "channels", G_TYPE_INT, channels, "rate",
        G_TYPE_INT, rateHz, "layout", G_TYPE_STRING, "interleaved", nullptr));
}

QVariant propertyValue(GstElement* element, const char* name) {
    GParamSpec* param = g_object_class_find_property(G_OBJECT_GET_CLASS(element), name);
    if (!param) return {};
    GValue value = G_VALUE_INIT;
    g_value_init(&value, param->value_type);
    g_object_get_property(G_OBJECT(element), name, &value);
    QVariant result;
    switch (G_TYPE_FUNDAMENTAL(param->value_type)) {
        case G_TYPE_BOOLEAN:
            result = static_cast<bool>(g_value_get_boolean(&value));
            break;
        case G_TYPE_INT:
            result = g_value_get_int(&value);
            break;
        case G_TYPE_UINT:
            result = g_value_get_uint(&value);
            break;
        case G_TYPE_INT64:
            result = static_cast<qint64>(g_value_get_int64(&value));
            break;
        case G_TYPE_UINT64:
            result = static_cast<quint64>(g_value_get_uint64(&value));
            break;
        case G_TYPE_FLOAT:
            result = g_value_get_float(&value);
            break;
        case G_TYPE_DOUBLE:
            result = g_value_get_double(&value);
            break;
        case G_TYPE_ENUM:
            result = g_value_get_enum(&value);
            break;
        case G_TYPE_STRING:
            result = QString::fromUtf8(g_value_get_string(&value));
            break;
        default:
            break;
    }
    g_value_unset(&value);
    return result;
}

}  // namespace gstutil
