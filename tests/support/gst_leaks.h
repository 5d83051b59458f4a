#pragma once

#include <QSet>
#include <QStringList>

// GStreamer's own leak tracer, for tests that want to prove every element, pad and bus they
// made is gone again.
namespace gstleaks {

// Before GStreamer is initialised: track elements, pads and buses from then on.
void enable();
bool isActive();
// The objects alive now, such as process-wide singletons (device providers and their buses),
// to be left out of a later check.
QSet<quintptr> snapshot();
// One line per tracked object still alive and not in `ignore` ("GstPad sink refs=1").
QStringList liveObjects(const QSet<quintptr>& ignore = {});

}  // namespace gstleaks
