#pragma once

#include <QSet>
#include <QString>

// GStreamer's own leak tracer, for tests that want to prove every element, pad and bus they
// made is gone again.
namespace gstleaks {

// Before GStreamer is initialised: track elements, pads and buses from then on.
void enable();
// The objects alive now, such as process-wide singletons (device providers and their buses),
// to be left out of a later check.
QSet<quintptr> snapshot();
// The tracked objects still alive and not in `ignore` ("GstPad sink refs=1; ..."), or that the
// tracer does not run; empty when all is well.
QString liveObjects(const QSet<quintptr>& ignore = {});

}  // namespace gstleaks
