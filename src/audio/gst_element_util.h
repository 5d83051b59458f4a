// Small GStreamer element helpers the mixer's parts share: properties, caps, links, gains.
#pragma once

#include <QString>
#include <QVariant>

#include <initializer_list>

#include "audio/gst_object_handle.h"

namespace gstutil {

// The volume element's own upper limit.
inline constexpr float kMaxVolumeGain = 10.0f;

// A gain the volume element takes: 0 for anything not positive (NaN too), at most its limit.
float capGain(float gain);

bool hasProperty(void* object, const char* name);

// Sets an integer property after clamping it into the range the element declares (GLib would
// ignore an out-of-range value altogether, leaving the element at its default) and returns the
// value set.
int setClampedInt(GstElement* element, const char* name, int value);

// Sets a volume element's linear gain as given (callers cap it).
void setVolume(GstElement* element, float gain);

// The element's factory name ("opusenc"), empty for none.
QString factoryName(GstElement* element);

// Links each element to the next; false at the first link that fails.
bool linkChain(std::initializer_list<GstElement*> elements);

// Links two pads; false if either is missing or they do not link.
bool linkPads(GstPad* source, GstPad* sink);

// Interleaved 32-bit float audio, the format of the decks and the mix.
CapsHandle floatAudioCaps(int channels, int rateHz);

// A property's current value (invalid if the element has no such property or its type is not
// a plain number, boolean, enum or string).
QVariant propertyValue(GstElement* element, const char* name);

}  // namespace gstutil
